#pragma once

#include "Session.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>

struct sqlite3;
class FolderChanges;

// The folder kind: one SQLite connection whose table files (one file per
// table, in the data directory) are attached on demand under their file
// name without extension, so that the catalogue's SQL texts run as written.
// Every table a text names is read from that table's own file: the text is
// run with each name qualified by its file's schema. Nothing but tables and
// indexes of a file ever runs: triggers and views are switched off on the
// connection, since the program creates none.
class FolderSession : public Session
{
public:
    explicit FolderSession(QString directory);
    ~FolderSession() override;

    // A session on `directory`; a missing one is made (one level) when asked.
    static std::unique_ptr<FolderSession> open(const QString &directory, bool createFolder);

    QString directory() const { return m_directory; }
    QString location() const override { return m_directory; }
    const SqlDialect &dialect() const override;

    Statement prepare(const QString &sql, const QString &context = {}) override;

    bool hasTable(const QString &fileName) override { return !findFile(fileName).isEmpty(); }
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
    void removeChangeLeftovers() override;
    QString foreignObjects(const QStringList &tableFiles) override;
    void removeForeignObjects(const QStringList &tableFiles) override;
    ValueLoss conversionLoss(const TableRef &table, const FieldDef &from,
                             const FieldDef &to) override;
    int packTable(const QString &fileName, QString *message = nullptr) override;
    qint64 storedSize(const QString &fileName) override
    {
        return QFileInfo(findFile(fileName)).size();
    }
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
    // Each table file's change is a transaction of its own in SQLite, and
    // the window of a folder catalogue refuses commands that would write
    // under it: nothing more to hold.
    std::unique_ptr<MaintenanceLock> lockForMaintenance(IfHeld) override
    {
        return std::make_unique<MaintenanceLock>();
    }
    QStringList otherDesks() override { return {}; }
    void setBusyTimeout(int milliseconds) override;
    void setKeepAlive(std::function<void()> keepAlive) override;
    void setTrace(std::function<void(const QString &sql)> trace) override;
    void releaseTables() override { detachAll(); }
    bool inTransaction() const override;

    // The path of `fileName` in the data directory, as spelt on disk; empty when absent.
    QString findFile(const QString &fileName) const { return findFileIn(m_directory, fileName); }
    static QString findFileIn(const QString &directory, const QString &fileName);

    // Forgets every attached file, e.g. before files are replaced or removed.
    void detachAll();
    // Forgets one attached file; false when it is in use.
    bool detach(const QString &fileName);

    sqlite3 *handle() const { return m_db; }

protected:
    void beginTransaction(bool nested) override;
    void commitTransaction(bool nested) override;
    void rollbackTransaction(bool nested) noexcept override;

private:
    QString attachFile(const QString &path);
    // The schema of the table file `fileName`, attached first if need be;
    // empty when the data directory holds no such file.
    QString attachedSchema(const QString &fileName);
    // Throws when the data directory is no longer the folder the attached
    // files came from (a restore put another in its place meanwhile).
    void requireSameDirectory() const;
    void hardenConnection();
    QStringList fieldNames(const TableRef &table);
    bool rowExists(const TableRef &table, qint64 identity);
    void bringToCurrentOrder(const QString &schema, const QString &fileName);
    void makeRoomForAttachment();
    QString schemaFor(const QString &fileName) const;
    QString contextOf(const QString &sql) const;
    TableRef describeAttached(const QString &schema);

    QString m_directory;
    sqlite3 *m_db = nullptr;
    QHash<QString, QString> m_schemaFiles; // schema -> file name
    // The rows this connection and the others change, told to each other.
    std::unique_ptr<FolderChanges> m_changes;
    QStringList m_attachOrder; // least recently attached first
    std::function<void()> m_keepAlive;
    std::function<void(const QString &)> m_trace;
    QElapsedTimer m_sinceKeepAlive;
    int m_busyTimeoutMs = 0;
    QElapsedTimer m_busySince;
    // The data directory as it was when the first file was attached.
    std::pair<quint64, quint64> m_directoryIdentity{0, 0};
};
