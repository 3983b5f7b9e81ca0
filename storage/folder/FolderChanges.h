#pragma once

#include "ChangeLog.h"
#include "Session.h"

#include <QHash>
#include <QSet>

struct sqlite3;
struct sqlite3_file;

// The rows this connection changes in each table file, written to the
// catalogue's change log once their commit is done, and the rows other
// connections changed, read from it whenever a file's commit count moved.
class FolderChanges
{
public:
    // `schemaFiles` maps each attached schema to its table file.
    FolderChanges(sqlite3 *db, const QString &directory,
                  const QHash<QString, QString> &schemaFiles);

    void attached(const QString &schema);
    void detached(const QString &schema);
    // Writes the rows of the commits done since the last call to the log.
    void publish();
    QList<Session::ChangeNotice> elsewhere();

private:
    // What the transaction under way changed in one table file.
    struct Written
    {
        quint32 commit = 0; // the file's commit count once it commits
        QSet<qint64> rows;
        bool whole = false; // too many rows to name them
    };
    // Where this desk stands in another desk's commits to a file.
    struct Seen
    {
        quint32 commit = 0;
        bool waited = false; // the log lacked an entry at the last look
    };

    std::optional<quint32> commitsOf(const QString &schema) const;
    void rowWritten(const char *schema, qint64 rowid);
    void committed();
    void rolledBack();
    // The rows other desks changed in the commits (after, upTo] of `file`;
    // nullopt when some commit is not known row by row.
    std::optional<QList<qint64>> rowsBetween(const QString &file, quint32 after, quint32 upTo);

    sqlite3 *m_db;
    const QHash<QString, QString> &m_schemaFiles;
    ChangeLog m_log;
    QHash<QString, sqlite3_file *> m_files; // schema -> its open file
    QHash<QString, Written> m_writing;      // schema -> the transaction's rows
    const char *m_wholeSchema = nullptr;    // SQLite's name of a file noted as a whole
    QList<ChangeLog::Entry> m_committed;    // done, not yet in the log
    qsizetype m_lastCommitted = 0;          // how many of them the last commit added
    QHash<QString, Seen> m_seen;            // table file -> commits followed
};
