#pragma once

#include "TextTable.h"

#include <QString>

// Excel 97–2003 workbooks (.xls), read for import with FreeXL.
namespace Xls {

// Reads the first sheet. FreeXL, a C library that loads every cell of the
// binary file at once, runs in a process of its own (`--read-xls`) with its
// address space, time and output bounded; the table comes back within the
// limits. Throws FileError with the reason.
TextTable read(const QString &path, const ReadLimits &limits = {});

// The reading process's side: reads `path` here within `limits` (as
// `limitsArgument` wrote them) and writes the table to standard output;
// returns the exit status.
int runReadCommand(const QString &path, const QString &limits);
QString limitsArgument(const ReadLimits &limits);

} // namespace Xls
