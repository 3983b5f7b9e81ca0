#pragma once

#include "TextTable.h"

#include <QByteArray>
#include <QSet>
#include <QString>

// Text files of values separated by ';', as office programs in Russian
// settings write and read them.
namespace Csv {

// One line: values joined with ';', a value quoted when it holds the
// separator, a quote, a line break or edge spaces; ends with CR LF. A value
// that a spreadsheet would run as a formula is neutralised first.
QByteArray line(const QStringList &values);

// A value beginning with '=', '+', '-', '@', a tab or a carriage return is
// taken by spreadsheet programs for a formula: it gets an apostrophe before
// it, which they show as text. A value that already looks neutralised (one or
// more apostrophes before such a character) gets one more, so that
// `restored` gives back exactly what was written out.
QString neutralised(const QString &value);
QString restored(const QString &value);

// The text of a file with what its bytes said about their encoding.
struct Decoded
{
    QString text;
    // Lines (counted from 1) that hold bytes the encoding does not read.
    QSet<int> badLines;
};

// The encoding is decided on evidence: a byte-order mark; UTF-16 told by its
// zero bytes; UTF-8 when its multi-byte sequences outnumber the bytes that
// break it (a line holding such bytes is marked bad, not the file); else
// Windows-1251, which office programs here write as "CSV".
Decoded decode(const QByteArray &bytes);

// True when the bytes look like text in one of the encodings read (few
// control characters besides line ends and tabs), not like a binary file.
bool looksLikeText(const QByteArray &bytes);

// Splits the text into rows of values; the separator is the one an Excel
// "sep=" first line names, else the one (';', ',' or tab) the first line uses
// most. Rows that cannot be read as they stand are marked damaged.
TextTable parse(const Decoded &decoded, const ReadLimits &limits = {});

// Reads and parses a file within the limits; throws FileError with the reason.
TextTable read(const QString &path, const ReadLimits &limits = {});

} // namespace Csv
