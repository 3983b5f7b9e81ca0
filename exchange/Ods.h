#pragma once

#include "TextTable.h"

#include <QString>

// OpenDocument spreadsheets (LibreOffice's own format), read for import.
namespace Ods {

// Reads the first table of the spreadsheet within the limits, as Xlsx::read
// does: repeated rows and cells count at every repetition, and the empty
// cells a program writes to the sheet's edge cost nothing. Throws FileError
// with the reason.
TextTable read(const QString &path, const ReadLimits &limits = {});

} // namespace Ods
