#include "EngineError.h"
#include "FileConnection.h"
#include "FileError.h"
#include "FolderSession.h"
#include "SqliteStatement.h"

#include <QDir>
#include <QFile>
#include <sqlite3.h>

// What a folder catalogue does with its table files as wholes: tells whether
// it has any, removes one, and copies them for a backup.

namespace {

// Pages copied per backup step: about 4 MB, so progress moves several times a second.
constexpr int pagesPerStep = 1024;
// A save of the running program holds the tables for a moment only.
constexpr int busyWaitMs = 10000;

QString schemaOf(int position)
{
    return QStringLiteral("t%1").arg(position);
}

// Copies one attached table file into a file of its own through the backup interface.
void copyTable(const FileConnection &source, const QString &schema, const QString &target,
               const QString &table, const std::function<void(double)> &copied)
{
    const FileConnection copy(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3_backup *backup =
        sqlite3_backup_init(copy.handle(), "main", source.handle(), schema.toUtf8().constData());
    if (!backup)
        throwSqliteError(copy.handle(), sqlite3_errcode(copy.handle()), table);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_backup_step(backup, pagesPerStep)) == SQLITE_OK)
        copied(1.0 - double(sqlite3_backup_remaining(backup)) /
                         std::max(1, sqlite3_backup_pagecount(backup)));
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        throwSqliteError(copy.handle(), rc, table);
}

} // namespace

bool FolderSession::holdsTables()
{
    // Name filters ignore letter case: "FIRMS.DB" and "Firms.db" both count.
    return !QDir(m_directory).entryList({QStringLiteral("*.DB")}, QDir::Files).isEmpty();
}

void FolderSession::dropTable(const QString &fileName)
{
    const QString path = findFile(fileName);
    if (path.isEmpty())
        return;
    if (!detach(fileName))
        throw EngineError(fileName + QStringLiteral(": таблица занята, удалить её нельзя"));
    QFile::remove(path + QStringLiteral("-journal"));
    if (!QFile::remove(path))
        throw FileError(path + QStringLiteral(": не удаётся удалить файл"));
}

// The files are copied while one read transaction of a connection of their
// own holds them all: the copies show the catalogue at one moment.
void FolderSession::writeTableFiles(const QStringList &tables, const QString &folder,
                                    const std::function<void(double)> &progress)
{
    const FileConnection source(QStringLiteral(":memory:"), SQLITE_OPEN_READWRITE);
    sqlite3_busy_timeout(source.handle(), busyWaitMs);
    for (int i = 0; i < tables.size(); ++i) {
        const QString path = findFile(tables[i]);
        if (path.isEmpty())
            throw FileError(tables[i] + QStringLiteral(": таблица не найдена в каталоге ") +
                            QDir::toNativeSeparators(m_directory));
        Statement attach = source.prepare(QStringLiteral("ATTACH DATABASE ? AS ") + schemaOf(i));
        attach.bind(1, path);
        attach.step();
    }
    source.execute(QStringLiteral("BEGIN"));
    for (int i = 0; i < tables.size(); ++i)
        source.value(QStringLiteral("SELECT count(*) FROM %1.sqlite_master").arg(schemaOf(i)));
    for (int i = 0; i < tables.size(); ++i) {
        copyTable(source, schemaOf(i), QDir(folder).filePath(tables[i]), tables[i],
                  [&](double copied) {
                      if (progress)
                          progress((i + copied) / tables.size());
                  });
    }
    source.execute(QStringLiteral("COMMIT"));
}
