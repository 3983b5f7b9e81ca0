// Reading a dataset's rows: the ordered row ids, pages of rows by id, blobs
// on demand, and the searches (locate, lookup) that run as SQL.
#include "DataSet.h"
#include "DataSource.h"
#include "EngineError.h"
#include "TextRules.h"

#include <algorithm>

namespace {

bool sameValue(const QVariant &stored, const QVariant &wanted, LocateOptions options)
{
    const bool storedBlank = !stored.isValid() || stored.isNull();
    const QString wantedText = wanted.toString();
    if (storedBlank || wantedText.isEmpty())
        return storedBlank && wantedText.isEmpty();
    const bool asRead = options.testFlag(LocateAsRead);
    const QString storedText =
        asRead ? TextRules::readingForm(stored.toString()) : stored.toString();
    const QString wantedForm = asRead ? TextRules::readingForm(wantedText) : wantedText;
    const Qt::CaseSensitivity cs =
        options.testFlag(LocateCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
    return options.testFlag(LocatePartialKey) ? storedText.startsWith(wantedForm, cs)
                                              : storedText.compare(wantedForm, cs) == 0;
}

} // namespace

void DataSet::readKeys()
{
    Statement statement = m_session->prepare(DataSetSql::keys(m_plan), m_plan.base.fileName);
    DataSetSql::bindParameters(statement, m_plan.parameters);
    std::vector<qint64> keys;
    while (statement.step())
        keys.push_back(statement.int64(0));
    m_keys = std::move(keys);

    if (m_columns.isEmpty()) {
        Statement shape = m_session->prepare(DataSetSql::shape(m_plan), m_plan.base.fileName);
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
    DataSetSql::bindParameters(statement, m_plan.parameters);
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

// The rows of a page not read yet: after another desk's change only the
// changed row is read again.
void DataSet::loadPage(int page) const
{
    std::vector<qint64> missing;
    for (const qint64 rowid : RowCache::pageKeys(m_keys, page)) {
        if (!m_rows.find(rowid))
            missing.push_back(rowid);
    }
    loadRows(missing);
}

void DataSet::loadRows(const std::vector<qint64> &rowids) const
{
    const bool oneByOne = DataSetSql::namesColumnsOneByOne(m_plan, m_columns);
    // A row whose blob stays unread is read with its version: the blob is
    // not shown, and only the version tells that another desk replaced it.
    const bool versioned = oneByOne && m_blobColumns.contains(true);
    QStringList tableColumns;
    for (const FieldDef &field : m_tableFields)
        tableColumns << field.name;
    Statement statement =
        m_session->prepare(DataSetSql::page(m_session->dialect(), m_plan, m_columns, m_blobColumns,
                                            rowids, versioned ? tableColumns : QStringList()),
                           m_plan.base.fileName);
    QHash<qint64, Record> byRowid;
    const int count = int(m_columns.size());
    while (statement.step()) {
        Record record;
        record.rowid = statement.int64(count);
        for (int i = 0; i < count; ++i) {
            record.values << statement.value(i);
            // Blobs named one by one stay on disk until asked for.
            record.pending << (oneByOne && m_blobColumns[i]);
        }
        if (versioned && !m_shownVersions.contains(record.rowid))
            m_shownVersions.insert(record.rowid, statement.value(count + 1));
        byRowid.insert(record.rowid, record);
    }
    m_rows.store(rowids, byRowid, count);
}

void DataSet::dropCache()
{
    m_rows.clear();
    m_lookups.clear();
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
    const qint64 rowid = m_keys[size_t(stored)];
    if (const Record *cached = m_rows.find(rowid))
        return *cached;
    loadPage(RowCache::pageOf(stored));
    return *m_rows.find(rowid);
}

QByteArray DataSet::readBlob(qint64 rowid, const Field *field) const
{
    Statement statement = m_session->prepare(
        DataSetSql::blob(m_session->dialect(), m_plan, m_columns[field->m_column], rowid),
        m_plan.base.fileName);
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

std::optional<qint64> DataSet::locateRowid(const QString &condition, const SearchValues &values)
{
    Statement statement =
        m_session->prepare(DataSetSql::locate(m_plan, condition), m_plan.base.fileName);
    DataSetSql::bindParameters(statement, m_plan.parameters);
    values.bindTo(statement);
    if (!statement.step())
        return std::nullopt;
    return statement.int64(0);
}

bool DataSet::leadsTheOrder(const Field *field) const
{
    return !m_plan.leadingColumn.isEmpty() &&
           m_plan.leadingColumn.compare(m_columns[field->m_column], Qt::CaseInsensitive) == 0;
}

// In the list's order every name that begins with a text, in any letter case,
// lies between the text in small letters and the text followed by the highest
// character: the index on the name finds the first one without a scan.
QString DataSet::prefixRange(const Field *field, const QString &prefix, SearchValues &bound) const
{
    const QString low = prefix.toLower();
    const QString column =
        m_session->dialect().inListOrder(m_session->dialect().name(m_columns[field->m_column]));
    return QStringLiteral("%1 >= %2 AND %1 < %3")
        .arg(column, bound.placeholder(low),
             bound.placeholder(low + QChar(TextRules::highestCharacter)));
}

// A name that begins, as a person reads it, with a text stands in the list's
// order where the text's first character does, or among the names that begin
// with a quote mark (a quote mark further on comes after that first
// character). Only those ranges of the index are read; the first match in
// the list's order among them is the one.
int DataSet::firstReadAlike(const Field *field, const QString &text, const QString &condition,
                            SearchValues &bound)
{
    const QString form = TextRules::readingForm(text);
    QStringList leads = {form.left(1)};
    for (const QChar mark : TextRules::quoteMarks)
        leads << QString(mark);
    int first = -1;
    for (const QString &lead : leads) {
        const QString range = prefixRange(field, lead, bound);
        const auto rowid = locateRowid(condition + QStringLiteral(" AND ") + range, bound);
        const int position = rowid ? positionOfRowid(*rowid) : -1;
        if (position >= 0 && (first < 0 || position < first))
            first = position;
    }
    return first;
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
        SearchValues bound;
        for (int i = 0; i < located.size(); ++i) {
            const QString column = m_session->dialect().name(m_columns[located[i]->m_column]);
            const QString text = values[i].toString();
            if (values[i].isNull() || text.isEmpty()) {
                conditions << column + QStringLiteral(" IS NULL");
            } else if (located[i]->kind() == FieldKind::String ||
                       located[i]->kind() == FieldKind::Memo) {
                const bool asRead = options.testFlag(LocateAsRead);
                const bool folded = options.testFlag(LocateCaseInsensitive);
                const QString stored = asRead   ? DataSetSql::readingForm(column)
                                       : folded ? QStringLiteral("upper(%1)").arg(column)
                                                : column;
                const QString wanted = bound.placeholder(asRead   ? TextRules::readingForm(text)
                                                         : folded ? text.toUpper()
                                                                  : text);
                conditions << (options.testFlag(LocatePartialKey)
                                   ? m_session->dialect().startsWith(stored, wanted)
                                   : stored + QStringLiteral(" = ") + wanted);
            } else {
                conditions << column + QStringLiteral(" = ") +
                                  bound.placeholder(located[i]->converted(values[i]));
            }
        }
        const bool prefixInOrder = located.size() == 1 && options.testFlag(LocatePartialKey) &&
                                   options.testFlag(LocateCaseInsensitive) &&
                                   leadsTheOrder(located.first()) &&
                                   !values.first().toString().isEmpty();
        const QString condition = conditions.join(QStringLiteral(" AND "));
        if (prefixInOrder && options.testFlag(LocateAsRead)) {
            position = firstReadAlike(located.first(), values.first().toString(), condition, bound);
        } else {
            if (prefixInOrder)
                conditions << prefixRange(located.first(), values.first().toString(), bound);
            if (const auto rowid = locateRowid(conditions.join(QStringLiteral(" AND ")), bound))
                position = positionOfRowid(*rowid);
        }
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
    if (const auto cached = m_lookups.find(keyField, resultField, key))
        return *cached;
    const Field *keyColumn = fieldByName(keyField);
    const Field *result = fieldByName(resultField);
    const QVariant found =
        m_plan.keyed ? lookupInTable(keyColumn, key, result) : lookupInRows(keyColumn, key, result);
    m_lookups.store(keyField, resultField, key, found);
    return found;
}

QVariant DataSet::lookupInRows(const Field *keyColumn, const QVariant &key,
                               const Field *result) const
{
    for (const Record &record : m_allRows) {
        if (sameValue(record.values.value(keyColumn->m_column), key, {}))
            return record.values.value(result->m_column);
    }
    return {};
}

QVariant DataSet::lookupInTable(const Field *keyColumn, const QVariant &key,
                                const Field *result) const
{
    SearchValues wanted;
    const QString placeholder = wanted.placeholder(keyColumn->converted(key));
    Statement statement = m_session->prepare(
        DataSetSql::lookup(m_session->dialect(), m_plan, m_columns[result->m_column],
                           m_columns[keyColumn->m_column], placeholder),
        m_plan.base.fileName);
    DataSetSql::bindParameters(statement, m_plan.parameters);
    wanted.bindTo(statement);
    return statement.step() ? statement.value(0) : QVariant();
}
