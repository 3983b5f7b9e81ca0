#include "Leftovers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <signal.h>
#include <unistd.h>

namespace {

QString recordFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillon/Unfinished");
}

bool isRunning(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// The process id a name carries after `prefix`, or 0.
qint64 pidIn(const QString &name, const QString &prefix)
{
    if (!name.startsWith(prefix))
        return 0;
    return name.mid(prefix.size()).section('-', 0, 0).toLongLong();
}

void clearTemporaryFolders()
{
    const QDir temp(QDir::tempPath());
    const QString prefix = QStringLiteral("quillon-");
    for (const QFileInfo &folder :
         temp.entryInfoList({prefix + '*'}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const qint64 pid = pidIn(folder.fileName(), prefix);
        if (pid != 0 && !isRunning(pid) && folder.ownerId() == ::getuid())
            QDir(folder.absoluteFilePath()).removeRecursively();
    }
}

// Removes the partial files a record names: the target's name, a dot and six
// letters, written since the record was made.
void clearPartialFiles(const QFileInfo &record)
{
    QFile file(record.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QFileInfo target(QString::fromUtf8(file.read(4096)).trimmed());
    const QRegularExpression partial(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(target.fileName())));
    const QDateTime since = record.lastModified().addSecs(-1);
    for (const QFileInfo &entry : QDir(target.absolutePath()).entryInfoList(QDir::Files)) {
        if (partial.match(entry.fileName()).hasMatch() && entry.lastModified() >= since)
            QFile::remove(entry.absoluteFilePath());
    }
}

void clearRecords()
{
    const QDir records(recordFolder());
    for (const QFileInfo &record : records.entryInfoList(QDir::Files)) {
        if (isRunning(pidIn(record.fileName(), QString())))
            continue;
        clearPartialFiles(record);
        QFile::remove(record.absoluteFilePath());
    }
}

} // namespace

namespace Leftovers {

QString temporaryPrefix()
{
    return QStringLiteral("quillon-%1-").arg(::getpid());
}

void clearOfEndedRuns()
{
    clearTemporaryFolders();
    clearRecords();
}

} // namespace Leftovers

UnfinishedFile::UnfinishedFile(const QString &targetPath)
{
    static int counter = 0;
    if (!QDir().mkpath(recordFolder()))
        return; // without a record a kill leaves the partial file, as before
    m_record =
        QDir(recordFolder()).filePath(QStringLiteral("%1-%2").arg(::getpid()).arg(++counter));
    QSaveFile record(m_record);
    if (!record.open(QIODevice::WriteOnly) ||
        record.write(QFileInfo(targetPath).absoluteFilePath().toUtf8()) < 0 || !record.commit())
        m_record.clear();
}

UnfinishedFile::~UnfinishedFile()
{
    if (!m_record.isEmpty())
        QFile::remove(m_record);
}
