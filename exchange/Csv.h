#pragma once

#include "TextTable.h"

#include <QByteArray>
#include <QString>

// Text files of values separated by ';', as office programs in Russian
// settings write and read them.
namespace Csv {

// One line: values joined with ';', a value quoted when it holds the
// separator, a quote, a line break or edge spaces; ends with CR LF.
QByteArray line(const QStringList &values);

// The text of a file: UTF-8 when it starts with a byte-order mark or is valid
// UTF-8, else Windows-1251 (what office programs here write as "CSV").
QString decode(const QByteArray &bytes);

// Splits the text into lines of values; the separator (';', ',' or tab) is the
// one the first line uses most. Refuses more rows or columns than allowed.
TextTable parse(const QString &text, const ReadLimits &limits = {});

// Reads and parses a file within the limits; throws FileError with the reason.
TextTable read(const QString &path, const ReadLimits &limits = {});

} // namespace Csv
