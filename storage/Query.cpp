#include "Query.h"

#include "DataSource.h"
#include "EngineError.h"
#include "SqlText.h"

Query::Query(QObject *parent) : DataSet(parent) {}

void Query::setSql(const QStringList &lines)
{
    close();
    m_sql = lines;
}

void Query::setSqlLine(int index, const QString &line)
{
    close();
    while (m_sql.size() <= index)
        m_sql << QString();
    m_sql[index] = line;
}

void Query::addSqlLine(const QString &line)
{
    close();
    m_sql << line;
}

void Query::setDataSource(DataSource *source)
{
    if (m_dataSource == source)
        return;
    m_dataSource = source;
    followSource(source);
    relink();
}

void Query::setParam(const QString &name, const QVariant &value)
{
    m_params.insert(name, value);
}

QVariantMap Query::parameterValues() const
{
    QVariantMap values;
    DataSet *master = m_dataSource ? m_dataSource->dataSet() : nullptr;
    if (master && master->active()) {
        for (Field *field : master->fields())
            values.insert(field->fieldName(), field->value());
    }
    for (auto it = m_params.cbegin(); it != m_params.cend(); ++it)
        values.insert(it.key(), it.value());
    return values;
}

DataSet::Plan Query::buildPlan()
{
    const QString sql = text();
    if (!SqlText::isSelect(sql))
        throw EngineError(QStringLiteral("Запрос не возвращает строк: ") + sql.simplified());
    const SqlText::SelectShape shape = SqlText::parseSelect(sql);
    Plan plan;
    plan.parameters = parameterValues();
    const SqlDialect &dialect = session()->dialect();
    if (!shape.singleTable) {
        plan.keyed = false;
        plan.sql = shape.orderBy.isEmpty()
                       ? sql
                       : sql.left(shape.orderClauseStart) + QStringLiteral("ORDER BY ") +
                             dialect.collatedOrderBy(shape.orderBy);
        return plan;
    }
    plan.base = session()->tableByName(shape.table);
    plan.live = m_requestLive;
    plan.from = shape.from;
    plan.alias = shape.alias;
    plan.selectList = shape.selectList;
    plan.rowIdentity = dialect.rowIdentity(plan.base, shape.alias);
    plan.where = shape.where;
    if (!shape.orderBy.isEmpty()) {
        plan.orderBy = dialect.collatedOrderBy(shape.orderBy);
        plan.leadingColumn = SqlText::leadingOrderColumn(shape.orderBy);
    }
    return plan;
}

void Query::execSql()
{
    const QString sql = text();
    const SqlText::Definition definition = SqlText::parseDefinition(sql);
    switch (definition.kind) {
    case SqlText::Definition::Create:
        session()->createTable(definition.fileName, definition.fields);
        return;
    case SqlText::Definition::Alter:
        session()->alterTable(definition.fileName, definition.actions);
        return;
    case SqlText::Definition::None:
        break;
    }
    Statement statement = session()->prepare(sql);
    const QVariantMap values = parameterValues();
    for (int i = 1; i <= statement.parameterCount(); ++i)
        statement.bind(i, values.value(statement.parameterName(i)));
    while (statement.step()) {
    }
}
