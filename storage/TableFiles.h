#pragma once

#include "FieldDef.h"
#include "Session.h"

// Structure operations on one table file: what fields and indexes it has,
// index upkeep, creation, alteration and packing.
namespace TableFiles {

QList<FieldDef> fields(Session &session, const TableRef &table);
QList<IndexDef> indexes(Session &session, const TableRef &table);

// Adds an index. The primary index (no name, `primary` set) may be declared
// again: when the table already has that very key, nothing changes.
void addIndex(Session &session, const QString &fileName, const IndexDef &index);
void deleteIndex(Session &session, const QString &fileName, const QString &indexName);
// True when the table has an index of that name just as addIndex would make
// it: the same fields in the same order, unique alike, each field in the
// order addIndex gives it. Declaring such an index again changes nothing.
bool hasSameIndex(Session &session, const QString &fileName, const IndexDef &index);
bool hasIndex(Session &session, const QString &fileName, const QString &indexName);

// Creates the file `fileName` in the session's directory holding one table
// named after the file. The file appears whole or not at all.
void createTable(Session &session, const QString &fileName, const QList<FieldDef> &fields);

struct AlterAction
{
    enum Kind
    {
        Add,
        Drop
    } kind;
    FieldDef field; // for Drop only the name counts
};
// Drops and adds fields in one transaction: after any interruption the table
// has either its old structure or its new one, with every row.
void alterTable(Session &session, const QString &fileName, const QList<AlterAction> &actions);

// Rewrites the table file without the space of deleted rows, through a
// connection of its own. Returns 0 on success, else the engine's error code.
int packTable(const QString &directory, const QString &fileName, QString *message = nullptr);

// Keys are 32-bit integers: the windows hold them as such.
inline constexpr qint64 maxKey = 2147483647;

// Assigns the next auto-increment value of a table: never reused, because the
// highest value handed out is kept in the file's header (user_version).
// Throws when the table has handed out every key up to maxKey.
qint64 nextAutoIncrement(Session &session, const TableRef &table, const QString &field);

} // namespace TableFiles
