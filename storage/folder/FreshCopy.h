#pragma once

#include "FieldDef.h"

#include <QDeadlineTimer>
#include <functional>

// The rows of a table file copied into a fresh file that the program made
// itself, so that nothing of the old file but its values is kept: none of
// its definitions, triggers, views or other tables ever reach the catalogue.
namespace FreshCopy {

struct Column
{
    FieldDef field; // as the fresh table declares it
    QString source; // the old table's column it is read from; empty: stays blank
};

struct Limits
{
    qint64 maxBytes = 0; // the fresh file's size; 0: no limit
    QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever);
    std::function<void()> keepAlive; // called now and then while rows are read
};

// What the old file held besides its rows, for the fresh file's header.
struct Copied
{
    qint64 rows = 0;
    qint64 handedOut = 0;  // keys handed out so far (its user_version)
    qint64 highestKey = 0; // the highest value of an auto-increment column
};

// The old file's table (the one named after the file, in any letter case,
// else the first) and its columns; empty names when the file holds no table.
struct SourceTable
{
    QString name;
    QList<FieldDef> columns;
};
SourceTable describe(const QString &sourcePath, const QString &fileName);

// Copies every row of `sourceTable` into the table of the same name as the
// fresh file `targetPath`, in one transaction. Reading every row is the
// check of the old file that matters: a damaged page fails the copy, and
// nothing else of the file (its indexes, its free pages) is kept to be checked. With `convert` each
// value is converted as a post converts it (a text cut to its field's size, a key past the integer
// range refused); without, values are kept as they are stored. Throws EngineError naming the file
// and the cause; the fresh file then holds no row.
Copied copyRows(const QString &sourcePath, const QString &sourceTable, const QString &targetPath,
                const QList<Column> &columns, bool convert, const Limits &limits = {});

// The count of keys handed out that a fresh file keeps: the old count, unless
// it is one the program could not have reached by itself (at or near the
// integer limit, or negative); then the highest key in the rows.
qint64 soundHandedOut(qint64 handedOut, qint64 highestKey);
bool isSoundHandedOut(qint64 handedOut);

} // namespace FreshCopy
