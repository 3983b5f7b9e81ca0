#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

// Backups of the catalogue: one zip file holding a consistent copy of every
// table file, the table description the program used, and a manifest with the
// program's version and each file's size, row count and SHA-256.
namespace Backup {

// Reports how far a long step has come (0 to 1) and keeps the window alive.
using Progress = std::function<void(double)>;

// The table files a catalogue must have: those of the table description.
QStringList catalogueTables(const QString &descriptionFile);

// What a backup holds: rows by table file.
struct Summary
{
    QHash<QString, qint64> rows;
    qint64 totalRows() const;
};

// Copies every table of `tables` of the catalogue at `location` (a folder or
// a server) at one moment, so that a save made meanwhile is either in every
// copy or in none, each as a table file of a folder catalogue, and writes the
// archive `archivePath`, which appears whole or not at all. The archive is
// the same whichever kind of catalogue it came from. Throws FileError or
// EngineError with the cause.
Summary create(const QString &location, const QStringList &tables, const QString &descriptionFile,
               const QString &archivePath, const Progress &progress = {});

// The rows a backup's manifest lists by table file (-1 for a file an older
// backup gave no count for). Throws FileError for a file that is no backup.
Summary listed(const QString &archivePath);

// Reads the archive as untrusted input, within limits of size and time, and
// makes of it a fresh catalogue in `stagingDirectory`: every table the
// description `descriptionFile` declares is created anew by the program, and
// the backup's rows are copied into it, each value converted as a post
// converts it. Nothing else of the backup's table files is taken over; what
// was left out is returned, one line each ("FIRMS.DB: триггер «x»"). A
// damaged, foreign or oversized archive throws FileError with the reason.
QStringList readInto(const QString &archivePath, const QString &descriptionFile,
                     const QString &stagingDirectory, const Progress &progress = {});

// The name proposed for a backup made on `date` (ISO form "YYYY-MM-DD").
QString proposedName(const QString &isoDate);

} // namespace Backup
