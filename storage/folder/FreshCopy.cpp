#include "FreshCopy.h"

#include "EngineError.h"
#include "Field.h"
#include "FileConnection.h"
#include "SqlText.h"
#include "TableFiles.h"

#include <QFileInfo>
#include <QStorageInfo>
#include <sqlite3.h>

namespace FreshCopy {
namespace {

// A handed-out count this close to the limit leaves too few keys to work
// with; at one new record a second the program would need decades to get
// there, so such a count came from elsewhere.
constexpr qint64 keyHeadroom = 1 << 24;
// Statements check the clock every so many steps of the engine: often
// enough for a deadline and for the window to repaint, seldom enough to cost nothing.
constexpr int stepsBetweenChecks = 20000;

QString stemOf(const QString &fileName)
{
    return fileName.section('.', 0, 0);
}

// The rows are read and written under a deadline, keeping the window alive.
class Clock
{
public:
    Clock(sqlite3 *db, const Limits &limits) : m_db(db), m_limits(limits)
    {
        sqlite3_progress_handler(m_db, stepsBetweenChecks, &Clock::tick, this);
    }
    ~Clock() { sqlite3_progress_handler(m_db, 0, nullptr, nullptr); }
    Clock(const Clock &) = delete;
    Clock &operator=(const Clock &) = delete;

    bool expired() const { return m_expired; }

private:
    static int tick(void *self)
    {
        auto *clock = static_cast<Clock *>(self);
        if (clock->m_limits.keepAlive)
            clock->m_limits.keepAlive();
        clock->m_expired = clock->m_limits.deadline.hasExpired();
        return clock->m_expired ? 1 : 0;
    }

    sqlite3 *m_db;
    const Limits &m_limits;
    bool m_expired = false;
};

QString selectFrom(const QString &sourceTable, const QList<Column> &columns)
{
    QStringList read;
    for (const Column &column : columns)
        read << (column.source.isEmpty() ? QStringLiteral("NULL") : SqlText::quoted(column.source));
    return QStringLiteral("SELECT %1 FROM src.%2")
        .arg(read.join(QStringLiteral(", ")), SqlText::quoted(sourceTable));
}

QString insertInto(const QString &targetTable, const QList<Column> &columns)
{
    QStringList names, marks;
    for (const Column &column : columns) {
        names << SqlText::quoted(column.field.name);
        marks << QStringLiteral("?");
    }
    return QStringLiteral("INSERT INTO main.%1 (%2) VALUES (%3)")
        .arg(SqlText::quoted(targetTable), names.join(QStringLiteral(", ")),
             marks.join(QStringLiteral(", ")));
}

// Copies the rows; the highest auto-increment value goes to `copied`.
void copyEveryRow(const FileConnection &db, const QString &sourceTable, const QString &targetTable,
                  const QList<Column> &columns, bool convert, const QString &fileName,
                  Copied &copied, bool &refusedForRoom)
{
    QList<Field> converters;
    for (const Column &column : columns)
        converters.append(Field(nullptr, column.field));
    Statement read = db.prepare(selectFrom(sourceTable, columns));
    Statement write = db.prepare(insertInto(targetTable, columns));
    while (read.step()) {
        for (int i = 0; i < columns.size(); ++i) {
            QVariant value = read.value(i);
            if (convert) {
                try {
                    value = converters[i].converted(value);
                } catch (const EngineError &e) {
                    throw EngineError(fileName + QStringLiteral(": ") + e.message());
                }
            }
            if (columns[i].field.kind == FieldKind::AutoInc)
                copied.highestKey = std::max(copied.highestKey, value.toLongLong());
            write.bind(i + 1, value);
        }
        try {
            write.step();
        } catch (const EngineError &) {
            // Asked at once: the rollback that follows forgets why.
            refusedForRoom = sqlite3_errcode(db.handle()) == SQLITE_FULL;
            throw;
        }
        write.reset();
        ++copied.rows;
    }
}

// Whether a copy refused for want of room stopped at the fresh file's own
// limit: the engine says "full" for both, but a disk with room for the whole
// allowed size was not full.
bool atSizeLimit(const QString &targetPath, const Limits &limits)
{
    return limits.maxBytes > 0 &&
           QStorageInfo(QFileInfo(targetPath).absolutePath()).bytesAvailable() > limits.maxBytes;
}

// The engine's refusal told in terms of the copy: the file would grow past its
// limit, or reading took longer than allowed.
[[noreturn]] void rethrowInTermsOfTheCopy(const EngineError &e, const Clock &clock,
                                          bool stoppedAtLimit, const Limits &limits,
                                          const QString &fileName)
{
    if (clock.expired())
        throw EngineError(fileName + QStringLiteral(": строки читаются дольше отведённого "
                                                    "времени, копирование прервано"));
    if (stoppedAtLimit)
        throw EngineError(fileName +
                          QStringLiteral(": строк больше, чем помещается в размер, указанный "
                                         "для файла (%1 байт)")
                              .arg(limits.maxBytes));
    throw e;
}

} // namespace

SourceTable describe(const QString &sourcePath, const QString &fileName)
{
    const FileConnection db(sourcePath, SQLITE_OPEN_READONLY);
    Statement tables = db.prepare(QStringLiteral(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite%' "
        "ORDER BY rowid"));
    SourceTable source;
    while (tables.step()) {
        const QString name = tables.value(0).toString();
        if (source.name.isEmpty() || name.compare(stemOf(fileName), Qt::CaseInsensitive) == 0) {
            source.name = name;
        }
    }
    if (source.name.isEmpty())
        return source;
    Statement columns = db.prepare(
        QStringLiteral("SELECT name, type, hidden FROM pragma_table_xinfo(%1)")
            .arg(QLatin1Char('\'') + QString(source.name).replace('\'', QStringLiteral("''")) +
                 QLatin1Char('\'')));
    while (columns.step()) {
        // A computed column is not a field the program knows of: it is left out.
        if (columns.value(2).toInt() == 0)
            source.columns << FieldDef::fromDeclaration(columns.value(0).toString(),
                                                        columns.value(1).toString());
    }
    return source;
}

Copied copyRows(const QString &sourcePath, const QString &sourceTable, const QString &targetPath,
                const QList<Column> &columns, bool convert, const Limits &limits)
{
    const QString fileName = QFileInfo(targetPath).fileName();
    const FileConnection db(targetPath, SQLITE_OPEN_READWRITE);
    {
        Statement attach = db.prepare(QStringLiteral("ATTACH DATABASE ? AS src"));
        attach.bind(1, sourcePath);
        attach.step();
    }
    if (limits.maxBytes > 0) {
        const qint64 pageSize = db.value(QStringLiteral("PRAGMA main.page_size")).toLongLong();
        db.execute(QStringLiteral("PRAGMA main.max_page_count = %1")
                       .arg(std::max<qint64>(1, limits.maxBytes / std::max<qint64>(1, pageSize))));
    }
    Copied copied;
    const Clock clock(db.handle(), limits);
    bool refusedForRoom = false;
    try {
        copied.handedOut = db.value(QStringLiteral("PRAGMA src.user_version")).toLongLong();
        db.execute(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            copyEveryRow(db, sourceTable, stemOf(fileName), columns, convert, fileName, copied,
                         refusedForRoom);
            db.execute(QStringLiteral("COMMIT"));
        } catch (...) {
            refusedForRoom |= sqlite3_errcode(db.handle()) == SQLITE_FULL;
            sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    } catch (const EngineError &e) {
        rethrowInTermsOfTheCopy(e, clock, refusedForRoom && atSizeLimit(targetPath, limits), limits,
                                fileName);
    }
    return copied;
}

bool isSoundHandedOut(qint64 handedOut)
{
    return handedOut >= 0 && handedOut <= maxKey - keyHeadroom;
}

qint64 soundHandedOut(qint64 handedOut, qint64 highestKey)
{
    return isSoundHandedOut(handedOut) ? std::max(handedOut, highestKey) : highestKey;
}

} // namespace FreshCopy
