#pragma once

#include "Session.h"

#include <QStringList>
#include <QVariant>

class Statement;

// How a dataset's rows are read. Keyed plans read one table by row identity.
struct ReadPlan
{
    bool keyed = true;
    bool live = false;      // rows may be changed through the dataset
    TableRef base;          // the table rows are read from and written to
    QString selectList;     // columns of a keyed read
    QString from;           // FROM clause as the SQL writes it
    QString alias;          // the table's alias in FROM, or empty
    QString rowIdentity;    // the expression that numbers its rows
    QString where;          // condition, possibly empty
    QString orderBy;        // with collation, possibly empty
    QString leadingColumn;  // the column the order begins with, ascending; or empty
    QString sql;            // the whole text, for plans read whole
    QVariantMap parameters; // named parameters without ':'
};

// The values a search looks for, written into its SQL as named parameters of
// their own: a positional "?" would take its number after the dataset's named
// parameters (master link, filter, query parameters) and land on them.
class SearchValues
{
public:
    QString placeholder(const QVariant &value);
    void bindTo(Statement &statement) const;

private:
    QVariantList m_values;
};

// The SQL texts a dataset runs, built from its plan and the dialect of its
// catalogue. Table and column names are quoted here and nowhere else in the
// dataset.
namespace DataSetSql {

// The ordered row ids of a keyed plan.
QString keys(const ReadPlan &plan);
// Those of `identities` that the plan's condition keeps, in the list's order.
QString keysAmong(const SqlDialect &dialect, const ReadPlan &plan,
                  std::span<const qint64> identities);
// No rows, only the columns and their declared types.
QString shape(const ReadPlan &plan);
// One page of rows by identity; `columns` are the dataset's, blobs left as NULL.
// Given the table's columns, each row's version follows its identity.
QString page(const SqlDialect &dialect, const ReadPlan &plan, const QStringList &columns,
             const QList<bool> &blobColumns, std::span<const qint64> identities,
             const QStringList &versionedBy = {});
// One row by identity as `page` reads it, with its version after the identity.
QString versionedRow(const SqlDialect &dialect, const ReadPlan &plan, const QStringList &columns,
                     const QList<bool> &blobColumns, const QStringList &tableColumns,
                     qint64 identity);
// True when a page can name every column one by one (so blobs can stay on
// disk): the select list takes columns as the table stores them.
bool namesColumnsOneByOne(const ReadPlan &plan, const QStringList &columns);
QString blob(const SqlDialect &dialect, const ReadPlan &plan, const QString &column,
             qint64 identity);
// The SQL expression of a column's text in its reading form (upper case, Ё as
// Е, no quote marks: TextRules::readingForm), in functions every engine has.
QString readingForm(const QString &column);
// The first row identity, in the list's order, that meets `condition` as well.
QString locate(const ReadPlan &plan, const QString &condition);
// The value of `resultColumn` in the first row whose `keyColumn` is `wanted`.
QString lookup(const SqlDialect &dialect, const ReadPlan &plan, const QString &resultColumn,
               const QString &keyColumn, const QString &wanted);

// Binds the plan's own named parameters.
void bindParameters(Statement &statement, const QVariantMap &parameters);

} // namespace DataSetSql
