// Two desks on one catalogue: each its own session and datasets, as two
// copies of the program have.
#include "Catalogue.h"
#include "EngineError.h"
#include "Query.h"
#include "Table.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace TestCatalogue;

class DesksTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    std::unique_ptr<Session> m_mine, m_theirs;

    QString stored(const QString &sql) const { return m_place->stored("FIRMS.DB", sql); }

    // The firm "Ромашка" with a description and a phone, open at both desks.
    std::pair<std::unique_ptr<Table>, std::unique_ptr<Table>> firmAtBothDesks()
    {
        auto mine = openTable(*m_mine, "FIRMS.DB");
        mine->open();
        mine->append();
        mine->fieldByName("Name")->setAsString("Ромашка");
        mine->fieldByName("Description")->setAsString("цветы");
        mine->fieldByName("Phones")->setAsString("111");
        mine->post();
        auto theirs = openTable(*m_theirs, "FIRMS.DB");
        theirs->open();
        mine->fieldByName("Name")->asString(); // read as a window shows it
        return {std::move(mine), std::move(theirs)};
    }

    static void set(DataSet &desk, const QString &field, const QString &value, bool post = true)
    {
        desk.edit();
        desk.fieldByName(field)->setAsString(value);
        if (post)
            desk.post();
    }

    // Posts what `desk` typed; the conflict it must raise.
    static RecordConflict conflictOf(DataSet &desk)
    {
        try {
            desk.post();
        } catch (const RecordConflict &conflict) {
            return conflict;
        }
        qFatal("the post overwrote a change it had not seen");
    }

    // Runs psql as the server's owner on the test's catalogue; what it printed.
    QString psql(const QStringList &arguments) const
    {
        QProcess tool;
        tool.start("psql", QStringList{"-X", "-q", "-v", "ON_ERROR_STOP=1", m_place->location()} +
                               arguments);
        tool.waitForFinished(60000);
        return QString::fromUtf8(tool.readAllStandardError()).trimmed();
    }

    // A login role that is a member of `group`, and the catalogue's address for it.
    QString desk(const QString &login, const QString &group) const
    {
        psql({"-c", QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE "
                                   "rolname = '%1') THEN CREATE ROLE %1 LOGIN; END IF; END$$; "
                                   "GRANT %2 TO %1")
                        .arg(login, group)});
        return QString(m_place->location()).replace("user=postgres", "user=" + login);
    }

    // The other desk's firm list as the main window has it: by name, with a
    // condition (firms of one phone, as a folder or group filter keeps some).
    // The current record is Ромашка.
    std::unique_ptr<Query> filteredList()
    {
        auto theirs = openTable(*m_theirs, "FIRMS.DB");
        theirs->open();
        for (const auto &[name, phone] :
             {std::pair{"Тюльпан", "1"}, {"Астра", "1"}, {"Вишня", "2"}, {"Ромашка", "1"}}) {
            theirs->append();
            theirs->fieldByName("Name")->setAsString(name);
            theirs->fieldByName("Phones")->setAsString(phone);
            theirs->post();
        }
        auto list = openQuery(*m_mine, {"Select * From Firms where Phones = '1'", "order by name"});
        list->open();
        list->locate("Name", "Ромашка");
        // Where each table's notices start from, the server's notices of
        // the rows just added come and gone.
        QTest::qWait(100);
        m_mine->changedElsewhere();
        return list;
    }

    static QString names(DataSet &list)
    {
        QStringList names;
        for (int row = 0; row < list.recordCount(); ++row)
            names << list.displayValue(row, list.fieldByName("Name")).toString();
        return names.join(',');
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        m_mine = m_place->open();
        createCatalogue(*m_mine);
        m_theirs = m_place->open();
    }

    void cleanup()
    {
        m_mine.reset();
        m_theirs.reset();
        m_place.reset();
    }

    void aChangeMadeElsewhereIsNeverOverwrittenUnseen_data()
    {
        QTest::addColumn<QString>("theirField");
        QTest::addColumn<bool>("keepMine");
        QTest::addColumn<QString>("expected"); // Description|Phones afterwards
        // The other desk changed the description, this one the phone.
        QTest::newRow("other field, mine saved") << "Description" << true << "букеты|222";
        QTest::newRow("other field, theirs kept") << "Description" << false << "букеты|222";
        // Both changed the phone.
        QTest::newRow("same field, mine saved") << "Phones" << true << "цветы|222";
        QTest::newRow("same field, theirs kept") << "Phones" << false << "цветы|333";
    }

    void aChangeMadeElsewhereIsNeverOverwrittenUnseen()
    {
        QFETCH(QString, theirField);
        QFETCH(bool, keepMine);
        QFETCH(QString, expected);
        auto [mine, theirs] = firmAtBothDesks();
        set(*mine, "Phones", "222", false);
        set(*theirs, theirField, theirField == "Phones" ? "333" : "букеты");

        const RecordConflict conflict = conflictOf(*mine);
        QVERIFY(!conflict.deleted());
        QVERIFY(conflict.message().startsWith("Запись изменена другим пользователем"));
        QCOMPARE(mine->changedElsewhere(), QStringList{theirField});
        QCOMPARE(mine->state(), DataSetState::Edit);
        QCOMPARE(mine->fieldByName("Phones")->asString(), QString("222")); // nothing typed lost
        QCOMPARE(stored("select Description, Phones from Firms"),
                 theirField == "Phones" ? QString("цветы|333") : QString("букеты|111"));

        keepMine ? mine->saveMine() : mine->keepTheirs();
        QCOMPARE(mine->state(), DataSetState::Browse);
        QCOMPARE(stored("select Description, Phones from Firms"), expected);
        // The other desk's next edit starts from the merged record.
        set(*theirs, "Name", "Ромашка-2");
        QCOMPARE(stored("select Name, Description, Phones from Firms"), "Ромашка-2|" + expected);
    }

    void aRecordChangedBeforeEditingStartsStillConflicts()
    {
        auto [mine, theirs] = firmAtBothDesks();
        set(*theirs, "Description", "букеты");
        set(*mine, "Description", "розы", false); // typed over what the window showed
        QCOMPARE(conflictOf(*mine).message(), QString("Запись изменена другим пользователем.\n"
                                                      "Другой пользователь изменил: Description."));
        mine->saveMine();
        QCOMPARE(stored("select Description from Firms"), QString("розы"));
    }

    void aRecordDeletedElsewhereCanBeSavedAsNew()
    {
        auto [mine, theirs] = firmAtBothDesks();
        set(*mine, "Phones", "222", false);
        theirs->deleteRecord();
        const RecordConflict conflict = conflictOf(*mine);
        QVERIFY(conflict.deleted());
        QCOMPARE(conflict.message(), QString("Запись удалена другим пользователем."));
        mine->saveAsNew();
        QCOMPARE(stored("select FirmID, Name, Description, Phones from Firms"),
                 QString("2|Ромашка|цветы|222"));
        QCOMPARE(mine->recordCount(), 1);
        QCOMPARE(mine->fieldByName("FirmID")->asInteger(), 2);
    }

    void aDeletedRecordsEditCanBeDropped()
    {
        auto [mine, theirs] = firmAtBothDesks();
        set(*mine, "Phones", "222", false);
        theirs->deleteRecord();
        QVERIFY(conflictOf(*mine).deleted());
        mine->dropDeleted();
        QCOMPARE(mine->state(), DataSetState::Browse);
        QCOMPARE(mine->recordCount(), 0);
        QCOMPARE(stored("select count(*) from Firms"), QString("0"));
    }

    // Attached files, folders and relation rows post through the same
    // datasets: a file replaced at both desks asks before the second replace.
    void replacingAFileSomeoneElseReplacedConflicts()
    {
        const QString sql = "Select F.* From Files F";
        auto mine = openQuery(*m_mine, {sql}, true);
        mine->open();
        mine->append();
        mine->fieldByName("FileName")->setAsString("price.xls");
        mine->fieldByName("File")->setBytes("old");
        mine->post();
        auto theirs = openQuery(*m_theirs, {sql}, true);
        theirs->open();
        mine->close();
        mine->open();
        mine->edit();
        mine->fieldByName("File")->setBytes("mine");
        theirs->edit();
        theirs->fieldByName("File")->setBytes("theirs");
        theirs->post();
        QCOMPARE(conflictOf(*mine).message(), QString("Запись изменена другим пользователем.\n"
                                                      "Другой пользователь изменил: File."));
        QCOMPARE(m_place->stored("FILES.DB", "select length(File) from Files"), QString("6"));
        mine->saveMine();
        QCOMPARE(m_place->stored("FILES.DB", "select length(File) from Files"), QString("4"));
    }

    // Folders, types and relation rows post through the same datasets. A
    // relation row has no key of its own, yet another desk's edit of it is a
    // change, this desk's own edits never conflict, and only a deletion is one.
    void foldersTypesAndRelationRowsConflictLikeRecords_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keyPart"); // a field of its key that stays
        QTest::newRow("folder") << "FOLDERS.DB"
                                << "Description"
                                << "";
        QTest::newRow("type") << "GRFIRMS.DB"
                              << "Description"
                              << "";
        QTest::newRow("maker") << "CRFIRMS.DB"
                               << "FirmID"
                               << "";
        QTest::newRow("folder member") << "CRFOLDERS.DB"
                                       << "FolderID"
                                       << "";
        QTest::newRow("type member") << "GRPFRM.DB"
                                     << "GroupID"
                                     << "FirmID";
    }

    void foldersTypesAndRelationRowsConflictLikeRecords()
    {
        QFETCH(QString, file);
        QFETCH(QString, field);
        QFETCH(QString, keyPart);
        const QString storedValue = "select " + field + " from " + file.section('.', 0, 0);
        auto mine = openTable(*m_mine, file);
        mine->open();
        mine->append();
        if (!keyPart.isEmpty())
            mine->fieldByName(keyPart)->setAsString("7");
        mine->fieldByName(field)->setAsString("1");
        mine->post();
        set(*mine, field, "2");
        set(*mine, field, "3");
        auto theirs = openTable(*m_theirs, file);
        theirs->open();
        set(*mine, field, "4", false);
        set(*theirs, field, "5");

        const RecordConflict changed = conflictOf(*mine);
        QVERIFY2(!changed.deleted(), qPrintable(changed.message()));
        QCOMPARE(mine->changedElsewhere(), QStringList{field});
        QCOMPARE(mine->fieldByName(field)->asString(), QString("4"));
        mine->saveMine();
        QCOMPARE(m_place->stored(file, storedValue), QString("4"));
        set(*mine, field, "6");

        theirs->refresh();
        theirs->deleteRecord();
        set(*mine, field, "8", false);
        QVERIFY(conflictOf(*mine).deleted());
    }

    // What one desk changes reaches the other's list by the change notices:
    // the list stays on its record, and a record being edited is only marked.
    void changesElsewhereReachTheListWithoutMovingIt()
    {
        auto [mine, theirs] = firmAtBothDesks();
        auto list = openQuery(*m_mine, {"Select * From Firms", "", "", "order by name"});
        list->open();
        for (const QString name : {"Василёк", "Тюльпан"}) {
            theirs->append();
            theirs->fieldByName("Name")->setAsString(name);
            theirs->post();
        }
        m_mine->changedElsewhere(); // where each table's notices start from
        list->refresh();
        QVERIFY(list->locate("Name", "Ромашка"));
        QSignalSpy moved(list.get(), &DataSet::scrolled);
        QSignalSpy marked(mine.get(), &DataSet::editedElsewhere);
        set(*mine, "Phones", "222", false);

        set(*theirs, "Name", "Астра"); // theirs stands on Тюльпан, now first in order
        theirs->locate("Name", "Ромашка");
        set(*theirs, "Description", "букеты");
        QVERIFY(!noticesOf(*m_mine).isEmpty());
        list->followChangesElsewhere();
        mine->followChangesElsewhere();

        QCOMPARE(moved.count(), 0);
        QCOMPARE(list->fieldByName("Name")->asString(), QString("Ромашка"));
        QCOMPARE(list->recNo(), 2); // after Астра and Василёк
        QCOMPARE(list->displayValue(0, list->fieldByName("Name")).toString(), QString("Астра"));
        QCOMPARE(list->fieldByName("Description")->asString(), QString("букеты"));
        QCOMPARE(marked.count(), 1);
        QCOMPARE(mine->fieldByName("Phones")->asString(), QString("222"));
        QCOMPARE(mine->fieldByName("Description")->asString(), QString("цветы"));
    }

    void aChangeElsewhereMovesOnlyItsRow_data()
    {
        // "+name" adds a firm of phone 1, "-name" deletes one, "old>new"
        // renames one, "name:phone" gives one another phone.
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("expected"); // the list afterwards
        QTest::addColumn<QString>("current");  // its current record afterwards
        QTest::newRow("insert") << "+Берёза"
                                << "Астра,Берёза,Ромашка,Тюльпан"
                                << "Ромашка";
        QTest::newRow("rename that moves the row above the current one") << "Тюльпан>Алтей"
                                                                         << "Алтей,Астра,Ромашка"
                                                                         << "Ромашка";
        QTest::newRow("rename in place") << "Астра>Астра белая"
                                         << "Астра белая,Ромашка,Тюльпан"
                                         << "Ромашка";
        QTest::newRow("delete") << "-Астра"
                                << "Ромашка,Тюльпан"
                                << "Ромашка";
        QTest::newRow("a row leaves the filter") << "Астра:2"
                                                 << "Ромашка,Тюльпан"
                                                 << "Ромашка";
        QTest::newRow("a row enters the filter") << "Вишня:1"
                                                 << "Астра,Вишня,Ромашка,Тюльпан"
                                                 << "Ромашка";
        QTest::newRow("the current record moves") << "Ромашка>Яблоня"
                                                  << "Астра,Тюльпан,Яблоня"
                                                  << "Яблоня";
        QTest::newRow("the current record goes: the one above is current") << "-Ромашка"
                                                                           << "Астра,Тюльпан"
                                                                           << "Астра";
    }

    // A row another desk changed is read alone and put where the list's
    // order puts it: the list stays on its record, and nothing but rows by
    // key is read (never the list's keys again).
    void aChangeElsewhereMovesOnlyItsRow()
    {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        QFETCH(QString, current);
        auto list = filteredList();
        auto theirs = openTable(*m_theirs, "FIRMS.DB");
        theirs->open();
        if (change.startsWith('+')) {
            theirs->append();
            theirs->fieldByName("Name")->setAsString(change.mid(1));
            theirs->fieldByName("Phones")->setAsString("1");
            theirs->post();
        } else if (change.startsWith('-')) {
            QVERIFY(theirs->locate("Name", change.mid(1)));
            theirs->deleteRecord();
        } else {
            const QStringList parts = change.split(QRegularExpression("[>:]"));
            QVERIFY(theirs->locate("Name", parts[0]));
            set(*theirs, change.contains('>') ? "Name" : "Phones", parts[1]);
        }

        const QList<Session::ChangeNotice> notices = noticesOf(*m_mine);
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices[0].table, QString("FIRMS.DB"));
        QVERIFY(notices[0].identity.has_value());
        QStringList statements;
        m_mine->setTrace([&](const QString &sql) { statements << sql; });
        QSignalSpy moved(list.get(), &DataSet::scrolled);
        list->followRowsElsewhere({*notices[0].identity});
        m_mine->setTrace({});

        QCOMPARE(names(*list), expected);
        QCOMPARE(list->fieldByName("Name")->asString(), current);
        QCOMPARE(list->recNo(), expected.split(',').indexOf(current));
        QCOMPARE(moved.count(), current == "Ромашка" || current == "Яблоня" ? 0 : 1);
        for (const QString &sql : statements)
            QVERIFY2(sql.contains(QRegularExpression("\\bIN \\(|= ANY")), qPrintable(sql));
    }

    void maintenanceRunsOneAtATimeAndOtherDesksAreNamed()
    {
        if (!m_place->onServer())
            QSKIP("a folder's window refuses such commands itself");
        {
            const auto held = m_mine->lockForMaintenance(Session::IfHeld::Wait);
            m_theirs->setBusyTimeout(10); // waits 30 times that for the one under way
            QVERIFY_THROWS_EXCEPTION(EngineError,
                                     m_theirs->lockForMaintenance(Session::IfHeld::Wait));
        }
        QVERIFY(m_theirs->lockForMaintenance(Session::IfHeld::Refuse) != nullptr);
        // Both sessions are this program's: neither is another desk.
        QCOMPARE(m_mine->otherDesks(), QStringList());
    }

    // The roles' set-up script as the repository documents it; the test
    // server trusts every local role, so no password is needed.
    void aReadingRoleMayOnlyReadAndAnEditingRoleWorksAsBefore()
    {
        if (!m_place->onServer())
            QSKIP("roles are a server's");
        QCOMPARE(psql({"-v", "editors=quillon_test_editors", "-v", "readers=quillon_test_readers",
                       "-f", ROLES_SCRIPT}),
                 QString());
        auto [mine, theirs] = firmAtBothDesks();

        auto reader = Session::open(desk("quillon_test_reader", "quillon_test_readers"));
        QVERIFY(reader->isReadOnly());
        QCOMPARE(
            reader->readOnlyReason().left(71),
            QString("Каталог открыт только для чтения: роль «quillon_test_reader» на сервере"));
        auto readOnly = openTable(*reader, "FIRMS.DB");
        readOnly->open();
        QCOMPARE(readOnly->fieldByName("Name")->asString(), QString("Ромашка"));
        QVERIFY(!readOnly->canModify());
        QVERIFY_THROWS_EXCEPTION(EngineError, readOnly->edit());
        QVERIFY_THROWS_EXCEPTION(EngineError, readOnly->append());

        auto editor = Session::open(desk("quillon_test_editor", "quillon_test_editors"));
        QVERIFY(!editor->isReadOnly());
        auto editing = openTable(*editor, "FIRMS.DB");
        editing->open();
        set(*editing, "Phones", "222");
        editing->append();
        editing->fieldByName("Name")->setAsString("Василёк");
        editing->post();
        set(*mine, "Phones", "333", false);
        QVERIFY(!conflictOf(*mine).deleted());
        QCOMPARE(stored("select Name, Phones from Firms order by FirmID"),
                 QString("Ромашка|222\nВасилёк|"));
    }
};

QTEST_GUILESS_MAIN(DesksTest)
#include "tst_desks.moc"
