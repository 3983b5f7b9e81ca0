#include "FileIndexer.h"

#include "UData.h"

#include <QFile>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(indexLog)

FileIndexer::FileIndexer(QString catalogue, QString extractProgram, ExtractionLimits limits,
                         QObject *parent)
    : QObject(parent), m_catalogue(std::move(catalogue)), m_program(std::move(extractProgram)),
      m_limits(limits), m_worker(new QObject)
{
    qRegisterMetaType<SyncReport>();
    m_thread.setObjectName(QStringLiteral("FileIndexer"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start(QThread::LowPriority);
}

FileIndexer::~FileIndexer()
{
    m_stop = true;
    m_thread.quit();
    m_thread.wait();
}

void FileIndexer::run(std::function<void(IndexSync &)> job)
{
    QMetaObject::invokeMethod(m_worker, [this, job = std::move(job)] {
        if (m_stop)
            return;
        try {
            // Opened on the thread: checking a large index takes a moment.
            if (!m_sync)
                m_sync = std::make_unique<IndexSync>(m_catalogue, m_program, m_limits, &m_stop);
            job(*m_sync);
        } catch (const std::exception &e) {
            // The catalogue works without the index; the log says why it is behind.
            qCWarning(indexLog).noquote() << QString::fromLocal8Bit(e.what());
        }
    });
}

void FileIndexer::syncAll()
{
    run([this](IndexSync &sync) {
        const SyncReport report =
            sync.syncAll([this](int done, int total) { emit progress(done, total); });
        emit synced(report);
    });
}

void FileIndexer::fileChanged(qint64 fileId)
{
    run([fileId](IndexSync &sync) { sync.syncFile(fileId); });
}

void FileIndexer::filesRemoved()
{
    run([](IndexSync &sync) { sync.dropMissing(); });
}

void FileIndexer::follow(Tdm &data)
{
    connect(&data, &Tdm::attachedFilePosted, this, &FileIndexer::fileChanged);
    connect(&data, &Tdm::attachedFilesDeleted, this, &FileIndexer::filesRemoved);
}

QList<FileHit> FileIndexer::search(const QString &text) const
{
    // Until the first pass has made the index there is nothing to search.
    if (!m_searchIndex && !QFile::exists(FileTextIndex::pathIn(m_catalogue)))
        return {};
    try {
        if (!m_searchIndex)
            m_searchIndex =
                std::make_unique<FileTextIndex>(m_catalogue, FileTextIndex::Opening::AsIs);
        return m_searchIndex->search(text);
    } catch (const IndexError &e) {
        qCWarning(indexLog).noquote() << QString::fromLocal8Bit(e.what());
        m_searchIndex.reset();
        return {};
    }
}
