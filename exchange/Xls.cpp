#include "Xls.h"

#include "ChildLimits.h"
#include "FileError.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <freexl.h>

namespace {

// How often the parent looks at the reading process: short enough that a
// runaway output is cut early, long enough to cost nothing.
constexpr int pollMs = 50;
// What a table takes on the wire besides its characters: lengths and line numbers.
constexpr qint64 wireBytesPerCell = 8;

QString cellText(const FreeXL_CellValue &cell)
{
    switch (cell.type) {
    case FREEXL_CELL_INT:
        return QString::number(cell.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return QString::number(cell.value.double_value, 'g', 15);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        return QString::fromUtf8(cell.value.text_value);
    default:
        return {};
    }
}

// Closes the workbook however the reading ends; FreeXL wants the handle
// closed even when opening failed.
struct Book
{
    const void *handle = nullptr;
    ~Book()
    {
        if (handle)
            freexl_close(handle);
    }
};

TextTable readHere(const QString &path, const ReadLimits &limits)
{
    Book book;
    if (freexl_open(QFile::encodeName(path).constData(), &book.handle) != FREEXL_OK)
        throw FileError(QStringLiteral("файл не является книгой Excel 97–2003 или повреждён"));
    unsigned int password = 0;
    if (freexl_get_info(book.handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK &&
        password == FREEXL_BIFF_OBFUSCATED)
        throw FileError(QStringLiteral("книга защищена паролем"));
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(book.handle, 0) != FREEXL_OK ||
        freexl_worksheet_dimensions(book.handle, &rows, &columns) != FREEXL_OK)
        throw FileError(QStringLiteral("в книге нет листов"));
    TableBuilder builder(limits);
    for (unsigned int row = 0; row < rows; ++row) {
        for (unsigned short column = 0; column < columns; ++column) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(book.handle, row, column, &cell) == FREEXL_OK)
                builder.setCell(column, cellText(cell));
        }
        builder.endRow(int(row + 1));
    }
    return builder.finish();
}

QByteArray serialised(const TextTable &table)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << table.header << table.rows << table.lines << table.damaged;
    return bytes;
}

TextTable deserialised(const QByteArray &bytes)
{
    TextTable table;
    QDataStream in(bytes);
    in >> table.header >> table.rows >> table.lines >> table.damaged;
    if (in.status() != QDataStream::Ok || table.lines.size() != table.rows.size())
        throw FileError(QStringLiteral("программа чтения XLS ответила неразборчиво"));
    return table;
}

QString failureOf(QProcess &process)
{
    if (process.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("книга не читается: чтение прервано (повреждённый файл или "
                              "нехватка памяти)");
    const QString reason = QString::fromUtf8(process.readAllStandardError().left(500)).trimmed();
    return reason.isEmpty() ? QStringLiteral("книга не читается") : reason;
}

} // namespace

namespace Xls {

QString limitsArgument(const ReadLimits &limits)
{
    return QStringLiteral("%1:%2:%3:%4:%5")
        .arg(limits.maxRows)
        .arg(limits.maxColumns)
        .arg(limits.maxCells)
        .arg(limits.maxCharacters)
        .arg(limits.maxSeconds);
}

int runReadCommand(const QString &path, const QString &limitsText)
{
    ReadLimits limits;
    const QStringList parts = limitsText.split(':');
    if (parts.size() == 5) {
        limits.maxRows = parts[0].toInt();
        limits.maxColumns = parts[1].toInt();
        limits.maxCells = parts[2].toLongLong();
        limits.maxCharacters = parts[3].toLongLong();
        limits.maxSeconds = parts[4].toInt();
    }
    try {
        const QByteArray bytes = serialised(readHere(path, limits));
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const FileError &e) {
        std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
        return 1;
    }
}

TextTable read(const QString &path, const ReadLimits &limits)
{
    const QString shown = QDir::toNativeSeparators(path);
    QProcess process;
    process.setProgram(limits.xlsProgram.isEmpty() ? QCoreApplication::applicationFilePath()
                                                   : limits.xlsProgram);
    process.setArguments({QStringLiteral("--read-xls"), path, QStringLiteral("--read-limits"),
                          limitsArgument(limits)});
    process.setStandardInputFile(QProcess::nullDevice());
    const qint64 memory = limits.xlsAddressSpace;
    const int seconds = limits.maxSeconds;
    process.setChildProcessModifier([memory, seconds] { ChildLimits::bound(memory, seconds + 1); });
    process.start();
    if (!process.waitForStarted())
        throw FileError(shown + QStringLiteral(": не запускается программа чтения XLS (") +
                        process.errorString() + ')');
    const QDeadlineTimer deadline(qint64(seconds) * 1000);
    const qint64 maxOutput = limits.maxCharacters * 2 + limits.maxCells * wireBytesPerCell + 4096;
    QByteArray output;
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(pollMs)) {
        output += process.readAllStandardOutput();
        const bool tooLong = deadline.hasExpired();
        if (tooLong || output.size() > maxOutput) {
            process.kill();
            process.waitForFinished();
            throw FileError(shown +
                            (tooLong ? QStringLiteral(": файл читается дольше %1 с").arg(seconds)
                                     : QStringLiteral(": в таблице слишком много данных")));
        }
    }
    output += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw FileError(shown + QStringLiteral(": ") + failureOf(process));
    if (output.size() > maxOutput)
        throw FileError(shown + QStringLiteral(": в таблице слишком много данных"));
    try {
        return deserialised(output);
    } catch (const FileError &e) {
        throw FileError(shown + QStringLiteral(": ") + e.message());
    }
}

} // namespace Xls
