#include "FolderSession.h"

#include "EngineError.h"
#include "FolderChanges.h"
#include "FolderStructureChange.h"
#include "ForeignObjects.h"
#include "RowVersion.h"
#include "SqlText.h"
#include "SqliteStatement.h"
#include "TableFiles.h"
#include "TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>

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

FolderSession::FolderSession(QString directory) : m_directory(std::move(directory))
{
    const int rc = sqlite3_open(":memory:", &m_db);
    if (rc != SQLITE_OK)
        throwSqliteError(m_db, rc, {});
    sqlite3_extended_result_codes(m_db, 1);
    setBusyTimeout(defaultBusyTimeoutMs);
    hardenConnection();
    TextRules::install(m_db);
    RowVersion::install(m_db);
    m_changes = std::make_unique<FolderChanges>(m_db, m_directory, m_schemaFiles);
}

// The program makes no triggers and no views, and no table of its own
// computes anything on write: whatever a file copied from elsewhere brings of
// that kind never runs here.
void FolderSession::hardenConnection()
{
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_limit(m_db, SQLITE_LIMIT_SQL_LENGTH, maxStatementBytes);
}

void FolderSession::requireSameDirectory() const
{
    if (m_attachOrder.isEmpty() || identityOf(m_directory) == m_directoryIdentity)
        return;
    throw EngineError(
        QDir::toNativeSeparators(m_directory) +
        QStringLiteral(": папку каталога заменили, пока программа работала (восстановили из "
                       "копии или перенесли). Изменение не записано; откройте каталог заново."));
}

FolderSession::~FolderSession()
{
    m_changes->publish();
    sqlite3_close_v2(m_db);
}

void FolderSession::setKeepAlive(std::function<void()> keepAlive)
{
    m_keepAlive = std::move(keepAlive);
    m_sinceKeepAlive.start();
    // SQLite calls back every so many virtual machine steps; a few thousand
    // steps take well under a millisecond, so the clock decides.
    constexpr int stepsBetweenCalls = 20000;
    sqlite3_progress_handler(
        m_db, m_keepAlive ? stepsBetweenCalls : 0,
        [](void *self) {
            auto *session = static_cast<FolderSession *>(self);
            if (session->m_sinceKeepAlive.elapsed() >= keepAliveIntervalMs) {
                session->m_keepAlive();
                session->m_sinceKeepAlive.restart();
            }
            return 0;
        },
        this);
}

// SQLite's own wait sleeps ever longer, up to a tenth of a second a time:
// with several desks writing one file, the lock is taken and given back
// between those naps, and a desk could wait out its whole timeout without
// once finding the file free. This one looks again every millisecond.
void FolderSession::setBusyTimeout(int milliseconds)
{
    m_busyTimeoutMs = milliseconds;
    if (milliseconds <= 0) {
        sqlite3_busy_handler(m_db, nullptr, nullptr);
        return;
    }
    sqlite3_busy_handler(
        m_db,
        [](void *self, int attempt) {
            auto *session = static_cast<FolderSession *>(self);
            if (attempt == 0)
                session->m_busySince.start();
            else if (session->m_busySince.elapsed() >= session->m_busyTimeoutMs)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 1;
        },
        this);
}

bool FolderSession::inTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}

QString FolderSession::findFileIn(const QString &directory, const QString &fileName)
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

QString FolderSession::schemaFor(const QString &fileName) const
{
    for (auto it = m_schemaFiles.cbegin(); it != m_schemaFiles.cend(); ++it) {
        if (it.value().compare(fileName, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return {};
}

// A statement that fails is blamed on the first table it names.
QString FolderSession::contextOf(const QString &sql) const
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

void FolderSession::makeRoomForAttachment()
{
    if (m_attachOrder.size() < maxAttached)
        return;
    for (const QString &schema : QStringList(m_attachOrder)) {
        if (detach(m_schemaFiles.value(schema)))
            return;
    }
    throw EngineError(QStringLiteral("Слишком много таблиц открыто одновременно"));
}

QString FolderSession::attachFile(const QString &path)
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
    m_changes->attached(schema);
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
    bringToCurrentOrder(schema, fileName);
    return schema;
}

// A table file of an earlier version has its text indexes in that version's
// order; they are built again once, in this order, and the file is marked so.
// A file that cannot be written now (read-only, held by another program) is
// brought to order at a later attach.
void FolderSession::bringToCurrentOrder(const QString &schema, const QString &fileName)
{
    const QString quotedSchema = SqlText::quoted(schema);
    {
        Statement mark =
            prepare(QStringLiteral("PRAGMA %1.application_id").arg(quotedSchema), fileName);
        if (!mark.step() || mark.int64(0) == TextRules::orderMark)
            return;
    }
    try {
        Transaction transaction(*this);
        QStringList tables;
        Statement names = prepare(QStringLiteral("SELECT name FROM %1.sqlite_master WHERE type = "
                                                 "'table' AND name NOT LIKE 'sqlite%%'")
                                      .arg(quotedSchema),
                                  fileName);
        while (names.step())
            tables << names.value(0).toString();
        for (const QString &table : tables)
            execute(QStringLiteral("REINDEX %1.%2").arg(quotedSchema, SqlText::quoted(table)),
                    fileName);
        execute(QStringLiteral("PRAGMA %1.application_id = %2")
                    .arg(quotedSchema)
                    .arg(TextRules::orderMark),
                fileName);
        transaction.commit();
    } catch (const EngineError &) {
        // Kept as it is until the file can be written.
    }
}

bool FolderSession::detach(const QString &fileName)
{
    const QString schema = schemaFor(fileName);
    if (schema.isEmpty())
        return true;
    const QByteArray sql = "DETACH DATABASE " + SqlText::quoted(schema).toUtf8();
    if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    m_changes->detached(schema);
    m_schemaFiles.remove(schema);
    m_attachOrder.removeAll(schema);
    return true;
}

void FolderSession::detachAll()
{
    for (const QString &schema : QStringList(m_attachOrder))
        detach(m_schemaFiles.value(schema));
}

Statement FolderSession::prepare(const QString &sql, const QString &context)
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
            auto statement = std::make_unique<SqliteStatement>(m_db, stmt, blamed);
            if (stmt && !sqlite3_stmt_readonly(stmt)) {
                requireWritable();
                statement->setWriteGuard([this] { requireSameDirectory(); });
            }
            return Statement(std::move(statement));
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

TableRef FolderSession::describeAttached(const QString &schema)
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
            return {schema, table, fileName, QStringLiteral("rowid")};
    }
    return {schema, tables.first(), fileName, QStringLiteral("rowid")};
}

QString FolderSession::attachedSchema(const QString &fileName)
{
    const QString attached = schemaFor(fileName);
    if (!attached.isEmpty())
        return attached;
    const QString path = findFile(fileName);
    return path.isEmpty() ? QString() : tableByFile(fileName).schema;
}

TableRef FolderSession::tableByFile(const QString &fileName)
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

void FolderSession::beginTransaction(bool nested)
{
    if (nested) {
        execute(QStringLiteral("SAVEPOINT quillon"));
        return;
    }
    const int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throwSqliteError(m_db, rc, {});
    // The write lock is held from here on: a restore either swapped the
    // folder before it was taken, or waits until the transaction ends.
    try {
        requireSameDirectory();
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void FolderSession::commitTransaction(bool nested)
{
    execute(nested ? QStringLiteral("RELEASE quillon") : QStringLiteral("COMMIT"));
    m_changes->publish();
}

void FolderSession::rollbackTransaction(bool nested) noexcept
{
    const char *undo = nested ? "ROLLBACK TO quillon; RELEASE quillon" : "ROLLBACK";
    sqlite3_exec(m_db, undo, nullptr, nullptr, nullptr);
}

namespace {

// The folder kind's SQL: SQLite's own, with every row numbered by its rowid
// and text put in order by the collation RU that the connection registers.
class FolderDialect : public SqlDialect
{
public:
    QString name(const QString &identifier) const override { return SqlText::quoted(identifier); }

    QString rowIdentity(const TableRef &, const QString &alias) const override
    {
        return alias.isEmpty() ? QStringLiteral("rowid") : alias + QStringLiteral(".rowid");
    }

    QString rowsAmong(const TableRef &table, const QString &alias,
                      std::span<const qint64> identities) const override
    {
        QStringList numbers;
        for (const qint64 identity : identities)
            numbers << QString::number(identity);
        return rowIdentity(table, alias) + QStringLiteral(" IN (") + numbers.join(',') + ')';
    }

    QString collatedOrderBy(const QString &orderBy) const override
    {
        return SqlText::collatedOrderBy(orderBy);
    }

    QString inListOrder(const QString &column) const override
    {
        return column + QStringLiteral(" COLLATE ") + TextRules::collationName;
    }

    QString rowVersion(const TableRef &, const QString &alias,
                       const QStringList &columns) const override
    {
        return RowVersion::expression(alias, columns);
    }

    QString startsWith(const QString &text, const QString &prefix) const override
    {
        return QStringLiteral("substr(%1, 1, length(%2)) = %2").arg(text, prefix);
    }
};

} // namespace

std::unique_ptr<FolderSession> FolderSession::open(const QString &directory, bool createFolder)
{
    if (createFolder && !QFileInfo::exists(directory) && !QDir().mkdir(directory))
        throw EngineError(directory + QStringLiteral(": не удаётся создать каталог данных"));
    return std::make_unique<FolderSession>(directory);
}

const SqlDialect &FolderSession::dialect() const
{
    static const FolderDialect folderDialect;
    return folderDialect;
}

void FolderSession::setTrace(std::function<void(const QString &)> trace)
{
    m_trace = std::move(trace);
    sqlite3_trace_v2(
        m_db, m_trace ? SQLITE_TRACE_STMT : 0,
        [](unsigned, void *self, void *statement, void *) {
            char *expanded = sqlite3_expanded_sql(static_cast<sqlite3_stmt *>(statement));
            static_cast<FolderSession *>(self)->m_trace(QString::fromUtf8(expanded));
            sqlite3_free(expanded);
            return 0;
        },
        this);
}

QList<FieldDef> FolderSession::fields(const TableRef &table)
{
    return TableFiles::fields(*this, table);
}

QList<IndexDef> FolderSession::indexes(const TableRef &table)
{
    return TableFiles::indexes(*this, table);
}

void FolderSession::addIndex(const QString &fileName, const IndexDef &index)
{
    TableFiles::addIndex(*this, fileName, index);
}

void FolderSession::deleteIndex(const QString &fileName, const QString &indexName)
{
    TableFiles::deleteIndex(*this, fileName, indexName);
}

bool FolderSession::hasSameIndex(const QString &fileName, const IndexDef &index)
{
    return TableFiles::hasSameIndex(*this, fileName, index);
}

void FolderSession::createTable(const QString &fileName, const QList<FieldDef> &fields)
{
    TableFiles::createTable(*this, fileName, fields);
}

void FolderSession::alterTable(const QString &fileName, const QList<AlterAction> &actions)
{
    TableFiles::alterTable(*this, fileName, actions);
}

int FolderSession::packTable(const QString &fileName, QString *message)
{
    // The file is rewritten through a connection of its own.
    detachAll();
    return TableFiles::packTable(m_directory, fileName, message);
}

qint64 FolderSession::nextAutoIncrement(const TableRef &table, const QString &field)
{
    return TableFiles::nextAutoIncrement(*this, table, field);
}

void FolderSession::keepAutoIncrementAbove(const TableRef &table, const QString &, qint64 used)
{
    TableFiles::keepAutoIncrementAbove(*this, table, used);
}

qint64 FolderSession::keysHandedOut(const TableRef &table, const QString &)
{
    return TableFiles::keysHandedOut(*this, table);
}

qint64 FolderSession::insertRow(const TableRef &table, const QList<FieldDef> &columns,
                                QVariantList &values)
{
    // Attached before the transaction starts: no file can be attached inside one.
    const TableRef base = tableByFile(table.fileName);
    Transaction transaction(*this);
    QStringList names, marks;
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].kind == FieldKind::AutoInc)
            values[i] = nextAutoIncrement(base, columns[i].name);
        names << SqlText::quoted(columns[i].name);
        marks << QStringLiteral("?");
    }
    Statement insert = prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                   .arg(base.qualified(), names.join(QStringLiteral(", ")),
                                        marks.join(QStringLiteral(", "))),
                               base.fileName);
    for (int i = 0; i < values.size(); ++i)
        insert.bind(i + 1, values[i]);
    insert.step();
    const qint64 rowid = sqlite3_last_insert_rowid(m_db);
    transaction.commit();
    m_changes->publish();
    return rowid;
}

qint64 FolderSession::updateRow(const TableRef &table, const QStringList &columns,
                                const QVariantList &values, qint64 identity,
                                const QVariant &readVersion)
{
    QStringList assignments;
    for (const QString &column : columns)
        assignments << SqlText::quoted(column) + QStringLiteral(" = ?");
    QString condition = QStringLiteral("rowid = ?");
    if (readVersion.isValid())
        condition += QStringLiteral(" AND ") + RowVersion::expression({}, fieldNames(table)) +
                     QStringLiteral(" = ?");
    Statement update =
        prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                    .arg(table.qualified(), assignments.join(QStringLiteral(", ")), condition),
                table.fileName);
    for (int i = 0; i < values.size(); ++i)
        update.bind(i + 1, values[i]);
    update.bind(int(values.size()) + 1, identity);
    if (readVersion.isValid())
        update.bind(int(values.size()) + 2, readVersion);
    update.step();
    if (readVersion.isValid() && sqlite3_changes(m_db) == 0)
        throw RecordConflict(table.fileName +
                                 QStringLiteral(": запись изменена другим пользователем"),
                             !rowExists(table, identity));
    m_changes->publish();
    return identity;
}

QStringList FolderSession::fieldNames(const TableRef &table)
{
    QStringList names;
    for (const FieldDef &field : fields(table))
        names << field.name;
    return names;
}

bool FolderSession::rowExists(const TableRef &table, qint64 identity)
{
    Statement found = prepare(
        QStringLiteral("SELECT 1 FROM %1 WHERE rowid = ?").arg(table.qualified()), table.fileName);
    found.bind(1, identity);
    return found.step();
}

void FolderSession::deleteRow(const TableRef &table, qint64 identity)
{
    Statement remove = prepare(
        QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(table.qualified()), table.fileName);
    remove.bind(1, identity);
    remove.step();
    m_changes->publish();
}

QList<Session::ChangeNotice> FolderSession::changedElsewhere()
{
    return m_changes->elsewhere();
}

std::unique_ptr<TableChange> FolderSession::startTableChange(const QString &fileName, int position,
                                                             const QStringList &keptFields)
{
    return FolderStructureChange::start(*this, fileName, position, !keptFields.isEmpty(),
                                        m_keepAlive);
}

void FolderSession::removeChangeLeftovers()
{
    FolderStructureChange::removeCopies(m_directory);
}

QString FolderSession::foreignObjects(const QStringList &tableFiles)
{
    return ForeignObjects::listed(ForeignObjects::inCatalogue(m_directory, tableFiles));
}

void FolderSession::removeForeignObjects(const QStringList &tableFiles)
{
    const QList<ForeignObjects::Finding> findings =
        ForeignObjects::inCatalogue(m_directory, tableFiles);
    // The files are written again through connections of their own.
    detachAll();
    ForeignObjects::remove(m_directory, findings);
}

ValueLoss FolderSession::conversionLoss(const TableRef &table, const FieldDef &from,
                                        const FieldDef &to)
{
    return FolderStructureChange::conversionLoss(*this, table, from, to);
}
