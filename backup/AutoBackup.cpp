#include "AutoBackup.h"

#include "CatalogueLocation.h"
#include "FileError.h"
#include "SettingsStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace AutoBackup {
namespace {

// A catalogue with fewer than this share of its last backup's rows has lost
// most of what it held (or is another catalogue in its place).
constexpr double muchSmaller = 0.5;
// A partial archive of a killed run: the archive library's temporary name
// beside the backup. One not touched for an hour is nobody's any more.
constexpr qint64 partialAgeSeconds = 3600;
constexpr int labelLength = 40;

QString readable(QString text)
{
    for (QChar &c : text) {
        if (!c.isLetterOrNumber() && c != '-' && c != '_')
            c = '_';
    }
    return text.left(labelLength);
}

QStringList dailyBackups(const QDir &folder, const QString &dataDirectory)
{
    const QRegularExpression daily(
        QStringLiteral("^Квиллон-%1-\\d{4}-\\d{2}-\\d{2}\\.zip$")
            .arg(QRegularExpression::escape(catalogueLabel(dataDirectory))));
    return folder.entryList(QDir::Files, QDir::Name).filter(daily);
}

void removeStalePartials(const QDir &folder)
{
    static const QRegularExpression partial(QStringLiteral("^Квиллон-.*\\.zip\\.[A-Za-z0-9]{6}$"));
    const QDateTime now = QDateTime::currentDateTime();
    for (const QFileInfo &file : folder.entryInfoList(QDir::Files)) {
        if (partial.match(file.fileName()).hasMatch() &&
            file.lastModified().secsTo(now) > partialAgeSeconds)
            QFile::remove(file.absoluteFilePath());
    }
}

// Why the older backups must stay, or nothing when the catalogue is whole.
QString shrinkage(const QString &dataDirectory, qint64 rows, const QString &previous)
{
    qint64 before = -1;
    try {
        const Backup::Summary listed = Backup::listed(previous);
        if (!listed.rows.values().contains(-1))
            before = listed.totalRows();
    } catch (const FileError &) {
        return {}; // not a backup to compare with
    }
    if (before <= 0 || double(rows) >= muchSmaller * double(before))
        return {};
    return QStringLiteral("Каталог %1 намного меньше, чем в прошлой резервной копии (записей: %2, "
                          "было %3). Прежние копии сохранены, ни одна не удалена; проверьте, "
                          "тот ли это каталог.")
        .arg(QDir::toNativeSeparators(CatalogueLocation::withoutPassword(dataDirectory)))
        .arg(rows)
        .arg(before);
}

} // namespace

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

QString catalogueLabel(const QString &location)
{
    const QString mark =
        QString::fromLatin1(QCryptographicHash::hash(CatalogueLocation::identity(location).toUtf8(),
                                                     QCryptographicHash::Sha256)
                                .toHex())
            .left(4);
    return readable(CatalogueLocation::shortLabel(location)) + '-' + mark;
}

QString dailyName(const QString &dataDirectory, const QDate &day)
{
    return QStringLiteral("Квиллон-%1-%2.zip")
        .arg(catalogueLabel(dataDirectory), day.toString(Qt::ISODate));
}

Daily runDaily(const QString &dataDirectory, const QStringList &tables,
               const QString &descriptionFile, const QString &backupFolder, const QDate &today,
               int kept)
{
    // A folder that is gone is not made again for a backup, nor is a server
    // that cannot be reached waited for.
    if (kept <= 0 || !CatalogueLocation::unreachableCause(dataDirectory).isEmpty())
        return {};
    const QDir dir(backupFolder);
    const QString name = dailyName(dataDirectory, today);
    if (dir.exists(name))
        return {};
    if (!QDir().mkpath(backupFolder))
        throw FileError(backupFolder + QStringLiteral(": не удаётся создать папку"));
    removeStalePartials(dir);
    const QStringList before = dailyBackups(dir, dataDirectory);
    Daily daily;
    daily.made = dir.filePath(name);
    const Backup::Summary made = Backup::create(dataDirectory, tables, descriptionFile, daily.made);
    if (!before.isEmpty())
        daily.warning = shrinkage(dataDirectory, made.totalRows(), dir.filePath(before.last()));
    if (!daily.warning.isEmpty())
        return daily;
    // The ISO date sorts a catalogue's backups by age.
    QStringList backups = dailyBackups(dir, dataDirectory);
    while (backups.size() > kept)
        QFile::remove(dir.filePath(backups.takeFirst()));
    return daily;
}

} // namespace AutoBackup
