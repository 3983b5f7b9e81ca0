#pragma once

#include "DataSetSql.h"
#include "EngineError.h"
#include "Field.h"
#include "RowCache.h"
#include "Session.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class DataSource;

enum class DataSetState
{
    Inactive,
    Browse,
    Edit,
    Insert
};

enum LocateOption
{
    LocateCaseInsensitive = 0x1,
    LocatePartialKey = 0x2,
    // Texts compared as a person reads them (TextRules::readingForm): letter
    // case ignored, Ё taken as Е, quote marks left out on both sides.
    LocateAsRead = 0x4
};
Q_DECLARE_FLAGS(LocateOptions, LocateOption)

// A dataset over the rows of a table or of a SELECT, in the style of the
// classic data-aware desktop frameworks: states, a current record, navigation,
// locate, edit/insert/post/cancel/delete, events, master links and lookups.
//
// Lists over one table are read by key: the ordered row ids are fetched once
// (eight bytes a row) and row contents a page at a time, so opening or
// scrolling a list of a million rows reads only what is shown. Other SELECTs
// (joins) are read whole.
class DataSet : public QObject
{
    Q_OBJECT
public:
    using Event = std::function<void(DataSet &)>;

    explicit DataSet(QObject *parent = nullptr);
    ~DataSet() override;

    void setSession(Session *session) { m_session = session; }
    Session *session() const { return m_session; }

    // Events. A handler may throw EAbort to cancel the operation silently.
    Event beforeInsert, afterInsert, onNewRecord, beforeEdit, beforePost, afterPost, afterCancel,
        beforeDelete, afterDelete, afterScroll, afterOpen;

    // Persistent fields: declared before opening, they are the only fields the
    // dataset exposes. Without them every column becomes a field.
    Field *addField(const QString &name, FieldKind kind, int size = 0);
    Field *addLookupField(const QString &name, int size, const QString &keyField,
                          DataSet *lookupDataSet, const QString &lookupKeyField,
                          const QString &resultField);

    void open();
    void close();
    bool active() const { return m_state != DataSetState::Inactive; }
    void setActive(bool active) { active ? open() : close(); }
    DataSetState state() const { return m_state; }
    // Reads the rows again, staying on the current record where it still is.
    void refresh();
    // Reads the current record again from its table.
    void refreshRecord();
    // Another desk changed this dataset's table: the rows are read again by
    // key (their contents as they are shown), staying on the current record
    // and its state, so that nothing that follows the dataset moves unless
    // the current record is gone. A record being edited is not touched; it
    // is marked when another desk changed it (editedElsewhere).
    void followChangesElsewhere();
    // Another desk inserted, changed or deleted these rows of this dataset's
    // table (by identity): each is read again alone and put where the
    // list's order puts it, or taken out when the list no longer shows it,
    // staying on the current record. Rows of a record being edited or
    // inserted wait until it is posted or cancelled.
    void followRowsElsewhere(const QList<qint64> &identities);
    // The table the rows are read from, by its name in the description.
    QString tableFile() const { return m_plan.base.fileName; }
    // True when the list's condition names the table `stem` (CRFOLDERS).
    bool conditionReads(const QString &stem) const;

    void first();
    void last();
    void next();
    void prior();
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    bool isEmpty() const { return recordCount() == 0; }
    int recordCount() const;
    int recNo() const { return m_current; } // 0-based; -1 when empty
    // Makes the row at a display position current (the insert row counts).
    void moveTo(int row);

    bool locate(const QString &fieldNames, const QVariantList &values, LocateOptions options = {});
    bool locate(const QString &fieldName, const QVariant &value, LocateOptions options = {})
    {
        return locate(fieldName, QVariantList{value}, options);
    }
    // The value of `resultField` in the first row whose `keyField` equals `key`.
    QVariant lookup(const QString &keyField, const QVariant &key, const QString &resultField);

    void append();
    void insert();
    void edit();
    // Starts editing the current record as a window showed it where it shows
    // one field apart from the dataset (a tree's node): a stored value other
    // than `shown` is another desk's change, and the post says so.
    void editAsShown(const QString &fieldName, const QVariant &shown);
    void post();
    void cancel();
    void deleteRecord();
    // Posts a modified record and drops an unmodified one, as moving off it does.
    void checkBrowseMode();
    bool modified() const { return m_modified; }
    bool canModify() const;

    // The ways on after a post raised RecordConflict; nothing typed is lost
    // by any of them. saveMine stores what was typed here over the other
    // desk's values, keeping its changes to the fields not typed here;
    // keepTheirs takes the other desk's values in the fields it changed and
    // saves what was typed into the others. For a record deleted elsewhere,
    // saveAsNew stores what was typed as a new record and dropDeleted lets
    // it go.
    void saveMine();
    void keepTheirs();
    void saveAsNew();
    void dropDeleted();
    // The fields another desk changed in the record being edited, by their
    // labels; empty while no change elsewhere is known.
    QStringList changedElsewhere() const;
    // The names the user knows fields by ("Phones" → "Телефон"), for messages.
    void setFieldLabels(const QHash<QString, QString> &labels) { m_fieldLabels = labels; }

    // Posts already commit with a full sync; this makes the contract explicit
    // for callers that save after each post.
    void saveChanges();

    QList<Field *> fields() const;
    Field *findField(const QString &name) const;
    Field *fieldByName(const QString &name) const; // throws when there is none

    // Rows as a grid shows them: the record being inserted counts as a row.
    int displayRowCount() const;
    bool isInsertRow(int row) const { return m_state == DataSetState::Insert && row == m_current; }
    QVariant displayValue(int row, const Field *field) const;

    // Blob columns of a stored row are read here, on demand.
    QByteArray readBlob(qint64 rowid, const Field *field) const;

signals:
    void reset();
    void scrolled();
    void rowChanged(int row);
    void fieldChanged(const QString &fieldName);
    void stateChanged();
    void posted();
    // Another desk changed or deleted the record being edited.
    void editedElsewhere();
    // The rows were read again where they stood: the same current record,
    // nothing for details to follow.
    void rowsReread();
    // A row another desk changed moved from one position to another: -1 as
    // `from` for a row that came, -1 as `to` for a row that went. The
    // current record may be at another position, never another record
    // unless it was the one that went.
    void rowMoved(int from, int to);

protected:
    // How a subclass's rows are read.
    using Plan = ReadPlan;
    virtual Plan buildPlan() = 0;
    // Field values a new record takes from a master (detail tables).
    virtual void assignLinkedFields() {}
    // Re-reads rows after a link, filter or parameter changed.
    void relink();
    // Re-reads the rows whenever the source's current record moves, its rows
    // are read again or its record is posted (a new key); none for nullptr.
    void followSource(DataSource *source);
    QString contextName() const;

private:
    void reread();
    void placeAtFirst();
    void readKeys();
    void readAllRows();
    void createFields();
    void bindFields(const QStringList &columns, const QStringList &declaredTypes);
    const Record &recordAt(int row) const;
    void loadPage(int page) const;
    void loadRows(const std::vector<qint64> &rowids) const;
    void followRow(qint64 rowid);
    int placeInOrder(qint64 rowid, int leftOut) const;
    void followLater();
    void dropCache();
    void setState(DataSetState state);
    void setCurrent(int row, bool notify = true);
    void startRecord(int position);
    void applyDefaults();
    Record emptyRecord() const;
    void writeInsert();
    void writeUpdate();
    // The version the shown record `shown` has where it is stored; a version
    // no row has when the stored row differs from it or is gone.
    QVariant versionOfShown(const Record &shown) const;
    bool readVersioned(qint64 rowid, Record &record, QVariant &version) const;
    // What the other desk made of the record whose post `found` refused.
    RecordConflict conflictFound(const RecordConflict &found);
    bool typedHere(int column) const;
    void adoptTheirs(bool theirFieldsWin);
    std::optional<qint64> locateRowid(const QString &condition, const SearchValues &values);
    int positionOfRowid(qint64 rowid) const;
    bool leadsTheOrder(const Field *field) const;
    QString prefixRange(const Field *field, const QString &prefix, SearchValues &bound) const;
    // The first row whose `field` begins, as read, with `text` and that meets
    // `condition`; -1 when none does.
    int firstReadAlike(const Field *field, const QString &text, const QString &condition,
                       SearchValues &bound);
    void placeNewRow(qint64 rowid);
    void requireActive() const;
    void requireModifiable() const;
    void readTableFields();
    QVariant lookupInRows(const Field *keyColumn, const QVariant &key, const Field *result) const;
    QVariant lookupInTable(const Field *keyColumn, const QVariant &key, const Field *result) const;

    friend class Field;
    QVariant currentValue(const Field *field) const;
    void setCurrentValue(Field *field, const QVariant &value);

    Session *m_session = nullptr;
    DataSetState m_state = DataSetState::Inactive;
    Plan m_plan;
    std::vector<std::unique_ptr<Field>> m_fields;
    bool m_persistent = false;
    std::vector<qint64> m_keys; // keyed plans: row ids in list order
    QList<Record> m_allRows;    // plans read whole
    QStringList m_columns;      // column names of a record
    QList<bool> m_blobColumns;
    mutable RowCache m_rows;
    mutable LookupCache m_lookups;
    QList<FieldDef> m_tableFields; // the base table's columns, read once at open
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    Record m_buffer; // the record being edited or inserted
    // The record being edited as it was read, and the version it had then.
    Record m_original;
    QVariant m_readVersion;
    // The version of each row with an unread blob as it was first shown,
    // kept until this desk changes the row: rows read again after another
    // desk's change show nothing of a replaced blob.
    mutable QHash<qint64, QVariant> m_shownVersions;
    // What another desk made of the record being edited, once a post found it.
    struct Elsewhere
    {
        bool deleted = false;
        Record theirs;
        QVariant version;
        QList<bool> changed; // by column
    };
    std::optional<Elsewhere> m_elsewhere;
    QHash<QString, QString> m_fieldLabels;
    bool m_modified = false;
    int m_returnTo = -1;         // where a cancelled insert goes back to
    QList<qint64> m_followLater; // rows changed elsewhere while a record was edited
    QMetaObject::Connection m_sourceConnections[3];
};

Q_DECLARE_OPERATORS_FOR_FLAGS(LocateOptions)
