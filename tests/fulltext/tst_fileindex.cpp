#include "Catalogue.h"
#include "FileIndexer.h"
#include "FolderSession.h"
#include "IndexSync.h"
#include "RecordingUi.h"
#include "SPacker.h"
#include "TestDocuments.h"
#include "UData.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace TestDocuments;

namespace {

const QString program = QStringLiteral(QUILLON_PROGRAM);

QStringList descriptions(const QList<FileHit> &hits)
{
    QStringList names;
    for (const FileHit &hit : hits)
        names << hit.file.description;
    names.sort();
    return names;
}

} // namespace

class FileIndexTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestCatalogue::Place> m_place;
    std::unique_ptr<Tdm> m_dm;
    RecordingUi m_ui;

    QString dataDirectory() const { return m_place->location(); }

    void run(const QString &sql)
    {
        m_dm->TMPQuery.setSql({sql});
        m_dm->TMPQuery.execSql();
    }

    qint64 attach(qint64 firmId, const QString &description, const QByteArray &bytes)
    {
        if (!m_dm->qFirms.locate("FirmID", firmId))
            return 0;
        return TestDocuments::attach(m_dm->qFirmFiles, "FirmID", firmId, description, bytes);
    }

    // "Заменить" and the store-back after opening: new bytes, same row.
    void replace(const QByteArray &bytes)
    {
        m_dm->qFirmFiles.edit();
        TStreamPacker packer;
        packer.Method = clMax;
        packer.InputStream()->write(bytes);
        packer.Execute();
        m_dm->qFirmFiles.fieldByName("File")->setBytes(packer.OutputStream()->data());
        m_dm->qFirmFiles.post();
    }

private slots:
    void init()
    {
        m_place = std::make_unique<TestCatalogue::Place>();
        TestCatalogue::pointAliasAt(dataDirectory());
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        run("Insert Into Firms (FirmID, Name) Values (1, 'Альфа')");
        run("Insert Into Firms (FirmID, Name) Values (2, 'Бета')");
        m_dm->RebuildFirmQuery();
    }

    void cleanup()
    {
        m_dm.reset();
        m_place.reset();
    }

    // Each kind attached, then found by a word in another form.
    void findsEveryKindByAnotherWordForm()
    {
        const QList<std::tuple<QString, QByteArray, QString>> files = {
            {"price.pdf", pdf("Анкерные болты"), "болтов"},
            {"price.docx", docx("Шурупы по дереву"), "шуруп"},
            {"price.xlsx", xlsx("Заклёпки вытяжные"), "ЗАКЛЕПКА"},
            {"price.odt", odt("Дюбелями"), "дюбель"},
            {"price.ods", ods("Хомуты"), "хомутов"},
            {"price.xls", xls(), "шайба"},
            {"utf8.csv", csvUtf8("Саморезы"), "саморез"},
            {"utf16.csv", csvUtf16("Гвозди"), "гвоздей"},
            {"cp1251.csv", csv1251("Скобы"), "скоба"},
            {"price.html", html("Washers"), "washer"}};
        for (const auto &[name, bytes, _] : files)
            attach(1, name, bytes);
        IndexSync sync(dataDirectory(), program);
        const SyncReport report = sync.syncAll();
        QCOMPARE(report.extracted, int(files.size()));
        for (const auto &[name, bytes, word] : files)
            QVERIFY2(descriptions(sync.index().search(word)) == QStringList{name},
                     qPrintable(word + ": " + descriptions(sync.index().search(word)).join(", ")));
        // Every word must stand in one file; a phrase keeps its order.
        QVERIFY(sync.index().search("болты шурупы").isEmpty());
        QCOMPARE(descriptions(sync.index().search("\"анкерных болтов\"")),
                 QStringList{"price.pdf"});
        QVERIFY(sync.index().search("\"болты анкерные\"").isEmpty());
        const QList<FileHit> hit = sync.index().search("болты");
        QCOMPARE(hit.first().file.firmId, 1);
        QVERIFY2(hit.first().snippet.contains("«болты»"), qPrintable(hit.first().snippet));
    }

    // A bad file costs one skipped file; the others are indexed, and none
    // of them is read again while its bytes stay the same.
    void badFilesAreSkippedAndNotRetried()
    {
        const QByteArray document = docx("Шурупы");
        attach(1, "damaged.pdf", damagedPdf());
        attach(1, "truncated.docx", document.left(document.size() / 2));
        attach(1, "bomb.xlsx", zipBomb(80 * 1024 * 1024));
        attach(1, "endless.txt", QByteArray(3 * 1024 * 1024, 'x'));
        attach(1, "picture.png", QByteArray::fromHex("89504e470d0a1a0a0000000d49484452"));
        attach(2, "good.pdf", pdf("Болты"));
        ExtractionLimits limits;
        limits.maxText = 1024 * 1024;
        IndexSync sync(dataDirectory(), program, limits);
        const SyncReport first = sync.syncAll();
        QCOMPARE(first.total, 6);
        QCOMPARE(first.failed, 4);
        QCOMPARE(first.unsupported, 1);
        QCOMPARE(first.extracted, 1);
        QCOMPARE(descriptions(sync.index().search("болт")), QStringList{"good.pdf"});
        const SyncReport again = sync.syncAll();
        QCOMPARE(again.unchanged, 6);
        QCOMPARE(again.extracted + again.failed + again.unsupported, 0);
    }

    // The running program's indexer hears of every post and delete of the
    // data module's file rows, wherever they come from.
    void followsTheDataModule()
    {
        FileIndexer indexer(dataDirectory(), program);
        indexer.follow(*m_dm);
        const qint64 id = attach(1, "price.pdf", pdf("Болты анкерные"));
        QTRY_COMPARE(descriptions(indexer.search("болт")), QStringList{"price.pdf"});

        replace(docx("Гайки шестигранные"));
        QTRY_COMPARE(descriptions(indexer.search("гайка")), QStringList{"price.pdf"});
        QVERIFY(indexer.search("болт").isEmpty());

        m_dm->qFirmFiles.edit();
        m_dm->qFirmFiles.fieldByName("Description")->setAsString("Прайс.docx");
        m_dm->qFirmFiles.post();
        QTRY_COMPARE(descriptions(indexer.search("гайка")), QStringList{"Прайс.docx"});

        attach(2, "beta.csv", csvUtf8("Гайки"));
        QTRY_COMPARE(indexer.search("гайка").size(), 2);
        m_dm->qFirmFiles.deleteRecord();
        QTRY_COMPARE(descriptions(indexer.search("гайка")), QStringList{"Прайс.docx"});

        // The firm goes, and its files with it.
        QVERIFY(m_dm->qFirms.locate("FirmID", 1));
        m_dm->tblFirms.deleteRecord();
        QTRY_VERIFY(indexer.search("гайка").isEmpty());
        QVERIFY(id > 0);
    }

    // Thrown away or damaged, the index is made again from the tables.
    void indexIsRebuiltWhenMissingOrDamaged()
    {
        attach(1, "price.pdf", pdf("Болты"));
        IndexSync(dataDirectory(), program).syncAll();
        const QString path = FileTextIndex::pathIn(dataDirectory());
        QVERIFY(QFile::exists(path));

        FileTextIndex::removeIn(dataDirectory());
        {
            IndexSync sync(dataDirectory(), program);
            QVERIFY(sync.index().startedEmpty());
            QCOMPARE(sync.syncAll().extracted, 1);
            QCOMPARE(sync.index().search("болт").size(), 1);
        }
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(0);
            file.write(QByteArray(4096, '\x5a'));
        }
        IndexSync sync(dataDirectory(), program);
        QVERIFY(sync.index().startedEmpty());
        QCOMPARE(sync.syncAll().extracted, 1);
        QCOMPARE(sync.index().search("болт").size(), 1);
        // The designed tables know nothing of it; a server catalogue's index
        // is this desk's own.
        if (m_place->onServer())
            QVERIFY(path.startsWith(qEnvironmentVariable("XDG_DATA_HOME") + "/Quillon/index/"));
        else
            QCOMPARE(TestCatalogue::shell(FolderSession::findFileIn(dataDirectory(), "Files.DB"),
                                          ".tables")
                         .trimmed()
                         .toUpper(),
                     QStringLiteral("FILES"));
    }

    // For scripts: the owner, the file's description and the words in their
    // place; the files whose text was not read, each with its reason.
    void commandLine()
    {
        attach(2, "price.pdf", pdf("Анкерные болты"));
        attach(2, "locked.pdf", lockedPdf());
        QProcess rebuild;
        rebuild.start(program, {"--rebuild-index"});
        QVERIFY(rebuild.waitForFinished(30000));
        QCOMPARE(rebuild.exitCode(), 0);
        QVERIFY(QString::fromUtf8(rebuild.readAllStandardOutput()).contains("текст прочитан: 1"));
        QCOMPARE(QString::fromUtf8(rebuild.readAllStandardError()).trimmed(),
                 QStringLiteral("Текст не прочитан: Фирма «Бета», файл «locked.pdf»: файл "
                                "защищён паролем"));
        QProcess find;
        find.start(program, {"--find-in-files", "болтов"});
        QVERIFY(find.waitForFinished(30000));
        QCOMPARE(find.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(find.readAllStandardOutput()).trimmed(),
                 QStringLiteral("Фирма «Бета»\tprice.pdf\tАнкерные «болты»"));
        find.start(program, {"--find-in-files", "гвозди"});
        QVERIFY(find.waitForFinished(30000));
        QCOMPARE(find.exitCode(), 1);
    }

    // Killed while files are read, the program takes its extraction
    // processes with it and leaves no copy of a document behind.
    void extractionEndsWithTheProgram()
    {
        for (int i = 0; i < 40; ++i)
            attach(1, QStringLiteral("price%1.html").arg(i),
                   "<html><body>" + QByteArray(4 << 20, '&') + "</body></html>");
        QTemporaryDir temporary;
        QProcess rebuild;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", temporary.path());
        rebuild.setProcessEnvironment(environment);
        rebuild.start(program, {"--rebuild-index"});
        QVERIFY(rebuild.waitForStarted());
        const auto extraction = [&] {
            QProcess pgrep;
            pgrep.start("pgrep",
                        {"-P", QString::number(rebuild.processId()), "-f", "extract-server"});
            pgrep.waitForFinished();
            return QString::fromLatin1(pgrep.readAllStandardOutput())
                .split(u'\n', Qt::SkipEmptyParts);
        };
        const int pool = std::min(QThread::idealThreadCount(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(extraction().size() == pool, 20000);
        const QStringList children = extraction();
        rebuild.kill();
        rebuild.waitForFinished();
        for (const QString &child : children)
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/proc/") + child), 5000);
        QCOMPARE(QDir(temporary.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }

    // Paused, the indexer begins no file; a restore's new catalogue is
    // followed at once, its old words forgotten.
    void pauseAndRestore()
    {
        attach(1, "old.csv", csvUtf8("Болты"));
        FileIndexer indexer(dataDirectory(), program);
        QSignalSpy synced(&indexer, &FileIndexer::synced);
        indexer.setPaused(true);
        indexer.syncAll();
        QVERIFY(!synced.wait(1500));
        QVERIFY(indexer.search("болт").isEmpty());
        indexer.setPaused(false);
        QVERIFY(synced.wait(30000));
        QCOMPARE(descriptions(indexer.search("болт")), QStringList{"old.csv"});

        if (m_place->onServer())
            replaceRowsAsARestoreDoes();
        else
            swapFoldersAsARestoreDoes();
        indexer.catalogueReplaced();
        QVERIFY(synced.wait(30000));
        QCOMPARE(descriptions(indexer.search("гайка")), QStringList{"new.csv"});
        QVERIFY(indexer.search("болт").isEmpty());
    }

private:
    // A restore into a server replaces the rows of the same database.
    void replaceRowsAsARestoreDoes()
    {
        run("Delete From Files");
        m_dm->qFirmFiles.close();
        m_dm->qFirmFiles.open();
        attach(1, "new.csv", csvUtf8("Гайки"));
    }

    // A restore into a folder swaps another catalogue's files in under the same folder name.
    void swapFoldersAsARestoreDoes()
    {
        QTemporaryDir other;
        const QString otherData = other.filePath("Data");
        QVERIFY(QDir().mkpath(otherData));
        QFile::copy(FolderSession::findFileIn(dataDirectory(), "Files.DB"),
                    QDir(otherData).filePath("FILES.DB"));
        m_dm.reset();
        {
            TestCatalogue::pointAliasAt(otherData);
            Tdm restored(m_ui);
            restored.DataModuleCreate();
            restored.TMPQuery.setSql({"Delete From Files"});
            restored.TMPQuery.execSql();
            restored.TMPQuery.setSql({"Insert Into Firms (FirmID, Name) Values (1, 'Альфа')"});
            restored.TMPQuery.execSql();
            restored.RebuildFirmQuery();
            QVERIFY(restored.qFirms.locate("FirmID", 1));
            TestDocuments::attach(restored.qFirmFiles, "FirmID", 1, "new.csv", csvUtf8("Гайки"));
        }
        QVERIFY(QDir().rename(dataDirectory(), m_place->scratch("Data.aside")));
        QVERIFY(QDir().rename(otherData, dataDirectory()));
    }
};

QTEST_MAIN(FileIndexTest)
#include "tst_fileindex.moc"
