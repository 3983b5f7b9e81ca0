#include "FileError.h"
#include "TempFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
