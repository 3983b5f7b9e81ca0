#include "IndexSync.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>

// Warnings only unless asked for: the files skipped are listed where a user
// looks (the toolbar menu, the command line's output).
Q_LOGGING_CATEGORY(indexLog, "quillon.fulltext", QtWarningMsg)

namespace {

// Files handed to each extraction process ahead of the one awaited: with one
// ahead a process reads the next file while this thread stores the last.
constexpr size_t filesAheadEach = 2;

// Extraction processes at most: two keep both cores of a small machine busy
// while this thread stores texts; more would only contend with the user's
// programs and multiply the memory a pass may take.
constexpr int mostWorkers = 2;

int workerCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, mostWorkers);
}

// How long stored texts wait for their commit: a commit a file would cost
// more than most files, and a search sees the texts once committed. Each
// commit leaves a small segment of the index that later ones merge again:
// on a busy machine, commits every half second took up to a fifth of the
// indexing thread's work.
constexpr qint64 commitEveryMs = 2000;

QByteArray hashOf(const QByteArray &packed)
{
    return QCryptographicHash::hash(packed, QCryptographicHash::Sha1);
}

void logSkipped(const CatalogueFile &file, const Extraction &extraction)
{
    qCInfo(indexLog).noquote() << QStringLiteral("Текст файла «%1» (FileID %2) не прочитан: %3")
                                      .arg(file.description)
                                      .arg(file.fileId)
                                      .arg(extraction.reason);
}

} // namespace

IndexSync::IndexSync(const QString &dataDirectory, const QString &extractProgram,
                     ExtractionLimits limits, SyncControl control, int niceness)
    : m_control(std::move(control)), m_catalogue(dataDirectory), m_index(dataDirectory)
{
    for (int i = workerCount(); i > 0; --i)
        m_workers.push_back(std::make_unique<ExtractionWorker>(extractProgram, limits, niceness));
}

ExtractionWorker &IndexSync::leastBusyWorker()
{
    return **std::min_element(m_workers.begin(), m_workers.end(), [](const auto &a, const auto &b) {
        return a->queued() < b->queued();
    });
}

SyncReport IndexSync::syncAll()
{
    SyncReport report;
    const QList<CatalogueFile> rows = m_catalogue.rows();
    QHash<qint64, IndexedFile> known = m_index.files();
    report.total = int(rows.size());
    QList<CatalogueFile> toRead;
    m_index.beginBatch();
    for (const CatalogueFile &row : rows) {
        const auto entry = known.constFind(row.fileId);
        if (entry == known.constEnd() || entry->file.packedSize != row.packedSize) {
            toRead.append(row);
            continue;
        }
        if (!entry->file.sameDetails(row))
            m_index.updateDetails(row);
        ++report.unchanged;
        known.erase(entry);
    }
    for (const CatalogueFile &row : std::as_const(toRead))
        known.remove(row.fileId);
    // What is left the catalogue no longer holds.
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        m_index.remove(it.key());
    report.removed = int(known.size());
    m_index.commitBatch();
    readTexts(toRead, m_index.files(), report);
    return report;
}

void IndexSync::readTexts(const QList<CatalogueFile> &files,
                          const QHash<qint64, IndexedFile> &known, SyncReport &report)
{
    std::deque<Reading> queue;
    // However the pass ends (cut short, or a failure to store), no file of
    // it is left queued to be answered in the next one.
    const auto leftovers = qScopeGuard([this] {
        for (const auto &worker : m_workers) {
            if (worker->queued() > 0)
                worker->abandon();
        }
    });
    qsizetype next = 0;
    QElapsedTimer sinceCommit;
    sinceCommit.start();
    m_index.beginBatch();
    while (!interrupted()) {
        if (m_control.betweenFiles)
            m_control.betweenFiles();
        while (queue.size() < filesAheadEach * m_workers.size() && next < files.size() &&
               !interrupted()) {
            const CatalogueFile &file = files[next++];
            const auto entry = known.constFind(file.fileId);
            handOver(file, entry == known.constEnd() ? nullptr : &*entry, queue, report);
        }
        if (queue.empty() || interrupted())
            break;
        if (m_control.reading)
            m_control.reading(queue.front().file.description,
                              int(files.size() - next + qsizetype(queue.size())));
        // Each process answers in the order its files were given, and files
        // are taken in the order handed over: the front's answer is its
        // process's next one.
        const Extraction extraction = queue.front().worker->next(m_control.interrupted);
        if (interrupted())
            break;
        store(queue.front(), extraction, report);
        queue.pop_front();
        if (sinceCommit.elapsed() > commitEveryMs) {
            m_index.commitBatch();
            m_index.beginBatch();
            sinceCommit.restart();
        }
    }
    m_index.commitBatch();
    report.finished = !interrupted();
}

void IndexSync::handOver(const CatalogueFile &file, const IndexedFile *known,
                         std::deque<Reading> &queue, SyncReport &report)
{
    std::optional<QByteArray> packed = m_catalogue.packed(file.fileId);
    if (!packed) {
        m_index.remove(file.fileId);
        return;
    }
    const QByteArray hash = hashOf(*packed);
    if (known && known->hash == hash) {
        // Same bytes under another size or name: only the row changes.
        m_index.updateDetails(file);
        ++report.unchanged;
        return;
    }
    ExtractionWorker &worker = leastBusyWorker();
    queue.push_back({file, hash, &worker});
    worker.submit(std::move(*packed));
}

void IndexSync::store(const Reading &reading, const Extraction &extraction, SyncReport &report)
{
    m_index.store(reading.file, reading.hash, extraction);
    switch (extraction.status) {
    case ExtractStatus::Text:
        ++report.extracted;
        break;
    case ExtractStatus::Unsupported:
        ++report.unsupported;
        break;
    default:
        ++report.failed;
        logSkipped(reading.file, extraction);
        break;
    }
}

void IndexSync::syncFile(qint64 fileId)
{
    const std::optional<CatalogueFile> row = m_catalogue.row(fileId);
    if (!row) {
        m_index.remove(fileId);
        return;
    }
    const std::optional<IndexedFile> known = m_index.file(fileId);
    SyncReport report;
    readTexts({*row},
              known ? QHash<qint64, IndexedFile>{{fileId, *known}} : QHash<qint64, IndexedFile>{},
              report);
}

int IndexSync::dropMissing()
{
    QHash<qint64, IndexedFile> known = m_index.files();
    for (const CatalogueFile &file : m_catalogue.rows())
        known.remove(file.fileId);
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        m_index.remove(it.key());
    return int(known.size());
}
