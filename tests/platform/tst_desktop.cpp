#include "ClassesRoot.h"
#include "ShellHelpers.h"
#include "TestDesktop.h"

#include <QElapsedTimer>
#include <QtTest>
#include <memory>

// The file-type view and the shell helpers over a real MIME database and
// programs installed through desktop entries.
class TestDesktopServices : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestDesktop> m_desktop;
    QString m_viewer;
    QString m_browser;

private Q_SLOTS:
    void initTestCase()
    {
        m_desktop = std::make_unique<TestDesktop>();
        m_viewer = m_desktop->installProgram("quillon-viewer", "--page 1 %f", {"application/pdf"});
        m_browser = m_desktop->installProgram("quillon-browser", "%u %U",
                                              {"text/html", "x-scheme-handler/mailto"});
    }

    void extensionsNameTheirTypes()
    {
        const ClassesRoot &root = desktopClassesRoot();
        QCOMPARE(root.readDefault(".pdf"), "application/pdf");
        QCOMPARE(root.readDefault("\\.PDF"), "application/pdf");
        QCOMPARE(root.readDefault(".html"), "text/html");
        QCOMPARE(root.readDefault(".no-such-extension"), std::nullopt);
        QCOMPARE(root.readDefault(""), std::nullopt);
    }

    void openCommandHasThePlaceholder()
    {
        const ClassesRoot &root = desktopClassesRoot();
        QCOMPARE(root.readDefault("application/pdf\\shell\\open\\command"),
                 m_viewer + " --page 1 \"%1\"");
        QCOMPARE(root.readDefault("\\text/html\\Shell\\Open\\Command"), m_browser + " \"%1\"");
        QCOMPARE(root.readDefault("image/png\\shell\\open\\command"), std::nullopt);
    }

    void typeIconComesFromTheTheme()
    {
        const QString source =
            desktopClassesRoot().readDefaultOrEmpty("application/pdf\\DefaultIcon");
        QVERIFY2(source.endsWith(",0") && source.contains("x-office-document"), qPrintable(source));
        QVERIFY(!source.contains("symbolic"));
    }

    void browserIsFound() { QCOMPARE(FindBrowserCommand(), m_browser + " \"%1\""); }

    void registeredProgramRunsAndIsWaitedFor()
    {
        const QString file = m_desktop->path("Price list 2024.pdf");
        QString command = desktopClassesRoot().readDefaultOrEmpty(
            desktopClassesRoot().readDefaultOrEmpty(".pdf") + "\\shell\\open\\command");
        command.replace("%1", file);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(RunAndWait(command));
        QVERIFY(clock.elapsed() >= 300);
        QCOMPARE(readTextFile(m_desktop->path("ran-quillon-viewer")), "--page\n1\n" + file + "\n");
    }

    void shellOpensMailAddressesWithTheirHandler()
    {
        QVERIFY(ShellOpen("mailto:sales@example.com"));
        QTRY_COMPARE_WITH_TIMEOUT(readTextFile(m_desktop->path("ran-quillon-browser")),
                                  "mailto:sales@example.com\n", 5000);
        QVERIFY(!ShellOpen("nosuchscheme:anything"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopServices)
#include "tst_desktop.moc"
