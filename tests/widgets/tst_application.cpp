#include "Application.h"
#include "Dialogs.h"
#include "EngineError.h"

#include <QTest>

namespace {

// Throws from its event handler what the test asks for.
class Thrower : public QObject
{
public:
    std::function<void()> action;
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            action();
        return QObject::event(e);
    }
};

} // namespace

class ApplicationTest : public QObject
{
    Q_OBJECT

private slots:
    void failuresReachTheErrorBoxAndTheSilentAbortDoesNot()
    {
        QStringList shown;
        Application::setErrorSink([&](const QString &message) { shown << message; });
        Thrower thrower;
        QEvent event(QEvent::User);

        thrower.action = [] { throw EngineError("FIRMS.DB: таблица занята"); };
        QCoreApplication::sendEvent(&thrower, &event);
        thrower.action = [] { Abort(); };
        QCoreApplication::sendEvent(&thrower, &event);
        thrower.action = [] { throw std::runtime_error("disk full"); };
        QCoreApplication::sendEvent(&thrower, &event);

        QCOMPARE(shown, QStringList({"FIRMS.DB: таблица занята", "disk full"}));
        QVERIFY(!Application::guarded([] { Abort(); }));
        QVERIFY(Application::guarded([] {}));
        QCOMPARE(shown.size(), 2);
        Application::setErrorSink({});
    }

    // The boxes speak Russian on any session language, and a question built
    // with the original's LF CR line ends shows its lines without blank ones.
    void boxesShowRussianButtonsAndTheirLinesAsBuilt()
    {
        Dialogs::setScripted(true);
        Dialogs::askYesNo(
            nullptr, "Переместить ?",
            "Вы действительно хотите переместить\n\r\"Опт\" из\n\r\"Все\" в\n\r\"Сырьё\" ?");
        Dialogs::Shown box = Dialogs::lastShown();
        QCOMPARE(box.title, QString("Переместить ?"));
        QCOMPARE(
            box.text,
            QString("Вы действительно хотите переместить\n\"Опт\" из\n\"Все\" в\n\"Сырьё\" ?"));
        QCOMPARE(box.buttons, QStringList({"&Да", "&Нет"}));
        QCOMPARE(Dialogs::asked().constFirst().count("\n\r"), 3); // the text itself is kept

        Dialogs::confirm(nullptr, "Удалить ?");
        QCOMPARE(Dialogs::lastShown().buttons, QStringList({"OK", "Отмена"}));
        Dialogs::promptText(nullptr, "Добавление новой папки", "Введите название", "Новая папка");
        QCOMPARE(Dialogs::lastShown().buttons, QStringList({"OK", "Отмена"}));
        Dialogs::setScripted(false);
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
