#pragma once

#include "Backup.h"

#include <QDate>

// The automatic backup at exit: at most one a day, in the user's data folder,
// keeping the newest few. How many is the setting "BackupsKept" of the
// program's section in the settings file (10 when unset, 0 turns it off).
namespace AutoBackup {

inline constexpr int defaultKept = 10;

// $XDG_DATA_HOME/Quillon/Backups.
QString folder();
int keptSetting();

// Makes today's backup in `backupFolder` unless there is one already, then
// removes all but the newest `kept` of the daily backups there. Returns the
// file made, or an empty text when none was due. Throws with the cause.
QString runDaily(const QString &dataDirectory, const QStringList &tables,
                 const QString &descriptionFile, const QString &backupFolder, const QDate &today,
                 int kept);

} // namespace AutoBackup
