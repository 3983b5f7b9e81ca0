#include "ChangeLog.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <sqlite3.h>

namespace {

constexpr char fileName[] = "Changes.log";
// Entries older than this many are dropped: a desk that looked away for
// that long follows each table as a whole, which it would do anyway.
constexpr qint64 keptEntries = 20000;
// The log is tidied after every so many entries, not after each one.
constexpr qint64 tidyEvery = 1000;
// A desk writing its entries holds the log for well under a millisecond.
constexpr int busyTimeoutMs = 500;

// Runs one statement with the values bound in order; false when it fails.
bool run(sqlite3 *db, const char *sql, const QVariantList &values = {})
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return false;
    for (int i = 0; i < values.size(); ++i) {
        if (values[i].isNull())
            sqlite3_bind_null(statement, i + 1);
        else if (values[i].typeId() == QMetaType::QString)
            sqlite3_bind_text(statement, i + 1, values[i].toString().toUtf8().constData(), -1,
                              SQLITE_TRANSIENT);
        else
            sqlite3_bind_int64(statement, i + 1, values[i].toLongLong());
    }
    int rc = sqlite3_step(statement);
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE;
}

} // namespace

ChangeLog::ChangeLog(const QString &directory)
    : m_path(QDir(directory).filePath(QLatin1String(fileName))),
      m_desk(qint64(QRandomGenerator::global()->generate64() >> 1))
{}

ChangeLog::~ChangeLog()
{
    sqlite3_close_v2(m_db);
}

bool ChangeLog::open()
{
    if (m_db || m_failed)
        return m_db != nullptr;
    const QByteArray path = QFile::encodeName(m_path);
    if (sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK ||
        !run(m_db, "PRAGMA journal_mode = WAL") || !run(m_db, "PRAGMA synchronous = OFF") ||
        sqlite3_busy_timeout(m_db, busyTimeoutMs) != SQLITE_OK ||
        !run(m_db, "CREATE TABLE IF NOT EXISTS Changes (Seq INTEGER PRIMARY KEY, TableFile TEXT "
                   "NOT NULL, FileCommit INTEGER NOT NULL, RowKey INTEGER, Desk INTEGER)") ||
        !run(m_db, "CREATE INDEX IF NOT EXISTS ChangesByCommit ON Changes (TableFile, "
                   "FileCommit)")) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        m_failed = true;
    }
    return m_db != nullptr;
}

void ChangeLog::write(const QList<Entry> &entries)
{
    if (entries.isEmpty() || !open() || !run(m_db, "BEGIN IMMEDIATE"))
        return;
    for (const Entry &entry : entries) {
        if (!run(m_db,
                 "INSERT INTO Changes (TableFile, FileCommit, RowKey, Desk) VALUES (?, ?, ?, ?)",
                 {entry.table.toUpper(), qint64(entry.commit),
                  entry.rowid ? QVariant(*entry.rowid) : QVariant(), m_desk})) {
            run(m_db, "ROLLBACK");
            return;
        }
    }
    const qint64 last = sqlite3_last_insert_rowid(m_db);
    if (last / tidyEvery != (last - entries.size()) / tidyEvery)
        forgetOldEntries(last);
    if (!run(m_db, "COMMIT"))
        run(m_db, "ROLLBACK");
}

void ChangeLog::forgetOldEntries(qint64 lastSeq)
{
    run(m_db, "DELETE FROM Changes WHERE Seq <= ?", {lastSeq - keptEntries});
}

std::optional<QList<ChangeLog::Entry>> ChangeLog::read(const QString &table, quint32 after,
                                                       quint32 upTo)
{
    if (!open())
        return std::nullopt;
    sqlite3_stmt *statement = nullptr;
    // A counter that went round past 2^32 reads its two ends.
    const char *sql = after <= upTo ? "SELECT FileCommit, RowKey, Desk FROM Changes WHERE "
                                      "TableFile = ?1 AND FileCommit > ?2 AND FileCommit <= ?3"
                                    : "SELECT FileCommit, RowKey, Desk FROM Changes WHERE "
                                      "TableFile = ?1 AND (FileCommit > ?2 OR FileCommit <= ?3)";
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return std::nullopt;
    const QByteArray name = table.toUpper().toUtf8();
    sqlite3_bind_text(statement, 1, name.constData(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(statement, 2, after);
    sqlite3_bind_int64(statement, 3, upTo);
    QList<Entry> entries;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        Entry entry{table, quint32(sqlite3_column_int64(statement, 0)), std::nullopt,
                    sqlite3_column_int64(statement, 2) == m_desk};
        if (sqlite3_column_type(statement, 1) != SQLITE_NULL)
            entry.rowid = sqlite3_column_int64(statement, 1);
        entries << entry;
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE)
        return std::nullopt;
    return entries;
}
