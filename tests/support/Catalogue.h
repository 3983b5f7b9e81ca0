#pragma once

#include "Query.h"
#include "Session.h"
#include "Table.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Test support: a catalogue of the kind the tests run on, tables made by the
// engine's own table-definition texts, and a look at what is stored through
// the stock tool of that kind (the sqlite3 shell, or psql).
namespace TestCatalogue {

// Where a test's catalogue lives. Without QUILLON_TEST_SERVER it is the
// folder "Data" in a private temporary folder (not made yet); with it (the
// URI of the test server's maintenance database) a fresh database of that
// server, dropped again at the end.
class Place
{
public:
    Place();
    ~Place();
    Place(const Place &) = delete;
    Place &operator=(const Place &) = delete;

    static bool testsRunOnServer();

    QString location() const { return m_location; }
    bool onServer() const { return !m_database.isEmpty(); }
    // A private folder beside the catalogue for the test's other files.
    QString scratch(const QString &file = {}) const;

    // A session on the catalogue; a missing folder is made.
    std::unique_ptr<Session> open() const;

    // What the stock tool prints for `sql` run where `table` is stored (rows
    // one a line, fields split by '|', blanks empty), errors included.
    QString stored(const QString &table, const QString &sql) const;
    // The fields of a stored table with their declared types, one a line:
    // "FirmID AutoInc".
    QString storedColumns(const QString &table) const;
    // The space a stored table takes, in bytes.
    qint64 storedSize(const QString &table) const;
    // The names of a stored table's indexes, one a line, in order; the
    // primary index is "Primary".
    QString storedIndexes(const QString &table) const;
    // The fields of one stored index, joined by ',', in lower case.
    QString storedIndexFields(const QString &table, const QString &index) const;
    // Everything stored, as one text: equal texts, equal catalogues.
    QByteArray snapshot() const;
    // Removes a stored table.
    void removeTable(const QString &table) const;

private:
    QTemporaryDir m_dir;
    QString m_database;
    QString m_location;
};

// A PostgreSQL server of a test's own, started at once, stopped and removed
// at the end; the test may stop it and start it again (the shared test
// server serves other tests meanwhile).
class OwnServer
{
public:
    OwnServer();
    ~OwnServer();
    OwnServer(const OwnServer &) = delete;
    OwnServer &operator=(const OwnServer &) = delete;

    QString uri() const { return m_uri; }
    QString folder() const { return m_folder; }
    void pause() { run(QStringLiteral("pause")); }
    void resume() { run(QStringLiteral("resume")); }

private:
    QString run(const QString &action) const;
    QString m_folder;
    QString m_uri;
};

// Another program (the kind's stock tool) holding a stored table against
// writes, from its construction until it is released.
class TableHolder
{
public:
    TableHolder(const Place &place, const QString &table);
    ~TableHolder();
    TableHolder(const TableHolder &) = delete;
    TableHolder &operator=(const TableHolder &) = delete;
    bool holds() const { return m_held; }
    void release();

private:
    QProcess m_tool;
    bool m_server;
    bool m_held = false;
};

// The create statement for `fileName` with fields given as {name, type} pairs,
// in the line layout the structure verifier uses.
QString createStatement(const QString &fileName, const QList<std::pair<QString, QString>> &fields);

// Creates the catalogue's firm, item, folder, group, relation and file tables
// with their primary keys and indexes.
void createCatalogue(Session &session);

// Adds `count` rows to a table in one transaction, many a statement. An
// auto-increment key written here is never handed out afterwards.
void insertRows(Session &session, const QString &table, const QStringList &columns, int count,
                const std::function<QVariantList(int)> &row);

// A table dataset and a query dataset on a session, not yet open.
std::unique_ptr<Table> openTable(Session &session, const QString &file);
std::unique_ptr<Query> openQuery(Session &session, const QStringList &sql, bool live = false);
// What other desks changed, as `session`'s notices tell it: waited for, a
// server's notices coming a moment after the commit.
QList<Session::ChangeNotice> noticesOf(Session &session);

// Another desk, as another copy of the program: a session of its own posts
// `changes` (field, value) to the first row of `file` whose field
// `row.first` holds `row.second`, through a dataset; no changes delete it.
void changeAtAnotherDesk(const Place &place, const QString &file,
                         const std::pair<QString, QVariant> &row,
                         const QList<std::pair<QString, QVariant>> &changes = {});

// A fresh start for a data module: the alias points at `location` (a folder
// is made now if need be, empty) and no settings are stored.
void pointAliasAt(const QString &location);

// Runs the sqlite3 shell on one table file and returns what it printed; with
// `extension`, the shell has the program's collation and upper() first.
QString shell(const QString &file, const QString &sql, bool extension = false);

// Every row of every table of a data directory, as the stock shell prints them.
QString contents(const QString &directory, const QStringList &tables);

} // namespace TestCatalogue
