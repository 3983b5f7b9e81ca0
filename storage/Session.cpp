#include "Session.h"

#include "EngineError.h"
#include "SqlText.h"
#include "TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// SQLite as shipped attaches at most this many files to one connection.
constexpr int maxAttached = 10;
constexpr int defaultBusyTimeoutMs = 2000;
// A window that does not repaint for longer than this looks frozen.
constexpr qint64 keepAliveIntervalMs = 50;
// The catalogue's statements and the tables' own definitions are a few
// kilobytes; a longer text is not one of ours (a table description holding a
// 900 MB default value, say) and is refused rather than parsed.
constexpr int maxStatementBytes = 1 << 20;

QString stemOf(const QString &fileName)
{
    const int dot = int(fileName.indexOf('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

// "no such table: X" names the table a statement needs and nobody attached.
QString missingTableIn(const QString &engineMessage)
{
    static const QRegularExpression re(QStringLiteral("^no such table: (?:\\w+\\.)?(.+)$"));
    const auto m = re.match(engineMessage);
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

std::pair<quint64, quint64> identityOf(const QString &directory)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(directory).constData(), &info) != 0)
        return {0, 0};
    return {quint64(info.st_dev), quint64(info.st_ino)};
}

} // namespace

QString TableRef::qualified() const
{
    return SqlText::quoted(schema) + '.' + SqlText::quoted(table);
}

Session::Session(QString directory) : m_directory(std::move(directory))
{
    const int rc = sqlite3_open(":memory:", &m_db);
    if (rc != SQLITE_OK)
        throwSqliteError(m_db, rc, {});
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, defaultBusyTimeoutMs);
    hardenConnection();
    TextRules::install(m_db);
}

// The program makes no triggers and no views, and no table of its own
// computes anything on write: whatever a file copied from elsewhere brings of
// that kind never runs here.
void Session::hardenConnection()
{
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(m_db, SQLITE_LIMIT_SQL_LENGTH, maxStatementBytes);
}

void Session::setReadOnly(const QString &reason)
{
    m_readOnlyReason = reason;
}

void Session::requireSameDirectory() const
{
    if (m_attachOrder.isEmpty() || identityOf(m_directory) == m_directoryIdentity)
        return;
    throw EngineError(
        QDir::toNativeSeparators(m_directory) +
        QStringLiteral(": папку каталога заменили, пока программа работала (восстановили из "
                       "копии или перенесли). Изменение не записано; откройте каталог заново."));
}

Session::~Session()
{
    sqlite3_close_v2(m_db);
}

void Session::setKeepAlive(std::function<void()> keepAlive)
{
    m_keepAlive = std::move(keepAlive);
    m_sinceKeepAlive.start();
    // SQLite calls back every so many virtual machine steps; a few thousand
    // steps take well under a millisecond, so the clock decides.
    constexpr int stepsBetweenCalls = 20000;
    sqlite3_progress_handler(
        m_db, m_keepAlive ? stepsBetweenCalls : 0,
        [](void *self) {
            auto *session = static_cast<Session *>(self);
            if (session->m_sinceKeepAlive.elapsed() >= keepAliveIntervalMs) {
                session->m_keepAlive();
                session->m_sinceKeepAlive.restart();
            }
            return 0;
        },
        this);
}

void Session::setBusyTimeout(int milliseconds)
{
    sqlite3_busy_timeout(m_db, milliseconds);
}

bool Session::inTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}

QString Session::findFileIn(const QString &directory, const QString &fileName)
{
    const QDir dir(directory);
    if (dir.exists(fileName))
        return dir.filePath(fileName);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &entry : entries) {
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return {};
}

QString Session::schemaFor(const QString &fileName) const
{
    for (auto it = m_schemaFiles.cbegin(); it != m_schemaFiles.cend(); ++it) {
        if (it.value().compare(fileName, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return {};
}

// A statement that fails is blamed on the first table it names.
QString Session::contextOf(const QString &sql) const
{
    static const QRegularExpression re(
        QStringLiteral("\\b(?:from|into|update|table)\\s+\"?([^\\s\"(,]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(sql);
    if (!m.hasMatch())
        return {};
    const QString name = m.captured(1);
    const QString schema = schemaFor(name + QStringLiteral(".DB"));
    return schema.isEmpty() ? (name.contains('.') ? name : name + QStringLiteral(".DB"))
                            : m_schemaFiles.value(schema);
}

void Session::makeRoomForAttachment()
{
    if (m_attachOrder.size() < maxAttached)
        return;
    for (const QString &schema : QStringList(m_attachOrder)) {
        if (detach(m_schemaFiles.value(schema)))
            return;
    }
    throw EngineError(QStringLiteral("Слишком много таблиц открыто одновременно"));
}

QString Session::attachFile(const QString &path)
{
    const QString fileName = QFileInfo(path).fileName();
    const QString existing = schemaFor(fileName);
    if (!existing.isEmpty())
        return existing;
    if (inTransaction())
        throw EngineError(fileName + QStringLiteral(": таблица не открыта до начала транзакции"));
    // Files of two different folders must never be mixed in one connection.
    requireSameDirectory();
    makeRoomForAttachment();
    if (m_attachOrder.isEmpty())
        m_directoryIdentity = identityOf(m_directory);

    QString schema = stemOf(fileName).toUpper();
    while (m_schemaFiles.contains(schema))
        schema += '_';
    Statement attach =
        prepare(QStringLiteral("ATTACH DATABASE ? AS ") + SqlText::quoted(schema), fileName);
    attach.bind(1, path);
    attach.step();
    m_schemaFiles.insert(schema, fileName);
    m_attachOrder.append(schema);
    try {
        // Reading the schema is what tells a table file from any other file.
        execute(
            QStringLiteral("SELECT count(*) FROM %1.sqlite_master").arg(SqlText::quoted(schema)),
            fileName);
        execute(QStringLiteral("PRAGMA %1.synchronous = FULL").arg(SqlText::quoted(schema)),
                fileName);
    } catch (...) {
        detach(fileName);
        throw;
    }
    return schema;
}

bool Session::detach(const QString &fileName)
{
    const QString schema = schemaFor(fileName);
    if (schema.isEmpty())
        return true;
    const QByteArray sql = "DETACH DATABASE " + SqlText::quoted(schema).toUtf8();
    if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    m_schemaFiles.remove(schema);
    m_attachOrder.removeAll(schema);
    return true;
}

void Session::detachAll()
{
    for (const QString &schema : QStringList(m_attachOrder))
        detach(m_schemaFiles.value(schema));
}

Statement Session::prepare(const QString &sql, const QString &context)
{
    for (int attempt = 0; attempt <= maxAttached; ++attempt) {
        const QByteArray utf8 =
            SqlText::qualifyTables(sql, [this](const QString &name) {
                return attachedSchema(name.contains('.') ? name : name + QStringLiteral(".DB"));
            }).toUtf8();
        sqlite3_stmt *stmt = nullptr;
        const int rc = sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &stmt, nullptr);
        const QString blamed = context.isEmpty() ? contextOf(sql) : context;
        if (rc == SQLITE_OK) {
            Statement statement(m_db, stmt, blamed);
            if (stmt && !sqlite3_stmt_readonly(stmt)) {
                if (isReadOnly())
                    throw EngineError(m_readOnlyReason);
                statement.setWriteGuard([this] { requireSameDirectory(); });
            }
            return statement;
        }
        const QString missing = missingTableIn(QString::fromUtf8(sqlite3_errmsg(m_db)));
        const QString missingFile =
            missing.contains('.') ? missing : missing + QStringLiteral(".DB");
        // A table missing from a file already attached is not found by attaching again.
        if (missing.isEmpty() || !schemaFor(missingFile).isEmpty())
            throwSqliteError(m_db, rc, blamed);
        tableByName(missing);
    }
    throw EngineError(QStringLiteral("Не удалось подготовить запрос: ") + sql);
}

void Session::execute(const QString &sql, const QString &context)
{
    Statement statement = prepare(sql, context);
    while (statement.step()) {
    }
}

TableRef Session::describeAttached(const QString &schema)
{
    const QString fileName = m_schemaFiles.value(schema);
    Statement names = prepare(QStringLiteral("SELECT name FROM %1.sqlite_master WHERE type = "
                                             "'table' AND name NOT LIKE 'sqlite%%' ORDER BY rowid")
                                  .arg(SqlText::quoted(schema)),
                              fileName);
    QStringList tables;
    while (names.step())
        tables << names.value(0).toString();
    if (tables.isEmpty())
        throw EngineError(fileName + QStringLiteral(": в файле нет таблицы"));
    // The file holds the table it is named after; a copy under another name
    // (the verifier's temporary copy) still holds one table.
    for (const QString &table : tables) {
        if (table.compare(stemOf(fileName), Qt::CaseInsensitive) == 0)
            return {schema, table, fileName};
    }
    return {schema, tables.first(), fileName};
}

QString Session::attachedSchema(const QString &fileName)
{
    const QString attached = schemaFor(fileName);
    if (!attached.isEmpty())
        return attached;
    const QString path = findFile(fileName);
    return path.isEmpty() ? QString() : tableByFile(fileName).schema;
}

TableRef Session::tableByFile(const QString &fileName)
{
    const QString path = findFile(fileName);
    if (path.isEmpty()) {
        throw EngineError(fileName + QStringLiteral(": таблица не найдена в каталоге ") +
                          QDir::toNativeSeparators(m_directory));
    }
    const QString schema = attachFile(path);
    m_attachOrder.removeAll(schema);
    m_attachOrder.append(schema);
    return describeAttached(schema);
}

TableRef Session::tableByName(const QString &name)
{
    return tableByFile(name.contains('.') ? name : name + QStringLiteral(".DB"));
}

Session::Transaction::Transaction(Session &session) : m_session(session)
{
    m_nested = session.inTransaction();
    if (m_nested) {
        session.execute(QStringLiteral("SAVEPOINT quillon"));
        return;
    }
    if (session.isReadOnly())
        throw EngineError(session.m_readOnlyReason);
    const int rc = sqlite3_exec(session.m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throwSqliteError(session.m_db, rc, {});
    // The write lock is held from here on: a restore either swapped the
    // folder before it was taken, or waits until the transaction ends.
    try {
        session.requireSameDirectory();
    } catch (...) {
        sqlite3_exec(session.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

Session::Transaction::~Transaction()
{
    if (m_done)
        return;
    const char *undo = m_nested ? "ROLLBACK TO quillon; RELEASE quillon" : "ROLLBACK";
    sqlite3_exec(m_session.m_db, undo, nullptr, nullptr, nullptr);
}

void Session::Transaction::commit()
{
    m_session.execute(m_nested ? QStringLiteral("RELEASE quillon") : QStringLiteral("COMMIT"));
    m_done = true;
}
