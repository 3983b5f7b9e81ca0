#include "Restore.h"

#include "AutoBackup.h"
#include "CatalogueLocation.h"
#include "EngineError.h"
#include "FileConnection.h"
#include "FileError.h"
#include "FolderSession.h"
#include "Session.h"
#include "TableTransfer.h"
#include "TempFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
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

QString asidePrefix(const Places &places)
{
    return QFileInfo(places.data).fileName() + QStringLiteral(".до-восстановления-");
}

// Where the old catalogue is kept: beside it, named for the moment of the restore.
QString asideName(const Places &places)
{
    const QString base = asidePrefix(places) +
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

// A restore under way holds a lock on its staging folder for as long as it
// runs, so that another start of the program (an import, the window) leaves
// the folder alone instead of clearing it as the leftover of a killed run,
// and a second restore of the same catalogue is refused while it runs.
class StagingLock
{
public:
    // Takes the lock on the folder at `path` if nobody holds it.
    explicit StagingLock(const QString &path)
    {
        const QByteArray name = QFile::encodeName(path);
        m_fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat opened
        {
        }, named{};
        // The folder may have been removed and made again between the open
        // and the lock: only the folder that still bears the name counts.
        if (m_fd >= 0 && (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(m_fd, &opened) != 0 ||
                          ::stat(name.constData(), &named) != 0 || opened.st_ino != named.st_ino)) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~StagingLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StagingLock(const StagingLock &) = delete;
    StagingLock &operator=(const StagingLock &) = delete;

    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// The staging folder made and locked for this restore (a killed one's was
// cleared by finishInterrupted).
std::unique_ptr<StagingLock> takeStaging(const Places &places)
{
    if (!QDir().mkpath(places.staging))
        throw FileError(places.staging + QStringLiteral(": не удаётся создать папку"));
    auto lock = std::make_unique<StagingLock>(places.staging);
    if (!lock->held())
        throw FileError(QStringLiteral("Этот каталог уже восстанавливается из копии другой "
                                       "программой; восстановление не выполнено. Повторите, "
                                       "когда она закончит."));
    return lock;
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

// Every table file of the catalogue held with an exclusive lock: a program
// writing to the catalogue finishes first, and none starts until the swap is
// done (and then finds the folder replaced). A catalogue kept busy refuses the restore.
class CatalogueLock
{
public:
    CatalogueLock(const QString &dataDirectory, const QStringList &tables)
    {
        for (const QString &table : tables) {
            const QString path = FolderSession::findFileIn(dataDirectory, table);
            if (path.isEmpty())
                continue;
            try {
                auto held = std::make_unique<FileConnection>(path, SQLITE_OPEN_READWRITE);
                sqlite3_busy_timeout(held->handle(), busyWaitMs);
                held->execute(QStringLiteral("BEGIN EXCLUSIVE"));
                m_held.push_back(std::move(held));
            } catch (const EngineError &e) {
                throw FileError(QStringLiteral("Каталог занят: в него пишет другая программа "
                                               "(например, идёт импорт), восстановление не "
                                               "выполнено. Повторите позже. (") +
                                e.message() + ')');
            }
        }
    }

private:
    // Long enough for a save or an import of a few thousand rows to end.
    static constexpr int busyWaitMs = 10000;
    std::vector<std::unique_ptr<FileConnection>> m_held;
};

// Catalogues put aside by restores, oldest first (their names carry the moment).
QStringList asides(const Places &places)
{
    return QDir(places.parent)
        .entryList({asidePrefix(places) + '*'}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList removeOldAsides(const Places &places)
{
    QStringList removed;
    QStringList kept = asides(places);
    while (kept.size() > Restore::keptAside) {
        const QString path = QDir(places.parent).filePath(kept.takeFirst());
        if (QDir(path).removeRecursively())
            removed << path;
    }
    return removed;
}

// The former catalogue kept before its tables are replaced in place: a
// backup in the user's backups, named for the catalogue and the moment.
QString keepFormer(const QString &location, const QStringList &tables,
                   const QString &descriptionFile, const Backup::Progress &progress)
{
    const QString folder = AutoBackup::folder();
    if (!QDir().mkpath(folder))
        throw FileError(folder + QStringLiteral(": не удаётся создать папку"));
    const QString base = QStringLiteral("Квиллон-") + AutoBackup::catalogueLabel(location) +
                         QStringLiteral(".до-восстановления-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    QString path = QDir(folder).filePath(base + QStringLiteral(".zip"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(folder).filePath(base + '-' + QString::number(n) + QStringLiteral(".zip"));
    Backup::create(location, tables, descriptionFile, path, progress);
    return path;
}

// Former catalogues kept by restores in place beyond the newest few go.
QStringList removeOldFormer(const QString &location)
{
    const QDir folder(AutoBackup::folder());
    QStringList kept =
        folder.entryList({QStringLiteral("Квиллон-") + AutoBackup::catalogueLabel(location) +
                          QStringLiteral(".до-восстановления-*.zip")},
                         QDir::Files, QDir::Name);
    QStringList removed;
    while (kept.size() > Restore::keptAside) {
        const QString path = folder.filePath(kept.takeFirst());
        if (QFile::remove(path))
            removed << path;
    }
    return removed;
}

// Other desks keep the former catalogue's records in their windows and
// write them back: they would mix the two catalogues, so they close first.
void refuseWhileOthersWork(Session &target)
{
    const QStringList others = target.otherDesks();
    if (!others.isEmpty())
        throw FileError(QStringLiteral("Каталог открыт на других рабочих местах; восстановление "
                                       "не выполнено. Закройте программу на них и повторите.\n") +
                        others.join('\n'));
}

// A catalogue that does not live in a folder of its own (a server's
// database) cannot be swapped by renames: its tables are replaced where they
// are, in one transaction, by those of the fresh catalogue made of the
// archive. Until the commit every desk sees the former tables whole; a
// failure on the way rolls everything back.
Restore::Outcome replaceInPlace(const QString &location, const QString &descriptionFile,
                                const QString &archivePath, const Backup::Progress &progress)
{
    const auto report = [&progress](double from, double share) {
        return [&progress, from, share](double done) {
            if (progress)
                progress(from + share * done);
        };
    };
    const QStringList tables = Backup::catalogueTables(descriptionFile);
    const std::unique_ptr<Session> target = Session::open(location);
    const auto oneAtATime = target->lockForMaintenance(Session::IfHeld::Refuse);
    refuseWhileOthersWork(*target);
    const PrivateTempDir scratch;
    const QString staging = scratch.filePath(QStringLiteral("Data"));
    if (!QDir().mkpath(staging))
        throw FileError(staging + QStringLiteral(": не удаётся создать папку"));
    Restore::Outcome outcome;
    outcome.leftOut = Backup::readInto(archivePath, descriptionFile, staging, report(0, 0.5));
    const std::unique_ptr<Session> fresh = Session::open(staging);
    // Someone may have opened the catalogue while the archive was read.
    refuseWhileOthersWork(*target);
    if (target->holdsTables())
        outcome.aside = keepFormer(location, tables, descriptionFile, report(0.5, 0.25));
    const auto copied = report(0.75, 0.25);
    Session::Transaction transaction(*target);
    for (int i = 0; i < tables.size(); ++i) {
        target->dropTable(tables[i]);
        TableTransfer::copyTable(*fresh, *target, tables[i]);
        copied(double(i + 1) / tables.size());
    }
    transaction.commit();
    outcome.removedAsides = removeOldFormer(location);
    return outcome;
}

} // namespace

namespace Restore {

Outcome fromArchive(const QString &dataDirectory, const QString &descriptionFile,
                    const QString &archivePath, const Backup::Progress &progress)
{
    if (CatalogueLocation::isServer(dataDirectory))
        return replaceInPlace(dataDirectory, descriptionFile, archivePath, progress);
    const Places places(dataDirectory);
    finishInterrupted(dataDirectory);
    const std::unique_ptr<StagingLock> staging = takeStaging(places);
    Outcome outcome;
    try {
        outcome.leftOut = Backup::readInto(archivePath, descriptionFile, places.staging, progress);
    } catch (...) {
        QDir(places.staging).removeRecursively();
        throw;
    }
    syncFolder(places.staging);
    {
        std::unique_ptr<CatalogueLock> lock;
        try {
            lock = std::make_unique<CatalogueLock>(places.data,
                                                   Backup::catalogueTables(descriptionFile));
        } catch (...) {
            QDir(places.staging).removeRecursively();
            throw;
        }
        const QString aside = QFileInfo::exists(places.data) ? asideName(places) : QString();
        writeMarker(places, aside);
        swapIn(places, aside);
        outcome.aside = aside.isEmpty() ? QString() : QDir(places.parent).filePath(aside);
    }
    outcome.removedAsides = removeOldAsides(places);
    return outcome;
}

QString describe(const Outcome &outcome)
{
    QString text = QStringLiteral("Каталог восстановлен.");
    if (!outcome.aside.isEmpty())
        text += QStringLiteral("\nПрежний каталог сохранён в ") +
                QDir::toNativeSeparators(outcome.aside);
    if (!outcome.removedAsides.isEmpty())
        text += QStringLiteral("\nХранятся %1 последних сохранённых каталога; более старые "
                               "удалены:\n")
                    .arg(keptAside) +
                QDir::toNativeSeparators(outcome.removedAsides.join('\n'));
    if (!outcome.leftOut.isEmpty())
        text += QStringLiteral("\nИз копии не перенесено то, чего программа не создаёт:\n") +
                outcome.leftOut.join('\n');
    return text;
}

void finishInterrupted(const QString &dataDirectory)
{
    // A restore in place is one transaction: the server ended what was cut short.
    if (CatalogueLocation::isServer(dataDirectory))
        return;
    const Places places(dataDirectory);
    std::unique_ptr<StagingLock> staging;
    if (QFileInfo::exists(places.staging)) {
        staging = std::make_unique<StagingLock>(places.staging);
        // A restore still running in another program: nothing was interrupted.
        if (!staging->held())
            return;
    }
    if (QFileInfo::exists(places.marker))
        swapIn(places, readMarker(places));
    else if (QFileInfo::exists(places.staging))
        QDir(places.staging).removeRecursively();
}

} // namespace Restore
