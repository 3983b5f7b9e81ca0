#include "Aliases.h"
#include "Catalogue.h"
#include "EngineError.h"
#include "FreshCopy.h"
#include "Query.h"
#include "Session.h"
#include "SqlText.h"
#include "Table.h"
#include "TextRules.h"
#include "server/ServerSql.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <sqlite3.h>

using namespace TestCatalogue;

// The engine on the kind of catalogue the test runs on (a folder, or a
// database of the test server), checked through that kind's stock tool.
class EngineTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    std::unique_ptr<Session> m_session;

    // A file in the folder of a folder catalogue.
    QString file(const QString &name) const { return m_place->location() + '/' + name; }

    QString stored(const QString &table, const QString &sql) const
    {
        return m_place->stored(table, sql);
    }

    void run(const QString &sql)
    {
        Query query;
        query.setSession(m_session.get());
        query.setSql(sql.split('\n'));
        query.execSql();
    }

    QStringList column(const QString &sql)
    {
        Query query;
        query.setSession(m_session.get());
        query.setSql(sql.split('\n'));
        query.open();
        QStringList values;
        for (query.first(); !query.eof(); query.next())
            values << query.fields().first()->asString();
        return values;
    }

    static QString messageOf(const std::function<void()> &action)
    {
        try {
            action();
        } catch (const EngineError &e) {
            return e.message();
        }
        return {};
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        m_session = m_place->open();
    }

    void cleanup()
    {
        m_session.reset();
        m_place.reset();
    }

    void russianOrderIgnoresCaseAndPutsLatinFirst()
    {
        QStringList names{"яблоко", "Банан", "ёж",   "Ель",   "апельсин",
                          "Zebra",  "apple", "Ёлка", "БАНАН", "есть"};
        std::sort(names.begin(), names.end(),
                  [](const QString &a, const QString &b) { return TextRules::compare(a, b) < 0; });
        // Ё sorts as Е, as in a dictionary.
        QCOMPARE(names, QStringList({"apple", "Zebra", "апельсин", "Банан", "БАНАН", "ёж", "Ёлка",
                                     "Ель", "есть", "яблоко"}));
        const QByteArray a = QStringLiteral("ёж").toUtf8(), b = QStringLiteral("ЕЖ").toUtf8();
        QVERIFY(TextRules::compareUtf8(a.data(), int(a.size()), b.data(), int(b.size())) > 0);
        QCOMPARE(TextRules::upper("абвгдеёжзийклмнопрстуфхцчшщъыьэюя abc"),
                 QString("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ ABC"));
    }

    void createStatementInVerifierLayoutMakesReadableTable()
    {
        // The five lines as the structure verifier writes them.
        run("Create Table \"FOLDERS.DB\" (\n\"FOLDERS.DB\".\"FolderID\" AutoInc\n, \n"
            "\"FOLDERS.DB\".\"Description\" CHAR(50)\n)");
        QCOMPARE(m_place->storedColumns("FOLDERS.DB"),
                 QString("FolderID AutoInc\nDescription CHAR(50)"));
        const QList<FieldDef> fields = m_session->fields(m_session->tableByFile("folders.db"));
        QCOMPARE(fields.size(), 2);
        QCOMPARE(fields[0].name, QString("FolderID"));
        QCOMPARE(fields[0].kind, FieldKind::AutoInc);
        QCOMPARE(fields[1].kind, FieldKind::String);
        QCOMPARE(fields[1].size, 50);
        QVERIFY_THROWS_EXCEPTION(
            EngineError, run("Create Table \"FOLDERS.DB\" (\n\"FOLDERS.DB\".\"X\" Integer\n)"));
    }

    void alterStatementWithCommaOnItsOwnLineKeepsOtherData()
    {
        run(createStatement("FIRMS.DB",
                            {{"FirmID", "AutoInc"}, {"Name", "CHAR(240)"}, {"WWW", "CHAR(40)"}}));
        run("Insert Into Firms (FirmID, Name, WWW) Values (1, 'Опт', 'opt.example')");
        run("Alter Table \"FIRMS.DB\" \n Drop \"FIRMS.DB\".\"WWW\", \n ADD \n"
            "\"FIRMS.DB\".\"WWW\" CHAR(60)\n,\n ADD \n\"FIRMS.DB\".\"Phones\" CHAR(60)");
        QCOMPARE(m_place->storedColumns("FIRMS.DB"),
                 QString("FirmID AutoInc\nName CHAR(240)\nWWW CHAR(60)\nPhones CHAR(60)"));
        QCOMPARE(stored("FIRMS.DB", "select FirmID, Name, coalesce(WWW, 'blank') from FIRMS"),
                 QString("1|Опт|blank"));
        QVERIFY_THROWS_EXCEPTION(EngineError,
                                 run("Alter Table \"FIRMS.DB\" \n Drop \"FIRMS.DB\".\"Nope\""));
        QCOMPARE(m_place->storedColumns("FIRMS.DB").count('\n'), 3);
    }

    void everyCatalogueStatementRuns()
    {
        createCatalogue(*m_session);
        // On a folder, two more tables than one connection can attach at once.
        run(createStatement("EXTRA1.DB", {{"A", "Integer"}}));
        run(createStatement("EXTRA2.DB", {{"A", "Integer"}}));
        run("Insert Into Firms (FirmID, Name) Values (1, 'Альфа')");
        run("Insert Into Firms (FirmID, Name) Values (2, 'бета')");
        run("Insert Into Items (ItemID, Name) Values (7, 'Гвоздь')");
        run("Insert Into CrFirms (FirmID, ItemID, Type) Values (1, 7, 'm')");
        run("Insert Into CrFirms (FirmID, ItemID, Type) Values (1, 7, 's')");
        run("Insert Into CrFolders (FolderID, FirmID, ItemID) Values (3, 1, 0)");
        run("Insert Into CrFolders (FolderID, ItemID) Values (3, 7)");
        run("Insert Into GrpFrm (FirmID, GroupID) Values (1, 5)");
        run("Insert Into Extra1 (A) Values (1)");
        run("Insert Into Extra2 (A) Values (2)");
        QCOMPARE(
            column("Select * From Firms\n Where  FirmID in (Select FirmID From CrFolders Where "
                   "FolderID=3)  and FirmID in (Select FirmID From GrpFrm Where "
                   "GroupID=5)\n\norder by name")
                .size(),
            1);
        QCOMPARE(
            column("Select * from Items\n Where  ItemID in (Select ItemID From CrFolders Where "
                   "FolderID=3) \n\norder by name"),
            QStringList({"7"}));
        // A firm's items: the two-table join, its firm taken from a parameter.
        Query firmItems;
        firmItems.setSession(m_session.get());
        firmItems.setSql({"SELECT Items.Name, Items.Description, Items.ItemID",
                          "FROM Crfirms, Items", "WHERE  Crfirms.Type = 's' ",
                          "And  Crfirms.ItemID = Items.ItemID", "And Crfirms.FirmID=:FirmID"});
        firmItems.setParam("FirmID", 1);
        firmItems.open();
        QCOMPARE(firmItems.recordCount(), 1);
        QCOMPARE(firmItems.fieldByName("ItemID")->asInteger(), 7);
        QCOMPARE(firmItems.fields().first()->fieldName(), QString("Name"));
        firmItems.close();
        firmItems.setParam("FirmID", 2);
        firmItems.open();
        QVERIFY(firmItems.isEmpty());
        run("Insert Into GrpItm (ItemID, GroupID) Values (7, 4)");
        QCOMPARE(column("Select * from Items\nWhere ItemID in (Select ItemID From GrpItm Where "
                        "GroupID=4)\n\norder by name"),
                 QStringList({"7"}));

        QCOMPARE(column("Select A From Extra1"), QStringList({"1"}));
        QCOMPARE(column("Select A From Extra2"), QStringList({"2"}));
        run("Delete From CrFolders Where FirmID=1");
        run("Delete From CrFirms Where ItemID=7");
        QCOMPARE(stored("CRFOLDERS.DB", "select count(*) from CRFOLDERS"), QString("1"));
        QCOMPARE(stored("CRFIRMS.DB", "select count(*) from CRFIRMS"), QString("0"));
    }

    void searchTextsFoldCaseAndBlankFieldsFailTheEmptyPattern()
    {
        createCatalogue(*m_session);
        run("Insert Into Firms (FirmID, Name, Sinonyms) Values (1, 'Мебель Юг', 'диваны')");
        run("Insert Into Firms (FirmID, Name) Values (2, 'Zeta''s')");
        run("Insert Into Firms (FirmID, Name) Values (3, 'мебельный цех')");
        run("Insert Into Firms (FirmID, Name) Values (4, 'Склад\\Опт 50%')");
        const QString search = "Select * From Firms Where Upper(Name) like '%1' %2 Upper(Sinonyms) "
                               "like '%3' %4 Upper(Description) like '%5'";
        auto found = [&](QString name, QString j1, QString syn, QString j2, QString desc) {
            return column(search.arg(name, j1, syn, j2, desc)).size();
        };
        QCOMPARE(found("%МЕБЕЛЬ%", "or", "%%", "or", "%%"), 2);
        QCOMPARE(found("%%", "and", "%%", "and", "%%"), 0); // blank fields never match '%%'
        QCOMPARE(found("%МЕБЕЛЬ%", "and", "%ДИВАН%", "or", "%%"), 1);
        QCOMPARE(found("%ZETA''S%", "or", "%%", "or", "%%"), 2);
        QCOMPARE(found("%мебель%", "or", "%%", "or", "%%"), 1); // like itself keeps case
        QCOMPARE(column("Select Name From Firms Where Upper(Name) like '%Ц_Х%'"),
                 QStringList({"мебельный цех"}));
        // A backslash is a character like any other, in a text and in a value.
        QCOMPARE(column("Select Name From Firms Where Name like '%\\О%'"),
                 QStringList({"Склад\\Опт 50%"}));
        Query bound;
        bound.setSession(m_session.get());
        bound.setSql({"Select Name From Firms Where Upper(Name) like :Pattern"});
        bound.setParam("Pattern", "%Д\\ОПТ%");
        bound.open();
        QCOMPARE(bound.recordCount(), 1);
    }

    void badInputRaisesErrorsThatNameTheTableAndDamageNothing()
    {
        createCatalogue(*m_session);
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        QVERIFY(messageOf([&] {
                    column("Select * From Nowhere");
                }).contains("NOWHERE.DB", Qt::CaseInsensitive));
        QVERIFY(messageOf([&] { column("Select Nothing From Folders"); }).contains("FOLDERS.DB"));
        QVERIFY(!messageOf([&] { column("Selec * From Folders"); }).isEmpty());

        // Another program holds the table: the engine waits a little, then says so.
        m_session->setBusyTimeout(50);
        TableHolder holder(*m_place, "FOLDERS.DB");
        QVERIFY(holder.holds());
        const QString locked = messageOf([&] { run("Delete From Folders Where FolderID=1"); });
        QVERIFY2(locked.contains("FOLDERS.DB") && locked.contains("занята"), qPrintable(locked));
        holder.release();
        QCOMPARE(stored("FOLDERS.DB", "select Description from FOLDERS"), QString("Склад"));
    }

    void aFileThatIsNoTableIsNamedAndLeftAlone()
    {
        if (m_place->onServer())
            QSKIP("a server has no table files");
        QDir().mkpath(m_place->location());
        QFile junk(m_place->location() + "/JUNK.DB");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'x'));
        junk.close();
        QVERIFY(messageOf([&] { column("Select * From Junk"); }).contains("JUNK.DB"));
        QCOMPARE(QFileInfo(junk).size(), 8192);
    }

    void indexesCanBeDeclaredAgainAndPackingReclaimsSpace()
    {
        createCatalogue(*m_session);
        Table firms;
        firms.setSession(m_session.get());
        firms.setTableName("FIRMS.DB");
        firms.addIndex({}, "FirmID", true, true, false); // the same key again
        QVERIFY_THROWS_EXCEPTION(EngineError, firms.addIndex("ByName", "Name", false, false, true));
        firms.deleteIndex("ByName");
        firms.addIndex("ByName", "Name", false, false, true);
        const QList<IndexDef> indexes = firms.indexDefs();
        QCOMPARE(indexes.size(), 2);
        for (const IndexDef &index : indexes) {
            QCOMPARE(index.primary, index.name.isEmpty());
            QCOMPARE(index.caseInsensitive, !index.primary);
        }
        QVERIFY_THROWS_EXCEPTION(EngineError, firms.deleteIndex("Missing"));

        firms.open();
        for (int i = 0; i < 2000; ++i) {
            firms.append();
            firms.fieldByName("Name")->setAsString(QString(200, QChar(0x0430 + i % 32)));
            firms.post();
        }
        firms.close();
        run("Delete From Firms Where FirmID > 10");
        const qint64 before = m_place->storedSize("FIRMS.DB");
        QCOMPARE(m_session->packTable("firms.db"), 0);
        QVERIFY(m_place->storedSize("FIRMS.DB") < before / 4);
        QCOMPARE(stored("FIRMS.DB", "select count(*) from FIRMS"), QString("10"));
        QString message;
        QVERIFY(m_session->packTable("MISSING.DB", &message) != 0);
        QVERIFY(message.contains("MISSING.DB"));
    }

    void aliasesPersistWithThePathFirst()
    {
        QFile::remove(Aliases::configFile());
        {
            Aliases aliases;
            QVERIFY(!aliases.isAlias("Quillon"));
            aliases.addStandardAlias("Quillon", "/srv/Каталог/Data", "Paradox");
            aliases.saveConfigFile();
        }
        Aliases reread;
        QVERIFY(reread.isAlias("QUILLON"));
        QCOMPARE(reread.aliasParams("Quillon"),
                 QStringList({"PATH=/srv/Каталог/Data", "DEFAULT DRIVER=Paradox"}));
        QCOMPARE(reread.directory("Quillon"), QString("/srv/Каталог/Data"));
        QVERIFY_THROWS_EXCEPTION(EngineError, reread.aliasParams("Other"));

        // Written by hand, with blanks around "=".
        QFile edited(Aliases::configFile());
        QVERIFY(edited.open(QIODevice::WriteOnly));
        edited.write("[Quillon]\n  PATH = /x/Мои данные  \nDEFAULT DRIVER =Paradox\n");
        edited.close();
        QCOMPARE(Aliases().directory("Quillon"), QString("/x/Мои данные"));

        QFile damaged(Aliases::configFile());
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("PATH without a section\n");
        damaged.close();
        QVERIFY_THROWS_EXCEPTION(EngineError, Aliases());
        QFile::remove(Aliases::configFile());
    }

    void twoConnectionsShareTablesWithoutCollidingKeys()
    {
        createCatalogue(*m_session);
        const std::unique_ptr<Session> other = m_place->open();
        Table mine, theirs;
        mine.setSession(m_session.get());
        theirs.setSession(other.get());
        for (Table *t : {&mine, &theirs}) {
            t->setTableName("FOLDERS.DB");
            t->open();
        }
        for (int i = 0; i < 20; ++i) {
            Table &t = i % 2 ? theirs : mine;
            t.append();
            t.fieldByName("Description")->setAsString(QString::number(i));
            t.post();
        }
        QCOMPARE(stored("FOLDERS.DB",
                        "select count(distinct FolderID) || ' ' || max(FolderID) from FOLDERS"),
                 QString("20 20"));
    }

    void longStatementsLetTheWindowRepaint()
    {
        int calls = 0;
        m_session->setKeepAlive([&] { ++calls; });
        m_session->execute(m_place->onServer()
                               ? QStringLiteral("select pg_sleep(0.3)")
                               : QStringLiteral("with recursive n(i) as (select 1 union all "
                                                "select i + 1 from n where i < 3000000) select "
                                                "count(*) from n"));
        QVERIFY(calls > 0);
        m_session->setKeepAlive({});
    }

    // One order for both kinds: the same awkward names listed by the engine on
    // a folder and on the server, and by each kind's stock tool, in one order;
    // upper() and like give the same rows.
    void bothKindsListAwkwardNamesInOneOrder()
    {
        if (!m_place->onServer())
            QSKIP("compared in the run on the server, which has both kinds");
        const QStringList names = {
            "Ёлка",      "ёлка",       "Елка",       "ель",       "Ель",     "ЕЛЬ",
            "ёж",        "Еж",         "Apple",      "apple",     "APPLE",   "Ápple",
            "zebra",     "Zeta",       "Яндекс",     "яблоко",    " пробел", "1-я линия",
            "10 лет",    "9 мая",      "-минус",     "_черта",    "#1",      "«Ёлка»",
            "Ω-омега",   "中文",       "émigré",     "Straße",    "STRASSE", "ООО «Альфа»",
            "ОАО Альфа", "Альфа-Бета", "Альфа Бета", "АльфаБета", "альфа",   "Єва",
            "Їжак",      "ігри",       "ñandú",      "A1",        "A10",     "A2",
            "😀 улыбка",  "a\\b",       "50%",        "Склад_1",   ""};
        QTemporaryDir folderDir;
        const std::unique_ptr<Session> folder = Session::open(folderDir.path());
        for (Session *session : {folder.get(), m_session.get()}) {
            createCatalogue(*session);
            insertRows(*session, "Firms", {"FirmID", "Name"}, int(names.size()), [&](int i) {
                const QString name = names[i - 1];
                return QVariantList{i, name.isEmpty() ? QVariant() : QVariant(name)};
            });
        }
        const auto listed = [](Session &session, const QString &sql) {
            auto list = openQuery(session, {sql});
            list->open();
            QStringList values;
            for (list->first(); !list->eof(); list->next())
                values << list->fields().first()->asString();
            return values;
        };
        const QString byName = "Select Name From Firms order by name";
        const QStringList onFolder = listed(*folder, byName);
        QCOMPARE(onFolder.size(), names.size());
        QCOMPARE(listed(*m_session, byName), onFolder);
        QStringList sorted = names;
        // A blank name comes first, as the smallest value.
        std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
            if (a.isEmpty() || b.isEmpty())
                return a.isEmpty() && !b.isEmpty();
            return TextRules::compare(a, b) < 0;
        });
        QCOMPARE(onFolder, sorted);
        // The stock tools list them alike: psql, and the sqlite3 shell with the extension.
        QCOMPARE(
            stored("FIRMS.DB", "select coalesce(Name, '') from FIRMS order by Name nulls first"),
            onFolder.join('\n').trimmed());
        QCOMPARE(shell(folderDir.filePath("FIRMS.DB"),
                       "select coalesce(Name, '') from FIRMS order by Name collate RU", true),
                 onFolder.join('\n').trimmed());
        for (const QString &sql :
             {QString("Select upper(Name) From Firms order by FirmID"),
              QString("Select Name From Firms Where Name like '%а%' order by FirmID"),
              QString("Select Name From Firms Where Upper(Name) like '%\\%' order by name desc"),
              QString("Select Name From Firms Where Name like 'A_' order by name")})
            QCOMPARE(listed(*m_session, sql), listed(*folder, sql));
    }

    // A table file of an earlier version, its text index in another order,
    // has the index built again in this order the first time it is opened.
    void anOldFolderTableIsReindexedOnce()
    {
        if (m_place->onServer())
            QSKIP("a server's collation is the catalogue's from the start");
        QDir().mkpath(m_place->location());
        const QString path = m_place->location() + "/FIRMS.DB";
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        // The old order: backwards.
        sqlite3_create_collation(db, "RU", SQLITE_UTF8, nullptr,
                                 [](void *, int la, const void *a, int lb, const void *b) {
                                     return -TextRules::compareUtf8(
                                         static_cast<const char *>(a), la,
                                         static_cast<const char *>(b), lb);
                                 });
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TABLE FIRMS (FirmID AutoInc, Name CHAR(240));"
                              "CREATE INDEX ByName ON FIRMS (Name COLLATE RU);"
                              "INSERT INTO FIRMS VALUES (1, 'Бор'), (2, 'абажур'), (3, 'Zeta');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
        QCOMPARE(column("Select Name From Firms order by name"),
                 QStringList({"Zeta", "абажур", "Бор"}));
        QCOMPARE(stored("FIRMS.DB", "pragma application_id"),
                 QString::number(TextRules::orderMark));
        QCOMPARE(shell(path, "pragma integrity_check", true), QString("ok"));
    }

    // A server that stops in the middle of work: the post fails with the
    // cause, the typed value waits in the record, nothing saved is lost, and
    // once the server is back the same post goes through on a new connection.
    void aServerThatGoesAwayLosesNothingAndIsReachedAgain()
    {
        if (!m_place->onServer())
            QSKIP("a folder has no server to lose");
        OwnServer server;
        QVERIFY2(server.uri().startsWith("postgresql:"), qPrintable(server.uri()));
        {
            const std::unique_ptr<Session> session = Session::open(server.uri());
            createCatalogue(*session);
            Table folders;
            folders.setSession(session.get());
            folders.setTableName("FOLDERS.DB");
            folders.open();
            folders.append();
            folders.fieldByName("Description")->setAsString("Склад");
            folders.post();
            folders.edit();
            folders.fieldByName("Description")->setAsString("Склад 2");
            server.pause();
            const QString lost = messageOf([&] { folders.post(); });
            QVERIFY2(lost.contains("нет связи с сервером") && lost.contains(server.folder()),
                     qPrintable(lost));
            QCOMPARE(folders.state(), DataSetState::Edit);
            QCOMPARE(folders.fieldByName("Description")->asString(), QString("Склад 2"));
            const QString still = messageOf([&] { folders.post(); });
            QVERIFY2(still.contains("нет связи с сервером"), qPrintable(still));
            server.resume();
            folders.post();
            QCOMPARE(folders.state(), DataSetState::Browse);
            folders.append();
            folders.fieldByName("Description")->setAsString("Офис");
            folders.post();
        }
        QProcess psql;
        psql.start("psql", {"-X", "-A", "-t", server.uri(), "-c",
                            "select FolderID || ':' || Description from folders order by 1"});
        psql.waitForFinished(30000);
        QCOMPARE(QString::fromUtf8(psql.readAllStandardOutput()).trimmed(),
                 QString("1:Склад 2\n2:Офис"));
    }

    void everyTableNameIsQualifiedWithItsSchema_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("qualified");
        QTest::newRow("list") << "Select * From Firms\n\norder by name"
                              << "Select * From \"FIRMS\".Firms\n\norder by name";
        QTest::newRow("join and subquery")
            << "SELECT Items.Name FROM Crfirms, Items WHERE Items.ItemID in (Select ItemID "
               "From GrpItm Where GroupID=1)"
            << "SELECT Items.Name FROM \"CRFIRMS\".Crfirms, \"ITEMS\".Items WHERE Items.ItemID "
               "in (Select ItemID From \"GRPITM\".GrpItm Where GroupID=1)";
        QTest::newRow("alias, comma after it")
            << "Select F.* From Files F, Items I Where F.ItemID=I.ItemID"
            << "Select F.* From \"FILES\".Files F, \"ITEMS\".Items I Where F.ItemID=I.ItemID";
        QTest::newRow("writes") << "Delete From Files Where FirmID=1; Insert Into Firms (Name) "
                                   "Values ('from Items'); Update Firms Set Name='x'"
                                << "Delete From \"FILES\".Files Where FirmID=1; Insert Into "
                                   "\"FIRMS\".Firms (Name) Values ('from Items'); Update "
                                   "\"FIRMS\".Firms Set Name='x'";
        QTest::newRow("quoted, commented")
            << "SELECT * FROM /* Items */ \"Firms\" -- from Items\n"
            << "SELECT * FROM /* Items */ \"FIRMS\".\"Firms\" -- from Items\n";
        QTest::newRow("left as written")
            << "SELECT a, b FROM \"FIRMS\".\"FIRMS\", pragma_table_info('Items'), (SELECT 1), "
               "Nowhere ORDER BY a, b"
            << "SELECT a, b FROM \"FIRMS\".\"FIRMS\", pragma_table_info('Items'), (SELECT 1), "
               "Nowhere ORDER BY a, b";
    }
    void everyTableNameIsQualifiedWithItsSchema()
    {
        QFETCH(QString, sql);
        QFETCH(QString, qualified);
        const QStringList tables = {"FIRMS", "ITEMS", "FILES", "CRFIRMS", "GRPITM"};
        QCOMPARE(SqlText::qualifyTables(sql,
                                        [&](const QString &name) {
                                            const QString upper = name.toUpper();
                                            return tables.contains(upper) ? upper : QString();
                                        }),
                 qualified);
    }

    // Objects a table file brought from elsewhere never run and never stand
    // in for another file's table; constraint errors are named for what they are.
    void foreignObjectsInAFileNeverRun()
    {
        if (m_place->onServer())
            QSKIP("a table file of a folder");
        createCatalogue(*m_session);
        run("Insert Into Items (ItemID, Name) Values (1, 'Болт')");
        run("Insert Into Firms (FirmID, Name) Values (1, 'Первая')");
        m_session->releaseTables();
        shell(file("FIRMS.DB"),
              "CREATE TABLE Items (ItemID, Name); INSERT INTO Items VALUES (9, 'Подделка');"
              "CREATE VIEW Files AS SELECT 1 AS FileID;"
              "CREATE TRIGGER wipe AFTER INSERT ON FIRMS BEGIN DELETE FROM FIRMS; END;"
              "CREATE TRIGGER tag BEFORE UPDATE ON FIRMS BEGIN SELECT raise(ABORT, 'no'); END;");
        // FIRMS.DB is attached first, so its Items would be found first by name.
        QCOMPARE(column("Select Name From Firms"), QStringList({"Первая"}));
        QCOMPARE(column("Select Name From Items"), QStringList({"Болт"}));
        QCOMPARE(column("Select count(*) From Files"), QStringList({"0"}));
        run("Insert Into Firms (FirmID, Name) Values (2, 'Вторая')");
        run("Update Firms Set Email='a@b' Where FirmID=1");
        QCOMPARE(shell(file("FIRMS.DB"), "select count(*), max(Email) from FIRMS"),
                 QString("2|a@b"));

        auto messageOf = [&](const QString &sql) {
            try {
                run(sql);
            } catch (const EngineError &e) {
                return e.message();
            }
            return QString();
        };
        m_session->tableByFile("FOLDERS.DB");
        run("Create Unique Index \"FOLDERS\".Once On Folders (Description)");
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        QVERIFY(messageOf("Insert Into Folders (FolderID, Description) Values (2, 'Склад')")
                    .contains("такой ключ уже есть"));
        m_session->releaseTables();
        shell(file("CHECKED.DB"), "CREATE TABLE CHECKED (A INTEGER CHECK (A > 0));");
        const QString refused = messageOf("Insert Into Checked (A) Values (-1)");
        QVERIFY2(refused.contains("CHECKED.DB") && refused.contains("отклонено правилом"),
                 qPrintable(refused));
    }

    void readOnlySessionRefusesEveryWrite()
    {
        createCatalogue(*m_session);
        run("Insert Into Firms (FirmID, Name) Values (1, 'Первая')");
        m_session->setReadOnly("только чтение: чужие объекты");
        const QByteArray before = m_place->snapshot();
        for (const char *write : {"Insert Into Firms (Name) Values ('x')", "Delete From Firms",
                                  "Update Firms Set Name = 'y'"}) {
            QVERIFY_THROWS_EXCEPTION(EngineError, run(write));
        }
        auto firms = openTable(*m_session, "FIRMS.DB");
        firms->open();
        QCOMPARE(firms->fieldByName("Name")->asString(), QString("Первая"));
        // Nothing is typed that could not be stored: editing is refused at once.
        QVERIFY(!firms->canModify());
        for (const auto &start : {std::function<void()>([&] { firms->append(); }),
                                  std::function<void()>([&] { firms->edit(); })}) {
            try {
                start();
                QFAIL("a read-only catalogue took a record into editing");
            } catch (const EngineError &e) {
                QCOMPARE(e.message(), QString("только чтение: чужие объекты"));
            }
        }
        firms->close();
        QCOMPARE(m_place->snapshot(), before);
        m_session->setReadOnly({});
        run("Insert Into Firms (FirmID, Name) Values (2, 'x')");
    }

    // A restore puts another folder in place of the data directory: a
    // connection on the old files never writes into the new one.
    void writesRefusedOnceTheFolderWasReplaced()
    {
        if (m_place->onServer())
            QSKIP("a folder of table files");
        createCatalogue(*m_session);
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        const QString aside = m_place->location() + ".aside";
        QVERIFY(QDir().rename(m_place->location(), aside));
        QVERIFY(QDir().mkpath(m_place->location()));
        QVERIFY(QFile::copy(aside + "/FOLDERS.DB", file("FOLDERS.DB")));
        for (const char *write : {"Insert Into Folders (Description) Values ('x')",
                                  "Delete From Folders Where FolderID=1"}) {
            try {
                run(write);
                QFAIL("written into a folder that was replaced");
            } catch (const EngineError &e) {
                QVERIFY2(e.message().contains("заменили"), qPrintable(e.message()));
            }
        }
        QCOMPARE(shell(file("FOLDERS.DB"), "select count(*) from FOLDERS"), QString("1"));
        QVERIFY(!QFileInfo::exists(file("FOLDERS.DB-journal")));
        m_session->releaseTables(); // the catalogue opened again
        run("Delete From Folders Where FolderID=1");
        QCOMPARE(shell(file("FOLDERS.DB"), "select count(*) from FOLDERS"), QString("0"));
        QDir(aside).removeRecursively();
    }

    // Rows copied into a fresh file stop at its limits of size and time,
    // said as such, and leave the fresh file without a row.
    void aFreshCopyStopsAtItsLimits_data()
    {
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<QString>("said");
        QTest::newRow("size") << qint64(64 * 1024) << -1 << "строк больше, чем помещается";
        QTest::newRow("time") << qint64(0) << 0 << "дольше отведённого времени";
    }
    void aFreshCopyStopsAtItsLimits()
    {
        QFETCH(qint64, maxBytes);
        QFETCH(int, deadlineMs);
        QFETCH(QString, said);
        if (m_place->onServer())
            QSKIP("table files of a folder");
        QDir().mkpath(m_place->location());
        shell(file("old.db"), "CREATE TABLE T (A INTEGER, B TEXT); WITH RECURSIVE n(i) AS "
                              "(SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50000) "
                              "INSERT INTO T SELECT i, printf('%0100d', i) FROM n;");
        shell(file("T.DB"), "CREATE TABLE T (A INTEGER, B TEXT);");
        FreshCopy::Limits limits;
        limits.maxBytes = maxBytes;
        if (deadlineMs >= 0)
            limits.deadline = QDeadlineTimer(deadlineMs);
        const QList<FreshCopy::Column> columns{{FieldDef::fromDeclaration("A", "Integer"), "A"},
                                               {FieldDef::fromDeclaration("B", "CHAR(200)"), "B"}};
        try {
            FreshCopy::copyRows(file("old.db"), "T", file("T.DB"), columns, true, limits);
            QFAIL("the copy went past its limit");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().startsWith("T.DB: ") && e.message().contains(said),
                     qPrintable(e.message()));
        }
        QCOMPARE(shell(file("T.DB"), "SELECT count(*) FROM T"), QString("0"));
    }

    void keysStopAtTheIntegerLimit()
    {
        createCatalogue(*m_session);
        const TableRef folders = m_session->tableByFile("FOLDERS.DB");
        m_session->keepAutoIncrementAbove(folders, "FolderID", 2147483646);
        QCOMPARE(m_session->nextAutoIncrement(folders, "FolderID"), 2147483647);
        QVERIFY_THROWS_EXCEPTION(EngineError, m_session->nextAutoIncrement(folders, "FolderID"));
    }

    void selectShapesAreRecognised()
    {
        const auto files = SqlText::parseSelect("Select F.* From Files F\nWhere F.FirmID=:FirmID");
        QVERIFY(files.singleTable);
        QCOMPARE(files.table, QString("Files"));
        QCOMPARE(files.alias, QString("F"));
        QCOMPARE(files.where, QString("F.FirmID=:FirmID"));
        const auto join = SqlText::parseSelect("SELECT Items.Name\nFROM Crfirms, Items\nWHERE 1");
        QVERIFY(!join.singleTable);
        const auto nested =
            SqlText::parseSelect("Select * From Firms\n Where FirmID in (Select FirmID From GrpFrm "
                                 "Where GroupID=1)\n\norder by name");
        QVERIFY(nested.singleTable);
        QCOMPARE(nested.orderBy, QString("name"));
        QCOMPARE(SqlText::collatedOrderBy("name desc, FirmID"),
                 QString("name COLLATE RU desc, FirmID COLLATE RU"));
        QCOMPARE(SqlText::leadingOrderColumn("F.Name asc, FirmID"), QString("Name"));
        QVERIFY(SqlText::leadingOrderColumn("name desc").isEmpty());
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
