#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Backups of the catalogue: one zip file holding a consistent copy of every
// table file, the table description the program used, and a manifest with the
// program's version and each file's size and SHA-256.
namespace Backup {

// Reports how far a long step has come (0 to 1) and keeps the window alive.
using Progress = std::function<void(double)>;

// The table files a catalogue must have: those of the table description.
QStringList catalogueTables(const QString &descriptionFile);

// Copies every table of `tables` in `dataDirectory` at one moment (the tables
// are read inside one read transaction, so a save made meanwhile is either in
// every copy or in none) and writes the archive `archivePath`, which appears
// whole or not at all. Throws FileError or EngineError with the cause.
void create(const QString &dataDirectory, const QStringList &tables, const QString &descriptionFile,
            const QString &archivePath, const Progress &progress = {});

// Reads the archive as untrusted input and unpacks its tables into
// `stagingDirectory`: the manifest must be this program's, every table of
// `tables` present with its size and SHA-256, and every table file must pass
// the engine's integrity check and hold its own table. Throws FileError with
// the reason for a damaged or foreign file.
void verify(const QString &archivePath, const QStringList &tables, const QString &stagingDirectory,
            const Progress &progress = {});

// The name proposed for a backup made on `date` (ISO form "YYYY-MM-DD").
QString proposedName(const QString &isoDate);

} // namespace Backup
