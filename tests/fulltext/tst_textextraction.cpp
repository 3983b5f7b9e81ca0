#include "ExtractionProcess.h"
#include "FileError.h"
#include "FileTextIndex.h"
#include "TestDocuments.h"
#include "WordStems.h"
#include "ZipFile.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace TestDocuments;

namespace {

const QString program = QStringLiteral(QUILLON_PROGRAM);

// Large enough for the program's libraries; small enough that the tests
// reach it with files of a few dozen megabytes.
constexpr qint64 testMemoryLimit = 330LL << 20;

// A plain text in Windows-1251 of `megabytes` megabytes.
QByteArray text1251(int megabytes)
{
    const QByteArray line =
        QStringEncoder("windows-1251").encode(QStringLiteral("Болты оцинкованные М8\n"));
    return line.repeated((qint64(megabytes) << 20) / line.size());
}

} // namespace

class TextExtractionTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A stand-in for the extraction program: a script whose body is `body`.
    QString script(const QString &name, const QByteArray &body)
    {
        QFile file(m_dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n" + body + "\n");
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file.fileName();
    }

private slots:
    // Every kind is told by its bytes; no file name is involved.
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
        const Extraction result = extractText(bytes, 1 << 20);
        QCOMPARE(result.status, ExtractStatus::Text);
        QVERIFY2(result.text.simplified().contains(expected), qPrintable(result.text));
        QVERIFY(!result.text.contains(u"color"));
    }

    // Hostile files, packed as the catalogue stores them, through the real
    // extraction process: each gets its answer and a reason a user reads,
    // within the limits, and the process goes on with the next file.
    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("packedFile");
        QTest::addColumn<ExtractStatus>("status");
        QTest::addColumn<QString>("reason");
        QTest::newRow("locked pdf") << packed(lockedPdf()) << ExtractStatus::Locked << "паролем";
        QTest::newRow("damaged pdf")
            << packed(damagedPdf()) << ExtractStatus::Damaged << "повреждён";
        const QByteArray document = docx(QStringLiteral("болты"));
        QTest::newRow("truncated zip")
            << packed(document.left(document.size() / 2)) << ExtractStatus::Damaged << "zip";
        QTest::newRow("broken xml part")
            << packed(brokenXmlDocx()) << ExtractStatus::Damaged << "word/document.xml";
        QTest::newRow("encrypted part")
            << packed(encryptedDocx()) << ExtractStatus::Damaged << "зашифрована";
        QTest::newRow("zip bomb") << packed(zipBomb(80 * 1024 * 1024)) << ExtractStatus::TooLarge
                                  << "sharedStrings";
        QTest::newRow("zip of no document") << packed(TestDocuments::zip({{"a.bin", "x"}}))
                                            << ExtractStatus::Unsupported << "не документ";
        QTest::newRow("binary") << packed(QByteArray("\x7f"
                                                     "ELF\0\0\0\1",
                                                     8))
                                << ExtractStatus::Unsupported << "не поддерживается";
        QTest::newRow("text over the limit")
            << packed(QByteArray(5000, 'a')) << ExtractStatus::TooLarge << "символов";
        // A zlib header, then a block of a type that does not exist.
        QTest::newRow("packed bytes spoilt") << QByteArray::fromHex("78da") + QByteArray(40, '\xff')
                                             << ExtractStatus::Damaged << "испорчены";
        // Unpacked only inside the process, and only up to its limit.
        QTest::newRow("unpacks past the size limit")
            << packed(QByteArray(100 << 20, '\0')) << ExtractStatus::TooLarge << "распаковки";
        // The entity scan is linear: a quadratic one passes the time limit.
        QTest::newRow("a million ampersands")
            << packed("<html><body>Болты " + QByteArray(1 << 20, '&') + "</body></html>")
            << ExtractStatus::Text << "";
        if (ChildLimits::addressSpaceBoundable) {
            // Read while the failed UTF-8 attempt is let go, it fits the memory limit.
            QTest::newRow("windows-1251 text within memory")
                << packed(text1251(60)) << ExtractStatus::Text << "";
            QTest::newRow("over the memory limit")
                << packed(text1251(200)) << ExtractStatus::TooLarge << "памяти";
        }
    }
    void hostileFiles()
    {
        QFETCH(QByteArray, packedFile);
        QFETCH(ExtractStatus, status);
        QFETCH(QString, reason);
        ExtractionLimits limits;
        limits.seconds = 10;
        limits.maxText = 4000;
        limits.maxFileSize = 64 << 20;
        limits.memoryBytes = testMemoryLimit;
        if (QByteArray(QTest::currentDataTag()).contains("memory") ||
            QByteArray(QTest::currentDataTag()).contains("ampersands")) {
            limits.maxText = 400 << 20;
            limits.maxFileSize = 256 << 20;
        }
        ExtractionWorker worker(program, limits);
        const Extraction answer = worker.extract(packedFile);
        QVERIFY2(answer.status == status, qPrintable(answer.reason));
        QVERIFY2(answer.reason.contains(reason), qPrintable(answer.reason));
        if (status != ExtractStatus::Text)
            QVERIFY2(answer.reason.contains(QRegularExpression(QStringLiteral("[а-я]"))),
                     qPrintable(answer.reason));
        // The same process, or a fresh one after a failure, reads the next file.
        const Extraction next = worker.extract(packed(csvUtf8("Гайки")));
        QCOMPARE(next.status, ExtractStatus::Text);
        QVERIFY(next.text.contains(QStringLiteral("Гайки")));
    }

    // Whatever the process does, the caller gets an answer within the limits.
    void processFailures()
    {
        ExtractionLimits limits;
        limits.seconds = 1;
        QElapsedTimer clock;
        clock.start();
        const Extraction slow =
            ExtractionWorker(script("slow", "exec sleep 30"), limits).extract("x");
        QCOMPARE(slow.status, ExtractStatus::Damaged);
        QVERIFY2(slow.reason.contains(QStringLiteral("больше 1 с")), qPrintable(slow.reason));
        QVERIFY(clock.elapsed() < 5000);
        const Extraction crash =
            ExtractionWorker(script("crash", "kill -SEGV $$"), limits).extract("x");
        QCOMPARE(crash.status, ExtractStatus::Damaged);
        QVERIFY2(crash.reason.contains(QStringLiteral("аварийно")), qPrintable(crash.reason));
        const Extraction outOfMemory =
            ExtractionWorker(script("memory", "echo 'Out of memory' >&2; kill -ABRT $$"), limits)
                .extract("x");
        QCOMPARE(outOfMemory.status, ExtractStatus::TooLarge);
        // Files queued one behind another come back in order from one process.
        ExtractionWorker worker(program, limits);
        worker.submit(packed(lockedPdf()));
        worker.submit(packed(csvUtf8("Шайбы")));
        QCOMPARE(worker.next().status, ExtractStatus::Locked);
        QVERIFY(worker.next().text.contains(QStringLiteral("Шайбы")));
        QCOMPARE(worker.starts(), 1);
    }

    // The zip reader of backups closes an archive it refuses.
    void refusedArchiveIsClosed()
    {
        QFile file(m_dir.filePath("two.zip"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(TestDocuments::zip({{"a.txt", "a"}, {"b.txt", "b"}}));
        file.close();
        const auto openFiles = [] {
            return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size();
        };
        const qsizetype before = openFiles();
        QVERIFY_THROWS_EXCEPTION(FileError, ZipReader(file.fileName(), 1));
        QCOMPARE(openFiles(), before);
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
    // become plain words, a quoted part one phrase; words of three letters
    // or more are prefixes.
    void userTextBecomesPlainStrings()
    {
        QCOMPARE(FileTextIndex::matchExpression(QStringLiteral("болты \"гайки м8\" м8")),
                 QStringLiteral("\"болты\" * \"гайки м8\" \"м8\""));
        QCOMPARE(FileTextIndex::matchExpression(QStringLiteral("a OR b* NEAR(c) -d")),
                 QStringLiteral("\"a\" \"OR\" \"b\" \"NEAR\" * \"c\" \"d\""));
        QCOMPARE(FileTextIndex::matchExpression(QStringLiteral("\"unclosed ;--")),
                 QStringLiteral("\"unclosed\" *"));
        QVERIFY(FileTextIndex::matchExpression(QStringLiteral("  \"\" ,.")).isEmpty());
    }

    // A typed word finds its forms and the longer words that begin with it.
    void wordForms_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("document");
        QTest::addColumn<bool>("found");
        const QList<std::tuple<const char *, const char *, bool>> pairs = {
            {"болт", "Болты М8", true},
            {"болт", "десять болтов", true},
            {"болт", "крепёж болтовой", true},
            {"болтов", "болты", true},
            {"скреп", "скрепки канцелярские", true},
            {"гайка", "гайки", true},
            {"гайками", "гайка", true},
            {"шайба", "с шайбами", true},
            {"подшипник", "подшипников", true},
            {"кабел", "кабелем", true},
            {"краск", "краской", true},
            {"ЗАКЛЁПКА", "заклепки", true},
            {"ёлка", "елки", true},
            {"м10", "М100", true},
            {"м8", "м8", true},
            {"болт гайка", "болты и гайки", true},
            {"\"болты оцинкованные\"", "болты оцинкованные", true},
            {"\"болт\"", "болты", true},
            {"bolt", "bolts", true},
            {"bolt", "bolted", true},
            {"wash", "washers", true},
            {"valve", "Valves", true},
            {"bearing", "bearings", true},
            {"supplies", "supply", true},
            {"flange", "flanges", true},
            {"catalog", "catalogue", true},
            {"болт", "болото", false},
            {"гайка", "гай", false},
            {"шайба", "шар", false},
            {"кабель", "кабан", false},
            {"лист", "лиса", false},
            {"ст", "сталь", false},
            {"м8", "м8x40", false},
            {"болт гайка", "только болты", false},
            {"\"оцинкованные болты\"", "болты оцинкованные", false},
            {"\"болт\"", "болтовой", false},
            {"bolt", "bold", false},
            {"steel", "steal", false},
        };
        for (const auto &[typed, document, found] : pairs)
            QTest::addRow("%s / %s", typed, document)
                << QString::fromUtf8(typed) << QString::fromUtf8(document) << found;
    }
    void wordForms()
    {
        QFETCH(QString, typed);
        QFETCH(QString, document);
        QFETCH(bool, found);
        QTemporaryDir dir;
        FileTextIndex index(dir.path());
        index.store({1, 1, 0, QStringLiteral("price.csv"), 10}, "hash",
                    {ExtractStatus::Text, document, {}});
        QCOMPARE(index.search(typed).size(), found ? 1 : 0);
    }
};

QTEST_MAIN(TextExtractionTest)
#include "tst_textextraction.moc"
