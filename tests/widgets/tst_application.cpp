#include "Application.h"
#include "Dialogs.h"
#include "EngineError.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

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

    void enterPressesTheFocusedButtonOfAnyWindow()
    {
        QDialog window;
        auto *layout = new QVBoxLayout(&window);
        auto *find = new QPushButton("Найти");
        auto *clear = new QPushButton("Новый поиск");
        auto *picture = new QToolButton;
        auto *text = new QLineEdit;
        auto *box = new QCheckBox("Одинаковое во всех полях");
        for (QWidget *w : std::initializer_list<QWidget *>{find, clear, picture, text, box})
            layout->addWidget(w);
        picture->setFocusPolicy(Qt::StrongFocus);
        clear->setAutoDefault(false);
        find->setDefault(true);
        QStringList pressed;
        QObject::connect(find, &QPushButton::clicked, [&] { pressed << "Найти"; });
        QObject::connect(clear, &QPushButton::clicked, [&] { pressed << "Новый поиск"; });
        QObject::connect(picture, &QToolButton::clicked, [&] { pressed << "картинка"; });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (QWidget *w : std::initializer_list<QWidget *>{clear, picture, text, box}) {
            w->setFocus();
            QTest::keyClick(w, Qt::Key_Return);
        }
        // A text box and a check box leave Enter to the window's default button.
        QCOMPARE(pressed, QStringList({"Новый поиск", "картинка", "Найти", "Найти"}));
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
