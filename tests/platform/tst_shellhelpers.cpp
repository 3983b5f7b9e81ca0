#include "FileIcons.h"
#include "ShellHelpers.h"
#include "TestDesktop.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// A view that notes every key it is asked for.
class RecordingClassesRoot : public MemoryClassesRoot
{
public:
    std::optional<QString> readDefault(const QString &keyPath) const override
    {
        asked << keyPath;
        return MemoryClassesRoot::readDefault(keyPath);
    }
    mutable QStringList asked;
};

class CountingWindow : public QRasterWindow
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints;
        QPainter(this).fillRect(QRect(0, 0, width(), height()), Qt::white);
    }
};

} // namespace

class TestShellHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void browserCommandOfTheFirstWebTypeWithOne()
    {
        RecordingClassesRoot root;
        QCOMPARE(FindBrowserCommand(root), QString());
        QCOMPARE(root.asked, QStringList({"\\.html", "\\.htm", "\\.shtml", "\\.shtm"}));

        root.setDefault(".html", "text/html");
        root.addKey("text/html\\shell\\open\\command"); // without a value
        root.setDefault(".htm", "HTMfile");
        root.setDefault("htmfile\\shell\\open\\command", "\"/opt/web browser\" -new \"%1\"");
        root.setDefault(".shtml", "other");
        root.setDefault("other\\shell\\open\\command", "never reached %1");
        QCOMPARE(FindBrowserCommand(root), "\"/opt/web browser\" -new \"%1\"");
    }

    void commandLinesSplitWithQuotesHonoured()
    {
        QCOMPARE(splitCommandLine("\"/opt/my viewer\" -x 'a b' \"c \\\"d\\\"\" e\\ f"),
                 QStringList({"/opt/my viewer", "-x", "a b", "c \"d\"", "e f"}));
        QCOMPARE(splitCommandLine("viewer \"unclosed"), std::nullopt);
    }

    void runAndWaitRefusesWhatCannotStart()
    {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!RunAndWait("/no/such/program \"%1\""));
        QVERIFY(!RunAndWait("no-such-program-anywhere"));
        QVERIFY(!RunAndWait(""));
        QVERIFY(!RunAndWait("sh -c \"unclosed"));
        QVERIFY(!RunAndWait("/etc/passwd")); // a file that is no program
        QVERIFY(clock.elapsed() < 5000);

        // 512 characters are taken, one more is refused rather than cut.
        const QString prefix = "true ";
        QVERIFY(RunAndWait(prefix + QString(MaxCommandLineLength - prefix.size(), 'x')));
        QVERIFY(!RunAndWait(prefix + QString(MaxCommandLineLength - prefix.size() + 1, 'x')));
    }

    void runAndWaitReturnsWhenTheProgramHasEnded()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath("marker");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(RunAndWait(
            QStringLiteral("sh -c \"sleep 0.4; printf '%s' \\\"$0\\\" > '%1'; exit 3\" 'one arg'")
                .arg(marker)));
        QVERIFY(clock.elapsed() >= 400);
        QCOMPARE(readTextFile(marker), "one arg"); // the exit code is not examined
    }

    void windowsRepaintWhileWaiting()
    {
        CountingWindow window;
        window.resize(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &window,
                         qOverload<>(&QPaintDeviceWindow::update));
        ticker.start(50);
        QCoreApplication::processEvents();
        const int before = window.paints;
        QVERIFY(RunAndWait("sleep 0.5"));
        QVERIFY2(window.paints - before >= 3, qPrintable(QString::number(window.paints - before)));
    }

    void iconSourcesReadAsTheRegistryWroteThem_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("index");
        QTest::addRow("plain") << "viewer.exe,1" << true << "viewer.exe" << 1;
        QTest::addRow("two digits") << "lib.dll,12" << true << "lib.dll" << 12;
        QTest::addRow("three digits read as two") << "lib.dll,123" << true << "lib.dll" << 12;
        QTest::addRow("negative wraps") << "lib.dll,-152" << true << "lib.dll" << 65535;
        QTest::addRow("no comma") << "text-x-generic" << true << "text-x-generic" << 0;
        QTest::addRow("no integer") << "lib.dll,ab" << false << "" << 0;
    }

    void iconSourcesReadAsTheRegistryWroteThem()
    {
        QFETCH(QString, text);
        QFETCH(bool, readable);
        QFETCH(QString, file);
        QFETCH(int, index);
        const std::optional<IconSource> source = parseIconSource(text);
        QCOMPARE(source.has_value(), readable);
        if (source) {
            QCOMPARE(source->file, file);
            QCOMPARE(int(source->index), index);
        }
    }

    void iconOfAFileType()
    {
        MemoryClassesRoot root;
        root.setDefault(".txt", "text/plain");
        root.setDefault("text/plain\\DefaultIcon", "no-such-icon;text-x-generic,0");
        root.setDefault(".odd", "odd/type");
        root.setDefault("odd/type\\DefaultIcon", "text-x-generic,-152");

        const QPixmap text = FileTypeIcon("NOTES.TXT", root);
        QVERIFY(!text.isNull());
        QCOMPARE(text.deviceIndependentSize().toSize(), QSize(16, 16));
        QVERIFY(text.toImage() != unknownTypeIcon().toImage());

        QCOMPARE(FileTypeIcon("DATA.ZZQ", root).toImage(), unknownTypeIcon().toImage());
        QCOMPARE(FileTypeIcon("NOEXT", root).toImage(), unknownTypeIcon().toImage());
        QVERIFY(FileTypeIcon("", root).isNull());
        QVERIFY(FileTypeIcon("X.ODD", root).isNull()); // an index that holds no icon
        QCOMPARE(unknownTypeIcon().size(), QSize(16, 16));
    }
};

QTEST_MAIN(TestShellHelpers)
#include "tst_shellhelpers.moc"
