#include "AutoBackup.h"

#include "FileError.h"
#include "SettingsStore.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

namespace AutoBackup {

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillon/Backups");
}

int keptSetting()
{
    const RegistryKey key;
    return std::max(0, key.readInteger(QString::fromLatin1(SettingsSection),
                                       QStringLiteral("BackupsKept"), defaultKept));
}

QString runDaily(const QString &dataDirectory, const QStringList &tables,
                 const QString &descriptionFile, const QString &backupFolder, const QDate &today,
                 int kept)
{
    if (kept <= 0)
        return {};
    const QDir dir(backupFolder);
    const QString name = Backup::proposedName(today.toString(Qt::ISODate));
    if (dir.exists(name))
        return {};
    if (!QDir().mkpath(backupFolder))
        throw FileError(backupFolder + QStringLiteral(": не удаётся создать папку"));
    const QString made = dir.filePath(name);
    Backup::create(dataDirectory, tables, descriptionFile, made);

    // Only the daily backups are counted and removed; the ISO date sorts them by age.
    static const QRegularExpression daily(QStringLiteral("^Квиллон-\\d{4}-\\d{2}-\\d{2}\\.zip$"));
    QStringList backups = dir.entryList(QDir::Files, QDir::Name).filter(daily);
    while (backups.size() > kept)
        QFile::remove(dir.filePath(backups.takeFirst()));
    return made;
}

} // namespace AutoBackup
