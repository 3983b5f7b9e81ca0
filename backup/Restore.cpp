#include "Restore.h"

#include "FileError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The places a restore uses, all in the folder that holds the data directory,
// so that every move is a rename within one file system.
struct Places
{
    QString parent;
    QString data;    // the data directory
    QString staging; // where the archive is unpacked and verified
    QString marker;  // names the folder the old catalogue goes to, while a swap is under way

    explicit Places(const QString &dataDirectory)
    {
        const QFileInfo info(QDir::cleanPath(QDir(dataDirectory).absolutePath()));
        parent = info.absolutePath();
        data = info.absoluteFilePath();
        staging = QDir(parent).filePath('.' + info.fileName() + QStringLiteral(".restoring"));
        marker = QDir(parent).filePath('.' + info.fileName() + QStringLiteral(".restore"));
    }
};

void syncFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void renameOrThrow(const QString &from, const QString &to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw FileError(QDir::toNativeSeparators(from) +
                        QStringLiteral(": не удаётся переименовать в ") +
                        QDir::toNativeSeparators(to) + QStringLiteral(" (") +
                        QString::fromLocal8Bit(strerror(errno)) + ')');
}

// Where the old catalogue is kept: beside it, named for the moment of the restore.
QString asideName(const Places &places)
{
    const QString base = QFileInfo(places.data).fileName() + QStringLiteral(".до-восстановления-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(QDir(places.parent).filePath(name)); ++n)
        name = base + '-' + QString::number(n);
    return name;
}

void writeMarker(const Places &places, const QString &aside)
{
    QSaveFile marker(places.marker);
    if (!marker.open(QIODevice::WriteOnly) || marker.write(aside.toUtf8()) < 0 || !marker.commit())
        throw FileError(places.marker + QStringLiteral(": не удаётся записать (") +
                        marker.errorString() + ')');
    syncFolder(places.parent);
}

// The swap itself: the old catalogue aside, the verified one in its place,
// the marker gone. Each step can be repeated after an interruption.
void swapIn(const Places &places, const QString &aside)
{
    const QString asidePath = aside.isEmpty() ? QString() : QDir(places.parent).filePath(aside);
    if (QFileInfo::exists(places.staging)) {
        if (QFileInfo::exists(places.data)) {
            if (asidePath.isEmpty() || QFileInfo::exists(asidePath))
                throw FileError(places.data + QStringLiteral(": некуда убрать прежний каталог"));
            renameOrThrow(places.data, asidePath);
        }
        renameOrThrow(places.staging, places.data);
        syncFolder(places.parent);
    }
    QFile::remove(places.marker);
    syncFolder(places.parent);
}

// A marker holds one plain folder name of the parent folder, nothing that leads elsewhere.
QString readMarker(const Places &places)
{
    QFile marker(places.marker);
    if (!marker.open(QIODevice::ReadOnly))
        return {};
    const QString aside = QString::fromUtf8(marker.read(4096)).trimmed();
    if (aside.contains('/') || aside == QStringLiteral("..") || aside == QStringLiteral("."))
        throw FileError(places.marker + QStringLiteral(": файл повреждён"));
    return aside;
}

} // namespace

namespace Restore {

QString fromArchive(const QString &dataDirectory, const QStringList &tables,
                    const QString &archivePath, const Backup::Progress &progress)
{
    const Places places(dataDirectory);
    finishInterrupted(dataDirectory);
    QDir(places.staging).removeRecursively();
    if (!QDir().mkpath(places.staging))
        throw FileError(places.staging + QStringLiteral(": не удаётся создать папку"));
    try {
        Backup::verify(archivePath, tables, places.staging, progress);
    } catch (...) {
        QDir(places.staging).removeRecursively();
        throw;
    }
    syncFolder(places.staging);
    const QString aside = QFileInfo::exists(places.data) ? asideName(places) : QString();
    writeMarker(places, aside);
    swapIn(places, aside);
    return aside.isEmpty() ? QString() : QDir(places.parent).filePath(aside);
}

void finishInterrupted(const QString &dataDirectory)
{
    const Places places(dataDirectory);
    if (QFileInfo::exists(places.marker))
        swapIn(places, readMarker(places));
    else if (QFileInfo::exists(places.staging))
        QDir(places.staging).removeRecursively();
}

} // namespace Restore
