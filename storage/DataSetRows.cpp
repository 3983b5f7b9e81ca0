// Reading a dataset's rows: the ordered row ids, pages of rows by id, blobs
// on demand, and the searches (locate, lookup) that run as SQL.
#include "DataSet.h"
#include "DataSource.h"
#include "EngineError.h"
#include "SqlText.h"
#include "TableFiles.h"

#include <QRegularExpression>
#include <algorithm>

// The values a search looks for, written into its SQL as named parameters of
// their own: a positional "?" would take its number after the dataset's named
// parameters (master link, filter, query parameters) and land on them.
class SearchValues
{
public:
    QString placeholder(const QVariant &value)
    {
        m_values << value;
        return QStringLiteral(":search%1").arg(m_values.size() - 1);
    }
    void bindTo(Statement &statement) const
    {
        for (int i = 0; i < m_values.size(); ++i)
            statement.bindNamed(QStringLiteral("search%1").arg(i), m_values[i]);
    }

private:
    QVariantList m_values;
};

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

void DataSet::forgetPageOf(int row)
{
    m_pages.remove(row / pageSize);
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
    QString sql = QStringLiteral("SELECT ") + m_plan.rowidColumn + QStringLiteral(" FROM ") +
                  m_plan.from + QStringLiteral(" WHERE ");
    if (!m_plan.where.isEmpty())
        sql += '(' + m_plan.where + QStringLiteral(") AND ");
    sql += condition + QStringLiteral(" ORDER BY ") +
           (m_plan.orderBy.isEmpty() ? QString() : m_plan.orderBy + QStringLiteral(", ")) +
           m_plan.rowidColumn + QStringLiteral(" LIMIT 1");
    Statement statement = m_session->prepare(sql, m_plan.base.fileName);
    bindParameters(statement, m_plan.parameters);
    values.bindTo(statement);
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
QString DataSet::prefixRange(const Field *field, const QString &prefix, SearchValues &bound) const
{
    const QString low = prefix.toLower();
    const QString column = SqlText::quoted(m_columns[field->m_column]);
    return QStringLiteral("%1 COLLATE RU >= %2 AND %1 COLLATE RU < %3")
        .arg(column, bound.placeholder(low),
             bound.placeholder(low + QString::fromUcs4(U"\U0010FFFF")));
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
            const QString column = SqlText::quoted(m_columns[located[i]->m_column]);
            const QString text = values[i].toString();
            if (values[i].isNull() || text.isEmpty()) {
                conditions << column + QStringLiteral(" IS NULL");
            } else if (located[i]->kind() == FieldKind::String ||
                       located[i]->kind() == FieldKind::Memo) {
                const bool folded = options.testFlag(LocateCaseInsensitive);
                const QString stored = folded ? QStringLiteral("upper(%1)").arg(column) : column;
                const QString wanted = bound.placeholder(folded ? text.toUpper() : text);
                conditions
                    << (options.testFlag(LocatePartialKey)
                            ? QStringLiteral("substr(%1, 1, length(%2)) = %2").arg(stored, wanted)
                            : stored + QStringLiteral(" = ") + wanted);
            } else {
                conditions << column + QStringLiteral(" = ") +
                                  bound.placeholder(located[i]->converted(values[i]));
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
    SearchValues wanted;
    sql += SqlText::quoted(m_columns[keyColumn->m_column]) + QStringLiteral(" = ") +
           wanted.placeholder(keyColumn->converted(key)) + QStringLiteral(" LIMIT 1");
    Statement statement = m_session->prepare(sql, m_plan.base.fileName);
    bindParameters(statement, m_plan.parameters);
    wanted.bindTo(statement);
    return statement.step() ? statement.value(0) : QVariant();
}
