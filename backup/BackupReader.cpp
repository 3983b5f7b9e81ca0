#include "Backup.h"
#include "BaseMaker.h"
#include "EngineError.h"
#include "FileError.h"
#include "FolderSession.h"
#include "ForeignObjects.h"
#include "FreshCopy.h"
#include "KeptValues.h"
#include "Manifest.h"
#include "SqlText.h"
#include "StorageUi.h"
#include "TableFiles.h"
#include "ZipFile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStorageInfo>
#include <unistd.h>

namespace {

using Manifest::ListedFile;

// Where the backup's own files are unpacked inside the staging folder; they
// are read from there and removed before the staging folder becomes the catalogue.
const QString unpackedFolder = QStringLiteral(".unpacked");
// A restore reads and writes at disk speed, hundreds of megabytes a second.
// Two a second leaves room for the slowest disk, and a file crafted to make
// the engine crawl is stopped rather than waited for.
constexpr qint64 bytesPerSecondAtLeast = 2 * 1024 * 1024;
constexpr qint64 minimumSecondsAllowed = 60;
// A table file of n rows holds each row once, and once more in each index,
// with pages never less than half full; the bound allows four times that.
constexpr qint64 tableSlack = 4;
constexpr qint64 fileOverhead = 1 << 20;

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
    const int index = zip.indexOf(Manifest::fileName);
    if (index < 0)
        refuse(archivePath, QStringLiteral("это не резервная копия Квиллона"));
    QJsonParseError error;
    const QJsonObject manifest =
        QJsonDocument::fromJson(zip.readAll(index, Manifest::maxBytes), &error).object();
    if (error.error != QJsonParseError::NoError ||
        manifest.value(QStringLiteral("format")).toString() != Manifest::formatTag)
        refuse(archivePath, QStringLiteral("это не резервная копия Квиллона"));
    if (manifest.value(QStringLiteral("formatVersion")).toInt() > Manifest::formatVersion)
        refuse(archivePath, QStringLiteral("копия сделана более новой версией программы"));
    QList<ListedFile> files;
    for (const QJsonValue &value : manifest.value(QStringLiteral("files")).toArray()) {
        const QJsonObject entry = value.toObject();
        ListedFile file{entry.value(QStringLiteral("name")).toString(),
                        qint64(entry.value(QStringLiteral("size")).toDouble(-1)),
                        entry.value(QStringLiteral("sha256")).toString().toLatin1(),
                        qint64(entry.value(QStringLiteral("rows")).toDouble(-1))};
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

// Every entry must be the manifest or a file it lists, under a plain name, as
// large as listed: a path out of the folder, a link or a file nobody listed
// refuses the archive before anything is written.
void refuseStrayEntries(const ZipReader &zip, const QList<ListedFile> &files,
                        const QString &archivePath)
{
    for (const ZipReader::Entry &entry : zip.entries()) {
        if (entry.link)
            refuse(archivePath, QStringLiteral("в архиве ссылка «%1»").arg(entry.name));
        if (!isPlainName(entry.name))
            refuse(archivePath,
                   QStringLiteral("в архиве файл вне папки копии «%1»").arg(entry.name));
        if (entry.name == Manifest::fileName)
            continue;
        const ListedFile *listed = findListed(files, entry.name);
        if (!listed)
            refuse(archivePath,
                   QStringLiteral("в архиве файл «%1», которого нет в описи").arg(entry.name));
        if (listed->size != entry.size)
            refuse(archivePath,
                   QStringLiteral("размер «%1» в описи (%2) не совпадает с архивом (%3)")
                       .arg(entry.name)
                       .arg(listed->size)
                       .arg(entry.size));
    }
}

// The most a row of the table can take, or -1 when a field has no bound (a blob).
qint64 widestRow(const BaseMaker::TableSpec &table)
{
    qint64 bytes = 0;
    for (const BaseMaker::FieldSpec &spec : table.fields) {
        const FieldDef field = BaseMaker::declaredField(spec);
        if (field.isBlob() || field.kind == FieldKind::Unknown)
            return -1;
        // UTF-8 takes at most four bytes a character; every value has a header.
        bytes += (field.isText() ? 4 * qint64(field.size) : 16) + 9;
    }
    return bytes;
}

// A table file of `rows` rows needs no more than this; -1: no bound.
qint64 boundFor(const BaseMaker::TableSpec &table, qint64 rows)
{
    const qint64 row = widestRow(table);
    if (row < 0 || rows < 0)
        return -1;
    const qint64 copies = 2 + table.indexes.size(); // the row, the primary key, the indexes
    return fileOverhead + tableSlack * rows * row * copies;
}

// The declared sizes are held to what the rows can need, and to the free
// disk, before anything is written.
void refuseOversized(const QList<BaseMaker::TableSpec> &tables, const QList<ListedFile> &files,
                     const QString &stagingDirectory, const QString &archivePath)
{
    qint64 total = 0;
    for (const BaseMaker::TableSpec &table : tables) {
        const ListedFile *listed = findListed(files, table.name);
        if (!listed)
            refuse(archivePath, QStringLiteral("в копии нет таблицы ") + table.name);
        const qint64 bound = boundFor(table, listed->rows);
        if (bound >= 0 && listed->size > bound)
            refuse(archivePath, QStringLiteral("%1: в описи %2 байт для %3 строк, а таким строкам "
                                               "нужно не больше %4 байт")
                                    .arg(table.name)
                                    .arg(listed->size)
                                    .arg(listed->rows)
                                    .arg(bound));
        total += listed->size;
    }
    // The backup's files and the fresh ones stand side by side for a while.
    if (QStorageInfo(stagingDirectory).bytesAvailable() < 2 * total + fileOverhead)
        throw FileError(QDir::toNativeSeparators(stagingDirectory) +
                        QStringLiteral(": недостаточно места на диске для восстановления (нужно "
                                       "%1 МБ)")
                            .arg((2 * total + fileOverhead) >> 20));
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

// The structure check's progress goes nowhere: the restore has its own bar.
class QuietUi : public StorageUi
{
public:
    explicit QuietUi(std::function<void()> keepAlive) : m_keepAlive(std::move(keepAlive)) {}
    bool confirm(const QString &) override { return false; }
    void message(const QString &text) override { throw EngineError(text); }
    void setStatus(const QString &) override {}
    void startProgress(int) override {}
    void setTableCaption(const QString &) override {}
    void stepProgress() override { m_keepAlive(); }
    void keepAlive() override { m_keepAlive(); }

private:
    std::function<void()> m_keepAlive;
};

// Makes a fresh catalogue in the staging folder from the unpacked backup.
class FreshCatalogue
{
public:
    FreshCatalogue(const QString &archivePath, const QString &descriptionFile,
                   const QString &staging, const Backup::Progress &progress)
        : m_archive(archivePath), m_descriptionFile(descriptionFile), m_staging(staging),
          m_unpacked(QDir(staging).filePath(unpackedFolder)), m_progress(progress)
    {
        const QString path = BaseMaker::findDescriptionFile(descriptionFile);
        if (path.isEmpty())
            throw FileError(descriptionFile + QStringLiteral(": файл описания таблиц не найден"));
        m_tables = BaseMaker::readDescription(path).tables;
    }

    QStringList make()
    {
        const ZipReader zip(m_archive, Manifest::maxEntries);
        const QList<ListedFile> files = readManifest(zip, m_archive);
        refuseStrayEntries(zip, files, m_archive);
        refuseOversized(m_tables, files, m_staging, m_archive);
        for (const BaseMaker::TableSpec &table : m_tables)
            m_total += findListed(files, table.name)->size;
        m_deadline =
            QDeadlineTimer(1000 * (minimumSecondsAllowed + 3 * m_total / bytesPerSecondAtLeast));
        if (!QDir().mkpath(m_unpacked))
            throw FileError(m_unpacked + QStringLiteral(": не удаётся создать папку"));
        qint64 done = 0;
        for (const BaseMaker::TableSpec &table : m_tables) {
            unpack(zip, *findListed(files, table.name), QDir(m_unpacked).filePath(table.name),
                   m_archive, [&](qint64 bytes) { report(0.4 * double(done += bytes) / whole()); });
        }
        done = 0;
        for (const BaseMaker::TableSpec &table : m_tables) {
            const ListedFile &listed = *findListed(files, table.name);
            copyTable(table, listed, [&](double share) {
                report(0.4 + 0.5 * (double(done) + share * double(listed.size)) / whole());
            });
            done += listed.size;
        }
        makeKeysAndIndexes();
        QDir(m_unpacked).removeRecursively();
        report(1.0);
        return m_leftOut;
    }

private:
    double whole() const { return double(std::max<qint64>(1, m_total)); }

    void report(double share) const
    {
        if (m_progress)
            m_progress(share);
    }

    // The backup's table file as found: its findings are left out, a file the
    // program could not read safely refuses the archive.
    FreshCopy::SourceTable inspect(const BaseMaker::TableSpec &table)
    {
        const QList<ForeignObjects::Finding> findings =
            ForeignObjects::inFile(m_unpacked, table.name);
        for (const ForeignObjects::Finding &finding : findings) {
            if (finding.blocking)
                refuse(m_archive, finding.fileName + QStringLiteral(": ") + finding.what);
        }
        FreshCopy::SourceTable source;
        try {
            source = FreshCopy::describe(QDir(m_unpacked).filePath(table.name), table.name);
        } catch (const EngineError &e) {
            refuse(m_archive, e.message());
        }
        if (source.name.compare(table.name.section('.', 0, 0), Qt::CaseInsensitive) != 0)
            refuse(m_archive, table.name + QStringLiteral(" не является таблицей каталога"));
        for (const ForeignObjects::Finding &finding : findings)
            m_leftOut << finding.fileName + QStringLiteral(": ") + finding.what;
        return source;
    }

    QList<FreshCopy::Column> columnsFor(const BaseMaker::TableSpec &table,
                                        const FreshCopy::SourceTable &source)
    {
        QList<FreshCopy::Column> columns;
        QStringList taken;
        for (const BaseMaker::FieldSpec &spec : table.fields) {
            FreshCopy::Column column{BaseMaker::declaredField(spec), {}};
            for (const FieldDef &existing : source.columns) {
                if (existing.name.compare(spec.name, Qt::CaseInsensitive) == 0)
                    column.source = existing.name;
            }
            taken << column.source;
            columns << column;
        }
        for (const FieldDef &existing : source.columns) {
            if (!taken.contains(existing.name))
                m_leftOut << QStringLiteral("%1: поле «%2», которого нет в описании таблиц")
                                 .arg(table.name, existing.name);
        }
        return columns;
    }

    void copyTable(const BaseMaker::TableSpec &table, const ListedFile &listed,
                   const std::function<void(double)> &progress)
    {
        const FreshCopy::SourceTable source = inspect(table);
        const QList<FreshCopy::Column> columns = columnsFor(table, source);
        QList<FieldDef> fields;
        for (const FreshCopy::Column &column : columns)
            fields << column.field;
        try {
            {
                FolderSession staging(m_staging);
                TableFiles::createTable(staging, table.name, fields);
            }
            FreshCopy::Limits limits;
            limits.maxBytes = 2 * listed.size + fileOverhead;
            limits.deadline = m_deadline;
            limits.keepAlive = [&progress] { progress(0.5); };
            const FreshCopy::Copied copied =
                FreshCopy::copyRows(QDir(m_unpacked).filePath(table.name), source.name,
                                    QDir(m_staging).filePath(table.name), columns, true, limits);
            if (listed.rows >= 0 && copied.rows > listed.rows)
                refuse(m_archive, QStringLiteral("%1: строк %2, а в описи %3")
                                      .arg(table.name)
                                      .arg(copied.rows)
                                      .arg(listed.rows));
            // A count past what the program reaches (noted by the inspection)
            // starts again from the highest key.
            m_handedOut.insert(table.name,
                               FreshCopy::soundHandedOut(copied.handedOut, copied.highestKey));
        } catch (const EngineError &e) {
            refuse(m_archive, e.message());
        }
        progress(1.0);
    }

    // The primary keys and indexes are made once every row is in: faster than
    // keeping them up to date row by row, and a key that repeats refuses the
    // archive. Their time is bounded by the rows, which the copying bounded.
    void makeKeysAndIndexes()
    {
        try {
            QuietUi ui([this] { report(0.95); });
            BaseMaker::verifyCatalogue(m_descriptionFile, m_staging, false, false, ui);
            FolderSession staging(m_staging);
            for (auto it = m_handedOut.cbegin(); it != m_handedOut.cend(); ++it) {
                const TableRef table = staging.tableByFile(it.key());
                staging.execute(QStringLiteral("PRAGMA %1.user_version = %2")
                                    .arg(SqlText::quoted(table.schema))
                                    .arg(it.value()));
            }
        } catch (const EngineError &e) {
            refuse(m_archive, e.message());
        }
    }

    QString m_archive;
    QString m_descriptionFile;
    QString m_staging;
    QString m_unpacked;
    Backup::Progress m_progress;
    QList<BaseMaker::TableSpec> m_tables;
    qint64 m_total = 0;
    QDeadlineTimer m_deadline;
    QHash<QString, qint64> m_handedOut;
    QStringList m_leftOut;
};

} // namespace

namespace Backup {

Summary listed(const QString &archivePath)
{
    Summary summary;
    const ZipReader zip(archivePath, Manifest::maxEntries);
    for (const ListedFile &file : readManifest(zip, archivePath)) {
        if (file.name != Manifest::descriptionName)
            summary.rows.insert(file.name, file.rows);
    }
    return summary;
}

QStringList readInto(const QString &archivePath, const QString &descriptionFile,
                     const QString &stagingDirectory, const Progress &progress)
{
    return FreshCatalogue(archivePath, descriptionFile, stagingDirectory, progress).make();
}

} // namespace Backup
