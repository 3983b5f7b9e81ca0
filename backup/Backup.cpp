#include "Backup.h"

#include "BaseMaker.h"
#include "EngineError.h"
#include "FileError.h"
#include "SqlText.h"
#include "TempFiles.h"
#include "TextRules.h"
#include "ZipFile.h"
#include "folder/FolderSession.h"
#include "folder/SqliteStatement.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStorageInfo>
#include <sqlite3.h>
#include <unistd.h>

namespace {

const QString formatTag = QStringLiteral("quillon-backup");
constexpr int formatVersion = 1;
const QString manifestName = QStringLiteral("manifest.json");
const QString descriptionName = QStringLiteral("base.ini");
// A manifest of ten tables is a few kilobytes; anything far larger is not ours.
constexpr qint64 maxManifestBytes = 1 << 20;
// A catalogue has ten tables, the description and the manifest; a few spare.
constexpr qint64 maxEntries = 64;
// Pages copied per backup step: about 4 MB, so progress moves several times a second.
constexpr int pagesPerStep = 1024;

// One connection of its own, closed on every path.
class Connection
{
public:
    Connection(const QString &path, int flags)
    {
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK)
            throwSqliteError(m_db, rc, QFileInfo(path).fileName());
        sqlite3_extended_result_codes(m_db, 1);
        // A save of the running program holds the tables for a moment only.
        sqlite3_busy_timeout(m_db, 10000);
        TextRules::install(m_db);
    }
    ~Connection() { sqlite3_close_v2(m_db); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    sqlite3 *handle() const { return m_db; }

    void execute(const QString &sql, const QString &context) const
    {
        const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throwSqliteError(m_db, rc, context);
    }
    QStringList column(const QString &sql, const QString &context) const
    {
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &stmt, nullptr);
        if (rc != SQLITE_OK)
            throwSqliteError(m_db, rc, context);
        QStringList values;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            values.append(
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))));
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            throwSqliteError(m_db, rc, context);
        return values;
    }

private:
    sqlite3 *m_db = nullptr;
};

struct FileSum
{
    qint64 size = 0;
    QByteArray sha256; // hexadecimal
};

FileSum sumOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(path + QStringLiteral(": не удаётся прочитать (") + file.errorString() +
                        ')');
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return {file.size(), hash.result().toHex()};
}

QString sqlLiteral(const QString &text)
{
    return '\'' + QString(text).replace('\'', QStringLiteral("''")) + '\'';
}

QString schemaOf(int position)
{
    return QStringLiteral("t%1").arg(position);
}

// Copies one attached table file into a file of its own through the backup interface.
void copyTable(const Connection &source, const QString &schema, const QString &target,
               const QString &table, const std::function<void(double)> &copied)
{
    Connection copy(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
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

// Copies every table while one read transaction holds them all: the copies
// show the catalogue at one moment.
QList<QString> copyTables(const QString &dataDirectory, const QStringList &tables,
                          const PrivateTempDir &into, const Backup::Progress &progress)
{
    Connection source(QStringLiteral(":memory:"), SQLITE_OPEN_READWRITE);
    for (int i = 0; i < tables.size(); ++i) {
        const QString path = FolderSession::findFileIn(dataDirectory, tables[i]);
        if (path.isEmpty())
            throw FileError(tables[i] + QStringLiteral(": таблица не найдена в каталоге ") +
                            QDir::toNativeSeparators(dataDirectory));
        source.execute(
            QStringLiteral("ATTACH DATABASE %1 AS %2").arg(sqlLiteral(path), schemaOf(i)),
            tables[i]);
    }
    source.execute(QStringLiteral("BEGIN"), tables.value(0));
    for (int i = 0; i < tables.size(); ++i)
        source.column(QStringLiteral("SELECT count(*) FROM %1.sqlite_master").arg(schemaOf(i)),
                      tables[i]);
    QList<QString> copies;
    for (int i = 0; i < tables.size(); ++i) {
        copies.append(into.filePath(tables[i]));
        copyTable(source, schemaOf(i), copies.last(), tables[i], [&](double copied) {
            if (progress)
                progress(0.5 * (i + copied) / tables.size());
        });
    }
    source.execute(QStringLiteral("COMMIT"), tables.value(0));
    return copies;
}

QByteArray readDescriptionBytes(const QString &descriptionFile)
{
    QFile file(BaseMaker::findDescriptionFile(descriptionFile));
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(descriptionFile + QStringLiteral(": не удаётся прочитать файл"));
    return file.readAll();
}

QJsonObject fileEntry(const QString &name, const FileSum &sum)
{
    return {{QStringLiteral("name"), name},
            {QStringLiteral("size"), double(sum.size)},
            {QStringLiteral("sha256"), QString::fromLatin1(sum.sha256)}};
}

// What a manifest says of one file.
struct ListedFile
{
    QString name;
    qint64 size = 0;
    QByteArray sha256;
};

[[noreturn]] void refuse(const QString &archivePath, const QString &reason)
{
    throw FileError(QStringLiteral("Файл «") + QFileInfo(archivePath).fileName() +
                    QStringLiteral("» не может быть восстановлен: ") + reason);
}

// A plain file name: nothing that could lead out of the folder it is unpacked into.
bool isPlainName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,63}$"));
    return plain.match(name).hasMatch() && !name.contains(QStringLiteral(".."));
}

QList<ListedFile> readManifest(const ZipReader &zip, const QString &archivePath)
{
    const int index = zip.indexOf(manifestName);
    if (index < 0)
        refuse(archivePath, QStringLiteral("это не резервная копия Квиллона"));
    QJsonParseError error;
    const QJsonObject manifest =
        QJsonDocument::fromJson(zip.readAll(index, maxManifestBytes), &error).object();
    if (error.error != QJsonParseError::NoError ||
        manifest.value(QStringLiteral("format")).toString() != formatTag)
        refuse(archivePath, QStringLiteral("это не резервная копия Квиллона"));
    if (manifest.value(QStringLiteral("formatVersion")).toInt() > formatVersion)
        refuse(archivePath, QStringLiteral("копия сделана более новой версией программы"));
    QList<ListedFile> files;
    for (const QJsonValue &value : manifest.value(QStringLiteral("files")).toArray()) {
        const QJsonObject entry = value.toObject();
        ListedFile file{entry.value(QStringLiteral("name")).toString(),
                        qint64(entry.value(QStringLiteral("size")).toDouble(-1)),
                        entry.value(QStringLiteral("sha256")).toString().toLatin1()};
        if (!isPlainName(file.name) || file.size < 0 || file.sha256.size() != 64)
            refuse(archivePath, QStringLiteral("опись копии повреждена"));
        files.append(file);
    }
    return files;
}

const ListedFile *findListed(const QList<ListedFile> &files, const QString &name)
{
    for (const ListedFile &file : files) {
        if (file.name.compare(name, Qt::CaseInsensitive) == 0)
            return &file;
    }
    return nullptr;
}

// Unpacks one listed file, hashing it on the way; its size and sum must be the listed ones.
void unpack(const ZipReader &zip, const ListedFile &listed, const QString &target,
            const QString &archivePath, const std::function<void(qint64)> &unpacked)
{
    const int index = zip.indexOf(listed.name);
    if (index < 0)
        refuse(archivePath, QStringLiteral("в архиве нет файла ") + listed.name);
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw FileError(target + QStringLiteral(": не удаётся создать (") + out.errorString() +
                        ')');
    QCryptographicHash hash(QCryptographicHash::Sha256);
    try {
        zip.read(index, listed.size, [&](const char *bytes, qint64 size) {
            hash.addData(QByteArrayView(bytes, size));
            unpacked(size);
            if (out.write(bytes, size) != size)
                throw FileError(target + QStringLiteral(": не удаётся записать (") +
                                out.errorString() + ')');
        });
    } catch (const FileError &e) {
        refuse(archivePath, listed.name + QStringLiteral(" повреждён (") + e.message() + ')');
    }
    if (!out.flush() || ::fsync(out.handle()) != 0)
        throw FileError(target + QStringLiteral(": не удаётся записать"));
    if (out.size() != listed.size || hash.result().toHex() != listed.sha256)
        refuse(archivePath,
               listed.name + QStringLiteral(" повреждён (не совпадает контрольная сумма)"));
}

// The unpacked file must be a sound table file that holds the table it is named after.
void checkTableFile(const QString &path, const QString &name, const QString &archivePath,
                    const std::function<void()> &keepAlive)
{
    try {
        FolderSession session(QFileInfo(path).absolutePath());
        session.setKeepAlive(keepAlive);
        const TableRef table = session.tableByFile(name);
        QStringList verdict;
        Statement check = session.prepare(
            QStringLiteral("PRAGMA %1.integrity_check").arg(SqlText::quoted(table.schema)), name);
        while (check.step())
            verdict.append(check.value(0).toString());
        if (verdict != QStringList{QStringLiteral("ok")})
            refuse(archivePath, name + QStringLiteral(" повреждён (") +
                                    verdict.mid(0, 3).join(QStringLiteral("; ")) + ')');
        if (table.table.compare(name.section('.', 0, 0), Qt::CaseInsensitive) != 0)
            refuse(archivePath, name + QStringLiteral(" не является таблицей каталога"));
    } catch (const EngineError &e) {
        refuse(archivePath, e.message());
    }
}

} // namespace

namespace Backup {

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

void create(const QString &dataDirectory, const QStringList &tables, const QString &descriptionFile,
            const QString &archivePath, const Progress &progress)
{
    const QByteArray description = readDescriptionBytes(descriptionFile);
    PrivateTempDir scratch;
    const QList<QString> copies = copyTables(dataDirectory, tables, scratch, progress);

    QJsonArray files;
    ZipWriter zip(archivePath);
    for (int i = 0; i < tables.size(); ++i) {
        files.append(fileEntry(tables[i], sumOf(copies[i])));
        zip.addFile(tables[i], copies[i]);
    }
    const QByteArray descriptionSum =
        QCryptographicHash::hash(description, QCryptographicHash::Sha256).toHex();
    files.append(fileEntry(descriptionName, {description.size(), descriptionSum}));
    zip.addData(descriptionName, description);
    const QJsonObject manifest{
        {QStringLiteral("format"), formatTag},
        {QStringLiteral("formatVersion"), formatVersion},
        {QStringLiteral("program"), QStringLiteral("Квиллон")},
        {QStringLiteral("version"), QStringLiteral(QUILLON_VERSION)},
        {QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {QStringLiteral("tables"), QJsonArray::fromStringList(tables)},
        {QStringLiteral("files"), files}};
    zip.addData(manifestName, QJsonDocument(manifest).toJson());
    zip.commit([&progress](double done) {
        if (progress)
            progress(0.5 + 0.5 * done);
    });
}

void verify(const QString &archivePath, const QStringList &tables, const QString &stagingDirectory,
            const Progress &progress)
{
    const ZipReader zip(archivePath, maxEntries);
    const QList<ListedFile> files = readManifest(zip, archivePath);
    qint64 total = 0;
    for (const QString &table : tables) {
        const ListedFile *listed = findListed(files, table);
        if (!listed)
            refuse(archivePath, QStringLiteral("в копии нет таблицы ") + table);
        total += listed->size;
    }
    if (QStorageInfo(stagingDirectory).bytesAvailable() < total)
        throw FileError(QDir::toNativeSeparators(stagingDirectory) +
                        QStringLiteral(": недостаточно места на диске для восстановления"));
    // Unpacking is the first half of the bar, the integrity checks the second.
    qint64 done = 0;
    const auto report = [&](double share) {
        if (progress)
            progress(share);
    };
    const double whole = double(std::max<qint64>(1, total));
    for (const QString &table : tables) {
        const ListedFile *listed = findListed(files, table);
        unpack(zip, *listed, QDir(stagingDirectory).filePath(table), archivePath,
               [&](qint64 bytes) { report(0.5 * double(done += bytes) / whole); });
    }
    done = 0;
    for (const QString &table : tables) {
        checkTableFile(QDir(stagingDirectory).filePath(table), table, archivePath,
                       [&] { report(0.5 + 0.5 * double(done) / whole); });
        done += findListed(files, table)->size;
        report(0.5 + 0.5 * double(done) / whole);
    }
}

} // namespace Backup
