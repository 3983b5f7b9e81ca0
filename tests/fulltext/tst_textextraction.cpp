#include "ExtractionProcess.h"
#include "FileTextIndex.h"
#include "TestDocuments.h"
#include "WordStems.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TestDocuments;

class TextExtractionTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }

    // A stand-in for the extraction program: a script whose body is `body`.
    QString script(const QString &name, const QByteArray &body)
    {
        const QString path = write(name, "#!/bin/sh\n" + body + "\n");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

private slots:
    // Every kind is told by its bytes; the file names here carry no extension.
    void readsEveryKind_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QString words = QStringLiteral("Болты оцинкованные");
        QTest::newRow("pdf") << pdf(words) << words;
        QTest::newRow("docx, a word over two runs") << docx(words) << words;
        QTest::newRow("xlsx, shared string and number") << xlsx(words) << words + " 4217";
        QTest::newRow("odt") << odt(words) << words;
        QTest::newRow("ods") << ods(words) << words;
        QTest::newRow("xls") << xls() << QStringLiteral("Шайбы пружинные оцинкованные");
        QTest::newRow("csv utf-8") << csvUtf8(words) << words;
        QTest::newRow("csv utf-16") << csvUtf16(words) << words;
        QTest::newRow("csv windows-1251") << csv1251(words) << words;
        QTest::newRow("html, style dropped") << html(words) << words + " «цена»";
    }
    void readsEveryKind()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QString path = write(QStringLiteral("document"), bytes);
        const Extraction result = extractText(bytes, path, 1 << 20);
        QCOMPARE(result.status, ExtractStatus::Text);
        QVERIFY2(result.text.simplified().contains(expected), qPrintable(result.text));
        QVERIFY(!result.text.contains(u"color"));
    }

    void refusesBadFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ExtractStatus>("status");
        QTest::newRow("damaged pdf") << damagedPdf() << ExtractStatus::Damaged;
        const QByteArray document = docx(QStringLiteral("болты"));
        QTest::newRow("truncated zip")
            << document.left(document.size() / 2) << ExtractStatus::Damaged;
        QTest::newRow("zip bomb") << zipBomb(80 * 1024 * 1024) << ExtractStatus::TooLarge;
        QTest::newRow("zip of no document") << zip({{"a.bin", "x"}}) << ExtractStatus::Unsupported;
        QTest::newRow("binary") << QByteArray("\x7f"
                                              "ELF\0\0\0\1",
                                              8)
                                << ExtractStatus::Unsupported;
        QTest::newRow("text over the limit") << QByteArray(5000, 'a') << ExtractStatus::TooLarge;
    }
    void refusesBadFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(ExtractStatus, status);
        QCOMPARE(extractText(bytes, write(QStringLiteral("bad"), bytes), 4000).status, status);
    }

    // The real extraction process answers through its exit status and stdout.
    void extractionProcessAnswers()
    {
        const ExtractionLimits limits;
        const Extraction text =
            extractInProcess(QStringLiteral(QUILLON_PROGRAM),
                             write(QStringLiteral("p"), pdf(QStringLiteral("Гайки"))), limits);
        QCOMPARE(text.status, ExtractStatus::Text);
        QVERIFY(text.text.contains(QStringLiteral("Гайки")));
        const Extraction damaged = extractInProcess(
            QStringLiteral(QUILLON_PROGRAM), write(QStringLiteral("d"), damagedPdf()), limits);
        QCOMPARE(damaged.status, ExtractStatus::Damaged);
        QVERIFY(!damaged.reason.isEmpty());
    }

    // Whatever the process does, the caller gets an answer within the limits.
    void processLimits()
    {
        ExtractionLimits limits;
        limits.seconds = 1;
        limits.maxText = 1000;
        limits.memoryBytes = 300 * 1024 * 1024;
        const QString file = write(QStringLiteral("f"), "x");
        QElapsedTimer clock;
        clock.start();
        const Extraction slow = extractInProcess(script("slow", "exec sleep 30"), file, limits);
        QCOMPARE(slow.status, ExtractStatus::Damaged);
        QVERIFY(clock.elapsed() < 5000);
        const Extraction endless =
            extractInProcess(script("endless", "exec yes болты"), file, limits);
        QCOMPARE(endless.status, ExtractStatus::TooLarge);
        const Extraction crash = extractInProcess(script("crash", "kill -SEGV $$"), file, limits);
        QCOMPARE(crash.status, ExtractStatus::Damaged);
        // The child runs with its address space bounded (ulimit -v counts kilobytes).
        const Extraction memory =
            extractInProcess(script("memory", "ulimit -v >&2; exit 3"), file, limits);
        QCOMPARE(memory.reason, QString::number(limits.memoryBytes / 1024));
    }

    void wordsAreFoldedAndStemmed()
    {
        QCOMPARE(stemsOf(QStringLiteral("болт Болты БОЛТОВ")),
                 QStringList({"болт", "болт", "болт"}));
        QCOMPARE(stemsOf(QStringLiteral("Ёлка елка")), QStringList({"елк", "елк"}));
        QCOMPARE(stemsOf(QStringLiteral("bolts Bolt")), QStringList({"bolt", "bolt"}));
        // Codes keep their letters and digits whole; punctuation splits words.
        QCOMPARE(stemsOf(QStringLiteral("М8x40, A-100")), QStringList({"м8x40", "a", "100"}));
    }

    // No user text is read as search syntax: quotes, operators and stars
    // become plain words, a quoted part one phrase.
    void userTextBecomesPlainStrings()
    {
        QCOMPARE(FileTextIndex::matchExpression(QStringLiteral("болты \"гайки м8\"")),
                 QStringLiteral("\"болты\" \"гайки м8\""));
        QCOMPARE(FileTextIndex::matchExpression(QStringLiteral("a OR b* NEAR(c) -d")),
                 QStringLiteral("\"a\" \"OR\" \"b\" \"NEAR\" \"c\" \"d\""));
        QCOMPARE(FileTextIndex::matchExpression(QStringLiteral("\"unclosed ;--")),
                 QStringLiteral("\"unclosed\""));
        QVERIFY(FileTextIndex::matchExpression(QStringLiteral("  \"\" ,.")).isEmpty());
    }
};

QTEST_MAIN(TextExtractionTest)
#include "tst_textextraction.moc"
