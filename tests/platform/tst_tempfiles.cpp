#include "FileError.h"
#include "Leftovers.h"
#include "TempFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestTempFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shortNameKeepsTheExtension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("shortName");
        QTest::addRow("short enough") << "/home/u/price.pdf"
                                      << "price.pdf";
        QTest::addRow("long stem") << "/d/Price list of the year 2024.pdf"
                                   << "Price lis.pdf";
        QTest::addRow("blanks and Cyrillic") << "/d/Прайс-лист поставщика.docx"
                                             << "Прайс-ли.docx";
        QTest::addRow("several dots") << "/d/archive.of.the.year.tar.gz"
                                      << "archive.of.gz";
        QTest::addRow("extension too long to keep") << "/d/a.averyveryverylongextension"
                                                    << "a.averyveryve";
        QTest::addRow("no extension") << "/d/README_FOR_EVERYONE"
                                      << "README_FOR_EV";
        QTest::addRow("hidden name") << "/d/.a_hidden_configuration"
                                     << ".a_hidden_con";
        QTest::addRow("quote and backslash") << "/d/say \"hi\"\\there.txt"
                                             << "say _hi__.txt";
        QTest::addRow("surrogate pair at the cut")
            << QStringLiteral("/d/abcdefgh") + QString::fromUcs4(U"\U0001F600") + "xyz.txt"
            << "abcdefgh.txt";
    }

    void shortNameKeepsTheExtension()
    {
        QFETCH(QString, path);
        QFETCH(QString, shortName);
        QCOMPARE(shortFileName(path), shortName);
        QVERIFY(shortFileName(path).size() <= MaxShortNameLength);
    }

    void namesFromACatalogueStayInTheDirectory_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("safe");
        QTest::addRow("plain") << "PRICE~1.PDF"
                               << "PRICE~1.PDF";
        QTest::addRow("parent") << ".."
                                << "__";
        QTest::addRow("empty") << ""
                               << "_";
        QTest::addRow("climbing path") << "../../.bashrc"
                                       << ".._.._.bashrc";
        QTest::addRow("windows path") << "..\\x.exe"
                                      << ".._x.exe";
        QTest::addRow("nul") << QStringLiteral("a") + QChar(0) + "b"
                             << "a_b";
    }

    void namesFromACatalogueStayInTheDirectory()
    {
        QFETCH(QString, stored);
        QFETCH(QString, safe);
        QCOMPARE(safeFileName(stored), safe);
        const PrivateTempDir dir;
        QCOMPARE(QFileInfo(dir.filePath(stored)).absolutePath(), dir.path());
    }

    void privateDirectoryIsOwnerOnlyAndRemoved()
    {
        QString path;
        {
            const PrivateTempDir dir;
            path = dir.path();
            QVERIFY(path.startsWith(QDir::tempPath()));
            const QFile::Permissions everyone =
                QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                QFile::ExeOther;
            QCOMPARE(QFileInfo(path).permissions() & everyone,
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile file(dir.filePath(QStringLiteral("REPORT.PDF")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(FileExists(file.fileName()));
            QVERIFY(PrivateTempDir().path() != path);
        }
        QVERIFY(!FileExists(path));
        QVERIFY(!FileExists(QString()));
    }

    // What a killed run left is cleared; a run still going keeps its own.
    void leftoversOfEndedRunsAreCleared()
    {
        QTemporaryDir home;
        const QByteArray savedTemp = qgetenv("TMPDIR"), savedData = qgetenv("XDG_DATA_HOME");
        qputenv("TMPDIR", home.filePath("tmp").toUtf8());
        qputenv("XDG_DATA_HOME", home.filePath("share").toUtf8());
        QVERIFY(QDir().mkpath(home.filePath("tmp")) && QDir().mkpath(home.filePath("out")));
        QProcess ended;
        ended.start("sleep", {"0.1"});
        QVERIFY(ended.waitForStarted());
        const qint64 dead = ended.processId();
        QVERIFY(ended.waitForFinished());

        const QString deadFolder = home.filePath(QString("tmp/quillon-%1-abcdef").arg(dead));
        QVERIFY(QDir().mkpath(deadFolder));
        QFile copy(deadFolder + "/FIRMS.DB");
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.close();
        const PrivateTempDir mine;
        const QString records =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            "/Quillon/Unfinished";
        QVERIFY(QDir().mkpath(records));
        const QString target = home.filePath("out/copy.zip");
        QFile record(records + QString("/%1-1").arg(dead));
        QVERIFY(record.open(QIODevice::WriteOnly));
        record.write(target.toUtf8());
        record.close();
        for (const char *name :
             {"copy.zip.Ab12Cd", "copy.zip", "copy.zip.old", "other.zip.Ab12Cd"}) {
            QFile file(home.filePath(QString("out/") + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        {
            const UnfinishedFile writing(home.filePath("out/live.zip"));
            QFile partial(home.filePath("out/live.zip.Zz99Yy"));
            QVERIFY(partial.open(QIODevice::WriteOnly));
            partial.close();
            Leftovers::clearOfEndedRuns();
            QVERIFY(QFileInfo::exists(partial.fileName()));
        }

        QVERIFY(!QFileInfo::exists(deadFolder));
        QVERIFY(QFileInfo::exists(mine.path()));
        QCOMPARE(QDir(home.filePath("out")).entryList(QDir::Files, QDir::Name),
                 QStringList({"copy.zip", "copy.zip.old", "live.zip.Zz99Yy", "other.zip.Ab12Cd"}));
        QVERIFY(QDir(records).isEmpty());
        qputenv("TMPDIR", savedTemp);
        qputenv("XDG_DATA_HOME", savedData);
    }

    void unusableTemporaryFolderIsReported()
    {
        const QByteArray saved = qgetenv("TMPDIR");
        qputenv("TMPDIR", "/dev/null"); // no folder at all
        QVERIFY_THROWS_EXCEPTION(FileError, PrivateTempDir());
        qputenv("TMPDIR", saved);
    }
};

QTEST_GUILESS_MAIN(TestTempFiles)
#include "tst_tempfiles.moc"
