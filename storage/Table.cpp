#include "Table.h"

#include "DataSource.h"
#include "EngineError.h"

#include <QRegularExpression>

namespace {

// A condition no row meets, in the SQL of every kind.
const QString noRows = QStringLiteral("1 = 0");

QStringList fieldList(const QString &text)
{
    QStringList fields;
    for (const QString &part : text.split(';', Qt::SkipEmptyParts))
        fields << part.trimmed();
    return fields;
}

} // namespace

Table::Table(QObject *parent) : DataSet(parent) {}

void Table::setTableName(const QString &fileName)
{
    m_order = {};
    m_tableName = fileName;
    setObjectName(objectName().isEmpty() ? fileName : objectName());
}

void Table::setIndexName(const QString &name)
{
    m_order = {};
    m_indexName = name;
    m_indexFieldNames.clear();
    relink();
}

void Table::setIndexFieldNames(const QString &fields)
{
    m_order = {};
    m_indexFieldNames = fields;
    m_indexName.clear();
    relink();
}

void Table::setMasterSource(DataSource *source)
{
    if (m_masterSource == source)
        return;
    m_masterSource = source;
    followSource(source);
    relink();
}

void Table::setMasterFields(const QString &fields)
{
    m_masterFields = fields;
    relink();
}

void Table::setFilter(const QString &filter)
{
    m_filter = filter;
    if (m_filtered)
        relink();
}

void Table::setFiltered(bool filtered)
{
    m_filtered = filtered;
    relink();
}

QList<FieldDef> Table::fieldDefs()
{
    return session()->fields(session()->tableByFile(m_tableName));
}

QList<IndexDef> Table::indexDefs()
{
    return session()->indexes(session()->tableByFile(m_tableName));
}

void Table::requireClosed() const
{
    if (active())
        throw EngineError(m_tableName + QStringLiteral(": таблица должна быть закрыта"));
}

void Table::addIndex(const QString &name, const QString &fields, bool primary, bool unique,
                     bool caseInsensitive)
{
    requireClosed();
    IndexDef index;
    index.name = name;
    index.fields = fieldList(fields);
    index.primary = primary;
    index.unique = unique;
    index.caseInsensitive = caseInsensitive;
    session()->addIndex(m_tableName, index);
}

void Table::deleteIndex(const QString &name)
{
    requireClosed();
    session()->deleteIndex(m_tableName, name);
}

QStringList Table::orderFields(const TableRef &table)
{
    if (!m_indexFieldNames.isEmpty())
        return fieldList(m_indexFieldNames);
    const QList<IndexDef> indexes = session()->indexes(table);
    for (const IndexDef &index : indexes) {
        const bool wanted = m_indexName.isEmpty()
                                ? index.primary
                                : index.name.compare(m_indexName, Qt::CaseInsensitive) == 0;
        if (wanted)
            return index.fields;
    }
    if (!m_indexName.isEmpty())
        throw EngineError(m_tableName + QStringLiteral(": нет индекса ") + m_indexName);
    return {};
}

QString Table::filterCondition(QVariantMap &parameters) const
{
    if (!m_filtered || m_filter.trimmed().isEmpty())
        return {};
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\w+)\\s*=\\s*(?:(-?\\d+)|'((?:[^']|'')*)')\\s*$"));
    const auto m = form.match(m_filter);
    if (!m.hasMatch())
        throw EngineError(m_tableName + QStringLiteral(": неверный фильтр ") + m_filter);
    parameters.insert(QStringLiteral("filter0"), m.captured(2).isEmpty()
                                                     ? QVariant(m.captured(3).replace("''", "'"))
                                                     : QVariant(m.captured(2).toLongLong()));
    return session()->dialect().name(m.captured(1)) + QStringLiteral(" = :filter0");
}

QString Table::masterCondition(const QStringList &order, QVariantMap &parameters) const
{
    const QStringList masterFields = fieldList(m_masterFields);
    if (!m_masterSource || masterFields.isEmpty())
        return {};
    DataSet *master = m_masterSource->dataSet();
    // A master with no current record has no details.
    if (!master || !master->active() || master->displayRowCount() == 0)
        return noRows;
    if (order.size() < masterFields.size())
        throw EngineError(m_tableName + QStringLiteral(": индекс не подходит для связи"));
    QStringList conditions;
    for (int i = 0; i < masterFields.size(); ++i) {
        const QString name = QStringLiteral("master%1").arg(i);
        parameters.insert(name, master->fieldByName(masterFields[i])->value());
        conditions << session()->dialect().name(order[i]) + QStringLiteral(" = :") + name;
    }
    return conditions.join(QStringLiteral(" AND "));
}

DataSet::Plan Table::buildPlan()
{
    // Opening reads the table's shape; re-reading the rows for a new master
    // record or filter reuses it, so that walking a tree level by level stays cheap.
    if (!active() || m_order.base.fileName.isEmpty()) {
        m_order.base = session()->tableByFile(m_tableName);
        m_order.fields = orderFields(m_order.base);
    }
    const SqlDialect &dialect = session()->dialect();
    Plan plan;
    plan.base = m_order.base;
    plan.live = true;
    plan.from = plan.base.qualified();
    plan.rowIdentity = dialect.rowIdentity(plan.base, {});
    plan.selectList = QStringLiteral("*");
    const QStringList &order = m_order.fields;
    QStringList orderTerms;
    for (const QString &field : order)
        orderTerms << dialect.name(field);
    if (!order.isEmpty()) {
        plan.orderBy = dialect.collatedOrderBy(orderTerms.join(QStringLiteral(", ")));
        plan.leadingColumn = order.first();
    }

    const QString link = masterCondition(order, plan.parameters);
    m_linkFields = link.isEmpty() || link == noRows
                       ? QStringList()
                       : order.mid(0, fieldList(m_masterFields).size());
    QStringList conditions;
    if (!link.isEmpty())
        conditions << link;
    const QString filter = filterCondition(plan.parameters);
    if (!filter.isEmpty())
        conditions << filter;
    plan.where = conditions.join(QStringLiteral(" AND "));
    return plan;
}

void Table::assignLinkedFields()
{
    if (m_linkFields.isEmpty())
        return;
    DataSet *master = m_masterSource->dataSet();
    const QStringList masterFields = fieldList(m_masterFields);
    for (int i = 0; i < m_linkFields.size(); ++i) {
        if (Field *field = findField(m_linkFields[i]))
            field->setValue(master->fieldByName(masterFields[i])->value());
    }
}
