#pragma once

#include "BaseDescription.h"
#include "FieldDef.h"

class Session;
struct TableRef;

// Whether the changes that a description declares for an existing table keep
// everything the table holds. Each check reads the table and changes nothing,
// so a refusal leaves every file as it was.
namespace BaseMaker {

// Refuses, with an error naming the description's line, a declared change of
// `table` that would lose stored values: a replaced field whose values do not
// all survive the conversion, a primary key over values that repeat, an index
// over a field the table will not have.
void refuseLosses(Session &session, const QString &source, const TableSpec &table,
                  const QList<FieldDef> &existing);

// Index lines of a table that does not exist yet may only name declared fields.
void refuseUnknownIndexFields(const QString &source, const TableSpec &table);

// The definition of a field as the statements declare it.
FieldDef declaredField(const FieldSpec &field);

} // namespace BaseMaker
