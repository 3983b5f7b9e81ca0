#pragma once

#include "TextTable.h"
#include "ZipFile.h"

#include <QString>

class QXmlStreamReader;

// The zip of an office workbook (XLSX, ODS) read as untrusted input: a part is
// unpacked within the limit of bytes, no part is fetched from outside, and
// the table's deadline is kept while its XML is read.
class WorkbookZip
{
public:
    // A workbook has a dozen parts; thousands mean something else.
    static constexpr qint64 maxParts = 10000;

    WorkbookZip(const QString &path, TableBuilder &builder, const ReadLimits &limits);

    bool has(const QString &name) const { return m_zip.indexOf(name) >= 0; }
    // Throws FileError when the part is missing or too large.
    QByteArray part(const QString &name) const;
    // Steps the reader; throws FileError on damaged XML or past the deadline.
    bool next(QXmlStreamReader &xml) const;
    // The text up to the end of the current element, read within the deadline.
    QString elementText(QXmlStreamReader &xml) const;

private:
    ZipReader m_zip;
    TableBuilder &m_builder;
    const ReadLimits &m_limits;
};
