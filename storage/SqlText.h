#pragma once

#include "Session.h"

#include <QString>
#include <functional>

// Reading the catalogue's SQL texts: the shape of a SELECT (so that a list
// over one table can be read by key, a page at a time) and the engine's own
// table-definition statements.
namespace SqlText {

// An identifier in double quotes, inner quotes doubled.
QString quoted(const QString &identifier);

struct SelectShape
{
    bool singleTable = false; // one table in FROM, no grouping, joins or unions
    QString selectList;
    QString from;
    QString where;
    QString orderBy;
    qsizetype orderClauseStart = -1; // where "order by" begins in the text
    QString table;                   // the one table, as the text names it
    QString alias;                   // its alias, or empty
};

SelectShape parseSelect(const QString &sql);

// "order by name" sorts in the catalogue's alphabetical order: every term gets
// the Russian collation RU of the folder kind (it leaves numbers alone).
QString collatedOrderBy(const QString &orderBy);
// The column an ORDER BY list begins with, when it is a plain column sorted
// ascending ("name", "F.Name asc"); empty otherwise.
QString leadingOrderColumn(const QString &orderBy);

struct Definition
{
    enum Kind
    {
        None,
        Create,
        Alter
    } kind = None;
    QString fileName;
    QList<FieldDef> fields;     // Create
    QList<AlterAction> actions; // Alter
};

// Recognises "Create Table" and "Alter Table" texts, whatever their line
// layout; any other text gives kind None. Throws on a malformed definition.
Definition parseDefinition(const QString &sql);

// Writes every table that a statement names after FROM, JOIN, INTO or UPDATE
// (and in a FROM list after a comma) as schema.table, with the schema that
// `schemaOf` gives for the name, so that an object of the same name in
// another attached file can never stand in for it. Names it gives no schema
// for, names already qualified, subqueries and table-valued functions stay
// as written.
QString qualifyTables(const QString &sql,
                      const std::function<QString(const QString &name)> &schemaOf);

// The words and marks of a SQL text, for comparing texts: blanks and
// comments dropped, words and names upper-cased (names ignore case and mean
// the same quoted or not), literals as written.
QStringList tokens(const QString &sql);

// True when the first word of the text is SELECT.
bool isSelect(const QString &sql);

} // namespace SqlText
