#include "Aliases.h"
#include "Catalogue.h"
#include "EngineError.h"
#include "ForeignObjects.h"
#include "RecordingUi.h"
#include "SettingsStore.h"
#include "UData.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>

using TestCatalogue::Place;

class DataModuleTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    std::unique_ptr<Tdm> m_dm;
    RecordingUi m_ui;

    QString stored(const QString &table, const QString &sql) const
    {
        return m_place->stored(table, sql);
    }

    bool hasEveryTable() const
    {
        const std::unique_ptr<Session> session = m_place->open();
        for (const char *table :
             {"FIRMS.DB", "ITEMS.DB", "FOLDERS.DB", "GRFIRMS.DB", "GRITEMS.DB", "GRPFRM.DB",
              "GRPITM.DB", "CRFOLDERS.DB", "CRFIRMS.DB", "FILES.DB"}) {
            if (!session->hasTable(table))
                return false;
        }
        return true;
    }

    void start()
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
    }

    void add(DataSet &table, const QStringList &fieldValuePairs)
    {
        table.append();
        for (int i = 0; i + 1 < fieldValuePairs.size(); i += 2)
            table.fieldByName(fieldValuePairs[i])->setAsString(fieldValuePairs[i + 1]);
        table.post();
    }

    void run(const QString &sql)
    {
        dm->TMPQuery.setSql({sql});
        dm->TMPQuery.execSql();
    }

    // Two firms, two items, two folders; firm 1 and item 1 in folder 1, firm 2 in folder 2.
    void fillCatalogue()
    {
        start();
        for (const char *sql :
             {"Insert Into Firms (FirmID, Name) Values (1, 'Альфа')",
              "Insert Into Firms (FirmID, Name) Values (2, 'Бета')",
              "Insert Into Items (ItemID, Name) Values (1, 'Болт')",
              "Insert Into Items (ItemID, Name) Values (2, 'Гайка')",
              "Insert Into Folders (FolderID, Description) Values (1, 'Склад')",
              "Insert Into Folders (FolderID, Description) Values (2, 'Офис')",
              "Insert Into CrFolders (FolderID, FirmID, ItemID) Values (1, 1, 0)",
              "Insert Into CrFolders (FolderID, ItemID) Values (1, 1)",
              "Insert Into CrFolders (FolderID, FirmID, ItemID) Values (2, 2, 0)",
              "Insert Into GrpFrm (FirmID, GroupID) Values (1, 7)",
              "Insert Into Files (FileID, FirmID, FileName) Values (1, 1, 'a.txt')",
              "Insert Into CrFirms (FirmID, ItemID, Type) Values (1, 2, 'm')"})
            run(sql);
        m_dm->closeDataSets();
        m_dm->openDataSets();
    }

    // A file in the folder of a folder catalogue.
    QString data(const QString &name = {}) const { return m_place->location() + '/' + name; }

    QStringList names(DataSet &list)
    {
        QStringList result;
        for (list.first(); !list.eof(); list.next())
            result << list.fieldByName("Name")->asString();
        return result;
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        TestCatalogue::pointAliasAt(m_place->location());
        m_ui = RecordingUi();
    }

    void cleanup()
    {
        m_dm.reset();
        m_place.reset();
    }

    void startUpCreatesTheTablesAndOpensEveryDataSet()
    {
        start();
        QVERIFY(hasEveryTable());
        for (DataSource *source : m_dm->dataSources())
            QVERIFY2(source->dataSet()->active(), qPrintable(source->objectName()));
        QVERIFY(!m_dm->TMPQuery.active());
        QCOMPARE(m_dm->dataSources().size(), 17);
        QCOMPARE(m_dm->LastFileDir, QString(".."));
        QVERIFY(m_dm->CheckOnLoad && !m_dm->PackOnCheck && !m_dm->FolderFilter);
        QCOMPARE(m_dm->qFirms.fields().size(), 8); // the firm list shows its declared fields only
    }

    // A value that blocks a declared change fails the check; the tables stay
    // as they were and the lists still open on them.
    void aFailedCheckStillOpensTheListsOnTheTablesAsTheyAre()
    {
        fillCatalogue();
        run("Update Firms Set Phones = 'офис 12' Where FirmID = 1");
        m_dm.reset();
        QFile shipped(":/quillon/base.ini");
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QByteArray description = shipped.readAll();
        description.replace(QByteArray("Phones                                   String        60"),
                            QByteArray("Phones                                   Integer"));
        QFile changed(m_place->scratch("base.ini"));
        QVERIFY(changed.open(QIODevice::WriteOnly));
        changed.write(description);
        changed.close();
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_place->scratch());
        m_dm = std::make_unique<Tdm>(m_ui);
        try {
            m_dm->DataModuleCreate();
            QFAIL("the check let a text become a number");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().contains("FIRMS.DB") && e.message().contains("Phones") &&
                         e.message().contains("офис 12"),
                     qPrintable(e.message()));
        }
        QDir::setCurrent(previous);
        QCOMPARE(names(m_dm->qFirms), QStringList({"Альфа", "Бета"}));
        QVERIFY(m_dm->tblFirms.active() && m_dm->qItems.active());
        QCOMPARE(stored("FIRMS.DB", "select Phones from FIRMS where FirmID = 1"),
                 QString("офис 12"));
    }

    // Objects the program did not make, in a folder copied from elsewhere:
    // the catalogue opens read-only and nothing of them runs; once the user
    // agrees they go, and the catalogue opens as usual.
    void foreignObjectsOpenReadOnlyUntilRemoved()
    {
        if (m_place->onServer())
            QSKIP("table files of a folder");
        fillCatalogue();
        m_dm.reset();
        TestCatalogue::shell(
            data("FIRMS.DB"),
            "CREATE TRIGGER wipe AFTER INSERT ON FIRMS BEGIN DELETE FROM FIRMS; END;"
            "CREATE VIEW Files AS SELECT 1 AS FileID;"
            "CREATE TABLE Items (ItemID, Name); INSERT INTO Items VALUES (9, 'Подделка');");
        TestCatalogue::shell(data("ITEMS.DB"), "PRAGMA user_version = 2147483647;");
        const QByteArray before = m_place->snapshot();
        // They are looked for at every start, the structure check on or off.
        writeBoolSetting("CheckOnLoad", false);
        m_ui = RecordingUi();
        m_ui.answer = false;
        start();
        QCOMPARE(m_ui.questions.size(), 1);
        for (const char *found : {"FIRMS.DB: триггер «wipe»", "FIRMS.DB: представление «Files»",
                                  "FIRMS.DB: таблица «Items»", "ITEMS.DB: счётчик ключей"})
            QVERIFY2(m_ui.questions[0].contains(QString::fromUtf8(found)),
                     qPrintable(m_ui.questions[0]));
        QCOMPARE(names(m_dm->qItems), QStringList({"Болт", "Гайка"}));
        QCOMPARE(m_dm->qFirmFiles.recordCount(), 1);
        try {
            m_dm->tblFolder.append();
            QFAIL("a read-only catalogue took a new row");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().contains("только для чтения") && e.message().contains("wipe"),
                     qPrintable(e.message()));
        }
        m_dm->tblFolder.cancel();
        m_dm.reset();
        QCOMPARE(m_place->snapshot(), before);

        m_ui = RecordingUi();
        start();
        QVERIFY(!m_dm->Main_sess()->isReadOnly());
        QVERIFY(ForeignObjects::inCatalogue(data(), Tdm::describedTables()).isEmpty());
        QCOMPARE(names(m_dm->qFirms), QStringList({"Альфа", "Бета"}));
        add(m_dm->tblItem, {"Name", "Шайба"});
        QCOMPARE(m_dm->tblItem.fieldByName("ItemID")->asInteger(), 3);
        m_dm->tblFirms.append();
        m_dm->tblFirms.fieldByName("Name")->setAsString("Гамма");
        m_dm->tblFirms.post();
        QCOMPARE(TestCatalogue::shell(data("FIRMS.DB"), "select count(*) from FIRMS"),
                 QString("3"));
        QCOMPARE(TestCatalogue::shell(data("FIRMS.DB"),
                                      "select group_concat(type || ' ' || name, '; ') from "
                                      "sqlite_master"),
                 QString("table FIRMS; index Primary; index ByName"));
    }

    // An unmounted drive or a moved folder is not a new, empty catalogue.
    void aFolderThatIsGoneIsSaidToBeGoneAndNotMadeAgain()
    {
        if (m_place->onServer())
            QSKIP("a folder of table files");
        fillCatalogue();
        m_dm.reset();
        QVERIFY(QDir(data()).removeRecursively());
        m_ui = RecordingUi();
        m_ui.answer = false;
        QVERIFY_THROWS_EXCEPTION(EAbort, start());
        QCOMPARE(m_ui.questions.size(), 1);
        QVERIFY(m_ui.questions[0].contains(QDir::toNativeSeparators(data().chopped(1))));
        QVERIFY(!QFileInfo::exists(data()));
        m_dm.reset();
        m_ui.answer = true; // the user asks for a new catalogue there
        start();
        QCOMPARE(QDir(data()).entryList(QDir::Files).size(), 10);
    }

    void storedSettingsAreReadAndADamagedStoreGivesDefaults()
    {
        writeBoolSetting("FolderFilter", true);
        writeBoolSetting("CheckOnLoad", false);
        m_place->open();
        // Without the check nothing is repaired: the first table fails to open.
        QVERIFY_THROWS_EXCEPTION(EngineError, start());
        QVERIFY(m_dm->FolderFilter);
        QVERIFY(!m_dm->CheckOnLoad);
        QVERIFY(!m_place->open()->hasTable("FIRMS.DB"));
        m_dm.reset();

        QFile store(RegistryKey::defaultFilePath());
        QVERIFY(store.open(QIODevice::WriteOnly));
        store.write("[Quillon\nFolderFilter=\"\x01\xff");
        store.close();
        start();
        QVERIFY(m_dm->CheckOnLoad && !m_dm->FolderFilter);
        QCOMPARE(m_ui.messages.size(), 1);
    }

    void folderAndGroupConditionsJoinInTheListText()
    {
        fillCatalogue();
        QCOMPARE(names(m_dm->qFirms), QStringList({"Альфа", "Бета"}));
        m_dm->FolderFilter = true;
        m_dm->tblFolderAfterScroll(m_dm->tblFolder);
        QCOMPARE(names(m_dm->qFirms), QStringList({"Альфа"}));
        QCOMPARE(names(m_dm->qItems), QStringList({"Болт"}));
        m_dm->GroupFirmFilter = "FirmID in (Select FirmID From GrpFrm Where GroupID=7)";
        m_dm->tblFolder.next(); // the second folder, with the group condition kept
        QCOMPARE(m_dm->qFirms.sql(),
                 QStringList({"Select * From Firms",
                              " Where  FirmID in (Select FirmID From CrFolders Where FolderID=2)  "
                              "and FirmID in (Select FirmID From GrpFrm Where GroupID=7)",
                              "", "order by name"}));
        QVERIFY(m_dm->qFirms.isEmpty());
        QVERIFY(m_dm->qItems.isEmpty()); // an item's membership is never a firm's
        // The current firm follows the list: none now.
        QVERIFY(m_dm->tblFirms.isEmpty());
    }

    void anEmptyFolderTableLeavesTheListsUnfiltered()
    {
        writeBoolSetting("FolderFilter", true);
        start();
        run("Insert Into Firms (FirmID, Name) Values (1, 'Альфа')");
        m_dm->closeDataSets();
        m_dm->openDataSets();
        QVERIFY(m_dm->FolderFirmFilter.isEmpty());
        QCOMPARE(m_dm->qFirms.recordCount(), 1);
    }

    void deletionsAskThenCascadeAndCancelChangesNothing()
    {
        fillCatalogue();
        m_ui.answer = false;
        QVERIFY_THROWS_EXCEPTION(EAbort, m_dm->tblFirms.deleteRecord());
        QCOMPARE(m_ui.questions, QStringList({"Удалить 'Альфа' ?"}));
        QCOMPARE(stored("FILES.DB", "select count(*) from FILES"), QString("1"));
        m_ui.answer = true;
        m_dm->tblFirms.deleteRecord();
        QCOMPARE(stored("FIRMS.DB", "select Name from FIRMS"), QString("Бета"));
        QCOMPARE(stored("FILES.DB", "select count(*) from FILES"), QString("0"));
        QCOMPARE(stored("CRFIRMS.DB", "select count(*) from CRFIRMS"), QString("0"));
        QCOMPARE(stored("CRFOLDERS.DB", "select count(*) from CRFOLDERS where FirmID = 1"),
                 QString("0"));
        QCOMPARE(stored("GRPFRM.DB", "select count(*) from GRPFRM"), QString("1")); // kept

        m_dm->tblFolder.first();
        m_dm->tblFolder.deleteRecord(); // "Склад": firm and item memberships alike
        QCOMPARE(stored("CRFOLDERS.DB", "select FolderID from CRFOLDERS"), QString("2"));
        QCOMPARE(stored("ITEMS.DB", "select count(*) from ITEMS"), QString("2"));
    }

    void relationRowsAndAttachedFilesFollowTheirRules()
    {
        fillCatalogue();
        QVERIFY_THROWS_EXCEPTION(EAbort, m_dm->qFirmFiles.append());
        QCOMPARE(m_dm->qFirmFiles.state(), DataSetState::Browse);
        m_dm->FileAppendAllowed = true;
        m_dm->qFirmFiles.append();
        m_dm->qFirmFiles.fieldByName("FirmID")->setAsInteger(1);
        m_dm->qFirmFiles.post();
        m_dm->FileAppendAllowed = false;
        QCOMPARE(m_dm->qFirmFiles.recordCount(), 2);

        m_dm->qItems.locate("Name", QString("Гайка"));
        QCOMPARE(m_dm->qFMaker.recordCount(), 1);
        QCOMPARE(m_dm->qFMaker.fieldByName("FirmName")->asString(), QString("Альфа"));
        m_dm->qFSaler.append();
        m_dm->qFSaler.fieldByName("FirmName")->setAsString("Бета");
        m_dm->qFSaler.post();
        QCOMPARE(stored("CRFIRMS.DB", "select FirmID, ItemID, Type from CRFIRMS where Type = 's'"),
                 QString("2|2|s"));
    }

    void aNewFolderShowsInTheLookupsAtOnce()
    {
        fillCatalogue();
        m_dm->tblFolder.append();
        m_dm->tblFolder.fieldByName("Description")->setAsString("Новая папка");
        m_dm->tblFolder.post();
        m_dm->tblCrFirmFolder.append();
        m_dm->tblCrFirmFolder.fieldByName("FolderName")->setAsString("Новая папка");
        m_dm->tblCrFirmFolder.post();
        QCOMPARE(stored("CRFOLDERS.DB", "select FolderID || ':' || FirmID || ':' || ItemID "
                                        "from CRFOLDERS where FolderID = 3"),
                 QString("3:1:0"));
        m_dm->tblCrItemFolder.append();
        m_dm->tblCrItemFolder.fieldByName("FolderID")->setAsInteger(3);
        m_dm->tblCrItemFolder.post();
        QCOMPARE(stored("CRFOLDERS.DB", "select coalesce(FirmID, -1) || ':' || ItemID from "
                                        "CRFOLDERS where FolderID = 3 and FirmID is null"),
                 QString("-1:1"));
    }
};

QTEST_GUILESS_MAIN(DataModuleTest)
#include "tst_udata.moc"
