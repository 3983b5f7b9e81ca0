#include "Sheets.h"

#include "Csv.h"
#include "FileError.h"
#include "Ods.h"
#include "Xls.h"
#include "Xlsx.h"
#include "ZipFile.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Enough of the file to tell text from a binary file.
constexpr qint64 headBytes = 64 * 1024;
const QByteArray oleMagic = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
const QByteArray odsMime = "application/vnd.oasis.opendocument.spreadsheet";

Sheets::Kind zipKind(const QString &path)
{
    try {
        const ZipReader zip(path, 10000);
        if (zip.indexOf(QStringLiteral("xl/workbook.xml")) >= 0)
            return Sheets::Kind::Xlsx;
        const int mimetype = zip.indexOf(QStringLiteral("mimetype"));
        if (mimetype >= 0 && zip.readAll(mimetype, 256).trimmed() == odsMime)
            return Sheets::Kind::Ods;
    } catch (const FileError &) {
        // A damaged zip is no spreadsheet we can read.
    }
    return Sheets::Kind::Other;
}

// Text that begins with markup is a web page or an XML file, not a table of values.
bool isMarkup(const QByteArray &head)
{
    const QByteArray start = head.left(256).trimmed();
    return start.startsWith('<') || start.startsWith("\xEF\xBB\xBF<");
}

} // namespace

namespace Sheets {

Kind kindOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(cannotRead(path, file.errorString()));
    const QByteArray head = file.read(headBytes);
    if (head.startsWith("PK\x03\x04"))
        return zipKind(path);
    if (head.startsWith(oleMagic))
        return Kind::Xls;
    if (head.startsWith("%PDF") || head.startsWith("{\\rtf") || isMarkup(head) ||
        !Csv::looksLikeText(head))
        return Kind::Other;
    return Kind::Csv;
}

QString dialogFilter()
{
    return QStringLiteral("Таблицы (*.csv *.txt *.xlsx *.xls *.ods);;Все файлы (*)");
}

TextTable read(const QString &path, const ReadLimits &limits)
{
    switch (kindOf(path)) {
    case Kind::Csv:
        return Csv::read(path, limits);
    case Kind::Xlsx:
        return Xlsx::read(path, limits);
    case Kind::Xls:
        return Xls::read(path, limits);
    case Kind::Ods:
        return Ods::read(path, limits);
    case Kind::Other:
        break;
    }
    throw FileError(QStringLiteral("«") + QFileInfo(path).fileName() +
                    QStringLiteral("» не является таблицей, которую можно загрузить: читаются "
                                   "таблицы CSV (текст), XLSX, XLS и ODS"));
}

} // namespace Sheets
