#include "ClassesRoot.h"
#include "ShellHelpers.h"
#include "TestDesktop.h"

#include <QtTest>
#include <memory>

// A desktop with the MIME database but no program registered for anything.
class TestEmptyDesktop : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDesktop> m_desktop;

private Q_SLOTS:
    void initTestCase() { m_desktop = std::make_unique<TestDesktop>(); }

    void typesAreKnownButNothingOpensThem()
    {
        QCOMPARE(desktopClassesRoot().readDefault(".html"), "text/html");
        QCOMPARE(desktopClassesRoot().readDefault("text/html\\shell\\open\\command"), std::nullopt);
        QCOMPARE(FindBrowserCommand(), QString());
    }
};

QTEST_GUILESS_MAIN(TestEmptyDesktop)
#include "tst_desktopempty.moc"
