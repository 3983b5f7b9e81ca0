#include "DataSet.h"

#include "DataSource.h"
#include "EngineError.h"

#include <algorithm>

DataSet::DataSet(QObject *parent) : QObject(parent) {}

DataSet::~DataSet() = default;

Field *DataSet::addField(const QString &name, FieldKind kind, int size)
{
    FieldDef def;
    def.name = name;
    def.kind = kind;
    def.size = size;
    m_fields.push_back(std::make_unique<Field>(this, def));
    m_persistent = true;
    return m_fields.back().get();
}

Field *DataSet::addLookupField(const QString &name, int size, const QString &keyField,
                               DataSet *lookupDataSet, const QString &lookupKeyField,
                               const QString &resultField)
{
    Field *field = addField(name, FieldKind::String, size);
    field->setLookup(keyField, lookupDataSet, lookupKeyField, resultField);
    field->setReadOnly(false);
    return field;
}

QString DataSet::contextName() const
{
    return m_plan.base.fileName.isEmpty() ? objectName() : m_plan.base.fileName;
}

void DataSet::requireActive() const
{
    if (!active())
        throw EngineError(contextName() + QStringLiteral(": набор данных закрыт"));
}

bool DataSet::canModify() const
{
    return active() && m_plan.keyed && m_plan.live && !m_session->isReadOnly();
}

void DataSet::requireModifiable() const
{
    requireActive();
    m_session->requireWritable();
    if (!canModify())
        throw EngineError(contextName() + QStringLiteral(": набор данных только для чтения"));
}

void DataSet::open()
{
    if (active())
        return;
    if (!m_session)
        throw EngineError(objectName() + QStringLiteral(": не задано соединение"));
    m_columns.clear();
    m_plan = buildPlan();
    reread();
    readTableFields();
    setState(DataSetState::Browse);
    emit reset();
    if (afterOpen)
        afterOpen(*this);
    placeAtFirst();
}

void DataSet::close()
{
    if (!active())
        return;
    m_keys.clear();
    m_keys.shrink_to_fit();
    m_allRows.clear();
    dropCache();
    m_shownVersions.clear();
    m_current = -1;
    m_eof = m_bof = true;
    m_modified = false;
    m_followLater.clear();
    m_columns.clear();
    m_tableFields.clear();
    if (!m_persistent)
        m_fields.clear();
    setState(DataSetState::Inactive);
    emit reset();
}

void DataSet::relink()
{
    if (!active())
        return;
    checkBrowseMode();
    m_plan = buildPlan();
    reread();
    emit reset();
    placeAtFirst();
}

void DataSet::followSource(DataSource *source)
{
    for (auto &connection : m_sourceConnections)
        disconnect(connection);
    if (!source)
        return;
    m_sourceConnections[0] = connect(source, &DataSource::currentMoved, this, &DataSet::relink);
    m_sourceConnections[1] = connect(source, &DataSource::dataSetReset, this, &DataSet::relink);
    m_sourceConnections[2] = connect(source, &DataSource::recordPosted, this, &DataSet::relink);
}

void DataSet::reread()
{
    if (m_plan.keyed)
        readKeys();
    else
        readAllRows();
    dropCache();
}

void DataSet::placeAtFirst()
{
    setCurrent(isEmpty() ? -1 : 0);
    m_bof = true;
    m_eof = isEmpty();
}

void DataSet::refresh()
{
    requireActive();
    checkBrowseMode();
    const qint64 rowid = isEmpty() ? 0 : recordAt(m_current).rowid;
    reread();
    emit reset();
    const int position = positionOfRowid(rowid);
    setCurrent(position >= 0 ? position
                             : (isEmpty() ? -1 : std::clamp(m_current, 0, recordCount() - 1)));
    m_eof = isEmpty();
}

void DataSet::refreshRecord()
{
    requireActive();
    if (m_state != DataSetState::Browse || isEmpty() || !m_plan.keyed)
        return;
    m_rows.forget(m_keys[size_t(m_current)]);
    m_lookups.clear();
    emit rowChanged(m_current);
}

void DataSet::setCurrentValue(Field *field, const QVariant &value)
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        throw EngineError(contextName() + QStringLiteral(": запись не редактируется"));
    if (field->isLookup()) {
        // Choosing a looked-up value stores the key it belongs to.
        DataSet *list = field->lookupDataSet();
        const QVariant key =
            list->lookup(field->lookupResultFieldName(), value, field->lookupKeyFieldName());
        fieldByName(field->keyFieldName())->setValue(key);
        emit fieldChanged(field->fieldName());
        return;
    }
    const int column = field->m_column;
    m_buffer.values[column] = field->converted(value);
    m_buffer.pending[column] = false;
    m_modified = true;
    emit fieldChanged(field->fieldName());
    emit rowChanged(m_current);
}

QList<Field *> DataSet::fields() const
{
    QList<Field *> result;
    for (const auto &field : m_fields)
        result << field.get();
    return result;
}

Field *DataSet::findField(const QString &name) const
{
    for (const auto &field : m_fields) {
        if (field->fieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    }
    return nullptr;
}

Field *DataSet::fieldByName(const QString &name) const
{
    Field *field = findField(name);
    if (!field)
        throw EngineError(contextName() + QStringLiteral(": нет поля ") + name);
    return field;
}

void DataSet::setState(DataSetState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}

void DataSet::setCurrent(int row, bool notify)
{
    m_current = row;
    if (!notify)
        return;
    emit scrolled();
    if (afterScroll)
        afterScroll(*this);
}

void DataSet::first()
{
    requireActive();
    checkBrowseMode();
    placeAtFirst();
}

void DataSet::last()
{
    requireActive();
    checkBrowseMode();
    setCurrent(recordCount() - 1);
    m_eof = true;
    m_bof = isEmpty();
}

void DataSet::next()
{
    requireActive();
    checkBrowseMode();
    if (m_current + 1 < recordCount()) {
        setCurrent(m_current + 1);
        m_eof = m_bof = false;
    } else {
        m_eof = true;
    }
}

void DataSet::prior()
{
    requireActive();
    checkBrowseMode();
    if (m_current > 0) {
        setCurrent(m_current - 1);
        m_eof = m_bof = false;
    } else {
        m_bof = true;
    }
}

void DataSet::moveTo(int row)
{
    requireActive();
    if (row == m_current)
        return;
    // Posting or dropping the record being edited can shift rows: find the
    // target again by its row id afterwards.
    const bool stored = row >= 0 && row < displayRowCount() && !isInsertRow(row);
    const qint64 rowid = stored ? recordAt(row).rowid : 0;
    checkBrowseMode();
    const int position = stored ? positionOfRowid(rowid) : -1;
    if (position < 0 || position == m_current)
        return;
    setCurrent(position);
    m_bof = position == 0;
    m_eof = false;
}

Record DataSet::emptyRecord() const
{
    Record record;
    record.values = QList<QVariant>(m_columns.size());
    record.pending = QList<bool>(m_columns.size(), false);
    return record;
}

void DataSet::applyDefaults()
{
    for (const auto &field : m_fields) {
        if (!field->isLookup() && !field->defaultExpression().isEmpty())
            m_buffer.values[field->m_column] = field->converted(field->defaultExpression());
    }
}

void DataSet::startRecord(int position)
{
    m_returnTo = m_current;
    m_buffer = emptyRecord();
    m_current = position;
    setState(DataSetState::Insert);
    // Defaults first: a value the master link gives wins over a default.
    applyDefaults();
    assignLinkedFields();
    if (onNewRecord)
        onNewRecord(*this);
    // Values a new record starts with do not make it worth keeping.
    m_modified = false;
    emit reset();
    if (afterInsert)
        afterInsert(*this);
    setCurrent(position);
    m_eof = m_bof = false;
}

void DataSet::append()
{
    requireModifiable();
    checkBrowseMode();
    if (beforeInsert)
        beforeInsert(*this);
    startRecord(recordCount());
}

void DataSet::insert()
{
    requireModifiable();
    checkBrowseMode();
    if (beforeInsert)
        beforeInsert(*this);
    startRecord(std::max(m_current, 0));
}

void DataSet::edit()
{
    requireActive();
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return;
    if (isEmpty()) {
        insert();
        return;
    }
    requireModifiable();
    if (beforeEdit)
        beforeEdit(*this);
    Record copy = recordAt(m_current);
    m_readVersion = versionOfShown(copy);
    m_buffer = copy;
    m_original = copy;
    m_elsewhere.reset();
    m_modified = false;
    setState(DataSetState::Edit);
}

void DataSet::post()
{
    requireActive();
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        return;
    if (beforePost)
        beforePost(*this);
    const bool inserting = m_state == DataSetState::Insert;
    if (inserting)
        writeInsert();
    else
        writeUpdate();
    m_modified = false;
    setState(DataSetState::Browse);
    if (inserting)
        emit reset();
    emit posted();
    if (afterPost)
        afterPost(*this);
}

// The base table's own columns decide what a post writes; they are read once
// at open rather than on every post.
void DataSet::readTableFields()
{
    m_tableFields.clear();
    if (m_plan.keyed && m_plan.live)
        m_tableFields = m_session->fields(m_plan.base);
}

void DataSet::writeInsert()
{
    QList<FieldDef> columns;
    QList<int> positions;
    QVariantList values;
    for (int i = 0; i < m_columns.size(); ++i) {
        const auto def =
            std::find_if(m_tableFields.begin(), m_tableFields.end(), [&](const auto &f) {
                return f.name.compare(m_columns[i], Qt::CaseInsensitive) == 0;
            });
        if (def == m_tableFields.end())
            continue;
        columns << *def;
        positions << i;
        values << m_buffer.values[i];
    }
    const qint64 rowid = m_session->insertRow(m_plan.base, columns, values);
    // The auto-increment key the engine gave.
    for (int i = 0; i < positions.size(); ++i)
        m_buffer.values[positions[i]] = values[i];
    placeNewRow(rowid);
}

// The new row takes its place in the list's order; a row that the list's
// condition does not show stays where it was inserted until the list is read again.
void DataSet::placeNewRow(qint64 rowid)
{
    const int insertedAt = m_current;
    m_state = DataSetState::Browse;
    readKeys();
    dropCache();
    int position = positionOfRowid(rowid);
    if (position < 0) {
        position = std::clamp(insertedAt, 0, int(m_keys.size()));
        m_keys.insert(m_keys.begin() + position, rowid);
    }
    m_state = DataSetState::Insert;
    m_current = position;
}

void DataSet::writeUpdate()
{
    QStringList columns;
    QVariantList values;
    for (int i = 0; i < m_columns.size(); ++i) {
        const bool stored =
            std::any_of(m_tableFields.begin(), m_tableFields.end(), [&](const auto &f) {
                return f.name.compare(m_columns[i], Qt::CaseInsensitive) == 0 &&
                       f.kind != FieldKind::AutoInc;
            });
        if (!stored || m_buffer.pending[i])
            continue;
        columns << m_columns[i];
        values << m_buffer.values[i];
    }
    if (columns.isEmpty())
        return;
    qint64 rowid = 0;
    try {
        rowid = m_session->updateRow(m_plan.base, columns, values, m_buffer.rowid, m_readVersion);
    } catch (const RecordConflict &conflict) {
        throw conflictFound(conflict);
    }
    m_elsewhere.reset();
    m_shownVersions.remove(m_buffer.rowid);
    // A kind whose row identity moves with a change keeps the list on the row.
    if (rowid != m_buffer.rowid && m_plan.keyed)
        m_keys[size_t(m_current)] = rowid;
    m_rows.forget(m_buffer.rowid);
    m_buffer.rowid = rowid;
    m_lookups.clear();
    emit rowChanged(m_current);
}

void DataSet::cancel()
{
    if (m_state == DataSetState::Insert) {
        const int back = std::clamp(m_returnTo, isEmpty() ? -1 : 0, recordCount() - 1);
        m_modified = false;
        setState(DataSetState::Browse);
        emit reset();
        if (afterCancel)
            afterCancel(*this);
        setCurrent(back);
        m_eof = isEmpty();
    } else if (m_state == DataSetState::Edit) {
        m_modified = false;
        m_elsewhere.reset();
        setState(DataSetState::Browse);
        emit rowChanged(m_current);
        if (afterCancel)
            afterCancel(*this);
    }
}

void DataSet::checkBrowseMode()
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        return;
    if (m_modified)
        post();
    else
        cancel();
}

void DataSet::deleteRecord()
{
    requireActive();
    if (m_state == DataSetState::Insert) {
        cancel();
        return;
    }
    if (isEmpty())
        throw EngineError(contextName() + QStringLiteral(": нет записи для удаления"));
    requireModifiable();
    if (beforeDelete)
        beforeDelete(*this);
    m_session->deleteRow(m_plan.base, recordAt(m_current).rowid);
    setState(DataSetState::Browse);
    m_keys.erase(m_keys.begin() + m_current);
    dropCache();
    emit reset();
    if (afterDelete)
        afterDelete(*this);
    setCurrent(std::min(m_current, recordCount() - 1));
    m_eof = isEmpty();
}

void DataSet::saveChanges()
{
    requireActive();
}
