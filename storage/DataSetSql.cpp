#include "DataSetSql.h"

#include "SqlText.h"
#include "Statement.h"
#include "TextRules.h"

QString SearchValues::placeholder(const QVariant &value)
{
    m_values << value;
    return QStringLiteral(":search%1").arg(m_values.size() - 1);
}

void SearchValues::bindTo(Statement &statement) const
{
    for (int i = 0; i < m_values.size(); ++i)
        statement.bindNamed(QStringLiteral("search%1").arg(i), m_values[i]);
}

namespace DataSetSql {

namespace {

QString whereClause(const ReadPlan &plan, const QString &condition = {})
{
    if (plan.where.isEmpty())
        return condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition;
    if (condition.isEmpty())
        return QStringLiteral(" WHERE ") + plan.where;
    return QStringLiteral(" WHERE (") + plan.where + QStringLiteral(") AND ") + condition;
}

// The list's order, made total by the row id so that equal names keep one order.
QString orderClause(const ReadPlan &plan)
{
    return QStringLiteral(" ORDER BY ") +
           (plan.orderBy.isEmpty() ? QString() : plan.orderBy + QStringLiteral(", ")) +
           plan.rowidColumn;
}

QString marks(int count, const QString &mark)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << mark;
    return list.join(QStringLiteral(", "));
}

} // namespace

QString keys(const ReadPlan &plan)
{
    return QStringLiteral("SELECT ") + plan.rowidColumn + QStringLiteral(" FROM ") + plan.from +
           whereClause(plan) + orderClause(plan);
}

QString shape(const ReadPlan &plan)
{
    return QStringLiteral("SELECT ") + plan.selectList + QStringLiteral(" FROM ") + plan.from +
           QStringLiteral(" WHERE 0");
}

bool namesColumnsOneByOne(const QStringList &columns)
{
    for (const QString &name : columns) {
        if (name.isEmpty())
            return false;
        for (const QChar c : name) {
            if (!c.isLetterOrNumber() && c != '_')
                return false;
        }
    }
    return true;
}

QString page(const ReadPlan &plan, const QStringList &columns, const QList<bool> &blobColumns,
             const QString &rowids)
{
    QString select = plan.selectList;
    if (namesColumnsOneByOne(columns)) {
        QStringList named;
        for (int i = 0; i < columns.size(); ++i)
            named << (blobColumns[i] ? QStringLiteral("NULL") : SqlText::quoted(columns[i]));
        select = named.join(QStringLiteral(", "));
    }
    return QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 IN (%4)")
        .arg(select, plan.rowidColumn, plan.from, rowids);
}

QString blob(const ReadPlan &plan, const QString &column)
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
        .arg(SqlText::quoted(column), plan.from, plan.rowidColumn);
}

QString readingForm(const QString &column)
{
    QString form = QStringLiteral("replace(upper(%1), 'Ё', 'Е')").arg(column);
    for (const QChar mark : TextRules::quoteMarks) {
        const QString literal = mark == u'\'' ? QStringLiteral("''''") : u'\'' + mark + u'\'';
        form = QStringLiteral("replace(%1, %2, '')").arg(form, literal);
    }
    return form;
}

QString locate(const ReadPlan &plan, const QString &condition)
{
    return QStringLiteral("SELECT ") + plan.rowidColumn + QStringLiteral(" FROM ") + plan.from +
           whereClause(plan, condition) + orderClause(plan) + QStringLiteral(" LIMIT 1");
}

QString lookup(const ReadPlan &plan, const QString &resultColumn, const QString &keyColumn,
               const QString &wanted)
{
    return QStringLiteral("SELECT ") + SqlText::quoted(resultColumn) + QStringLiteral(" FROM ") +
           plan.from +
           whereClause(plan, SqlText::quoted(keyColumn) + QStringLiteral(" = ") + wanted) +
           QStringLiteral(" LIMIT 1");
}

QString insert(const ReadPlan &plan, const QStringList &columns)
{
    QStringList quoted;
    for (const QString &column : columns)
        quoted << SqlText::quoted(column);
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(plan.base.qualified(), quoted.join(QStringLiteral(", ")),
             marks(int(columns.size()), QStringLiteral("?")));
}

QString update(const ReadPlan &plan, const QStringList &columns)
{
    QStringList assignments;
    for (const QString &column : columns)
        assignments << SqlText::quoted(column) + QStringLiteral(" = ?");
    return QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
        .arg(plan.base.qualified(), assignments.join(QStringLiteral(", ")));
}

QString remove(const ReadPlan &plan)
{
    return QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(plan.base.qualified());
}

void bindParameters(Statement &statement, const QVariantMap &parameters)
{
    for (int i = 1; i <= statement.parameterCount(); ++i) {
        const QString name = statement.parameterName(i);
        if (!name.isEmpty())
            statement.bind(i, parameters.value(name));
    }
}

} // namespace DataSetSql
