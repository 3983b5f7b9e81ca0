#include "FileError.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// What is wrong with the folder a file should be in; empty when nothing is.
QString folderProblem(const QFileInfo &folder)
{
    if (!folder.exists())
        return QStringLiteral("папка «%1» не найдена").arg(shown(folder.filePath()));
    if (!folder.isDir())
        return QStringLiteral("«%1» — не папка").arg(shown(folder.filePath()));
    return {};
}

} // namespace

QString cannotRead(const QString &path, const QString &systemReason)
{
    const QFileInfo file(path);
    QString why;
    if (!file.exists()) {
        const QString folder = folderProblem(QFileInfo(file.absolutePath()));
        why = folder.isEmpty() ? QStringLiteral("файл не найден") : folder;
    } else if (file.isDir()) {
        why = QStringLiteral("это папка, а не файл");
    } else if (!file.isReadable()) {
        why = QStringLiteral("нет прав на чтение файла");
    } else {
        why = QStringLiteral("не удаётся прочитать (") + systemReason + u')';
    }
    return shown(path) + QStringLiteral(": ") + why;
}

QString cannotCreate(const QString &path, const QString &systemReason)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    QString why = folderProblem(folder);
    if (!why.isEmpty())
        return shown(path) + QStringLiteral(": ") + why;
    if (file.isDir())
        why = QStringLiteral("это папка, а не файл");
    else if (file.exists() && !file.isWritable())
        why = QStringLiteral("нет прав на запись в файл");
    else if (!folder.isWritable())
        why = QStringLiteral("нет прав на запись в папку «%1»").arg(shown(folder.filePath()));
    else
        why = QStringLiteral("не удаётся создать (") + systemReason + u')';
    return shown(path) + QStringLiteral(": ") + why;
}
