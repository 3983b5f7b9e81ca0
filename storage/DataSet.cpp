#include "DataSet.h"

#include "DataSource.h"
#include "EngineError.h"
#include "SqlText.h"
#include "TableFiles.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

// Rows are read by key in pages of this size: a few screens of a grid, small
// enough that a page costs well under a millisecond.
constexpr int pageSize = 200;
// At most this many pages stay cached (some ten thousand rows).
constexpr int maxCachedPages = 50;

bool isPlainColumn(const QString &name)
{
    for (const QChar c : name) {
        if (!c.isLetterOrNumber() && c != '_')
            return false;
    }
    return !name.isEmpty();
}

void bindParameters(Statement &statement, const QVariantMap &parameters)
{
    for (int i = 1; i <= statement.parameterCount(); ++i) {
        const QString name = statement.parameterName(i);
        if (!name.isEmpty())
            statement.bind(i, parameters.value(name));
    }
}

bool sameValue(const QVariant &stored, const QVariant &wanted, LocateOptions options)
{
    const bool storedBlank = !stored.isValid() || stored.isNull();
    const QString wantedText = wanted.toString();
    if (storedBlank || wantedText.isEmpty())
        return storedBlank && wantedText.isEmpty();
    const QString storedText = stored.toString();
    const Qt::CaseSensitivity cs =
        options.testFlag(LocateCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    return options.testFlag(LocatePartialKey) ? storedText.startsWith(wantedText, cs)
                                              : storedText.compare(wantedText, cs) == 0;
}

} // namespace

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
    return active() && m_plan.keyed && m_plan.live;
}

void DataSet::requireModifiable() const
{
    requireActive();
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
    m_current = -1;
    m_eof = m_bof = true;
    m_modified = false;
    m_columns.clear();
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
    m_pages.remove(m_current / pageSize);
    emit rowChanged(m_current);
}

void DataSet::readKeys()
{
    QString sql =
        QStringLiteral("SELECT ") + m_plan.rowidColumn + QStringLiteral(" FROM ") + m_plan.from;
    if (!m_plan.where.isEmpty())
        sql += QStringLiteral(" WHERE ") + m_plan.where;
    sql += QStringLiteral(" ORDER BY ") +
           (m_plan.orderBy.isEmpty() ? QString() : m_plan.orderBy + QStringLiteral(", ")) +
           m_plan.rowidColumn;
    Statement statement = m_session->prepare(sql, m_plan.base.fileName);
    bindParameters(statement, m_plan.parameters);
    std::vector<qint64> keys;
    while (statement.step())
        keys.push_back(statement.int64(0));
    m_keys = std::move(keys);

    if (m_columns.isEmpty()) {
        Statement shape = m_session->prepare(QStringLiteral("SELECT ") + m_plan.selectList +
                                                 QStringLiteral(" FROM ") + m_plan.from +
                                                 QStringLiteral(" WHERE 0"),
                                             m_plan.base.fileName);
        QStringList names, types;
        for (int i = 0; i < shape.columnCount(); ++i) {
            names << shape.columnName(i);
            types << shape.declaredType(i);
        }
        bindFields(names, types);
    }
}

void DataSet::readAllRows()
{
    Statement statement = m_session->prepare(m_plan.sql, m_plan.base.fileName);
    bindParameters(statement, m_plan.parameters);
    QStringList names, types;
    for (int i = 0; i < statement.columnCount(); ++i) {
        names << statement.columnName(i);
        types << statement.declaredType(i);
    }
    bindFields(names, types);
    m_allRows.clear();
    qint64 ordinal = 0;
    while (statement.step()) {
        Record record;
        record.rowid = ++ordinal;
        for (int i = 0; i < statement.columnCount(); ++i) {
            record.values << statement.value(i);
            record.pending << false;
        }
        m_allRows << record;
    }
}

void DataSet::bindFields(const QStringList &columns, const QStringList &declaredTypes)
{
    // Fields made from the columns survive a re-read of the same columns, so
    // that widgets holding them stay valid.
    const bool sameColumns = columns == m_columns && m_fields.size() == size_t(columns.size());
    m_columns = columns;
    m_blobColumns.clear();
    if (!m_persistent && !sameColumns)
        m_fields.clear();
    for (int i = 0; i < columns.size(); ++i) {
        const FieldDef def = FieldDef::fromDeclaration(columns[i], declaredTypes[i]);
        m_blobColumns << (def.kind == FieldKind::Binary || def.kind == FieldKind::Graphic);
        if (!m_persistent && !sameColumns)
            m_fields.push_back(std::make_unique<Field>(this, def));
    }
    for (auto &field : m_fields) {
        if (field->isLookup())
            continue;
        if (!m_persistent) {
            field->m_column = int(&field - &m_fields.front());
            continue;
        }
        field->m_column = -1;
        for (int i = 0; i < columns.size(); ++i) {
            if (columns[i].compare(field->fieldName(), Qt::CaseInsensitive) == 0)
                field->m_column = i;
        }
        if (field->m_column < 0)
            throw EngineError(contextName() + QStringLiteral(": нет поля ") + field->fieldName());
    }
}

int DataSet::recordCount() const
{
    if (!active())
        return 0;
    return m_plan.keyed ? int(m_keys.size()) : int(m_allRows.size());
}

int DataSet::displayRowCount() const
{
    return recordCount() + (m_state == DataSetState::Insert ? 1 : 0);
}

QString DataSet::rowidList(int page) const
{
    QStringList ids;
    const size_t from = size_t(page) * pageSize;
    const size_t to = std::min(m_keys.size(), from + pageSize);
    for (size_t i = from; i < to; ++i)
        ids << QString::number(m_keys[i]);
    return ids.join(',');
}

void DataSet::loadPage(int page) const
{
    QStringList columns;
    bool plain = true;
    for (int i = 0; i < m_columns.size(); ++i) {
        plain = plain && isPlainColumn(m_columns[i]);
        columns << (m_blobColumns[i] ? QStringLiteral("NULL") : SqlText::quoted(m_columns[i]));
    }
    // Plain columns are named one by one so that blobs stay on disk until asked for.
    const QString select = plain ? columns.join(QStringLiteral(", ")) : m_plan.selectList;
    Statement statement =
        m_session->prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 IN (%4)")
                               .arg(select, m_plan.rowidColumn, m_plan.from, rowidList(page)),
                           m_plan.base.fileName);
    QHash<qint64, Record> byRowid;
    const int count = int(m_columns.size());
    while (statement.step()) {
        Record record;
        record.rowid = statement.int64(count);
        for (int i = 0; i < count; ++i) {
            record.values << statement.value(i);
            record.pending << (plain && m_blobColumns[i]);
        }
        byRowid.insert(record.rowid, record);
    }
    QList<Record> rows;
    const size_t from = size_t(page) * pageSize;
    const size_t to = std::min(m_keys.size(), from + pageSize);
    for (size_t i = from; i < to; ++i) {
        // A row another program deleted meanwhile shows blank.
        rows << byRowid.value(m_keys[i],
                              Record{m_keys[i], QList<QVariant>(count), QList<bool>(count, false)});
    }
    if (m_pages.size() >= maxCachedPages && !m_pageUse.isEmpty())
        m_pages.remove(m_pageUse.takeFirst());
    m_pages.insert(page, rows);
    m_pageUse.removeAll(page);
    m_pageUse.append(page);
}

void DataSet::dropCache()
{
    m_pages.clear();
    m_pageUse.clear();
}

const Record &DataSet::recordAt(int row) const
{
    if (m_state == DataSetState::Insert && row == m_current)
        return m_buffer;
    if (m_state == DataSetState::Edit && row == m_current)
        return m_buffer;
    const int stored = (m_state == DataSetState::Insert && row > m_current) ? row - 1 : row;
    if (!m_plan.keyed)
        return m_allRows.at(stored);
    const int page = stored / pageSize;
    if (!m_pages.contains(page))
        loadPage(page);
    return m_pages[page].at(stored % pageSize);
}

QByteArray DataSet::readBlob(qint64 rowid, const Field *field) const
{
    Statement statement = m_session->prepare(
        QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
            .arg(SqlText::quoted(m_columns[field->m_column]), m_plan.from, m_plan.rowidColumn),
        m_plan.base.fileName);
    statement.bind(1, rowid);
    return statement.step() ? statement.value(0).toByteArray() : QByteArray();
}

QVariant DataSet::displayValue(int row, const Field *field) const
{
    if (!active() || row < 0 || row >= displayRowCount())
        return {};
    if (field->isLookup()) {
        const Field *key = findField(field->keyFieldName());
        const QVariant keyValue = key ? displayValue(row, key) : QVariant();
        return field->lookupDataSet()->lookup(field->lookupKeyFieldName(), keyValue,
                                              field->lookupResultFieldName());
    }
    const Record &record = recordAt(row);
    if (record.pending.value(field->m_column))
        return readBlob(record.rowid, field);
    return record.values.value(field->m_column);
}

QVariant DataSet::currentValue(const Field *field) const
{
    if (!active() || m_current < 0)
        return {};
    return displayValue(m_current, field);
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

int DataSet::positionOfRowid(qint64 rowid) const
{
    if (m_plan.keyed) {
        const auto it = std::find(m_keys.begin(), m_keys.end(), rowid);
        return it == m_keys.end() ? -1 : int(it - m_keys.begin());
    }
    for (int i = 0; i < m_allRows.size(); ++i) {
        if (m_allRows[i].rowid == rowid)
            return i;
    }
    return -1;
}

std::optional<qint64> DataSet::locateRowid(const QString &condition, const QVariantList &values)
{
    QString sql = QStringLiteral("SELECT ") + m_plan.rowidColumn + QStringLiteral(" FROM ") +
                  m_plan.from + QStringLiteral(" WHERE ");
    if (!m_plan.where.isEmpty())
        sql += '(' + m_plan.where + QStringLiteral(") AND ");
    sql += condition + QStringLiteral(" ORDER BY ") +
           (m_plan.orderBy.isEmpty() ? QString() : m_plan.orderBy + QStringLiteral(", ")) +
           m_plan.rowidColumn + QStringLiteral(" LIMIT 1");
    Statement statement = m_session->prepare(sql, m_plan.base.fileName);
    bindParameters(statement, m_plan.parameters);
    for (int i = 0; i < values.size(); ++i)
        statement.bind(i + 1, values[i]);
    if (!statement.step())
        return std::nullopt;
    return statement.int64(0);
}

bool DataSet::leadsTheOrder(const Field *field) const
{
    static const QRegularExpression firstTerm(
        QStringLiteral("^\\s*(?:\\w+\\.)?\"?(\\w+)\"?\\s+COLLATE\\s+RU\\s*(?:,|$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = firstTerm.match(m_plan.orderBy);
    return m.hasMatch() &&
           m.captured(1).compare(m_columns[field->m_column], Qt::CaseInsensitive) == 0;
}

// In the list's order every name that begins with a text, in any letter case,
// lies between the text in small letters and the text followed by the highest
// character: the index on the name finds the first one without a scan.
QString DataSet::prefixRange(const Field *field, const QString &prefix, QVariantList &bound) const
{
    const QString low = prefix.toLower();
    bound << low << low + QString::fromUcs4(U"\U0010FFFF");
    const QString column = SqlText::quoted(m_columns[field->m_column]);
    return QStringLiteral("%1 COLLATE RU >= ? AND %1 COLLATE RU < ?").arg(column);
}

bool DataSet::locate(const QString &fieldNames, const QVariantList &values, LocateOptions options)
{
    requireActive();
    checkBrowseMode();
    const QStringList names = fieldNames.split(';', Qt::SkipEmptyParts);
    if (names.size() != values.size())
        throw EngineError(contextName() + QStringLiteral(": число значений не равно числу полей"));
    QList<Field *> located;
    for (const QString &name : names)
        located << fieldByName(name.trimmed());

    int position = -1;
    if (m_plan.keyed) {
        QStringList conditions;
        QVariantList bound;
        for (int i = 0; i < located.size(); ++i) {
            const QString column = SqlText::quoted(m_columns[located[i]->m_column]);
            const QString text = values[i].toString();
            if (values[i].isNull() || text.isEmpty()) {
                conditions << column + QStringLiteral(" IS NULL");
            } else if (located[i]->kind() == FieldKind::String ||
                       located[i]->kind() == FieldKind::Memo) {
                const bool folded = options.testFlag(LocateCaseInsensitive);
                const QString stored = folded ? QStringLiteral("upper(%1)").arg(column) : column;
                conditions << (options.testFlag(LocatePartialKey)
                                   ? QStringLiteral("substr(%1, 1, length(?)) = ?").arg(stored)
                                   : stored + QStringLiteral(" = ?"));
                const QString wanted = folded ? text.toUpper() : text;
                if (options.testFlag(LocatePartialKey))
                    bound << wanted;
                bound << wanted;
            } else {
                conditions << column + QStringLiteral(" = ?");
                bound << located[i]->converted(values[i]);
            }
        }
        if (located.size() == 1 && options.testFlag(LocatePartialKey) &&
            options.testFlag(LocateCaseInsensitive) && leadsTheOrder(located.first()) &&
            !values.first().toString().isEmpty()) {
            conditions << prefixRange(located.first(), values.first().toString(), bound);
        }
        if (const auto rowid = locateRowid(conditions.join(QStringLiteral(" AND ")), bound))
            position = positionOfRowid(*rowid);
    } else {
        for (int row = 0; row < m_allRows.size() && position < 0; ++row) {
            bool all = true;
            for (int i = 0; i < located.size() && all; ++i)
                all = sameValue(m_allRows[row].values.value(located[i]->m_column), values[i],
                                options);
            if (all)
                position = row;
        }
    }
    if (position < 0)
        return false;
    if (position != m_current)
        setCurrent(position);
    m_eof = m_bof = false;
    return true;
}

QVariant DataSet::lookup(const QString &keyField, const QVariant &key, const QString &resultField)
{
    if (!active() || !key.isValid() || key.isNull())
        return {};
    const Field *keyColumn = fieldByName(keyField);
    const Field *result = fieldByName(resultField);
    if (!m_plan.keyed) {
        for (const Record &record : std::as_const(m_allRows)) {
            if (sameValue(record.values.value(keyColumn->m_column), key, {}))
                return record.values.value(result->m_column);
        }
        return {};
    }
    QString sql = QStringLiteral("SELECT %1 FROM %2 WHERE ")
                      .arg(SqlText::quoted(m_columns[result->m_column]), m_plan.from);
    if (!m_plan.where.isEmpty())
        sql += '(' + m_plan.where + QStringLiteral(") AND ");
    sql += SqlText::quoted(m_columns[keyColumn->m_column]) + QStringLiteral(" = ? LIMIT 1");
    Statement statement = m_session->prepare(sql, m_plan.base.fileName);
    bindParameters(statement, m_plan.parameters);
    statement.bind(1, keyColumn->converted(key));
    return statement.step() ? statement.value(0) : QVariant();
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
    m_buffer = copy;
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

void DataSet::writeInsert()
{
    // Attached before the transaction starts: no file can be attached inside one.
    m_plan.base = m_session->tableByFile(m_plan.base.fileName);
    const QList<FieldDef> tableFields = TableFiles::fields(*m_session, m_plan.base);
    Session::Transaction transaction(*m_session);
    QStringList columns, marks;
    QVariantList values;
    for (int i = 0; i < m_columns.size(); ++i) {
        const auto def = std::find_if(tableFields.begin(), tableFields.end(), [&](const auto &f) {
            return f.name.compare(m_columns[i], Qt::CaseInsensitive) == 0;
        });
        if (def == tableFields.end())
            continue;
        if (def->kind == FieldKind::AutoInc)
            m_buffer.values[i] = TableFiles::nextAutoIncrement(*m_session, m_plan.base, def->name);
        columns << SqlText::quoted(def->name);
        marks << QStringLiteral("?");
        values << m_buffer.values[i];
    }
    Statement statement =
        m_session->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                               .arg(m_plan.base.qualified(), columns.join(QStringLiteral(", ")),
                                    marks.join(QStringLiteral(", "))),
                           m_plan.base.fileName);
    for (int i = 0; i < values.size(); ++i)
        statement.bind(i + 1, values[i]);
    statement.step();
    Statement inserted = m_session->prepare(QStringLiteral("SELECT last_insert_rowid()"));
    inserted.step();
    const qint64 rowid = inserted.int64(0);
    transaction.commit();
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
    QStringList assignments;
    QVariantList values;
    const QList<FieldDef> tableFields = TableFiles::fields(*m_session, m_plan.base);
    for (int i = 0; i < m_columns.size(); ++i) {
        const bool stored = std::any_of(tableFields.begin(), tableFields.end(), [&](const auto &f) {
            return f.name.compare(m_columns[i], Qt::CaseInsensitive) == 0 &&
                   f.kind != FieldKind::AutoInc;
        });
        if (!stored || m_buffer.pending[i])
            continue;
        assignments << SqlText::quoted(m_columns[i]) + QStringLiteral(" = ?");
        values << m_buffer.values[i];
    }
    if (assignments.isEmpty())
        return;
    Statement statement = m_session->prepare(
        QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
            .arg(m_plan.base.qualified(), assignments.join(QStringLiteral(", "))),
        m_plan.base.fileName);
    for (int i = 0; i < values.size(); ++i)
        statement.bind(i + 1, values[i]);
    statement.bind(int(values.size()) + 1, m_buffer.rowid);
    statement.step();
    m_pages.remove(m_current / pageSize);
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
    const qint64 rowid = recordAt(m_current).rowid;
    Statement statement = m_session->prepare(
        QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(m_plan.base.qualified()),
        m_plan.base.fileName);
    statement.bind(1, rowid);
    statement.step();
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
