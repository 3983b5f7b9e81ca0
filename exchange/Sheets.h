#pragma once

#include "TextTable.h"

#include <QString>

// The kinds of spreadsheet an import reads, told by their content.
namespace Sheets {

enum class Kind
{
    Csv,  // text: UTF-8, UTF-16 or Windows-1251, values separated by ';', ',' or tabs
    Xlsx, // Office Open XML workbook
    Xls,  // Excel 97–2003 workbook
    Ods,  // OpenDocument spreadsheet
    Other
};

// Looks at the file's first bytes (and a zip's parts), not at its name: an
// .xls that is really text is read as text, a renamed picture is refused.
Kind kindOf(const QString &path);

// The filter of the file dialog: the kinds read, then every file.
QString dialogFilter();

// Reads the file by its kind; any other kind is refused with a message
// naming the kinds read. Throws FileError with the reason.
TextTable read(const QString &path, const ReadLimits &limits = {});

} // namespace Sheets
