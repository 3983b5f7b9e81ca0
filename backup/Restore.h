#pragma once

#include "Backup.h"

// Restoring a catalogue from a backup. The archive is verified whole in a
// folder beside the data directory; then the data directory is put aside
// under a name of its own and the verified folder takes its place. Both are
// renames within one parent folder, announced first by a marker file, so an
// interruption at any point leaves the old catalogue or the restored one:
// finishInterrupted() completes a swap that the marker shows was under way.
namespace Restore {

// Restores `archivePath` over `dataDirectory`; returns the folder the former
// catalogue was kept in (empty when there was none). A damaged or foreign
// archive throws FileError and changes nothing.
QString fromArchive(const QString &dataDirectory, const QStringList &tables,
                    const QString &archivePath, const Backup::Progress &progress = {});

// Completes a swap that was interrupted, or clears an unfinished verification.
// Called before anything opens the data directory.
void finishInterrupted(const QString &dataDirectory);

} // namespace Restore
