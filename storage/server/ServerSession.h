#pragma once

#include "PgResult.h"
#include "Session.h"

#include <QHash>
#include <optional>

struct pg_conn;

// The server kind: one database of a PostgreSQL server per catalogue, reached
// through libpq. Each designed table is a table of the schema "public" named
// as its file without extension, in lower case, so that the catalogue's SQL
// texts run as written; its fields are columns named in lower case, each
// carrying its declaration ("FirmID AutoInc") as its comment, and every text
// column is in the catalogue's collation (the same ICU collation as the
// folder kind's RU).
class ServerSession : public Session
{
public:
    // Connects; throws with the server and the cause when it cannot.
    explicit ServerSession(QString uri);
    ~ServerSession() override;

    QString location() const override { return m_uri; }
    const SqlDialect &dialect() const override;

    Statement prepare(const QString &sql, const QString &context = {}) override;

    bool hasTable(const QString &fileName) override;
    TableRef tableByFile(const QString &fileName) override;

    QList<FieldDef> fields(const TableRef &table) override;
    QList<IndexDef> indexes(const TableRef &table) override;
    void addIndex(const QString &fileName, const IndexDef &index) override;
    void deleteIndex(const QString &fileName, const QString &indexName) override;
    bool hasSameIndex(const QString &fileName, const IndexDef &index) override;
    void createTable(const QString &fileName, const QList<FieldDef> &fields) override;
    void alterTable(const QString &fileName, const QList<AlterAction> &actions) override;
    std::unique_ptr<TableChange> startTableChange(const QString &fileName, int position,
                                                  const QStringList &keptFields) override;
    void removeChangeLeftovers() override {}
    // Only the program's own role makes tables in a catalogue's database.
    QString foreignObjects(const QStringList &) override { return {}; }
    void removeForeignObjects(const QStringList &) override {}
    ValueLoss conversionLoss(const TableRef &table, const FieldDef &from,
                             const FieldDef &to) override;
    int packTable(const QString &fileName, QString *message = nullptr) override;
    qint64 storedSize(const QString &fileName) override;
    bool holdsTables() override;
    void dropTable(const QString &fileName) override;
    void writeTableFiles(const QStringList &tables, const QString &folder,
                         const std::function<void(double)> &progress) override;

    qint64 nextAutoIncrement(const TableRef &table, const QString &field) override;
    void keepAutoIncrementAbove(const TableRef &table, const QString &field, qint64 used) override;
    qint64 keysHandedOut(const TableRef &table, const QString &field) override;

    qint64 insertRow(const TableRef &table, const QList<FieldDef> &columns,
                     QVariantList &values) override;
    qint64 updateRow(const TableRef &table, const QStringList &columns, const QVariantList &values,
                     qint64 identity, const QVariant &readVersion) override;
    void deleteRow(const TableRef &table, qint64 identity) override;

    QList<ChangeNotice> changedElsewhere() override;
    std::unique_ptr<MaintenanceLock> lockForMaintenance(IfHeld ifHeld) override;
    QStringList otherDesks() override;
    void setBusyTimeout(int milliseconds) override;
    void setKeepAlive(std::function<void()> keepAlive) override { m_keepAlive = keepAlive; }
    void setTrace(std::function<void(const QString &sql)> trace) override { m_trace = trace; }
    void releaseTables() override { forgetStructure(); }
    bool inTransaction() const override;

    // Runs a text in the server's own dialect with positional values ($1...),
    // waiting for the result while the window repaints; throws the server's
    // error naming `context`. Reconnects first when the connection was lost.
    PgResult run(const QString &sql, const QVariantList &values = {}, const QString &context = {});

    // A column of a table as the catalogue names and declares it.
    struct Column
    {
        QString name;         // as declared ("FirmID")
        QString declaredType; // as declared ("AutoInc")
    };
    // A column of a result that comes straight from a table; empty when unknown.
    Column columnOf(unsigned tableOid, int columnNumber);

    // The field's declaration as its column's comment holds it.
    static QString declarationComment(const FieldDef &field);
    // The server's type for a declared field.
    static QString columnType(const FieldDef &field);
    // The table that holds the catalogue's table `fileName`, quoted.
    static QString tableName(const QString &fileName);
    static QString indexName(const QString &fileName, const QString &index);
    // The collation every text column is declared in.
    static const char *const collation;

    // The structure change under way, whose copy of the replaced values
    // follows rows that an alter moves.
    void setChangeCopy(const QString &copyTable) { m_changeCopy = copyTable; }

protected:
    void beginTransaction(bool nested) override;
    void commitTransaction(bool nested) override;
    void rollbackTransaction(bool nested) noexcept override;

private:
    void connect();
    void setUp();
    void noteWhatTheRoleMayDo();
    void announceChange(pg_result *result, const QString &context);
    // The channel of the change notices every desk of a catalogue listens on.
    static constexpr char changesChannel[] = "quillon_changes";
    void ensureConnected();
    QString describeServer() const;
    static QString programName();
    [[noreturn]] void throwConnectionLost(const QString &context);
    [[noreturn]] void throwResultError(pg_result *result, const QString &context);
    PgResult waitForResult(const QString &context);
    void ensureCollation();
    void forgetStructure()
    {
        m_columns.clear();
        m_tables.clear();
        m_fields.clear();
        m_indexes.clear();
    }
    unsigned tableOid(const QString &fileName);
    static QString nextKey(const TableRef &table, const QString &field);
    void numberNewRows(const TableRef &table, const QString &column);
    bool rowExists(const TableRef &table, qint64 identity);
    // The journal of where rows known by their place were moved by updates.
    static constexpr char rowMovesName[] = "quillon_row_moves";
    static QString rowMovesTable();
    bool keepsRowMoves();
    void noteRowMove(const TableRef &table, qint64 from, const QString &fromVersion, qint64 to,
                     const QString &toVersion);
    std::optional<qint64> placeNow(const TableRef &table, qint64 place, QString version);

    QString m_uri;
    pg_conn *m_conn = nullptr;
    int m_lockTimeoutMs;
    std::function<void()> m_keepAlive;
    std::function<void(const QString &)> m_trace;
    QHash<quint64, Column> m_columns; // (table << 16 | column) -> as declared
    // Tables already looked up, by their file name in upper case: a list
    // names its table at every page, and the server's catalogue is a query away.
    QHash<QString, TableRef> m_tables;
    // Fields and indexes of the tables, by file name in upper case: every
    // dataset opened at start asks for them, each a query of the server's
    // catalogue; a structure change made here forgets them.
    QHash<QString, QList<FieldDef>> m_fields;
    QHash<QString, QList<IndexDef>> m_indexes;
    QString m_changeCopy;
    std::optional<bool> m_keepsRowMoves; // known once asked
};
