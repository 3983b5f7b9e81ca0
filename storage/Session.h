#pragma once

#include "Statement.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

struct sqlite3;

// A table of the catalogue as the connection sees it: the schema its file is
// attached under, the table's name inside the file, and the file's name.
struct TableRef
{
    QString schema;
    QString table;
    QString fileName;

    // "schema"."table", quoted for SQL.
    QString qualified() const;
};

// The connection context. One SQLite connection whose table files (one file
// per table, in the data directory) are attached on demand under their file
// name without extension, so that the catalogue's SQL texts run as written.
// Every table a text names is read from that table's own file: the text is
// run with each name qualified by its file's schema. Nothing but tables and
// indexes of a file ever runs: triggers and views are switched off on the
// connection, since the program creates none.
class Session
{
public:
    explicit Session(QString directory);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    QString directory() const { return m_directory; }

    // Prepares `sql`, attaching every table file it names that is not attached
    // yet. A statement that would write is refused while the session is read-only.
    Statement prepare(const QString &sql, const QString &context = {});
    // Runs a statement that returns no rows.
    void execute(const QString &sql, const QString &context = {});

    // The table stored in the file `fileName` (matched without regard to case).
    TableRef tableByFile(const QString &fileName);
    // The table a SQL text calls `name` (matched without regard to case).
    TableRef tableByName(const QString &name);

    // The path of `fileName` in the data directory, as spelt on disk; empty when absent.
    QString findFile(const QString &fileName) const { return findFileIn(m_directory, fileName); }
    static QString findFileIn(const QString &directory, const QString &fileName);

    // Forgets every attached file, e.g. before files are replaced or removed.
    void detachAll();
    // Forgets one attached file; false when it is in use.
    bool detach(const QString &fileName);

    // Refuses every statement that would write, saying `reason`; an empty
    // reason allows writing again.
    void setReadOnly(const QString &reason);
    bool isReadOnly() const { return !m_readOnlyReason.isEmpty(); }

    // Milliseconds to wait for a table that another program holds.
    void setBusyTimeout(int milliseconds);

    // Called every few dozen milliseconds while a statement runs.
    void setKeepAlive(std::function<void()> keepAlive);

    sqlite3 *handle() const { return m_db; }
    bool inTransaction() const;

    // A write transaction over every attached file: committed by commit(),
    // rolled back if it goes out of scope first. Nested uses become savepoints.
    class Transaction
    {
    public:
        explicit Transaction(Session &session);
        ~Transaction();
        void commit();

    private:
        Session &m_session;
        bool m_nested = false;
        bool m_done = false;
    };

private:
    QString attachFile(const QString &path);
    // The schema of the table file `fileName`, attached first if need be;
    // empty when the data directory holds no such file.
    QString attachedSchema(const QString &fileName);
    // Throws when the data directory is no longer the folder the attached
    // files came from (a restore put another in its place meanwhile).
    void requireSameDirectory() const;
    void hardenConnection();
    void makeRoomForAttachment();
    QString schemaFor(const QString &fileName) const;
    QString contextOf(const QString &sql) const;
    TableRef describeAttached(const QString &schema);

    QString m_directory;
    sqlite3 *m_db = nullptr;
    QHash<QString, QString> m_schemaFiles; // schema -> file name
    QStringList m_attachOrder;             // least recently attached first
    std::function<void()> m_keepAlive;
    QElapsedTimer m_sinceKeepAlive;
    QString m_readOnlyReason;
    // The data directory as it was when the first file was attached.
    std::pair<quint64, quint64> m_directoryIdentity{0, 0};
};
