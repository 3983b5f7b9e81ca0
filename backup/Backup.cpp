#include "Backup.h"

#include "BaseMaker.h"
#include "CatalogueLocation.h"
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

// Copies every table as a table file, all at one moment, whichever kind of
// catalogue holds them: a backup holds table files of a folder catalogue.
QList<QString> copyTables(const QString &location, const QStringList &tables,
                          const PrivateTempDir &into, const Backup::Progress &progress)
{
    const std::unique_ptr<Session> session = Session::open(location);
    session->writeTableFiles(tables, into.path(), [&progress](double done) {
        if (progress)
            progress(0.5 * done);
    });
    QList<QString> copies;
    for (const QString &table : tables)
        copies.append(into.filePath(table));
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

Summary create(const QString &location, const QStringList &tables, const QString &descriptionFile,
               const QString &archivePath, const Progress &progress)
{
    const QByteArray description = readDescriptionBytes(descriptionFile);
    PrivateTempDir scratch;
    const QList<QString> copies = copyTables(location, tables, scratch, progress);

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
        {QStringLiteral("catalogue"), CatalogueLocation::identity(location)},
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
