#include "Backup.h"

#include "BaseMaker.h"
#include "EngineError.h"
#include "FileConnection.h"
#include "FileError.h"
#include "Leftovers.h"
#include "Manifest.h"
#include "Session.h"
#include "SqlText.h"
#include "TempFiles.h"
#include "ZipFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sqlite3.h>

namespace {

// Pages copied per backup step: about 4 MB, so progress moves several times a second.
constexpr int pagesPerStep = 1024;

struct FileSum
{
    qint64 size = 0;
    QByteArray sha256; // hexadecimal
};

FileSum sumOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(cannotRead(path, file.errorString()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return {file.size(), hash.result().toHex()};
}

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

// The rows of the table a copy holds, for the manifest; -1 when they cannot be counted.
qint64 rowsIn(const QString &copy, const QString &table)
{
    try {
        const FileConnection db(copy, SQLITE_OPEN_READONLY);
        return db
            .value(QStringLiteral("SELECT count(*) FROM ") +
                   SqlText::quoted(table.section('.', 0, 0)))
            .toLongLong();
    } catch (const EngineError &) {
        return -1;
    }
}

// Copies every table while one read transaction holds them all: the copies
// show the catalogue at one moment.
QList<QString> copyTables(const QString &dataDirectory, const QStringList &tables,
                          const PrivateTempDir &into, const Backup::Progress &progress)
{
    const FileConnection source(QStringLiteral(":memory:"), SQLITE_OPEN_READWRITE);
    // A save of the running program holds the tables for a moment only.
    sqlite3_busy_timeout(source.handle(), 10000);
    for (int i = 0; i < tables.size(); ++i) {
        const QString path = Session::findFileIn(dataDirectory, tables[i]);
        if (path.isEmpty())
            throw FileError(tables[i] + QStringLiteral(": таблица не найдена в каталоге ") +
                            QDir::toNativeSeparators(dataDirectory));
        Statement attach = source.prepare(QStringLiteral("ATTACH DATABASE ? AS ") + schemaOf(i));
        attach.bind(1, path);
        attach.step();
    }
    source.execute(QStringLiteral("BEGIN"));
    for (int i = 0; i < tables.size(); ++i)
        source.value(QStringLiteral("SELECT count(*) FROM %1.sqlite_master").arg(schemaOf(i)));
    QList<QString> copies;
    for (int i = 0; i < tables.size(); ++i) {
        copies.append(into.filePath(tables[i]));
        copyTable(source, schemaOf(i), copies.last(), tables[i], [&](double copied) {
            if (progress)
                progress(0.5 * (i + copied) / tables.size());
        });
    }
    source.execute(QStringLiteral("COMMIT"));
    return copies;
}

QByteArray readDescriptionBytes(const QString &descriptionFile)
{
    QFile file(BaseMaker::findDescriptionFile(descriptionFile));
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(descriptionFile + QStringLiteral(": не удаётся прочитать файл"));
    return file.readAll();
}

QJsonObject fileEntry(const QString &name, const FileSum &sum, qint64 rows = -1)
{
    QJsonObject entry{{QStringLiteral("name"), name},
                      {QStringLiteral("size"), double(sum.size)},
                      {QStringLiteral("sha256"), QString::fromLatin1(sum.sha256)}};
    if (rows >= 0)
        entry.insert(QStringLiteral("rows"), double(rows));
    return entry;
}

} // namespace

namespace Backup {

qint64 Summary::totalRows() const
{
    qint64 total = 0;
    for (const qint64 count : rows)
        total += std::max<qint64>(0, count);
    return total;
}

QStringList catalogueTables(const QString &descriptionFile)
{
    const QString path = BaseMaker::findDescriptionFile(descriptionFile);
    if (path.isEmpty())
        throw FileError(descriptionFile + QStringLiteral(": файл описания таблиц не найден"));
    QStringList names;
    for (const BaseMaker::TableSpec &table : BaseMaker::readDescription(path).tables)
        names.append(table.name);
    return names;
}

QString proposedName(const QString &isoDate)
{
    return QStringLiteral("Квиллон-") + isoDate + QStringLiteral(".zip");
}

Summary create(const QString &dataDirectory, const QStringList &tables,
               const QString &descriptionFile, const QString &archivePath, const Progress &progress)
{
    const QByteArray description = readDescriptionBytes(descriptionFile);
    PrivateTempDir scratch;
    const QList<QString> copies = copyTables(dataDirectory, tables, scratch, progress);

    Summary summary;
    QJsonArray files;
    const UnfinishedFile partial(archivePath);
    ZipWriter zip(archivePath);
    for (int i = 0; i < tables.size(); ++i) {
        const qint64 rows = rowsIn(copies[i], tables[i]);
        summary.rows.insert(tables[i], rows);
        files.append(fileEntry(tables[i], sumOf(copies[i]), rows));
        zip.addFile(tables[i], copies[i]);
    }
    const QByteArray descriptionSum =
        QCryptographicHash::hash(description, QCryptographicHash::Sha256).toHex();
    files.append(fileEntry(Manifest::descriptionName, {description.size(), descriptionSum}));
    zip.addData(Manifest::descriptionName, description);
    const QJsonObject manifest{
        {QStringLiteral("format"), Manifest::formatTag},
        {QStringLiteral("formatVersion"), Manifest::formatVersion},
        {QStringLiteral("program"), QStringLiteral("Квиллон")},
        {QStringLiteral("version"), QStringLiteral(QUILLON_VERSION)},
        {QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {QStringLiteral("catalogue"), QDir(dataDirectory).absolutePath()},
        {QStringLiteral("tables"), QJsonArray::fromStringList(tables)},
        {QStringLiteral("files"), files}};
    zip.addData(Manifest::fileName, QJsonDocument(manifest).toJson());
    zip.commit([&progress](double done) {
        if (progress)
            progress(0.5 + 0.5 * done);
    });
    return summary;
}

} // namespace Backup
