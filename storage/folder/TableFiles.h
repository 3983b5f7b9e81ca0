#pragma once

#include "FolderSession.h"

// Structure operations of the folder kind on one table file: what fields and
// indexes it has, index upkeep, creation, alteration and packing.
namespace TableFiles {

QList<FieldDef> fields(FolderSession &session, const TableRef &table);
QList<IndexDef> indexes(FolderSession &session, const TableRef &table);

// Adds an index. The primary index (no name, `primary` set) may be declared
// again: when the table already has that very key, nothing changes.
void addIndex(FolderSession &session, const QString &fileName, const IndexDef &index);
void deleteIndex(FolderSession &session, const QString &fileName, const QString &indexName);
// True when the table has an index of that name just as addIndex would make
// it: the same fields in the same order, unique alike, each field in the
// order addIndex gives it. Declaring such an index again changes nothing.
bool hasSameIndex(FolderSession &session, const QString &fileName, const IndexDef &index);

// Creates the file `fileName` in the session's directory holding one table
// named after the file. The file appears whole or not at all.
void createTable(FolderSession &session, const QString &fileName, const QList<FieldDef> &fields);

// Drops and adds fields in one transaction: after any interruption the table
// has either its old structure or its new one, with every row.
void alterTable(FolderSession &session, const QString &fileName, const QList<AlterAction> &actions);

// Rewrites the table file without the space of deleted rows, through a
// connection of its own. Returns 0 on success, else the engine's error code.
int packTable(const QString &directory, const QString &fileName, QString *message = nullptr);

// Assigns the next auto-increment value of a table: never reused, because the
// highest value handed out is kept in the file's header (user_version).
// Throws when the table has handed out every key up to maxKey.
qint64 nextAutoIncrement(FolderSession &session, const TableRef &table, const QString &field);
// The highest auto-increment value handed out so far (0 for none), and its
// setting, so that a copy of a table goes on from where the original stood.
qint64 keysHandedOut(FolderSession &session, const TableRef &table);
void setKeysHandedOut(FolderSession &session, const TableRef &table, qint64 highest);
// Raises the highest value handed out to `used` when it is lower.
void keepAutoIncrementAbove(FolderSession &session, const TableRef &table, qint64 used);

} // namespace TableFiles
