#pragma once

#include <QList>
#include <QString>
#include <optional>

struct sqlite3;

// Which rows each commit to a table file changed, kept for the other desks of
// a folder catalogue in a file of our own beside the tables (Changes.log, an
// SQLite file). SQLite counts the commits to each file in the file's header
// (its change counter); an entry names its commit by that count. A desk that
// sees a file's count move reads the entries of the commits in between, and
// where one is missing (the sqlite3 shell, a pack, a desk stopped before it
// wrote) it follows the table as a whole. The counters check the log, so the
// log is written without waiting for the disk, and a log that cannot be
// opened or read only makes every change a change of a whole table.
class ChangeLog
{
public:
    struct Entry
    {
        QString table;               // the table file, FIRMS.DB
        quint32 commit;              // the file's change counter after the commit
        std::optional<qint64> rowid; // none: any rows of the table
        bool ours = false;           // written by this session
    };

    explicit ChangeLog(const QString &directory);
    ~ChangeLog();
    ChangeLog(const ChangeLog &) = delete;
    ChangeLog &operator=(const ChangeLog &) = delete;

    void write(const QList<Entry> &entries);
    // The entries of `table` whose commit lies in (after, upTo]; nullopt when
    // the log cannot be read.
    std::optional<QList<Entry>> read(const QString &table, quint32 after, quint32 upTo);

private:
    bool open();
    void forgetOldEntries(qint64 lastSeq);

    QString m_path;
    sqlite3 *m_db = nullptr;
    bool m_failed = false;
    qint64 m_desk; // tells this session's entries from the others'
};
