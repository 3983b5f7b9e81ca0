// Telling the desks of a folder catalogue which rows changed. Each table
// file counts its commits in its header; a writer notes the rows of each of
// its commits under that count in the change log, and a reader that sees the
// count move reads them back. The count is read while the writer holds the
// file's write lock, so no other commit comes between it and the writer's own.
#define SQLITE_ENABLE_PREUPDATE_HOOK
#include "FolderChanges.h"

#include <sqlite3.h>

namespace {

// A commit that changes more rows than this is noted as a change of its
// whole table: the lists read their keys again rather than row by row.
constexpr int maxRowsNamed = 100;
// More commits than this since the last look are followed as a whole too.
constexpr quint32 maxCommitsFollowed = 1000;

} // namespace

FolderChanges::FolderChanges(sqlite3 *db, const QString &directory,
                             const QHash<QString, QString> &schemaFiles)
    : m_db(db), m_schemaFiles(schemaFiles), m_log(directory)
{
    sqlite3_preupdate_hook(
        m_db,
        [](void *self, sqlite3 *, int change, const char *schema, const char *, sqlite3_int64 rowid,
           sqlite3_int64 newRowid) {
            // An insert has only its new rowid, a delete only its old one.
            auto *changes = static_cast<FolderChanges *>(self);
            if (change != SQLITE_INSERT)
                changes->rowWritten(schema, rowid);
            if (change != SQLITE_DELETE)
                changes->rowWritten(schema, newRowid);
        },
        this);
    sqlite3_commit_hook(
        m_db,
        [](void *self) {
            static_cast<FolderChanges *>(self)->committed();
            return 0;
        },
        this);
    sqlite3_rollback_hook(
        m_db, [](void *self) { static_cast<FolderChanges *>(self)->rolledBack(); }, this);
}

void FolderChanges::attached(const QString &schema)
{
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(m_db, schema.toUtf8().constData(), SQLITE_FCNTL_FILE_POINTER, &file) ==
            SQLITE_OK &&
        file && file->pMethods)
        m_files.insert(schema, file);
}

void FolderChanges::detached(const QString &schema)
{
    // What was seen of the file stays: attached again, it is compared with
    // the commits it counts then.
    m_files.remove(schema);
    m_writing.remove(schema);
}

// The file change counter: four bytes, most significant first, at offset 24
// of the header. Read through SQLite's own handle of the file: a descriptor
// of our own, once closed, would drop the locks SQLite holds on it.
std::optional<quint32> FolderChanges::commitsOf(const QString &schema) const
{
    sqlite3_file *file = m_files.value(schema);
    if (!file)
        return std::nullopt;
    unsigned char bytes[4] = {};
    const int rc = file->pMethods->xRead(file, bytes, 4, 24);
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ)
        return std::nullopt;
    return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
}

// Called before each row is written, the file's write lock held.
void FolderChanges::rowWritten(const char *schema, qint64 rowid)
{
    // A copy of a whole table passes here a million times: once its file is
    // noted as a whole, its rows cost a comparison.
    if (schema == m_wholeSchema)
        return;
    const QString name = QString::fromUtf8(schema);
    if (!m_files.contains(name))
        return;
    auto written = m_writing.find(name);
    if (written == m_writing.end()) {
        const auto commits = commitsOf(name);
        if (!commits)
            return;
        written = m_writing.insert(name, Written{*commits + 1, {}, false});
    }
    if (written->whole)
        return;
    written->rows << rowid;
    if (written->rows.size() > maxRowsNamed) {
        written->whole = true;
        written->rows.clear();
        m_wholeSchema = schema;
    }
}

void FolderChanges::committed()
{
    m_lastCommitted = 0;
    for (auto it = m_writing.cbegin(); it != m_writing.cend(); ++it) {
        const QString file = m_schemaFiles.value(it.key());
        if (it->whole)
            m_committed << ChangeLog::Entry{file, it->commit, std::nullopt};
        for (const qint64 rowid : it->rows)
            m_committed << ChangeLog::Entry{file, it->commit, rowid};
        m_lastCommitted += it->whole ? 1 : it->rows.size();
    }
    m_writing.clear();
    m_wholeSchema = nullptr;
}

// A commit that failed after its hook is undone here too: its entries would
// name a count another commit takes.
void FolderChanges::rolledBack()
{
    m_writing.clear();
    m_wholeSchema = nullptr;
    m_committed.resize(m_committed.size() - m_lastCommitted);
    m_lastCommitted = 0;
}

void FolderChanges::publish()
{
    if (m_committed.isEmpty() || sqlite3_get_autocommit(m_db) == 0)
        return;
    m_log.write(m_committed);
    m_committed.clear();
    m_lastCommitted = 0;
}

std::optional<QList<qint64>> FolderChanges::rowsBetween(const QString &file, quint32 after,
                                                        quint32 upTo)
{
    if (quint32(upTo - after) > maxCommitsFollowed)
        return std::nullopt;
    const auto entries = m_log.read(file, after, upTo);
    if (!entries)
        return std::nullopt;
    QSet<quint32> noted;
    QList<qint64> rows;
    for (const ChangeLog::Entry &entry : *entries) {
        noted << entry.commit;
        // This desk's own changes are known to it already.
        if (entry.ours)
            continue;
        if (!entry.rowid)
            return std::nullopt;
        if (!rows.contains(*entry.rowid))
            rows << *entry.rowid;
    }
    for (quint32 commit = after + 1; commit != upTo + 1; ++commit) {
        if (!noted.contains(commit))
            return std::nullopt;
    }
    return rows;
}

// A commit whose entries the log lacks is looked for once more at the next
// look (its writer notes it just after committing); then its table is
// followed as a whole.
QList<Session::ChangeNotice> FolderChanges::elsewhere()
{
    publish();
    QList<Session::ChangeNotice> notices;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        const auto now = commitsOf(it.key());
        if (!now)
            continue;
        const QString file = m_schemaFiles.value(it.key()).toUpper();
        const auto seen = m_seen.find(file);
        if (seen == m_seen.end()) {
            m_seen.insert(file, Seen{*now, false});
            continue;
        }
        if (*now == seen->commit)
            continue;
        const auto rows = rowsBetween(file, seen->commit, *now);
        if (!rows && !seen->waited) {
            seen->waited = true;
            continue;
        }
        *seen = Seen{*now, false};
        if (!rows)
            notices << Session::ChangeNotice{file, std::nullopt};
        else
            for (const qint64 rowid : *rows)
                notices << Session::ChangeNotice{file, rowid};
    }
    return notices;
}
