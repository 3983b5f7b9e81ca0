#include "Application.h"
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
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
