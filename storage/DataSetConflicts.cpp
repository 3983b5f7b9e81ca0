// Several desks on one catalogue: a record is posted only while it still
// holds what this desk read, and what another desk made of it meanwhile is
// offered beside what was typed here.
#include "DataSet.h"
#include "EngineError.h"

#include <algorithm>

namespace {

// A version no stored row has: the post that carries it always conflicts.
const QVariant notAsRead = QStringLiteral("-");

bool sameStored(const QVariant &a, const QVariant &b)
{
    const bool blankA = !a.isValid() || a.isNull(), blankB = !b.isValid() || b.isNull();
    return blankA || blankB ? blankA == blankB : a == b;
}

} // namespace

bool DataSet::readVersioned(qint64 rowid, Record &record, QVariant &version) const
{
    QStringList tableColumns;
    for (const FieldDef &field : m_tableFields)
        tableColumns << field.name;
    const bool oneByOne = DataSetSql::namesColumnsOneByOne(m_plan, m_columns);
    Statement statement =
        m_session->prepare(DataSetSql::versionedRow(m_session->dialect(), m_plan, m_columns,
                                                    m_blobColumns, tableColumns, rowid),
                           m_plan.base.fileName);
    if (!statement.step())
        return false;
    const int count = int(m_columns.size());
    record = {};
    record.rowid = statement.int64(count);
    for (int i = 0; i < count; ++i) {
        record.values << statement.value(i);
        record.pending << (oneByOne && m_blobColumns[i]);
    }
    version = statement.value(count + 1);
    return true;
}

// Editing starts from the record as shown: when the stored row is no longer
// that, the post is bound to conflict and the user is told at once.
QVariant DataSet::versionOfShown(const Record &shown) const
{
    Record stored;
    QVariant version;
    if (!readVersioned(shown.rowid, stored, version))
        return notAsRead;
    for (int i = 0; i < shown.values.size(); ++i) {
        if (!shown.pending.value(i) && !sameStored(shown.values[i], stored.values.value(i)))
            return notAsRead;
    }
    const auto seen = m_shownVersions.constFind(shown.rowid);
    if (seen != m_shownVersions.constEnd() && !sameStored(*seen, version))
        return notAsRead;
    return version;
}

void DataSet::editAsShown(const QString &fieldName, const QVariant &shown)
{
    edit();
    const int column = fieldByName(fieldName)->m_column;
    if (sameStored(m_original.values[column], shown))
        return;
    m_original.values[column] = shown;
    m_readVersion = notAsRead;
}

bool DataSet::typedHere(int column) const
{
    return !m_buffer.pending.value(column) &&
           (m_original.pending.value(column) ||
            !sameStored(m_buffer.values[column], m_original.values[column]));
}

RecordConflict DataSet::conflictFound(const RecordConflict &found)
{
    // A row known by its place got a new one with the other desk's change:
    // the list follows it there.
    if (const std::optional<qint64> now = found.movedTo()) {
        m_rows.forget(m_buffer.rowid);
        if (m_plan.keyed)
            m_keys[size_t(m_current)] = *now;
        m_buffer.rowid = *now;
    }
    Elsewhere elsewhere;
    elsewhere.deleted =
        found.deleted() || !readVersioned(m_buffer.rowid, elsewhere.theirs, elsewhere.version);
    for (int i = 0; i < m_columns.size() && !elsewhere.deleted; ++i)
        elsewhere.changed << (!m_original.pending.value(i) &&
                              !sameStored(m_original.values[i], elsewhere.theirs.values.value(i)));
    // Only a blob (an attached file's contents, read only when asked for)
    // can have changed unseen: it is what the other desk replaced.
    if (!elsewhere.deleted && !elsewhere.changed.contains(true)) {
        for (int i = 0; i < m_columns.size(); ++i)
            elsewhere.changed[i] = m_original.pending.value(i);
    }
    m_elsewhere = elsewhere;
    emit editedElsewhere();
    if (elsewhere.deleted)
        return RecordConflict(QStringLiteral("Запись удалена другим пользователем."), true, this);
    return RecordConflict(QStringLiteral("Запись изменена другим пользователем.\n"
                                         "Другой пользователь изменил: ") +
                              changedElsewhere().join(QStringLiteral(", ")) + '.',
                          false, this);
}

QStringList DataSet::changedElsewhere() const
{
    QStringList labels;
    if (!m_elsewhere || m_elsewhere->deleted)
        return labels;
    for (const auto &field : m_fields) {
        if (!field->isLookup() && m_elsewhere->changed.value(field->m_column))
            labels << m_fieldLabels.value(field->fieldName(), field->fieldName());
    }
    return labels;
}

// The other desk's row becomes the one this edit started from; the fields
// typed here keep what was typed, except where `theirFieldsWin` gives the
// other desk's changes the last word.
void DataSet::adoptTheirs(bool theirFieldsWin)
{
    const Elsewhere elsewhere = *m_elsewhere;
    for (int i = 0; i < m_columns.size(); ++i) {
        const bool keepTyped = typedHere(i) && !(theirFieldsWin && elsewhere.changed.value(i));
        if (!keepTyped) {
            m_buffer.values[i] = elsewhere.theirs.values.value(i);
            m_buffer.pending[i] = elsewhere.theirs.pending.value(i);
        }
    }
    m_buffer.rowid = elsewhere.theirs.rowid;
    m_original = elsewhere.theirs;
    m_readVersion = elsewhere.version;
    m_elsewhere.reset();
    m_modified = true;
    emit rowChanged(m_current);
}

void DataSet::saveMine()
{
    if (!m_elsewhere || m_elsewhere->deleted || m_state != DataSetState::Edit)
        return;
    adoptTheirs(false);
    post();
}

void DataSet::keepTheirs()
{
    if (!m_elsewhere || m_elsewhere->deleted || m_state != DataSetState::Edit)
        return;
    adoptTheirs(true);
    post();
}

// The deleted row leaves the list; what was typed becomes a new record at
// its place, with a key of its own.
void DataSet::saveAsNew()
{
    if (!m_elsewhere || !m_elsewhere->deleted || m_state != DataSetState::Edit)
        return;
    m_elsewhere.reset();
    m_keys.erase(m_keys.begin() + m_current);
    dropCache();
    m_returnTo = std::min(m_current, recordCount() - 1);
    m_buffer.rowid = 0;
    for (int i = 0; i < m_columns.size(); ++i) {
        // Contents that were never read went with the deleted row.
        if (m_buffer.pending[i]) {
            m_buffer.pending[i] = false;
            m_buffer.values[i] = QVariant();
        }
    }
    m_modified = true;
    setState(DataSetState::Insert);
    emit reset();
    post();
}

void DataSet::dropDeleted()
{
    if (!m_elsewhere || !m_elsewhere->deleted)
        return;
    m_elsewhere.reset();
    cancel();
    refresh();
}

void DataSet::followChangesElsewhere()
{
    if (!active() || m_state == DataSetState::Insert)
        return;
    if (m_state == DataSetState::Edit) {
        if (m_plan.keyed && versionOfShown(m_original) == notAsRead)
            emit editedElsewhere();
        return;
    }
    const qint64 rowid = m_plan.keyed && !isEmpty() ? recordAt(m_current).rowid : 0;
    reread();
    const int position =
        m_plan.keyed ? positionOfRowid(rowid) : std::min(m_current, recordCount() - 1);
    if (position >= 0 || isEmpty()) {
        m_current = isEmpty() ? -1 : position;
        m_eof = isEmpty();
        emit rowsReread();
        return;
    }
    // The current record went: its neighbour becomes current, and what
    // follows the dataset follows it.
    emit reset();
    setCurrent(std::clamp(m_current, 0, recordCount() - 1));
    m_eof = false;
}
