#include "TextExtraction.h"

#include <freexl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

QString cellText(const FreeXL_CellValue &cell)
{
    switch (cell.type) {
    case FREEXL_CELL_INT:
        return QString::number(cell.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return QString::number(cell.value.double_value);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
        return QString::fromUtf8(cell.value.text_value);
    default:
        return {};
    }
}

// Appends the cells of the active sheet, a row a line; false past the limit.
bool appendSheet(const void *book, QString &text, qint64 maxText)
{
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_worksheet_dimensions(book, &rows, &columns) != FREEXL_OK)
        return true;
    for (unsigned int row = 0; row < rows; ++row) {
        for (unsigned short column = 0; column < columns; ++column) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(book, row, column, &cell) == FREEXL_OK)
                text += cellText(cell) + u'\t';
        }
        text += u'\n';
        if (text.size() > maxText)
            return false;
    }
    return true;
}

} // namespace

Extraction xlsText(const QByteArray &bytes, qint64 maxText)
{
    // FreeXL reads from a path: the bytes go to a file in memory, which
    // leaves nothing behind however the process ends.
    const int fd = memfd_create("attached", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
        if (fd >= 0)
            close(fd);
        return tooLarge(QStringLiteral("нет памяти для копии"));
    }
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);
    const void *book = nullptr;
    // FreeXL wants the handle closed even when opening failed.
    const int opened = freexl_open(path.constData(), &book);
    Extraction result = damaged(QStringLiteral("не читается как книга XLS"));
    unsigned int sheets = 0;
    if (opened == FREEXL_INSUFFICIENT_MEMORY) {
        result = tooLarge(QStringLiteral("не хватило памяти"));
    } else if (opened == FREEXL_OK &&
               freexl_get_info(book, FREEXL_BIFF_SHEET_COUNT, &sheets) == FREEXL_OK) {
        QString text;
        bool within = true;
        for (unsigned short sheet = 0; within && sheet < sheets; ++sheet) {
            if (freexl_select_active_worksheet(book, sheet) == FREEXL_OK)
                within = appendSheet(book, text, maxText);
        }
        result = limitedText(text, maxText);
    }
    if (book)
        freexl_close(book);
    close(fd);
    return result;
}
