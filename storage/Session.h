#pragma once

#include "FieldDef.h"
#include "Statement.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <span>

// A table of the catalogue as a connection reaches it.
struct TableRef
{
    QString schema;   // where the table lives: a table file's schema, or the server's
    QString table;    // its name there
    QString fileName; // its name in the description (FIRMS.DB), which messages use
    // The column that tells one row from another, as the kind keeps it.
    QString rowIdentity;

    // "schema"."table", quoted for SQL.
    QString qualified() const;
};

// How one kind of catalogue writes the SQL that datasets and the structure
// check build around the catalogue's own texts.
class SqlDialect
{
public:
    virtual ~SqlDialect() = default;

    // A table or field name as statements write it.
    virtual QString name(const QString &identifier) const = 0;
    // A whole number of each row of `table` (reached as `alias` when given)
    // that stays the row's own while the list is shown.
    virtual QString rowIdentity(const TableRef &table, const QString &alias) const = 0;
    // A condition that holds for the rows with these numbers.
    virtual QString rowsAmong(const TableRef &table, const QString &alias,
                              std::span<const qint64> identities) const = 0;
    // An ORDER BY list in the catalogue's alphabetical order.
    virtual QString collatedOrderBy(const QString &orderBy) const = 0;
    // A text column compared in the lists' order.
    virtual QString inListOrder(const QString &column) const = 0;
    // A value that changes whenever the row of `table` with these `columns`
    // changes, so that a post can tell whether it still holds what was read.
    virtual QString rowVersion(const TableRef &table, const QString &alias,
                               const QStringList &columns) const = 0;
    // A condition: the text `text` begins with `prefix`, letter for letter.
    virtual QString startsWith(const QString &text, const QString &prefix) const = 0;
};

// Values of a field that a change of its definition would not keep.
struct ValueLoss
{
    qint64 count = 0;
    qint64 tooLong = 0; // of them, texts longer than the new size
    QString example;

    void note(const QString &value)
    {
        if (count++ == 0)
            example = value;
    }
};

class Session;

// One table's structure changed as one transaction: the alter, the values of
// the replaced fields put back, the key and indexes declared again. Undone
// unless committed, also after a crash.
class TableChange
{
public:
    virtual ~TableChange() = default;
    // Where the statements of the change run.
    virtual Session &session() = 0;
    // Puts back the values the replaced fields held before the alter,
    // converted to their new definitions as a field stores them.
    virtual void restoreValues(const QList<FieldDef> &replaced) = 0;
    virtual void commit() = 0;
};

struct AlterAction
{
    enum Kind
    {
        Add,
        Drop
    } kind;
    FieldDef field; // for Drop only the name counts
};

// The connection context: the one interface to a catalogue, whichever kind
// it is. A folder of table files (SQLite, one file per table) and a database
// on a PostgreSQL server each implement it in a place of their own; every
// caller above this interface runs the same code on both.
class Session
{
public:
    virtual ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Opens the catalogue at `location`: a folder, or a server database given
    // by a libpq URI ("postgresql://host/dbname?sslmode=..."). A missing
    // folder is made (one level) when `createFolder` is set; a server
    // database must exist. Throws with the cause when it cannot be reached.
    static std::unique_ptr<Session> open(const QString &location, bool createFolder = false);

    // Where the catalogue is: the folder, or the server's URI.
    virtual QString location() const = 0;
    virtual const SqlDialect &dialect() const = 0;

    // Prepares a statement of the catalogue's SQL; `context` names the table
    // that error messages blame (by default the first the text names). A
    // statement that would write is refused while the session is read-only.
    virtual Statement prepare(const QString &sql, const QString &context = {}) = 0;
    // Runs a statement that returns no rows.
    void execute(const QString &sql, const QString &context = {});

    // Tables, by their name in the description (FIRMS.DB), letter case ignored.
    virtual bool hasTable(const QString &fileName) = 0;
    virtual TableRef tableByFile(const QString &fileName) = 0;
    // The table a SQL text calls `name` ("Firms").
    TableRef tableByName(const QString &name);

    // Structure of a table, whether a dataset has it open or not.
    virtual QList<FieldDef> fields(const TableRef &table) = 0;
    virtual QList<IndexDef> indexes(const TableRef &table) = 0;
    // Adds an index. The primary index (no name, `primary` set) may be
    // declared again: when the table already has that very key, nothing changes.
    virtual void addIndex(const QString &fileName, const IndexDef &index) = 0;
    virtual void deleteIndex(const QString &fileName, const QString &indexName) = 0;
    // True when the table has an index of that name just as addIndex would
    // make it: the same fields in the same order, unique alike, text fields
    // in list order alike. Declaring such an index again changes nothing.
    virtual bool hasSameIndex(const QString &fileName, const IndexDef &index) = 0;
    bool hasIndex(const QString &fileName, const QString &indexName);
    // Creates a table of the fields' declared types; it appears whole or not at all.
    virtual void createTable(const QString &fileName, const QList<FieldDef> &fields) = 0;
    // Drops and adds fields in one transaction.
    virtual void alterTable(const QString &fileName, const QList<AlterAction> &actions) = 0;
    // Starts changing the structure of the table at `position` in the
    // description; the values of `keptFields` come back after an alter.
    virtual std::unique_ptr<TableChange> startTableChange(const QString &fileName, int position,
                                                          const QStringList &keptFields) = 0;
    // What is left of changes that were cut short goes.
    virtual void removeChangeLeftovers() = 0;
    // What the tables `tableFiles` hold besides what the program itself
    // creates (triggers, views, rules that came with a copy from elsewhere),
    // one line a finding ("FIRMS.DB: триггер «wipe»"); empty when nothing.
    virtual QString foreignObjects(const QStringList &tableFiles) = 0;
    // Makes those tables again as the program would, keeping their rows.
    virtual void removeForeignObjects(const QStringList &tableFiles) = 0;
    // The values of `from` that would not survive being stored as `to`.
    virtual ValueLoss conversionLoss(const TableRef &table, const FieldDef &from,
                                     const FieldDef &to) = 0;
    // Gives back the space of deleted rows. 0 on success, else the engine's
    // error code, with the cause in `message`.
    virtual int packTable(const QString &fileName, QString *message = nullptr) = 0;
    // The bytes a table takes where it is stored, to tell what a pack gave back.
    virtual qint64 storedSize(const QString &fileName) = 0;
    // Whether any table is stored there yet (a table file in the folder, a
    // table in the server's database): a copy goes into an empty place only.
    virtual bool holdsTables() = 0;
    // Removes a table with its rows and indexes; nothing when there is none.
    virtual void dropTable(const QString &fileName) = 0;
    // Writes each table of `tables` into `folder` as a table file of a folder
    // catalogue (the form of a backup), all as they stood at one moment: a
    // save made meanwhile is in every file or in none. `progress` hears how
    // far the writing has come, from 0 to 1.
    virtual void writeTableFiles(const QStringList &tables, const QString &folder,
                                 const std::function<void(double)> &progress) = 0;

    // Auto-increment keys: never handed out twice, also after deletes.
    virtual qint64 nextAutoIncrement(const TableRef &table, const QString &field) = 0;
    // Makes sure no key up to `used` (written by hand) is handed out later.
    virtual void keepAutoIncrementAbove(const TableRef &table, const QString &field,
                                        qint64 used) = 0;
    // The highest auto-increment key handed out so far (0 for none), so that
    // a copy of a table goes on from where the original stood.
    virtual qint64 keysHandedOut(const TableRef &table, const QString &field) = 0;

    // Rows by their identity. An insert fills the auto-increment field's value
    // into `values` and returns the new row's identity; an update returns the
    // identity the row has afterwards. Given the `readVersion` (its
    // rowVersion when it was read), an update changes the row only while it
    // still has that version, and throws RecordConflict otherwise.
    virtual qint64 insertRow(const TableRef &table, const QList<FieldDef> &columns,
                             QVariantList &values) = 0;
    virtual qint64 updateRow(const TableRef &table, const QStringList &columns,
                             const QVariantList &values, qint64 identity,
                             const QVariant &readVersion) = 0;
    virtual void deleteRow(const TableRef &table, qint64 identity) = 0;

    // What other connections changed since the last call: another desk, a
    // command-line action, another window. A notice names a row where the
    // kind can tell which one; otherwise the table as a whole. Cheap enough
    // to ask several times a second; nothing is read from the tables.
    struct ChangeNotice
    {
        QString table;                  // by its name in the description, FIRMS.DB; "*" for any
        std::optional<qint64> identity; // the row inserted, changed or deleted
        bool operator==(const ChangeNotice &) const = default;
    };
    virtual QList<ChangeNotice> changedElsewhere() = 0;

    // Held while the structure check, a pack or a restore works on the
    // catalogue, so that they run one at a time; let go when destroyed.
    class MaintenanceLock
    {
    public:
        virtual ~MaintenanceLock() = default;
    };
    // What to do when another program holds the lock: wait for it within a
    // bound (desks started together each check in turn), or refuse at once.
    enum class IfHeld
    {
        Wait,
        Refuse
    };
    // Takes the lock, or throws saying that another program holds it.
    virtual std::unique_ptr<MaintenanceLock> lockForMaintenance(IfHeld ifHeld) = 0;
    // The other programs connected to the catalogue now, one line each, in
    // words for a person ("anna, 192.168.1.7, с 10:02"); this program's own
    // connections are not among them. Empty where the kind keeps no
    // connections (a folder: its windows are counted apart).
    virtual QStringList otherDesks() = 0;

    // Milliseconds to wait for a table that another program holds.
    virtual void setBusyTimeout(int milliseconds) = 0;
    // Called every few dozen milliseconds while a statement runs.
    virtual void setKeepAlive(std::function<void()> keepAlive) = 0;
    // Called with the text of every statement as it runs, its values written
    // in (for tests, and for benchmarks that run it again in a stock tool).
    virtual void setTrace(std::function<void(const QString &sql)> trace) = 0;
    // Lets go of every table, e.g. before their storage is replaced or packed.
    virtual void releaseTables() = 0;

    // A write transaction: committed by commit(), rolled back if it goes out
    // of scope first. Nested uses become savepoints.
    class Transaction
    {
    public:
        explicit Transaction(Session &session);
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
        void commit();

    private:
        Session &m_session;
        bool m_nested = false;
        bool m_done = false;
    };
    virtual bool inTransaction() const = 0;

    // Refuses every statement that would write, saying `reason`; an empty
    // reason allows writing again.
    void setReadOnly(const QString &reason) { m_readOnlyReason = reason; }
    bool isReadOnly() const { return !m_readOnlyReason.isEmpty(); }
    QString readOnlyReason() const { return m_readOnlyReason; }
    // Throws the reason when the session is read-only.
    void requireWritable() const;

protected:
    Session() = default;
    virtual void beginTransaction(bool nested) = 0;
    virtual void commitTransaction(bool nested) = 0;
    virtual void rollbackTransaction(bool nested) noexcept = 0;

private:
    QString m_readOnlyReason;
};

// Keys are 32-bit integers on both kinds: the windows hold them as such.
inline constexpr qint64 maxKey = 2147483647;
