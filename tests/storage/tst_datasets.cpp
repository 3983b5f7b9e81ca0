#include "Catalogue.h"
#include "DataSource.h"
#include "EngineError.h"
#include "Query.h"
#include "Table.h"

#include <QSignalSpy>
#include <QTest>

using namespace TestCatalogue;

class DataSetTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    std::unique_ptr<Session> m_session;

    QString stored(const QString &table, const QString &sql) const
    {
        return m_place->stored(table, sql);
    }

    std::unique_ptr<Table> table(const QString &file) { return openTable(*m_session, file); }
    std::unique_ptr<Query> query(const QStringList &sql, bool live = false)
    {
        return openQuery(*m_session, sql, live);
    }

    void addFirm(Table &firms, const QString &name)
    {
        firms.append();
        firms.fieldByName("Name")->setAsString(name);
        firms.post();
    }

    // Folders 1 "Склад" and 2 "Офис", open.
    std::unique_ptr<Table> twoFolders()
    {
        auto folders = table("FOLDERS.DB");
        folders->open();
        for (const QString name : {"Склад", "Офис"}) {
            folders->append();
            folders->fieldByName("Description")->setAsString(name);
            folders->post();
        }
        return folders;
    }

    QStringList names(DataSet &data, const QString &field = "Name")
    {
        QStringList result;
        for (data.first(); !data.eof(); data.next())
            result << data.fieldByName(field)->asString();
        return result;
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        m_session = m_place->open();
        createCatalogue(*m_session);
    }

    void cleanup()
    {
        m_session.reset();
        m_place.reset();
    }

    void postsAssignKeysNeverReusedAndLandOnDisk()
    {
        auto firms = table("FIRMS.DB");
        firms->open();
        addFirm(*firms, "Первая");
        QCOMPARE(firms->fieldByName("FirmID")->asInteger(), 1);
        addFirm(*firms, "Вторая");
        QCOMPARE(firms->fieldByName("FirmID")->asInteger(), 2);
        firms->deleteRecord();
        addFirm(*firms, "Третья");
        QCOMPARE(firms->fieldByName("FirmID")->asInteger(), 3); // 2 is not handed out again
        // Each post is in the file when it returns: another reader sees it.
        QCOMPARE(stored("FIRMS.DB", "select FirmID || ':' || Name from FIRMS order by 1"),
                 QString("1:Первая\n3:Третья"));
    }

    void textRulesApplyOnStore()
    {
        auto firms = table("FIRMS.DB");
        firms->open();
        firms->append();
        firms->fieldByName("Name")->setAsString(QString(300, QChar(0x0416))); // Ж × 300
        firms->fieldByName("Sinonyms")->setAsString("");
        firms->fieldByName("GroupID")->setAsString(" 42 ");
        QVERIFY_THROWS_EXCEPTION(EngineError, firms->fieldByName("GroupID")->setAsString("сорок"));
        firms->post();
        QCOMPARE(firms->fieldByName("Name")->asString().size(), 240);
        QCOMPARE(stored("FIRMS.DB",
                        "select length(Name), coalesce(Sinonyms, 'blank'), GroupID from FIRMS"),
                 QString("240|blank|42"));
        QVERIFY_THROWS_EXCEPTION(EngineError, firms->fieldByName("Name")->setAsString("x"));
    }

    void listsComeInRussianOrderAndLocateByPrefix()
    {
        auto firms = table("FIRMS.DB");
        firms->open();
        for (const QString name : {"яхонт", "Абажур", "абрикос", "Zeta", "Ёлка", "ель", "Бор"})
            addFirm(*firms, name);
        auto list = query({"Select * From Firms", "", "", "order by name"});
        list->open();
        QCOMPARE(names(*list),
                 QStringList({"Zeta", "Абажур", "абрикос", "Бор", "Ёлка", "ель", "яхонт"}));
        QVERIFY(list->locate("Name", QString("АБР"), LocateCaseInsensitive | LocatePartialKey));
        QCOMPARE(list->fieldByName("Name")->asString(), QString("абрикос"));
        QVERIFY(!list->locate("Name", QString("абх"), LocateCaseInsensitive | LocatePartialKey));
        QCOMPARE(list->fieldByName("Name")->asString(), QString("абрикос")); // stays where it was
        QVERIFY(list->locate("Name", QString("ел"), LocatePartialKey)); // case kept: not Ёлка
        QCOMPARE(list->fieldByName("Name")->asString(), QString("ель"));
        // Ё and Е share a place in the order, but a prefix matches its own letter only.
        addFirm(*firms, "ёж");
        addFirm(*firms, "Еж");
        list->refresh();
        QVERIFY(list->locate("Name", QString("ЁЖ"), LocateCaseInsensitive | LocatePartialKey));
        QCOMPARE(list->fieldByName("Name")->asString(), QString("ёж"));
        QVERIFY(list->locate("Name", QString("еж"), LocateCaseInsensitive | LocatePartialKey));
        QCOMPARE(list->fieldByName("Name")->asString(), QString("Еж"));
        QVERIFY(list->locate("Name;FirmID", QVariantList{"Бор", 7}));
        QCOMPARE(list->recNo(), 3);
        list->last();
        QVERIFY(list->eof());
        QCOMPARE(list->fieldByName("Name")->asString(), QString("яхонт"));
    }

    void detailTablesFollowTheirMasterAndTakeItsKey()
    {
        auto firms = table("FIRMS.DB");
        firms->open();
        addFirm(*firms, "Б-фирма");
        addFirm(*firms, "А-фирма");
        auto list = query({"Select * From Firms", "", "", "order by name"});
        DataSource listSource;
        listSource.setDataSet(list.get());
        auto current = table("FIRMS.DB");
        current->setIndexFieldNames("FirmID");
        current->setMasterSource(&listSource);
        current->setMasterFields("FirmID");
        DataSource currentSource;
        currentSource.setDataSet(current.get());
        auto folders = table("CRFOLDERS.DB");
        folders->setIndexName("Firm");
        folders->setMasterSource(&currentSource);
        folders->setMasterFields("FirmID");
        folders->addField("FolderID", FieldKind::Integer);
        folders->addField("FirmID", FieldKind::Integer);
        folders->addField("ItemID", FieldKind::Integer)->setDefaultExpression("0");

        list->open();
        current->open();
        folders->open();
        QCOMPARE(current->recordCount(), 1);
        QCOMPARE(current->fieldByName("Name")->asString(), QString("А-фирма"));
        folders->append();
        folders->fieldByName("FolderID")->setAsInteger(5);
        folders->post();
        QCOMPARE(stored("CRFOLDERS.DB", "select FolderID, FirmID, ItemID from CRFOLDERS"),
                 QString("5|2|0"));
        list->next();
        QCOMPARE(current->fieldByName("Name")->asString(), QString("Б-фирма"));
        QVERIFY(folders->isEmpty());
        // Unlinked, the table holds every firm; a filter narrows it to one.
        current->setMasterSource(nullptr);
        QCOMPARE(current->recordCount(), 2);
        current->setFilter("FirmID=2");
        current->setFiltered(true);
        QCOMPARE(names(*current), QStringList({"А-фирма"}));
        QVERIFY_THROWS_EXCEPTION(EngineError, current->setFilter("Name like 'x'"));
    }

    void liveQueriesTakeParametersFromTheirSourceAndWriteThrough()
    {
        auto items = table("ITEMS.DB");
        items->open();
        items->append();
        items->fieldByName("Name")->setAsString("Гвоздь");
        items->post();
        DataSource itemSource;
        itemSource.setDataSet(items.get());
        auto sellers = query({"Select * From CrFirms", "Where Type='s' and ItemID=:ItemID"}, true);
        sellers->setDataSource(&itemSource);
        sellers->beforePost = [&](DataSet &d) {
            d.fieldByName("Type")->setAsString("s");
            d.fieldByName("ItemID")->setValue(items->fieldByName("ItemID")->value());
        };
        int saved = 0;
        sellers->afterPost = [&](DataSet &) { ++saved; };
        sellers->open();
        QVERIFY(sellers->isEmpty());
        sellers->append();
        sellers->fieldByName("FirmID")->setAsInteger(9);
        sellers->post();
        QCOMPARE(saved, 1);
        QCOMPARE(sellers->recordCount(), 1);
        QCOMPARE(stored("CRFIRMS.DB", "select FirmID, ItemID, Type from CRFIRMS"),
                 QString("9|1|s"));
        sellers->edit();
        sellers->fieldByName("FirmID")->setAsInteger(8);
        sellers->post();
        QCOMPARE(stored("CRFIRMS.DB", "select FirmID from CRFIRMS"), QString("8"));
        sellers->deleteRecord();
        QCOMPARE(stored("CRFIRMS.DB", "select count(*) from CRFIRMS"), QString("0"));

        auto readOnly = query({"Select * From CrFirms"});
        readOnly->open();
        QVERIFY_THROWS_EXCEPTION(EngineError, readOnly->append());
    }

    // Search values are bound apart from a dataset's own parameters (master
    // link, filter, query parameters), so each finds its row.
    void locateAndLookupOnLinkedFilteredAndParameterisedDataSets()
    {
        auto firms = table("FIRMS.DB");
        firms->open();
        addFirm(*firms, "Альфа Systems");
        addFirm(*firms, "Бета");
        DataSource firmSource;
        firmSource.setDataSet(firms.get());
        auto members = table("GRPFRM.DB");
        members->setIndexFieldNames("FirmID");
        members->setMasterSource(&firmSource);
        members->setMasterFields("FirmID");
        members->open(); // on firm 2, "Бета"
        for (const int group : {7, 9}) {
            members->append();
            members->fieldByName("GroupID")->setAsInteger(group);
            members->post();
        }
        QVERIFY(members->locate("FirmID;GroupID", {2, 7}));
        QCOMPARE(members->fieldByName("GroupID")->asInteger(), 7);
        QVERIFY(members->locate("GroupID", 9));
        QCOMPARE(members->fieldByName("GroupID")->asInteger(), 9);
        QVERIFY(!members->locate("FirmID;GroupID", {1, 7}));
        QCOMPARE(members->lookup("GroupID", 9, "FirmID").toInt(), 2);

        auto current = table("FIRMS.DB");
        current->setFilter("FirmID=1");
        current->setFiltered(true);
        current->open();
        QVERIFY(current->locate("Name", "альфа", LocateCaseInsensitive | LocatePartialKey));
        QVERIFY(current->locate("FirmID;Name", {1, "Альфа Systems"}));
        QVERIFY(current->locate("Name", "Альфа", LocatePartialKey));
        QVERIFY(!current->locate("Name", "Бета"));
        QCOMPARE(current->lookup("FirmID", 1, "Name").toString(), QString("Альфа Systems"));
        QVERIFY(current->lookup("FirmID", 2, "Name").isNull());

        auto byName = query({"Select * From Firms", "Where FirmID=:FirmID"});
        byName->setDataSource(&firmSource);
        byName->open(); // firm 2 again
        QVERIFY(byName->locate("Name", "БЕТ", LocateCaseInsensitive | LocatePartialKey));
        QVERIFY(byName->locate("FirmID;Name", {2, "Бета"}));
        QCOMPARE(byName->lookup("Name", "Бета", "FirmID").toInt(), 2);
    }

    void eventsCanAbortSilentlyAndUnchangedNewRowsAreDropped()
    {
        auto folders = table("FOLDERS.DB");
        folders->open();
        int scrolls = 0;
        folders->afterScroll = [&](DataSet &) { ++scrolls; };
        folders->beforeDelete = [](DataSet &) { Abort(); };
        folders->append();
        folders->fieldByName("Description")->setAsString("Склад");
        folders->post();
        QVERIFY_THROWS_EXCEPTION(EAbort, folders->deleteRecord());
        QCOMPARE(folders->recordCount(), 1);
        folders->append();
        QCOMPARE(folders->displayRowCount(), 2);
        folders->first(); // leaving an untouched new row drops it
        QCOMPARE(folders->state(), DataSetState::Browse);
        QCOMPARE(folders->recordCount(), 1);
        QVERIFY(scrolls >= 3);
        folders->beforeInsert = [](DataSet &) { Abort(); };
        QVERIFY_THROWS_EXCEPTION(EAbort, folders->append());
        QCOMPARE(folders->state(), DataSetState::Browse);
        QCOMPARE(folders->displayRowCount(), 1);
        folders->edit();
        folders->fieldByName("Description")->setAsString("Другое");
        folders->cancel();
        QCOMPARE(folders->fieldByName("Description")->asString(), QString("Склад"));
    }

    void lookupFieldsShowAndChooseByTheOtherDataset()
    {
        auto folders = twoFolders();
        auto folderList = query({"Select * From Folders"});
        folderList->open();
        auto members = table("CRFOLDERS.DB");
        members->addField("FolderID", FieldKind::Integer);
        members->addField("FirmID", FieldKind::Integer);
        members->addField("ItemID", FieldKind::Integer);
        members->addLookupField("FolderName", 50, "FolderID", folderList.get(), "FolderID",
                                "Description");
        members->open();
        members->append();
        members->fieldByName("FolderName")->setAsString("Офис");
        QCOMPARE(members->fieldByName("FolderID")->asInteger(), 2);
        members->post();
        QCOMPARE(members->fieldByName("FolderName")->asString(), QString("Офис"));
        QCOMPARE(members->fields().size(), 4);
    }

    // Looked-up names are kept by key while the looked-up rows stay as they
    // are, and read again once that dataset posts, deletes or is reopened.
    void lookupResultsFollowTheirDataSet()
    {
        auto folders = twoFolders();
        auto members = table("CRFOLDERS.DB");
        members->addField("FolderID", FieldKind::Integer);
        members->addField("FirmID", FieldKind::Integer);
        members->addField("ItemID", FieldKind::Integer);
        Field *name = members->addLookupField("FolderName", 50, "FolderID", folders.get(),
                                              "FolderID", "Description");
        members->open();
        members->append();
        members->fieldByName("FolderID")->setAsInteger(2);
        members->post();
        QCOMPARE(members->displayValue(0, name).toString(), QString("Офис"));

        folders->locate("FolderID", 2);
        folders->edit();
        folders->fieldByName("Description")->setAsString("Контора");
        folders->post();
        QCOMPARE(members->displayValue(0, name).toString(), QString("Контора"));
        stored("FOLDERS.DB", "update FOLDERS set Description = 'Цех' where FolderID = 2");
        QCOMPARE(members->displayValue(0, name).toString(), QString("Контора")); // kept
        folders->close();
        folders->open();
        QCOMPARE(members->displayValue(0, name).toString(), QString("Цех"));
        folders->locate("FolderID", 2);
        folders->deleteRecord();
        QVERIFY(members->displayValue(0, name).isNull());
    }

    void blobsRoundTripAndStayOnDiskUntilAsked()
    {
        auto files = query({"Select F.* From Files F", "Where F.FirmID=:FirmID"}, true);
        files->setParam("FirmID", 4);
        files->open();
        QByteArray bytes(300000, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        files->append();
        files->fieldByName("FirmID")->setAsInteger(4);
        files->fieldByName("FileName")->setAsString("price.xls");
        files->fieldByName("File")->setBytes(bytes);
        files->post();
        files->close();
        files->open();
        QCOMPARE(files->recordCount(), 1);
        QCOMPARE(files->fieldByName("File")->asBytes(), bytes);
        QCOMPARE(stored("FILES.DB", "select length(File), FileName from FILES"),
                 QString("300000|price.xls"));
    }

    void largeListsOpenAndScrollByPages()
    {
        insertRows(*m_session, "Firms", {"FirmID", "Name"}, 50000, [](int i) {
            return QVariantList{i, QStringLiteral("Фирма %1").arg(50001 - i, 6, 10, QChar('0'))};
        });
        auto list = query({"Select * From Firms", "", "", "order by name"});
        list->open();
        QCOMPARE(list->recordCount(), 50000);
        QCOMPARE(list->fieldByName("FirmID")->asInteger(), 50000);
        list->moveTo(49999);
        QCOMPARE(list->fieldByName("Name")->asString(), QString("Фирма 050000"));
        QVERIFY(
            list->locate("Name", QString("фирма 0250"), LocateCaseInsensitive | LocatePartialKey));
        QCOMPARE(list->recNo(), 24999);
    }
};

QTEST_GUILESS_MAIN(DataSetTest)
#include "tst_datasets.moc"
