#include "Backup.h"
#include "BaseMaker.h"
#include "Catalogue.h"
#include "CatalogueCopy.h"
#include "EngineError.h"
#include "FolderSession.h"
#include "RecordingUi.h"
#include "Session.h"
#include "TableFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using TestCatalogue::shell;

namespace {

const QString description = QStringLiteral(QUILLON_SOURCE_DIR "/storage/base.ini");

// Every row of every table as the stock shell prints them, with each file's
// key counter.
QString contents(const QString &directory, const QStringList &tables)
{
    QString counters;
    for (const QString &table : tables)
        counters += shell(QDir(directory).filePath(table), "PRAGMA user_version;") + ' ';
    return counters + '\n' + TestCatalogue::contents(directory, tables);
}

} // namespace

class CatalogueCopyTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_data;
    QStringList m_tables;
    RecordingUi m_ui;

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_data = path("Data");
        m_tables = Backup::catalogueTables(description);
        QVERIFY(BaseMaker::verifyCatalogue(description, m_data, false, false, m_ui));
        FolderSession session(m_data);
        session.execute("INSERT INTO Firms (FirmID, Name, Address, Phones) VALUES "
                        "(1, 'Ёлка и Ко', 'Москва; ул. \"Тверская\"', '+7 495'), "
                        "(7, 'Acme', NULL, NULL)");
        session.execute("INSERT INTO Items (ItemID, Name) VALUES (1, 'Шуруп')");
        session.execute("INSERT INTO Folders (FolderID, Description) VALUES (3, 'Склад')");
        session.execute("INSERT INTO GrFirms (GroupID, UpGroupID, Description) VALUES (1, 0, 'A')");
        session.execute("INSERT INTO GrItems (GroupID, UpGroupID, Description) VALUES (1, 0, 'B')");
        session.execute("INSERT INTO GrpFrm (FirmID, GroupID) VALUES (1, 1)");
        session.execute("INSERT INTO GrpItm (ItemID, GroupID) VALUES (1, 1)");
        session.execute("INSERT INTO CrFolders (FolderID, FirmID, ItemID) VALUES (3, 1, 0)");
        session.execute("INSERT INTO CrFirms (FirmID, ItemID, Type) VALUES (1, 1, 'm')");
        session.execute("INSERT INTO Files (FileID, FirmID, Description, FileName, File) "
                        "VALUES (1, 1, 'Прайс', 'price.pdf', randomblob(100000))");
        // Firms up to 12 were handed out once; the copy must not hand them out again.
        TableFiles::setKeysHandedOut(session, session.tableByFile("FIRMS.DB"), 12);
    }

    // Every row and key counter arrives; the copy goes on numbering where the original stood.
    void copiesAWholeCatalogueIntoANewFolder()
    {
        const QString copy = path("elsewhere/Копия");
        QStringList reported;
        CatalogueCopy::copy(m_data, copy, description, m_tables, m_ui,
                            [&](const QString &table, qint64 rows) {
                                reported << QString("%1 %2").arg(table).arg(rows);
                            });
        QCOMPARE(contents(copy, m_tables), contents(m_data, m_tables));
        QVERIFY(reported.contains("FIRMS.DB 2"));
        QCOMPARE(reported.size(), m_tables.size());
        FolderSession session(copy);
        QCOMPARE(TableFiles::nextAutoIncrement(session, session.tableByFile("FIRMS.DB"), "FirmID"),
                 qint64(13));
        QCOMPARE(shell(QDir(copy).filePath("FILES.DB"), "SELECT length(File) FROM Files;"),
                 QString("100000"));
    }

    // Folder to the tests' kind, on to another place of that kind (server to
    // server on a server run) and back to a folder: each copy is proved by
    // its sums, and the catalogue that comes back is the one that left, key
    // counters included. A place of the tests' kind that holds a catalogue
    // refuses a copy and keeps what it holds.
    void copiesThroughTheOtherKindAndBack()
    {
        TestCatalogue::Place first, second;
        const QString back = path("back");
        CatalogueCopy::copy(m_data, first.location(), description, m_tables, m_ui);
        CatalogueCopy::copy(first.location(), second.location(), description, m_tables, m_ui);
        CatalogueCopy::copy(second.location(), back, description, m_tables, m_ui);
        QCOMPARE(contents(back, m_tables), contents(m_data, m_tables));
        const std::unique_ptr<Session> original = Session::open(m_data);
        const std::unique_ptr<Session> copied = second.open();
        for (const QString &table : m_tables)
            QCOMPARE(CatalogueCopy::sumOf(*copied, table.section('.', 0, 0)),
                     CatalogueCopy::sumOf(*original, table.section('.', 0, 0)));
        QCOMPARE(copied->nextAutoIncrement(copied->tableByFile("FIRMS.DB"), "FirmID"), qint64(13));

        const QByteArray before = first.snapshot();
        QVERIFY_THROWS_EXCEPTION(EngineError, CatalogueCopy::copy(m_data, first.location(),
                                                                  description, m_tables, m_ui));
        QCOMPARE(first.snapshot(), before);
    }

    // A target that already holds a catalogue is left exactly as it was.
    void refusesATargetThatHoldsACatalogue()
    {
        const QString other = path("Other");
        QVERIFY(BaseMaker::verifyCatalogue(description, other, false, false, m_ui));
        FolderSession(other).execute("INSERT INTO Firms (FirmID, Name) VALUES (1, 'Своя')");
        const QString before = contents(other, m_tables);
        for (const QString &target : {other, m_data}) {
            try {
                CatalogueCopy::copy(m_data, target, description, m_tables, m_ui);
                QFAIL("copied over a catalogue");
            } catch (const EngineError &e) {
                QVERIFY2(e.message().contains("Каталог нельзя скопировать в него же") ||
                             e.message().contains("только в пустое место"),
                         qPrintable(e.message()));
            }
        }
        QCOMPARE(contents(other, m_tables), before);
        QVERIFY_THROWS_EXCEPTION(EngineError, CatalogueCopy::copy(path("gone"), path("new"),
                                                                  description, m_tables, m_ui));
        QVERIFY(!QFileInfo::exists(path("new")));
    }

    // The sum sees a changed value, a blank against an empty text and a lost
    // row, and not the order the rows are stored in.
    void sumsTellTablesApart()
    {
        const QString shuffled = path("Shuffled");
        QVERIFY(BaseMaker::verifyCatalogue(description, shuffled, false, false, m_ui));
        FolderSession other(shuffled);
        other.execute("INSERT INTO Firms (FirmID, Name) VALUES (7, 'Acme')");
        other.execute("INSERT INTO Firms (FirmID, Name, Address, Phones) VALUES "
                      "(1, 'Ёлка и Ко', 'Москва; ул. \"Тверская\"', '+7 495')");
        FolderSession session(m_data);
        const CatalogueCopy::TableSum original = CatalogueCopy::sumOf(session, "FIRMS");
        QCOMPARE(original.rows, qint64(2));
        QCOMPARE(CatalogueCopy::sumOf(other, "Firms"), original);

        other.execute("UPDATE Firms SET Phones = '+7 496' WHERE FirmID = 1");
        QVERIFY(CatalogueCopy::sumOf(other, "FIRMS").sha256 != original.sha256);
        other.execute("UPDATE Firms SET Phones = '+7 495', Email = '' WHERE FirmID = 1");
        QVERIFY(CatalogueCopy::sumOf(other, "FIRMS").sha256 != original.sha256);
        other.execute("DELETE FROM Firms WHERE FirmID = 7");
        QCOMPARE(CatalogueCopy::sumOf(other, "FIRMS").rows, qint64(1));
    }
};

QTEST_GUILESS_MAIN(CatalogueCopyTest)
#include "tst_cataloguecopy.moc"
