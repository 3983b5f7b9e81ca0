#include "Catalogue.h"

#include "Aliases.h"
#include "CatalogueLocation.h"
#include "Query.h"
#include "SettingsStore.h"
#include "folder/FolderSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace TestCatalogue {

namespace {

QString testServer()
{
    return qEnvironmentVariable("QUILLON_TEST_SERVER");
}

// The test server's maintenance database, where databases are made and dropped.
Session &serverAdmin()
{
    static const std::unique_ptr<Session> admin = Session::open(testServer());
    return *admin;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
        .trimmed();
}

} // namespace

Place::Place()
{
    if (!testsRunOnServer()) {
        m_location = m_dir.filePath(QStringLiteral("Data"));
        return;
    }
    static int made = 0;
    m_database =
        QStringLiteral("quillon_test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++made);
    serverAdmin().execute(QStringLiteral("DROP DATABASE IF EXISTS ") + m_database);
    serverAdmin().execute(QStringLiteral("CREATE DATABASE ") + m_database);
    const QString server = testServer();
    m_location = server.section('?', 0, 0).section('/', 0, 2) + '/' + m_database + '?' +
                 server.section('?', 1);
}

Place::~Place()
{
    if (onServer())
        serverAdmin().execute(
            QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_database));
}

bool Place::testsRunOnServer()
{
    return !testServer().isEmpty();
}

QString Place::scratch(const QString &file) const
{
    return file.isEmpty() ? m_dir.path() : m_dir.filePath(file);
}

std::unique_ptr<Session> Place::open() const
{
    return Session::open(m_location, true);
}

QString Place::stored(const QString &table, const QString &sql) const
{
    if (onServer())
        return run(QStringLiteral("psql"),
                   {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                    QStringLiteral("-t"), QStringLiteral("-F|"), m_location, QStringLiteral("-c"),
                    sql});
    const QString file = FolderSession::findFileIn(m_location, table);
    // The shell would make an empty file for a table that is not there.
    if (file.isEmpty())
        return table + QStringLiteral(": no such table file");
    return shell(file, sql);
}

QString Place::storedColumns(const QString &table) const
{
    const QString name = table.section('.', 0, 0);
    if (onServer())
        return stored(table, QStringLiteral("select col_description(attrelid, attnum) from "
                                            "pg_attribute where attrelid = '%1'::regclass and "
                                            "attnum > 0 and not attisdropped order by attnum")
                                 .arg(name.toLower()));
    return stored(table, QStringLiteral("select name || ' ' || type from pragma_table_info('%1')")
                             .arg(name.toUpper()));
}

qint64 Place::storedSize(const QString &table) const
{
    if (onServer())
        return stored(table, QStringLiteral("select pg_total_relation_size('%1')")
                                 .arg(table.section('.', 0, 0).toLower()))
            .toLongLong();
    return QFileInfo(FolderSession::findFileIn(m_location, table)).size();
}

QString Place::storedIndexes(const QString &table) const
{
    const QString name = table.section('.', 0, 0);
    if (onServer())
        return stored(table, QStringLiteral("select substr(indexname, %1) from pg_indexes where "
                                            "tablename = '%2' order by 1")
                                 .arg(name.size() + 2)
                                 .arg(name.toLower()));
    return stored(table, QStringLiteral("select name from sqlite_master where type = 'index' "
                                        "order by name"));
}

QString Place::storedIndexFields(const QString &table, const QString &index) const
{
    const QString name = table.section('.', 0, 0);
    if (onServer())
        return stored(table,
                      QStringLiteral("select string_agg(a.attname, ',' order by k.n) from pg_index "
                                     "i join pg_class c on c.oid = i.indexrelid, "
                                     "unnest(i.indkey::int2[]) with ordinality k(attnum, n) join "
                                     "pg_attribute a on a.attrelid = '%1'::regclass and a.attnum "
                                     "= k.attnum where c.relname = '%1.%2'")
                          .arg(name.toLower(), index));
    return stored(
               table,
               QStringLiteral("select group_concat(name) from pragma_index_info('%1')").arg(index))
        .toLower();
}

QByteArray Place::snapshot() const
{
    if (onServer()) {
        QProcess dump;
        dump.start(QStringLiteral("pg_dump"), {m_location});
        dump.waitForFinished(60000);
        QByteArray result;
        // Each dump guards itself with a key of its own (\restrict): not part of what is stored.
        for (const QByteArray &line : dump.readAllStandardOutput().split('\n')) {
            if (!line.startsWith("\\restrict") && !line.startsWith("\\unrestrict"))
                result += line + '\n';
        }
        return result + dump.readAllStandardError();
    }
    QByteArray result;
    const QDir dir(m_location);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            result += name.toUtf8() + '\n' + file.readAll();
    }
    return result;
}

void Place::removeTable(const QString &table) const
{
    if (onServer())
        stored(table, QStringLiteral("drop table %1").arg(table.section('.', 0, 0)));
    else
        QFile::remove(FolderSession::findFileIn(m_location, table));
}

OwnServer::OwnServer()
{
    static int made = 0;
    // Under /tmp, which the server's own system user can reach, with a path
    // short enough for the server's Unix socket.
    m_folder = QStringLiteral("/tmp/quillon-own-server-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++made);
    m_uri = run(QStringLiteral("start"));
}

OwnServer::~OwnServer()
{
    run(QStringLiteral("stop"));
}

QString OwnServer::run(const QString &action) const
{
    return TestCatalogue::run(QStringLiteral(TEST_SERVER_SCRIPT), {action, m_folder});
}

TableHolder::TableHolder(const Place &place, const QString &table) : m_server(place.onServer())
{
    const QString name = table.section('.', 0, 0);
    if (m_server) {
        m_tool.start(QStringLiteral("psql"),
                     {QStringLiteral("-X"), QStringLiteral("-q"), place.location()});
        m_tool.write(QStringLiteral("BEGIN; LOCK TABLE %1 IN EXCLUSIVE MODE; \\echo held\n")
                         .arg(name)
                         .toUtf8());
    } else {
        m_tool.start(QStringLiteral("sqlite3"),
                     {FolderSession::findFileIn(place.location(), table)});
        m_tool.write("BEGIN IMMEDIATE;\n.print held\n");
    }
    m_held = m_tool.waitForReadyRead(5000);
}

TableHolder::~TableHolder()
{
    release();
}

void TableHolder::release()
{
    if (m_tool.state() == QProcess::NotRunning)
        return;
    m_tool.write(m_server ? "ROLLBACK;\n\\q\n" : "ROLLBACK;\n.quit\n");
    m_tool.waitForFinished(5000);
}

QString createStatement(const QString &fileName, const QList<std::pair<QString, QString>> &fields)
{
    QStringList lines{QStringLiteral("Create Table \"%1\" (").arg(fileName)};
    for (const auto &[name, type] : fields) {
        if (lines.size() > 1)
            lines << QStringLiteral(", ");
        lines << QStringLiteral("\"%1\".\"%2\" %3").arg(fileName, name, type);
    }
    lines << QStringLiteral(")");
    return lines.join('\n');
}

namespace {

void create(Session &session, const QString &file, const QList<std::pair<QString, QString>> &fields,
            const QStringList &key, const QList<std::pair<QString, QString>> &indexes = {})
{
    Query query;
    query.setSession(&session);
    query.setSql({createStatement(file, fields)});
    query.execSql();
    if (!key.isEmpty()) {
        IndexDef primary;
        primary.primary = primary.unique = true;
        primary.fields = key;
        session.addIndex(file, primary);
    }
    for (const auto &[name, fieldsText] : indexes) {
        IndexDef index;
        index.name = name;
        index.fields = fieldsText.split(';');
        index.caseInsensitive = true;
        session.addIndex(file, index);
    }
}

} // namespace

void createCatalogue(Session &session)
{
    const QString text = QStringLiteral("CHAR(%1)");
    create(session, "FIRMS.DB",
           {{"FirmID", "AutoInc"},
            {"Name", text.arg(240)},
            {"Sinonyms", text.arg(240)},
            {"Description", text.arg(240)},
            {"Address", text.arg(200)},
            {"Email", text.arg(100)},
            {"WWW", text.arg(60)},
            {"Phones", text.arg(60)},
            {"GroupID", "Integer"}},
           {"FirmID"}, {{"ByName", "Name"}});
    create(session, "ITEMS.DB",
           {{"ItemID", "AutoInc"},
            {"Name", text.arg(240)},
            {"Sinonyms", text.arg(240)},
            {"Description", text.arg(240)},
            {"GroupID", "Integer"}},
           {"ItemID"}, {{"ByName", "Name"}});
    create(session, "FOLDERS.DB", {{"FolderID", "AutoInc"}, {"Description", text.arg(50)}},
           {"FolderID"});
    for (const QString &file : {QStringLiteral("GRFIRMS.DB"), QStringLiteral("GRITEMS.DB")}) {
        create(session, file,
               {{"GroupID", "AutoInc"}, {"UpGroupID", "Integer"}, {"Description", text.arg(100)}},
               {"GroupID"}, {{"ByParent", "UpGroupID"}});
    }
    create(session, "GRPFRM.DB", {{"FirmID", "Integer"}, {"GroupID", "Integer"}},
           {"FirmID", "GroupID"}, {{"ByGroup", "GroupID"}});
    create(session, "GRPITM.DB", {{"ItemID", "Integer"}, {"GroupID", "Integer"}},
           {"ItemID", "GroupID"}, {{"ByGroup", "GroupID"}});
    create(session, "CRFOLDERS.DB",
           {{"FolderID", "Integer"}, {"FirmID", "Integer"}, {"ItemID", "Integer"}}, {},
           {{"Firm", "FirmID"}, {"Item", "ItemID"}, {"Folder", "FolderID"}});
    create(session, "CRFIRMS.DB",
           {{"FirmID", "Integer"}, {"ItemID", "Integer"}, {"Type", text.arg(1)}}, {},
           {{"Firm", "FirmID"}, {"Item", "ItemID"}});
    create(session, "FILES.DB",
           {{"FileID", "AutoInc"},
            {"FirmID", "Integer"},
            {"ItemID", "Integer"},
            {"Description", text.arg(200)},
            {"FileName", text.arg(13)},
            {"File", "Blob(0,2)"}},
           {"FileID"}, {{"Firm", "FirmID"}, {"Item", "ItemID"}});
}

void insertRows(Session &session, const QString &table, const QStringList &columns, int count,
                const std::function<QVariantList(int)> &row)
{
    // A few hundred rows a statement: one round trip to a server for each.
    constexpr int rowsPerStatement = 250;
    const TableRef ref = session.tableByName(table);
    QList<qint64> highest(columns.size(), 0);
    Session::Transaction transaction(session);
    for (int first = 1; first <= count; first += rowsPerStatement) {
        const int rows = std::min(rowsPerStatement, count - first + 1);
        const QString marks = '(' + QStringList(columns.size(), "?").join(',') + ')';
        Statement insert =
            session.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                .arg(table, columns.join(','), QStringList(rows, marks).join(',')));
        int index = 0;
        for (int i = first; i < first + rows; ++i) {
            const QVariantList values = row(i);
            for (int c = 0; c < values.size(); ++c) {
                insert.bind(++index, values[c]);
                if (values[c].typeId() == QMetaType::Int ||
                    values[c].typeId() == QMetaType::LongLong)
                    highest[c] = std::max(highest[c], values[c].toLongLong());
            }
        }
        insert.step();
    }
    for (const FieldDef &field : session.fields(ref)) {
        const qsizetype c = columns.indexOf(field.name);
        if (field.kind == FieldKind::AutoInc && c >= 0)
            session.keepAutoIncrementAbove(ref, field.name, highest[c]);
    }
    transaction.commit();
}

std::unique_ptr<Table> openTable(Session &session, const QString &file)
{
    auto table = std::make_unique<Table>();
    table->setSession(&session);
    table->setTableName(file);
    return table;
}

void changeAtAnotherDesk(const Place &place, const QString &file,
                         const std::pair<QString, QVariant> &row,
                         const QList<std::pair<QString, QVariant>> &changes)
{
    const std::unique_ptr<Session> desk = place.open();
    const std::unique_ptr<Table> table = openTable(*desk, file);
    table->open();
    if (!table->locate(row.first, row.second))
        qFatal("the other desk finds no such row");
    if (changes.isEmpty()) {
        table->deleteRecord();
        return;
    }
    table->edit();
    for (const auto &[field, value] : changes)
        table->fieldByName(field)->setValue(value);
    table->post();
}

std::unique_ptr<Query> openQuery(Session &session, const QStringList &sql, bool live)
{
    auto query = std::make_unique<Query>();
    query->setSession(&session);
    query->setSql(sql);
    query->setRequestLive(live);
    return query;
}

QList<Session::ChangeNotice> noticesOf(Session &session)
{
    QList<Session::ChangeNotice> notices;
    QElapsedTimer waited;
    waited.start();
    while (notices.isEmpty() && waited.elapsed() < 5000) {
        QTest::qWait(10);
        notices = session.changedElsewhere();
    }
    return notices;
}

void pointAliasAt(const QString &location)
{
    QFile::remove(RegistryKey::defaultFilePath());
    QFile::remove(windowPlacesFilePath());
    if (!CatalogueLocation::isServer(location))
        QDir().mkpath(location);
    Aliases aliases;
    aliases.addStandardAlias("Quillon", location, "Paradox");
    aliases.saveConfigFile();
}

QString shell(const QString &file, const QString &sql, bool extension)
{
    QStringList arguments{QStringLiteral("-batch")};
    if (extension)
        arguments << QStringLiteral("-cmd")
                  << QStringLiteral(".load %1/../../storage/libquillon-sqlite")
                         .arg(QCoreApplication::applicationDirPath());
    return run(QStringLiteral("sqlite3"), arguments << file << sql);
}

QString contents(const QString &directory, const QStringList &tables)
{
    QString all;
    for (const QString &table : tables) {
        all += table + '\n' +
               shell(QDir(directory).filePath(table),
                     QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid;")
                         .arg(table.section('.', 0, 0)));
    }
    return all;
}

} // namespace TestCatalogue
