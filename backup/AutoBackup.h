#pragma once

#include "Backup.h"

#include <QDate>

// The automatic backup at exit: at most one a day for each catalogue, in the
// user's data folder, keeping the newest few of each. How many is the setting
// "BackupsKept" of the program's section in the settings file (10 when
// unset, 0 turns it off).
namespace AutoBackup {

inline constexpr int defaultKept = 10;

// $XDG_DATA_HOME/Quillon/Backups.
QString folder();
int keptSetting();

// The part of a daily backup's name that tells its catalogue: the data
// folder's name after its parent's (a server's host and database), and a
// short mark of the whole location, so that two catalogues never share a
// name ("Фирмы-Data-3fa2", "office.lan-quillon-81c0").
QString catalogueLabel(const QString &location);
// "Квиллон-Фирмы-Data-3fa2-2026-01-02.zip".
QString dailyName(const QString &dataDirectory, const QDate &day);

struct Daily
{
    QString made;    // the backup made; empty when none was due
    QString warning; // to be told: older backups were kept, not rotated out
};

// Makes today's backup of the catalogue in `backupFolder` unless there is
// one already, then removes all but the newest `kept` daily backups of that
// catalogue. A catalogue that is gone is not backed up. A catalogue that is
// empty or much smaller than in its last backup never pushes the older
// backups out: they are kept and the warning says why. Throws with the cause.
Daily runDaily(const QString &dataDirectory, const QStringList &tables,
               const QString &descriptionFile, const QString &backupFolder, const QDate &today,
               int kept);

} // namespace AutoBackup
