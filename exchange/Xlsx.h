#pragma once

#include "TextTable.h"

#include <QString>
#include <QVariant>
#include <memory>

class PrivateTempDir;
class QFile;

// Office Open XML workbooks of one sheet: written for export, read for import.
namespace Xlsx {

// Writes a workbook row by row; the sheet goes to a private temporary file
// first, so a large list never sits in memory, and the workbook appears whole
// at commit.
class Writer
{
public:
    Writer(const QString &path, const QString &sheetName);
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // The first row: bold, and kept in view when the sheet scrolls.
    void addHeader(const QStringList &titles);
    // Numbers become number cells, everything else text cells; a null is an empty cell.
    void addRow(const QVariantList &values);
    // Columns are sized to the longest text they hold.
    void commit();

private:
    void writeRow(const QVariantList &values, int style);
    QString assembleSheet();

    QString m_path;
    QString m_sheetName;
    std::unique_ptr<PrivateTempDir> m_scratch;
    std::unique_ptr<QFile> m_rows;
    QList<int> m_widths;
    bool m_frozenHeader = false;
};

// Reads the first sheet of a workbook as untrusted input: a zip whose parts
// are unpacked within the limits (a small file that unpacks to gigabytes is
// refused), no part fetched from outside, cells and characters held within
// the limits, and a time limit on the whole. Throws FileError with the reason.
TextTable read(const QString &path, const ReadLimits &limits = {});

} // namespace Xlsx
