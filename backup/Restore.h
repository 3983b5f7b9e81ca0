#pragma once

#include "Backup.h"

// Restoring a catalogue from a backup. A fresh catalogue is made of the
// archive in a folder beside the data directory; then the data directory is
// put aside under a name of its own and the fresh folder takes its place.
// Both are renames within one parent folder, announced first by a marker
// file, so an interruption at any point leaves the old catalogue or the
// restored one: finishInterrupted() completes a swap that the marker shows
// was under way.
namespace Restore {

// Catalogues put aside by restores that are kept; older ones are removed.
inline constexpr int keptAside = 3;

struct Outcome
{
    QString aside;             // where the former catalogue is kept; empty when there was none
    QStringList leftOut;       // what of the backup's files was not taken over
    QStringList removedAsides; // older catalogues put aside, removed to keep their number
};

// Restores `archivePath` over the catalogue at `dataDirectory`, its tables
// made anew from the description `descriptionFile`. A catalogue on a server
// has no folder to swap: the former one is kept as a backup in the user's
// backups folder (named in `aside`), and its tables are replaced in one
// transaction, under the server's maintenance lock and only while no other
// desk has it open. A damaged, foreign or oversized archive, a catalogue that
// another program is writing to, one open on other desks (they are named) or
// one that another program checks, packs or restores throws and changes
// nothing.
Outcome fromArchive(const QString &dataDirectory, const QString &descriptionFile,
                    const QString &archivePath, const Backup::Progress &progress = {});

// The outcome in words, for the message after a restore.
QString describe(const Outcome &outcome);

// Completes a swap that was interrupted, or clears an unfinished restore.
// Called before anything opens the data directory.
void finishInterrupted(const QString &dataDirectory);

} // namespace Restore
