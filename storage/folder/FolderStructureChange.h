#pragma once

#include "FolderSession.h"

// How the folder kind changes a table's structure and judges a change of a
// field's definition; FolderSession hands these out.
namespace FolderStructureChange {

// A change on a session of its own: the table file, and with `keepingValues`
// a consistent copy of it (TmpBase<position>.DB) to take values back from,
// attached before the transaction over both begins.
std::unique_ptr<TableChange> start(const FolderSession &session, const QString &fileName,
                                   int position, bool keepingValues,
                                   const std::function<void()> &keepAlive);

// Deletes every copy a change made (TmpBase*), also those of a change cut short.
void removeCopies(const QString &directory);

ValueLoss conversionLoss(FolderSession &session, const TableRef &table, const FieldDef &from,
                         const FieldDef &to);

} // namespace FolderStructureChange
