// Two desks on one catalogue: each its own session and datasets, as two
// copies of the program have.
#include "Catalogue.h"
#include "EngineError.h"
#include "Query.h"
#include "Table.h"

#include <QElapsedTimer>
#include <QProcess>
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

    void relationRowsAndFoldersConflictToo_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("field");
        QTest::newRow("folder") << "FOLDERS.DB"
                                << "Description";
        QTest::newRow("relation row") << "CRFIRMS.DB"
                                      << "Type";
        QTest::newRow("type") << "GRFIRMS.DB"
                              << "Description";
    }

    void relationRowsAndFoldersConflictToo()
    {
        QFETCH(QString, file);
        QFETCH(QString, field);
        auto mine = openTable(*m_mine, file);
        mine->open();
        mine->append();
        mine->fieldByName(field)->setAsString("A");
        mine->post();
        auto theirs = openTable(*m_theirs, file);
        theirs->open();
        set(*mine, field, "B", false);
        set(*theirs, field, "C");
        conflictOf(*mine);
        QCOMPARE(mine->fieldByName(field)->asString(), QString("B"));
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
        // A server's notices come a moment after the commit.
        QStringList changed;
        QElapsedTimer waited;
        waited.start();
        while (!changed.join(',').toUpper().contains("FIRMS") && waited.elapsed() < 5000) {
            changed += m_mine->changedElsewhere();
            QTest::qWait(10);
        }
        QVERIFY2(changed.join(',').toUpper().contains("FIRMS"), qPrintable(changed.join(',')));
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
