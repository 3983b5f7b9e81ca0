#include "DataSetSql.h"

#include "Statement.h"
#include "TextRules.h"

#include <QRegularExpression>

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

// The list's order, made total by the row identity so that equal names keep one order.
QString orderClause(const ReadPlan &plan)
{
    return QStringLiteral(" ORDER BY ") +
           (plan.orderBy.isEmpty() ? QString() : plan.orderBy + QStringLiteral(", ")) +
           plan.rowIdentity;
}

} // namespace

QString keys(const ReadPlan &plan)
{
    return QStringLiteral("SELECT ") + plan.rowIdentity + QStringLiteral(" FROM ") + plan.from +
           whereClause(plan) + orderClause(plan);
}

QString keysAmong(const SqlDialect &dialect, const ReadPlan &plan,
                  std::span<const qint64> identities)
{
    return QStringLiteral("SELECT ") + plan.rowIdentity + QStringLiteral(" FROM ") + plan.from +
           whereClause(plan, dialect.rowsAmong(plan.base, plan.alias, identities)) +
           orderClause(plan);
}

QString shape(const ReadPlan &plan)
{
    return QStringLiteral("SELECT ") + plan.selectList + QStringLiteral(" FROM ") + plan.from +
           QStringLiteral(" LIMIT 0");
}

bool namesColumnsOneByOne(const ReadPlan &plan, const QStringList &columns)
{
    // "*", "F.*" or names of columns, perhaps with their table: no expression,
    // whose result each kind names as it likes.
    static const QRegularExpression plain(
        QStringLiteral("^\\s*(?:\\w+\\.)?(?:\\*|\\w+)\\s*(?:,\\s*(?:\\w+\\.)?(?:\\*|\\w+)\\s*)*$"));
    if (!plain.match(plan.selectList).hasMatch())
        return false;
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

namespace {

QString pageSelectList(const SqlDialect &dialect, const ReadPlan &plan, const QStringList &columns,
                       const QList<bool> &blobColumns)
{
    if (!namesColumnsOneByOne(plan, columns))
        return plan.selectList;
    QStringList named;
    for (int i = 0; i < columns.size(); ++i)
        named << (blobColumns[i] ? QStringLiteral("NULL") : dialect.name(columns[i]));
    return named.join(QStringLiteral(", "));
}

} // namespace

QString page(const SqlDialect &dialect, const ReadPlan &plan, const QStringList &columns,
             const QList<bool> &blobColumns, std::span<const qint64> identities,
             const QStringList &versionedBy)
{
    const QString version = versionedBy.isEmpty()
                                ? QString()
                                : ", " + dialect.rowVersion(plan.base, plan.alias, versionedBy);
    return QStringLiteral("SELECT %1, %2%3 FROM %4 WHERE %5")
        .arg(pageSelectList(dialect, plan, columns, blobColumns), plan.rowIdentity, version,
             plan.from, dialect.rowsAmong(plan.base, plan.alias, identities));
}

QString versionedRow(const SqlDialect &dialect, const ReadPlan &plan, const QStringList &columns,
                     const QList<bool> &blobColumns, const QStringList &tableColumns,
                     qint64 identity)
{
    return QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %5")
        .arg(pageSelectList(dialect, plan, columns, blobColumns), plan.rowIdentity,
             dialect.rowVersion(plan.base, plan.alias, tableColumns), plan.from,
             dialect.rowsAmong(plan.base, plan.alias, std::span<const qint64>(&identity, 1)));
}

QString blob(const SqlDialect &dialect, const ReadPlan &plan, const QString &column,
             qint64 identity)
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3")
        .arg(dialect.name(column), plan.from,
             dialect.rowsAmong(plan.base, plan.alias, std::span<const qint64>(&identity, 1)));
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
    return QStringLiteral("SELECT ") + plan.rowIdentity + QStringLiteral(" FROM ") + plan.from +
           whereClause(plan, condition) + orderClause(plan) + QStringLiteral(" LIMIT 1");
}

QString lookup(const SqlDialect &dialect, const ReadPlan &plan, const QString &resultColumn,
               const QString &keyColumn, const QString &wanted)
{
    return QStringLiteral("SELECT ") + dialect.name(resultColumn) + QStringLiteral(" FROM ") +
           plan.from + whereClause(plan, dialect.name(keyColumn) + QStringLiteral(" = ") + wanted) +
           QStringLiteral(" LIMIT 1");
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
