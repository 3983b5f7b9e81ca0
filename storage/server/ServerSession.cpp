#include "ServerSession.h"

#include "EngineError.h"
#include "PgStatement.h"
#include "ServerSql.h"
#include "ServerText.h"
#include "TextRules.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <libpq-fe.h>
#include <poll.h>

const char *const ServerSession::collation = "quillon_ru";

using namespace ServerText;

namespace {

constexpr int defaultLockTimeoutMs = 2000;
// A window that does not repaint for longer than this looks frozen.
constexpr int keepAliveIntervalMs = 50;
// The server's type number for bytea: blobs travel in binary.
constexpr Oid byteaOid = 17;

// Plain words for the failures a user can do something about, by the
// server's error class; the server's own text follows in brackets.
QString plainCause(const QString &state)
{
    static const QList<std::pair<QString, QString>> causes = {
        {"08", QStringLiteral("нет связи с сервером")},
        {"57P", QStringLiteral("сервер остановлен или перезапускается")},
        {"55P03", QStringLiteral("таблица занята другой программой")},
        {"40", QStringLiteral("таблица занята другой программой")},
        {"23505", QStringLiteral("нарушена уникальность ключа")},
        {"42P01", QStringLiteral("таблица не найдена")},
        {"42703", QStringLiteral("нет такого поля")},
        {"42501", QStringLiteral("нет прав на это действие")},
        {"28", QStringLiteral("сервер не принял имя пользователя или пароль")},
        {"3D000", QStringLiteral("на сервере нет такой базы данных")},
        {"53100", QStringLiteral("диск сервера переполнен")},
        {"53", QStringLiteral("серверу не хватает ресурсов")},
        {"22001", QStringLiteral("значение длиннее поля")},
        {"22", QStringLiteral("недопустимое значение")}};
    for (const auto &[prefix, cause] : causes) {
        if (state.startsWith(prefix))
            return cause;
    }
    return {};
}

// libpq's own words for a failed or lost connection: the first line says
// what happened; the lines after it guess at causes over several lines.
QString connectionCause(const pg_conn *conn)
{
    const QStringList lines =
        QString::fromUtf8(PQerrorMessage(conn)).split('\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.first().simplified();
}

QString withContext(const QString &context, const QString &text)
{
    return context.isEmpty() ? text : context + QStringLiteral(": ") + text;
}

// The declaration a column's comment holds: "FirmID AutoInc". The type has
// no blanks, so it is what follows the last one.
std::optional<std::pair<QString, QString>> declarationIn(const QString &comment,
                                                         const QString &column)
{
    const qsizetype blank = comment.lastIndexOf(' ');
    if (blank <= 0)
        return std::nullopt;
    const QString name = comment.left(blank).trimmed();
    if (name.toLower() != column)
        return std::nullopt;
    return std::make_pair(name, comment.mid(blank + 1));
}

// The declared type of a column nobody declared: read from its server type.
QString derivedDeclaration(const QString &type, bool identity)
{
    static const QRegularExpression text(QStringLiteral("^character(?: varying)?\\((\\d+)\\)$"));
    if (identity)
        return QStringLiteral("AutoInc");
    if (const auto m = text.match(type); m.hasMatch())
        return QStringLiteral("CHAR(%1)").arg(m.captured(1));
    static const QHash<QString, QString> names = {{"integer", "Integer"},
                                                  {"bigint", "Integer"},
                                                  {"smallint", "SmallInt"},
                                                  {"boolean", "Boolean"},
                                                  {"date", "Date"},
                                                  {"text", "TEXT"},
                                                  {"bytea", "BLOB"},
                                                  {"double precision", "FLOAT"},
                                                  {"real", "FLOAT"},
                                                  {"time without time zone", "Time"},
                                                  {"timestamp without time zone", "TIMESTAMP"}};
    return names.value(type, type.startsWith(QLatin1String("numeric")) ? "NUMERIC" : type);
}

FieldDef fieldOf(const QString &column, const QString &type, bool identity, const QString &comment)
{
    if (const auto declared = declarationIn(comment, column))
        return FieldDef::fromDeclaration(declared->first, declared->second);
    return FieldDef::fromDeclaration(column, derivedDeclaration(type, identity));
}

// A value as libpq sends it: text, except blobs, which go in binary.
struct Parameters
{
    explicit Parameters(const QVariantList &values)
    {
        for (const QVariant &value : values) {
            const bool blank = !value.isValid() || value.isNull();
            const bool blob = value.typeId() == QMetaType::QByteArray;
            QByteArray bytes;
            if (blob)
                bytes = value.toByteArray();
            else if (value.typeId() == QMetaType::Bool)
                bytes = value.toBool() ? "1" : "0";
            else if (value.typeId() == QMetaType::Double)
                bytes = QByteArray::number(value.toDouble(), 'g', 17);
            else if (!blank)
                bytes = value.toString().toUtf8();
            storage.append(bytes);
            types.push_back(blob ? byteaOid : 0);
            formats.push_back(blob ? 1 : 0);
            lengths.push_back(int(bytes.size()));
            present.push_back(!blank);
        }
        for (int i = 0; i < storage.size(); ++i)
            pointers.push_back(present[i] ? storage[i].constData() : nullptr);
    }

    QList<QByteArray> storage;
    std::vector<Oid> types;
    std::vector<int> formats, lengths;
    std::vector<bool> present;
    std::vector<const char *> pointers;
};

// The server kind's SQL: names in lower case, rows numbered by their unique
// integer key (or, in a table without one, by their place), text in order by
// the collation of its column.
class ServerDialect : public SqlDialect
{
public:
    QString name(const QString &identifier) const override { return quotedLower(identifier); }

    QString rowIdentity(const TableRef &table, const QString &alias) const override
    {
        const QString column = table.rowIdentity == QLatin1String("ctid")
                                   ? QStringLiteral("ctid")
                                   : quotedLower(table.rowIdentity);
        return alias.isEmpty() ? column : alias + '.' + column;
    }

    QString rowsAmong(const TableRef &table, const QString &alias,
                      std::span<const qint64> identities) const override
    {
        QStringList items;
        if (table.rowIdentity == QLatin1String("ctid")) {
            for (const qint64 identity : identities)
                items << '"' + tupleText(identity) + '"';
            return rowIdentity(table, alias) + QStringLiteral(" = ANY ('{") + items.join(',') +
                   QStringLiteral("}'::tid[])");
        }
        for (const qint64 identity : identities)
            items << QString::number(identity);
        return rowIdentity(table, alias) + QStringLiteral(" IN (") + items.join(',') + ')';
    }

    QString collatedOrderBy(const QString &orderBy) const override { return orderBy; }
    QString inListOrder(const QString &column) const override { return column; }

    // The transaction that wrote the row's current version: every update
    // makes a new one, whichever desk posts it.
    QString rowVersion(const TableRef &, const QString &alias, const QStringList &) const override
    {
        return (alias.isEmpty() ? QString() : alias + '.') + QStringLiteral("xmin::text");
    }

    QString startsWith(const QString &text, const QString &prefix) const override
    {
        return QStringLiteral("starts_with(%1, %2)").arg(text, prefix);
    }
};

} // namespace

ServerSession::ServerSession(QString uri)
    : m_uri(std::move(uri)), m_lockTimeoutMs(defaultLockTimeoutMs)
{
    connect();
}

ServerSession::~ServerSession()
{
    PQfinish(m_conn);
}

const SqlDialect &ServerSession::dialect() const
{
    static const ServerDialect serverDialect;
    return serverDialect;
}

QString ServerSession::describeServer() const
{
    if (!m_conn)
        return m_uri.section('?', 0, 0);
    const QString host = QString::fromUtf8(PQhost(m_conn));
    return QStringLiteral("%1:%2/%3")
        .arg(host, QString::fromUtf8(PQport(m_conn)), QString::fromUtf8(PQdb(m_conn)));
}

void ServerSession::connect()
{
    m_conn = PQconnectdb(m_uri.toUtf8().constData());
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString why = connectionCause(m_conn);
        const QString where = describeServer();
        // Neither the address nor libpq's password and service files gave
        // one: the window asks the user and tries again.
        const bool wantsPassword =
            PQconnectionNeedsPassword(m_conn) && !PQconnectionUsedPassword(m_conn);
        PQfinish(m_conn);
        m_conn = nullptr;
        if (wantsPassword)
            throw PasswordNeeded(where + QStringLiteral(": сервер просит пароль"));
        throw EngineError(where + QStringLiteral(": нет связи с сервером (") + why + ')');
    }
    setUp();
    noteWhatTheRoleMayDo();
}

// A role that may only read the catalogue's tables (see
// scripts/server-roles.sql) opens it read-only, and the windows say why.
// A catalogue without tables yet is writable to whoever may make them.
void ServerSession::noteWhatTheRoleMayDo()
{
    const PgResult may = run(
        QStringLiteral(
            "SELECT current_user, coalesce(bool_and(pg_catalog.has_table_privilege(c.oid, "
            "'INSERT') AND pg_catalog.has_table_privilege(c.oid, 'UPDATE') AND "
            "pg_catalog.has_table_privilege(c.oid, 'DELETE')), "
            "pg_catalog.has_schema_privilege($1, 'CREATE')) "
            "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
            "WHERE n.nspname = $1 AND c.relkind = 'r' AND c.relname <> $2"),
        {schema, QLatin1String(rowMovesName)});
    if (may.value(0, 1).toBool())
        return;
    setReadOnly(QStringLiteral("Каталог открыт только для чтения: роль «%1» на сервере %2 может "
                               "только читать его.")
                    .arg(may.value(0, 0).toString(), describeServer()));
}

// What every connection of a catalogue starts with: UTF-8, the catalogue's
// schema alone on the search path (so that no object of another schema
// stands in for a table or a function), ISO dates and the wait for locks.
void ServerSession::setUp()
{
    PQsetClientEncoding(m_conn, "UTF8");
    // The server's notices ("there is no transaction in progress") are for
    // whoever reads its log, not for the program's user.
    PQsetNoticeProcessor(
        m_conn, [](void *, const char *) {}, nullptr);
    run(QStringLiteral("SELECT pg_catalog.set_config('search_path', $1, false), "
                       "pg_catalog.set_config('DateStyle', 'ISO', false), "
                       "pg_catalog.set_config('lock_timeout', $2, false), "
                       "pg_catalog.set_config('application_name', $3, false)"),
        {schema, QString::number(m_lockTimeoutMs) + QStringLiteral("ms"), programName()});
    run(QStringLiteral("LISTEN ") + QLatin1String(changesChannel));
}

// Every write tells the other desks which table it changed; the server
// delivers the notice when the write commits and drops it when it is undone.
void ServerSession::announceChange(pg_result *result, const QString &context)
{
    const QByteArray status = PQcmdStatus(result);
    const bool wrote =
        status.startsWith("INSERT") || status.startsWith("UPDATE") || status.startsWith("DELETE");
    if (!wrote || qstrcmp(PQcmdTuples(result), "0") == 0)
        return;
    run(QStringLiteral("SELECT pg_catalog.pg_notify($1, $2)"),
        {QLatin1String(changesChannel),
         context.isEmpty() ? QStringLiteral("*") : context.toUpper()});
}

namespace {

// The advisory lock of maintenance, one number for every catalogue of a
// database ("quillon" in ASCII): one database holds one catalogue.
constexpr qint64 maintenanceLockKey = 0x7175696c6c6f6e;
// A check, pack or restore waits for the one under way this many times as
// long as a post waits for a row (a minute by default): a check of twenty
// desks started together takes that long.
constexpr int maintenanceWaitFactor = 30;

class ServerMaintenanceLock : public Session::MaintenanceLock
{
public:
    explicit ServerMaintenanceLock(ServerSession &session) : m_session(session) {}
    ~ServerMaintenanceLock() override
    {
        // A connection lost meanwhile took the lock with it.
        try {
            m_session.run(QStringLiteral("SELECT pg_catalog.pg_advisory_unlock($1::bigint)"),
                          {maintenanceLockKey});
        } catch (const EngineError &) {
        }
    }

private:
    ServerSession &m_session;
};

} // namespace

// Another desk's structure check at its start takes a moment: it is waited
// for, within a bound, so that desks started together each check in turn.
std::unique_ptr<Session::MaintenanceLock> ServerSession::lockForMaintenance(IfHeld ifHeld)
{
    QElapsedTimer waited;
    waited.start();
    while (!run(QStringLiteral("SELECT pg_catalog.pg_try_advisory_lock($1::bigint)"),
                {maintenanceLockKey})
                .value(0, 0)
                .toBool()) {
        if (ifHeld == IfHeld::Refuse ||
            waited.elapsed() > qint64(m_lockTimeoutMs) * maintenanceWaitFactor)
            throw EngineError(describeServer() +
                              QStringLiteral(": каталог уже проверяет, сжимает или восстанавливает "
                                             "другая программа. Повторите, когда она закончит."));
        if (m_keepAlive)
            m_keepAlive();
        QThread::msleep(keepAliveIntervalMs);
    }
    return std::make_unique<ServerMaintenanceLock>(*this);
}

// A connection without an address came through the server's own socket.
// The server hides where and since when another role's connection came to
// a role without the right to see it: then only the role is named.
QStringList ServerSession::otherDesks()
{
    const PgResult desks = run(
        QStringLiteral("SELECT usename, coalesce(host(client_addr), 'этот компьютер'), "
                       "to_char(backend_start, 'HH24:MI') FROM pg_catalog.pg_stat_activity "
                       "WHERE datname = pg_catalog.current_database() AND backend_type = 'client "
                       "backend' AND application_name IS DISTINCT FROM $1 ORDER BY backend_start"),
        {programName()});
    QStringList lines;
    for (int row = 0; row < desks.rows(); ++row) {
        const QString since = desks.value(row, 2).toString();
        lines << (since.isEmpty() ? desks.value(row, 0).toString()
                                  : QStringLiteral("%1, %2, с %3")
                                        .arg(desks.value(row, 0).toString(),
                                             desks.value(row, 1).toString(), since));
    }
    return lines;
}

// Every connection of this program carries one name, told apart from those
// of the program on other desks (and of other copies on this one), so that
// the program does not count its own connections as other desks.
QString ServerSession::programName()
{
    static const QString name =
        QStringLiteral("quillon-") +
        QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
    return name;
}

// A notice reads "FIRMS.DB" for a table as a whole, or "FIRMS.DB U 17" for
// the row 17 inserted (I), updated (U) or deleted (D).
QList<Session::ChangeNotice> ServerSession::changedElsewhere()
{
    QList<ChangeNotice> changed;
    if (PQstatus(m_conn) != CONNECTION_OK || !PQconsumeInput(m_conn))
        return changed;
    while (PGnotify *notice = PQnotifies(m_conn)) {
        // This desk's own writes come back too; it knows them already.
        const QStringList words = QString::fromUtf8(notice->extra).split(' ');
        if (notice->be_pid != PQbackendPID(m_conn)) {
            bool numbered = false;
            const qint64 identity = words.value(2).toLongLong(&numbered);
            ChangeNotice change{words.first(), numbered ? std::optional(identity) : std::nullopt};
            if (!changed.contains(change))
                changed << change;
        }
        PQfreemem(notice);
    }
    return changed;
}

// A connection lost (the server stopped or restarted) is made again before
// the next statement; what failed while it was gone was reported then.
void ServerSession::ensureConnected()
{
    if (PQstatus(m_conn) == CONNECTION_OK)
        return;
    PQreset(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK)
        throwConnectionLost({});
    forgetStructure();
    setUp();
}

void ServerSession::throwConnectionLost(const QString &context)
{
    const QString why = connectionCause(m_conn);
    throw EngineError(withContext(context, QStringLiteral("нет связи с сервером ") +
                                               describeServer() + QStringLiteral(" (") + why +
                                               ')'));
}

void ServerSession::throwResultError(pg_result *result, const QString &context)
{
    const QString state = QString::fromUtf8(PQresultErrorField(result, PG_DIAG_SQLSTATE));
    QString message = QString::fromUtf8(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    if (message.isEmpty())
        message = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    const QString plain = plainCause(state);
    throw EngineError(withContext(
        context, plain.isEmpty() ? message : plain + QStringLiteral(" (") + message + ')'));
}

PgResult ServerSession::run(const QString &sql, const QVariantList &values, const QString &context)
{
    ensureConnected();
    if (m_trace)
        m_trace(ServerSql::withValues(sql, values));
    const Parameters parameters(values);
    const QByteArray text = sql.toUtf8();
    const int sent = PQsendQueryParams(m_conn, text.constData(), int(values.size()),
                                       parameters.types.data(), parameters.pointers.data(),
                                       parameters.lengths.data(), parameters.formats.data(), 1);
    if (!sent)
        throwConnectionLost(context);
    PgResult result = waitForResult(context);
    announceChange(result.handle(), context);
    return result;
}

// Waits for the server without blocking the window's paints for long.
PgResult ServerSession::waitForResult(const QString &context)
{
    QElapsedTimer sinceKeepAlive;
    sinceKeepAlive.start();
    while (PQisBusy(m_conn)) {
        pollfd socket{PQsocket(m_conn), POLLIN, 0};
        poll(&socket, 1, keepAliveIntervalMs);
        if (!PQconsumeInput(m_conn))
            break;
        if (m_keepAlive && sinceKeepAlive.elapsed() >= keepAliveIntervalMs) {
            m_keepAlive();
            sinceKeepAlive.restart();
        }
    }
    PgResult result(PQgetResult(m_conn));
    while (PGresult *rest = PQgetResult(m_conn))
        PQclear(rest);
    if (result.isNull() || PQstatus(m_conn) != CONNECTION_OK)
        throwConnectionLost(context);
    const ExecStatusType status = PQresultStatus(result.handle());
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        throwResultError(result.handle(), context);
    return result;
}

Statement ServerSession::prepare(const QString &sql, const QString &context)
{
    if (!SqlText::isSelect(sql))
        requireWritable();
    return Statement(std::make_unique<PgStatement>(
        *this, ServerSql::translate(sql), context.isEmpty() ? ServerSql::tableOf(sql) : context));
}

QString ServerSession::tableName(const QString &fileName)
{
    return SqlText::quoted(schema) + '.' + quotedLower(stemOf(fileName));
}

QString ServerSession::indexName(const QString &fileName, const QString &index)
{
    return stemOf(fileName).toLower() + '.' + index;
}

unsigned ServerSession::tableOid(const QString &fileName)
{
    const PgResult found = run(
        QStringLiteral("SELECT c.oid FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON "
                       "n.oid = c.relnamespace WHERE n.nspname = $1 AND c.relname = $2 AND "
                       "c.relkind IN ('r', 'p')"),
        {schema, stemOf(fileName).toLower()}, fileName);
    return found.rows() == 0 ? 0 : unsigned(found.int64(0, 0));
}

bool ServerSession::hasTable(const QString &fileName)
{
    return tableOid(fileName) != 0;
}

// A row is known by the table's unique integer key where it has one (its
// primary index over one integer field), else by its place in the table.
TableRef ServerSession::tableByFile(const QString &fileName)
{
    if (const auto known = m_tables.constFind(fileName.toUpper()); known != m_tables.constEnd())
        return *known;
    const PgResult found = run(
        QStringLiteral(
            "SELECT c.relname, (SELECT a.attname FROM pg_catalog.pg_index i "
            "JOIN pg_catalog.pg_class ic ON ic.oid = i.indexrelid "
            "JOIN pg_catalog.pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] "
            "WHERE i.indrelid = c.oid AND i.indisunique AND i.indnatts = 1 "
            "AND (i.indisprimary OR ic.relname = $3) AND a.atttypid IN (20, 21, 23) LIMIT 1) "
            "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
            "WHERE n.nspname = $1 AND c.relname = $2 AND c.relkind IN ('r', 'p')"),
        {schema, stemOf(fileName).toLower(), indexName(fileName, QStringLiteral("Primary"))},
        fileName);
    if (found.rows() == 0)
        throw EngineError(fileName + QStringLiteral(": таблица не найдена в базе ") +
                          describeServer());
    const QString key = found.value(0, 1).toString();
    const TableRef table{schema, found.value(0, 0).toString(), fileName.toUpper(),
                         key.isEmpty() ? QStringLiteral("ctid") : key};
    m_tables.insert(table.fileName, table);
    return table;
}

QList<FieldDef> ServerSession::fields(const TableRef &table)
{
    const QString file = table.fileName.toUpper();
    if (const auto known = m_fields.constFind(file); known != m_fields.constEnd())
        return *known;
    const PgResult columns =
        run(QStringLiteral("SELECT a.attname, pg_catalog.format_type(a.atttypid, a.atttypmod), "
                           "a.attidentity <> '', pg_catalog.col_description(a.attrelid, a.attnum) "
                           "FROM pg_catalog.pg_attribute a WHERE a.attrelid = $1::regclass AND "
                           "a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"),
            {table.qualified()}, table.fileName);
    QList<FieldDef> result;
    for (int row = 0; row < columns.rows(); ++row)
        result << fieldOf(columns.value(row, 0).toString(), columns.value(row, 1).toString(),
                          columns.int64(row, 2) != 0, columns.value(row, 3).toString());
    m_fields.insert(file, result);
    return result;
}

ServerSession::Column ServerSession::columnOf(unsigned tableOid, int columnNumber)
{
    if (tableOid == 0 || columnNumber <= 0)
        return {};
    const quint64 key = (quint64(tableOid) << 16) | quint64(columnNumber);
    if (const auto known = m_columns.constFind(key); known != m_columns.constEnd())
        return *known;
    const PgResult columns =
        run(QStringLiteral("SELECT a.attnum, a.attname, "
                           "pg_catalog.format_type(a.atttypid, a.atttypmod), a.attidentity <> '', "
                           "pg_catalog.col_description(a.attrelid, a.attnum) "
                           "FROM pg_catalog.pg_attribute a WHERE a.attrelid = $1 AND a.attnum > 0"),
            {qint64(tableOid)});
    for (int row = 0; row < columns.rows(); ++row) {
        const FieldDef field =
            fieldOf(columns.value(row, 1).toString(), columns.value(row, 2).toString(),
                    columns.int64(row, 3) != 0, columns.value(row, 4).toString());
        m_columns.insert((quint64(tableOid) << 16) | quint64(columns.int64(row, 0)),
                         {field.name, field.declaredType});
    }
    return m_columns.value(key);
}

void ServerSession::beginTransaction(bool nested)
{
    run(nested ? QStringLiteral("SAVEPOINT quillon") : QStringLiteral("BEGIN"));
}

void ServerSession::commitTransaction(bool nested)
{
    const PgResult done =
        run(nested ? QStringLiteral("RELEASE SAVEPOINT quillon") : QStringLiteral("COMMIT"));
    // A transaction that failed half-way is rolled back by the server, which
    // answers a commit with ROLLBACK.
    if (qstrcmp(PQcmdStatus(done.handle()), "ROLLBACK") == 0)
        throw EngineError(QStringLiteral("Изменения отменены сервером после ошибки"));
}

void ServerSession::rollbackTransaction(bool nested) noexcept
{
    try {
        if (nested) {
            run(QStringLiteral("ROLLBACK TO SAVEPOINT quillon"));
            run(QStringLiteral("RELEASE SAVEPOINT quillon"));
        } else if (inTransaction()) {
            run(QStringLiteral("ROLLBACK"));
        }
    } catch (...) {
        // A connection that is gone took the transaction with it.
    }
    // What was looked up inside the transaction may be gone with it.
    forgetStructure();
}

bool ServerSession::inTransaction() const
{
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

void ServerSession::setBusyTimeout(int milliseconds)
{
    m_lockTimeoutMs = milliseconds;
    run(QStringLiteral("SELECT pg_catalog.set_config('lock_timeout', $1, false)"),
        {QString::number(milliseconds) + QStringLiteral("ms")});
}

// The next key of an auto-increment field: the server's counter, moved past
// any higher key written by hand (another tool, a copy), so that a key is
// never handed out twice, as on a folder.
QString ServerSession::nextKey(const TableRef &table, const QString &field)
{
    return QStringLiteral(
               "(SELECT CASE WHEN m.v >= s.v THEN pg_catalog.setval(q.seq, m.v + 1) ELSE s.v END "
               "FROM (SELECT pg_catalog.pg_get_serial_sequence(%1, %2)::regclass AS seq) q, "
               "LATERAL (SELECT pg_catalog.nextval(q.seq) AS v) s, "
               "(SELECT coalesce(max(%3), 0) AS v FROM %4) m)")
        .arg(literal(table.qualified()), literal(field.toLower()), quotedLower(field),
             table.qualified());
}

qint64 ServerSession::nextAutoIncrement(const TableRef &table, const QString &field)
{
    const PgResult next =
        run(QStringLiteral("SELECT ") + nextKey(table, field), {}, table.fileName);
    if (next.isBlank(0, 0))
        throw EngineError(table.fileName + QStringLiteral(": поле ") + field +
                          QStringLiteral(" не получает номера от сервера"));
    return next.int64(0, 0);
}

void ServerSession::keepAutoIncrementAbove(const TableRef &table, const QString &field, qint64 used)
{
    run(QStringLiteral("SELECT pg_catalog.setval(q.s, $3::bigint) FROM (SELECT "
                       "pg_catalog.pg_get_serial_sequence($1, $2)::regclass AS s) q WHERE q.s IS "
                       "NOT NULL AND $3::bigint > coalesce(pg_catalog.pg_sequence_last_value(q.s), "
                       "0)"),
        {table.qualified(), field.toLower(), used}, table.fileName);
}

qint64 ServerSession::keysHandedOut(const TableRef &table, const QString &field)
{
    const PgResult last = run(
        QStringLiteral("SELECT coalesce(pg_catalog.pg_sequence_last_value(q.s), 0) FROM (SELECT "
                       "pg_catalog.pg_get_serial_sequence($1, $2)::regclass AS s) q"),
        {table.qualified(), field.toLower()}, table.fileName);
    return last.rows() > 0 && !last.isBlank(0, 0) ? last.int64(0, 0) : 0;
}

namespace {

// The condition that finds one row by its identity, its value bound as `$n`.
QString identityMatch(const TableRef &table, int parameter)
{
    return table.rowIdentity == QLatin1String("ctid")
               ? QStringLiteral("ctid = $%1::tid").arg(parameter)
               : QStringLiteral("%1 = $%2").arg(quotedLower(table.rowIdentity)).arg(parameter);
}

QVariant identityValue(const TableRef &table, qint64 identity)
{
    return table.rowIdentity == QLatin1String("ctid") ? QVariant(tupleText(identity))
                                                      : QVariant(identity);
}

QString identityColumn(const TableRef &table)
{
    return table.rowIdentity == QLatin1String("ctid") ? QStringLiteral("ctid")
                                                      : quotedLower(table.rowIdentity);
}

// A write of one row (ending in its RETURNING list) that names the row to
// the other desks in the same statement: the notice goes out when the write
// commits and never when it is undone. Its result is the write's own, more
// columns after them. A row known by its place (ctid) is not named, an
// update giving it a new place: its table is announced as a whole after the
// write (announceChange).
QString announcingRow(const QString &write, const TableRef &table, char change, const char *channel)
{
    if (table.rowIdentity == QLatin1String("ctid"))
        return write;
    return QStringLiteral("WITH written AS (%1, %2 AS changed_row) SELECT written.*, "
                          "pg_catalog.pg_notify('%3', '%4 %5 ' || written.changed_row) "
                          "FROM written")
        .arg(write, identityColumn(table), QLatin1String(channel),
             table.fileName.toUpper().replace('\'', QStringLiteral("''")), QString(QChar(change)));
}

} // namespace

// The server gives auto-increment keys itself; the key is read back with the
// row's identity.
qint64 ServerSession::insertRow(const TableRef &table, const QList<FieldDef> &columns,
                                QVariantList &values)
{
    requireWritable();
    QStringList names, marks, returned{identityColumn(table)};
    QVariantList given;
    QList<int> generated;
    for (int i = 0; i < columns.size(); ++i) {
        names << quotedLower(columns[i].name);
        if (columns[i].kind == FieldKind::AutoInc) {
            returned << quotedLower(columns[i].name);
            generated << i;
            marks << nextKey(table, columns[i].name);
            continue;
        }
        given << values[i];
        marks << QStringLiteral("$%1").arg(given.size());
    }
    const QString into = names.isEmpty() ? QStringLiteral(" DEFAULT VALUES")
                                         : QStringLiteral(" (%1) VALUES (%2)")
                                               .arg(names.join(QStringLiteral(", ")),
                                                    marks.join(QStringLiteral(", ")));
    const PgResult inserted =
        run(announcingRow(QStringLiteral("INSERT INTO %1%2 RETURNING %3")
                              .arg(table.qualified(), into, returned.join(QStringLiteral(", "))),
                          table, 'I', changesChannel),
            given, table.fileName);
    for (int i = 0; i < generated.size(); ++i)
        values[generated[i]] = inserted.value(0, i + 1);
    return inserted.int64(0, 0);
}

qint64 ServerSession::updateRow(const TableRef &table, const QStringList &columns,
                                const QVariantList &values, qint64 identity,
                                const QVariant &readVersion)
{
    requireWritable();
    QStringList assignments;
    for (int i = 0; i < columns.size(); ++i)
        assignments << QStringLiteral("%1 = $%2").arg(quotedLower(columns[i])).arg(i + 1);
    QVariantList bound = values;
    bound << identityValue(table, identity);
    QString condition = identityMatch(table, int(bound.size()));
    if (readVersion.isValid()) {
        // Read committed: an update waiting on another desk's lock checks
        // the version again on the row that desk left.
        bound << readVersion.toString();
        condition += QStringLiteral(" AND xmin::text = $%1").arg(bound.size());
    }
    const bool byPlace = table.rowIdentity == QLatin1String("ctid");
    const bool noteMove = byPlace && readVersion.isValid() && keepsRowMoves();
    // The move and its note are one change: neither stays without the other.
    std::optional<Transaction> moveNoted;
    if (noteMove)
        moveNoted.emplace(*this);
    const PgResult updated =
        run(announcingRow(QStringLiteral("UPDATE %1 SET %2 WHERE %3 RETURNING %4, xmin::text")
                              .arg(table.qualified(), assignments.join(QStringLiteral(", ")),
                                   condition, identityColumn(table)),
                          table, 'U', changesChannel),
            bound, table.fileName);
    if (updated.rows() == 0 && readVersion.isValid()) {
        const QString message =
            table.fileName + QStringLiteral(": запись изменена другим пользователем");
        if (!byPlace)
            throw RecordConflict(message, !rowExists(table, identity));
        // A row at the place read is never the row read: a change would have moved it.
        const std::optional<qint64> now = placeNow(table, identity, readVersion.toString());
        throw RecordConflict(message, !now, nullptr, now);
    }
    if (updated.rows() == 0)
        return identity;
    const qint64 place = updated.int64(0, 0);
    if (noteMove) {
        noteRowMove(table, identity, readVersion.toString(), place, updated.value(0, 1).toString());
        moveNoted->commit();
    }
    return place;
}

bool ServerSession::rowExists(const TableRef &table, qint64 identity)
{
    return run(QStringLiteral("SELECT 1 FROM %1 WHERE %2")
                   .arg(table.qualified(), identityMatch(table, 1)),
               {identityValue(table, identity)}, table.fileName)
               .rows() > 0;
}

void ServerSession::deleteRow(const TableRef &table, qint64 identity)
{
    requireWritable();
    run(announcingRow(QStringLiteral("DELETE FROM %1 WHERE %2 RETURNING %3")
                          .arg(table.qualified(), identityMatch(table, 1), identityColumn(table)),
                      table, 'D', changesChannel),
        {identityValue(table, identity)}, table.fileName);
}
