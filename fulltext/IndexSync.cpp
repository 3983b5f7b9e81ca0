#include "IndexSync.h"

#include "Session.h"
#include "TempFiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLoggingCategory>
#include <zlib.h>

Q_LOGGING_CATEGORY(indexLog, "quillon.fulltext")

// The attached-files table, read through a connection of its own in short
// statements, so that no read outlasts the statement that needed it.
class FilesTable
{
public:
    explicit FilesTable(const QString &catalogue) : m_session(Session::open(catalogue))
    {
        m_session->setBusyTimeout(5000);
    }

    QList<CatalogueFile> rows(const QString &condition = {}) const
    {
        QList<CatalogueFile> files;
        if (!m_session->hasTable(table))
            return files;
        Statement statement = m_session->prepare(
            QStringLiteral("Select FileID, coalesce(FirmID, 0), coalesce(ItemID, 0), "
                           "coalesce(Description, '') From Files Where FileID is not null ") +
            condition);
        while (statement.step())
            files.append({statement.int64(0), statement.int64(1), statement.int64(2),
                          statement.value(3).toString()});
        return files;
    }

    // The packed bytes of a file; nullopt when its row is gone.
    std::optional<QByteArray> packed(qint64 fileId) const
    {
        Statement statement =
            m_session->prepare(QStringLiteral("Select File From Files Where FileID=:FileID"));
        statement.bindNamed(QStringLiteral("FileID"), fileId);
        if (!statement.step())
            return std::nullopt;
        return statement.value(0).toByteArray();
    }

private:
    static inline const QString table = QStringLiteral("FILES.DB");
    std::unique_ptr<Session> m_session;
};

namespace {

bool sameDetails(const CatalogueFile &a, const CatalogueFile &b)
{
    return a.firmId == b.firmId && a.itemId == b.itemId && a.description == b.description;
}

void logSkipped(const CatalogueFile &file, const Extraction &extraction)
{
    qCWarning(indexLog).noquote() << QStringLiteral(
                                         "Файл пропущен при индексации: \"%1\" (FileID %2): %3")
                                         .arg(file.description)
                                         .arg(file.fileId)
                                         .arg(extraction.reason);
}

} // namespace

std::optional<QByteArray> unpackWithin(const QByteArray &packed, qint64 limit)
{
    z_stream zlib{};
    if (inflateInit(&zlib) != Z_OK)
        return std::nullopt;
    zlib.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    zlib.avail_in = uInt(packed.size());
    QByteArray bytes;
    char buffer[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zlib.next_out = reinterpret_cast<Bytef *>(buffer);
        zlib.avail_out = sizeof buffer;
        rc = inflate(&zlib, Z_NO_FLUSH);
        bytes.append(buffer, qsizetype(sizeof buffer - zlib.avail_out));
        if (bytes.size() > limit)
            rc = Z_MEM_ERROR;
    }
    inflateEnd(&zlib);
    // Z_BUF_ERROR: the input ended before the stream did; the bytes so far stand.
    if (rc != Z_STREAM_END && rc != Z_BUF_ERROR)
        return std::nullopt;
    return bytes;
}

IndexSync::IndexSync(QString catalogue, QString extractProgram, ExtractionLimits limits,
                     const std::atomic_bool *stop)
    : m_program(std::move(extractProgram)), m_limits(limits), m_stop(stop), m_index(catalogue),
      m_files(std::make_unique<FilesTable>(catalogue))
{}

IndexSync::~IndexSync() = default;

SyncReport IndexSync::syncAll(const Progress &progress)
{
    SyncReport report;
    const QList<CatalogueFile> files = m_files->rows();
    QHash<qint64, IndexedFile> known = m_index.files();
    report.total = int(files.size());
    for (int i = 0; i < files.size(); ++i) {
        if (stopping())
            return report;
        const auto entry = known.constFind(files[i].fileId);
        count(report, indexOne(files[i], entry == known.constEnd() ? nullptr : &*entry));
        known.remove(files[i].fileId);
        if (progress)
            progress(i + 1, report.total);
    }
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        m_index.remove(it.key());
    report.removed = int(known.size());
    return report;
}

void IndexSync::syncFile(qint64 fileId)
{
    const QList<CatalogueFile> rows = m_files->rows(QStringLiteral("and FileID=%1").arg(fileId));
    if (rows.isEmpty()) {
        m_index.remove(fileId);
        return;
    }
    const QHash<qint64, IndexedFile> known = m_index.files();
    const auto entry = known.constFind(fileId);
    indexOne(rows.first(), entry == known.constEnd() ? nullptr : &*entry);
}

int IndexSync::dropMissing()
{
    QHash<qint64, IndexedFile> known = m_index.files();
    for (const CatalogueFile &file : m_files->rows())
        known.remove(file.fileId);
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        m_index.remove(it.key());
    return int(known.size());
}

IndexSync::Outcome IndexSync::indexOne(const CatalogueFile &file, const IndexedFile *known)
{
    const std::optional<QByteArray> packed = m_files->packed(file.fileId);
    if (!packed) {
        m_index.remove(file.fileId);
        return Outcome::Gone;
    }
    const QByteArray hash = QCryptographicHash::hash(*packed, QCryptographicHash::Sha1);
    if (known && known->hash == hash) {
        if (!sameDetails(known->file, file))
            m_index.updateDetails(file);
        return Outcome::Unchanged;
    }
    const Extraction extraction = extractPacked(*packed);
    if (stopping())
        return Outcome::Gone;
    m_index.store(file, hash, extraction);
    if (extraction.status != ExtractStatus::Text)
        logSkipped(file, extraction);
    switch (extraction.status) {
    case ExtractStatus::Text:
        return Outcome::Extracted;
    case ExtractStatus::Unsupported:
        return Outcome::Unsupported;
    default:
        return Outcome::Failed;
    }
}

Extraction IndexSync::extractPacked(const QByteArray &packed)
{
    if (packed.isEmpty())
        return {ExtractStatus::Unsupported, {}, QStringLiteral("no bytes stored")};
    const std::optional<QByteArray> bytes = unpackWithin(packed, m_limits.maxFileSize);
    if (!bytes)
        return {ExtractStatus::TooLarge, {}, QStringLiteral("damaged or over the size limit")};
    // The extraction process reads a copy in a private folder, under a name
    // of our own: the stored name came from the catalogue.
    const PrivateTempDir folder;
    QFile copy(folder.filePath(QStringLiteral("attached")));
    if (!copy.open(QIODevice::WriteOnly) || copy.write(*bytes) != bytes->size())
        return {ExtractStatus::Damaged, {}, QStringLiteral("cannot write the temporary copy")};
    copy.close();
    return extractInProcess(m_program, copy.fileName(), m_limits, m_stop);
}

void IndexSync::count(SyncReport &report, Outcome outcome)
{
    switch (outcome) {
    case Outcome::Extracted:
        ++report.extracted;
        break;
    case Outcome::Unchanged:
        ++report.unchanged;
        break;
    case Outcome::Unsupported:
        ++report.unsupported;
        break;
    case Outcome::Failed:
        ++report.failed;
        break;
    case Outcome::Gone:
        break;
    }
}
