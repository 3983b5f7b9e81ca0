#include "AutoBackup.h"
#include "Backup.h"
#include "BaseMaker.h"
#include "Catalogue.h"
#include "CatalogueCopy.h"
#include "EngineError.h"
#include "FileError.h"
#include "FolderSession.h"
#include "RecordingUi.h"
#include "Restore.h"
#include "TableFiles.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

// One backup format for both kinds of catalogue: a folder's backup restores
// into the tests' kind and that catalogue's backup back into a folder.
namespace {

const QString description = QStringLiteral(QUILLON_SOURCE_DIR "/storage/base.ini");

QList<CatalogueCopy::TableSum> sums(const QString &location, const QStringList &tables)
{
    const std::unique_ptr<Session> session = Session::open(location);
    QList<CatalogueCopy::TableSum> all;
    for (const QString &table : tables)
        all << CatalogueCopy::sumOf(*session, table.section('.', 0, 0));
    return all;
}

} // namespace

class BackupKindsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestCatalogue::Place> m_place;
    QString m_data;
    QStringList m_tables;

    QString path(const QString &name) const { return m_place->scratch(name); }

private slots:
    void init()
    {
        m_place = std::make_unique<TestCatalogue::Place>();
        m_tables = Backup::catalogueTables(description);
        m_data = path("Source");
        RecordingUi ui;
        QVERIFY(BaseMaker::verifyCatalogue(description, m_data, false, false, ui));
        FolderSession session(m_data);
        session.execute("INSERT INTO Firms (FirmID, Name, Address, Phones) VALUES "
                        "(1, 'Ёлка и Ко', 'Москва; ул. \"Тверская\"', '+7 495'), "
                        "(7, 'Acme', NULL, NULL)");
        session.execute("INSERT INTO Items (ItemID, Name) VALUES (1, 'Шуруп')");
        session.execute("INSERT INTO CrFirms (FirmID, ItemID, Type) VALUES (1, 1, 'm')");
        session.execute("INSERT INTO Files (FileID, FirmID, Description, FileName, File) "
                        "VALUES (1, 1, 'Прайс', 'price.pdf', randomblob(300000))");
        TableFiles::setKeysHandedOut(session, session.tableByFile("FIRMS.DB"), 12);
    }

    void cleanup() { m_place.reset(); }

    // Folder → backup → the tests' kind → backup → folder: every row, blob
    // and key counter comes back.
    void roundTripThroughTheTestsKind()
    {
        Backup::create(m_data, m_tables, description, path("first.zip"));
        const Restore::Outcome into =
            Restore::fromArchive(m_place->location(), description, path("first.zip"));
        QVERIFY(into.aside.isEmpty());
        QVERIFY(into.leftOut.isEmpty());
        QCOMPARE(sums(m_place->location(), m_tables), sums(m_data, m_tables));
        {
            const std::unique_ptr<Session> restored = m_place->open();
            QCOMPARE(restored->keysHandedOut(restored->tableByFile("FIRMS.DB"), "FirmID"),
                     qint64(12));
        }

        Backup::create(m_place->location(), m_tables, description, path("second.zip"));
        QCOMPARE(Backup::listed(path("second.zip")).rows.value("FIRMS.DB"), qint64(2));
        const QString back = path("back");
        Restore::fromArchive(back, description, path("second.zip"));
        QCOMPARE(TestCatalogue::contents(back, m_tables),
                 TestCatalogue::contents(m_data, m_tables));
        FolderSession restored(back);
        QCOMPARE(TableFiles::keysHandedOut(restored, restored.tableByFile("FIRMS.DB")), qint64(12));
    }

    // A restore over a catalogue keeps the former one and says where; a
    // refused archive leaves the catalogue exactly as it was.
    void restoreOverACatalogueKeepsTheFormer()
    {
        Backup::create(m_data, m_tables, description, path("first.zip"));
        Restore::fromArchive(m_place->location(), description, path("first.zip"));
        m_place->open()->execute("Delete From Firms Where FirmID = 7");

        const Restore::Outcome again =
            Restore::fromArchive(m_place->location(), description, path("first.zip"));
        QVERIFY(QFileInfo::exists(again.aside));
        QVERIFY(Restore::describe(again).contains(QDir::toNativeSeparators(again.aside)));
        QCOMPARE(sums(m_place->location(), m_tables), sums(m_data, m_tables));

        QFile damaged(path("damaged.zip"));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        QFile whole(path("first.zip"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        damaged.write(whole.readAll().left(whole.size() - 2000));
        damaged.close();
        const QByteArray before = m_place->snapshot();
        QVERIFY_THROWS_EXCEPTION(
            FileError, Restore::fromArchive(m_place->location(), description, path("damaged.zip")));
        QCOMPARE(m_place->snapshot(), before);
    }

    // A restore into a server waits for no one: another desk connected, or
    // a check, pack or restore under way elsewhere, refuses it untouched.
    // The program's own connections (its window's) do not count.
    void restoreIntoAServerRefusesWhileOthersWork()
    {
        if (!m_place->onServer())
            QSKIP("a folder's window refuses restores itself");
        Backup::create(m_data, m_tables, description, path("first.zip"));
        const std::unique_ptr<Session> window = m_place->open();
        Restore::fromArchive(m_place->location(), description, path("first.zip"));
        const QByteArray before = m_place->snapshot();

        QProcess otherDesk;
        // psql waiting for commands on its input stays connected, idle.
        otherDesk.start("psql", {"-X", "-q", m_place->location()});
        QVERIFY(otherDesk.waitForStarted());
        QTRY_VERIFY(!window->otherDesks().isEmpty());
        try {
            Restore::fromArchive(m_place->location(), description, path("first.zip"));
            QFAIL("restored while another desk was connected");
        } catch (const FileError &e) {
            QVERIFY2(e.message().startsWith("Каталог открыт на других рабочих местах; "
                                            "восстановление не выполнено.") &&
                         e.message().contains("\npostgres, этот компьютер, с "),
                     qPrintable(e.message()));
        }
        otherDesk.closeWriteChannel();
        QVERIFY(otherDesk.waitForFinished());
        QTRY_VERIFY(window->otherDesks().isEmpty());

        const auto checking = window->lockForMaintenance(Session::IfHeld::Refuse);
        QVERIFY_THROWS_EXCEPTION(
            EngineError, Restore::fromArchive(m_place->location(), description, path("first.zip")));
        QCOMPARE(m_place->snapshot(), before);
    }

    // Daily backups of either kind go to the user's backups folder, one a
    // day, named for their catalogue.
    void dailyBackupOfTheTestsKind()
    {
        Backup::create(m_data, m_tables, description, path("first.zip"));
        Restore::fromArchive(m_place->location(), description, path("first.zip"));
        const QString folder = path("Backups");
        const QDate today(2026, 1, 2);
        const AutoBackup::Daily daily =
            AutoBackup::runDaily(m_place->location(), m_tables, description, folder, today, 3);
        QCOMPARE(daily.made,
                 QDir(folder).filePath(AutoBackup::dailyName(m_place->location(), today)));
        QCOMPARE(Backup::listed(daily.made).totalRows(),
                 Backup::listed(path("first.zip")).totalRows());
        QVERIFY(AutoBackup::runDaily(m_place->location(), m_tables, description, folder, today, 3)
                    .made.isEmpty());
    }
};

QTEST_GUILESS_MAIN(BackupKindsTest)
#include "tst_backupkinds.moc"
