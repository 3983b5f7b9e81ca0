#include "FileIndexer.h"

#include "UData.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QLoggingCategory>
#include <chrono>
#include <sys/resource.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(indexLog)

namespace {

// The indexing thread and its extraction process give way to every other
// program: they get the cores that nothing else wants.
constexpr int backgroundNiceness = 19;

// After a key or a click the user is taken to be at work for this long.
constexpr qint64 quietAfterInputMs = 400;

// The status bar is told at most this often which file is read.
constexpr qint64 progressEveryMs = 150;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        return true;
    default:
        return false;
    }
}

} // namespace

FileIndexer::FileIndexer(QString dataDirectory, QString extractProgram, ExtractionLimits limits,
                         QObject *parent)
    : QObject(parent), m_dataDirectory(std::move(dataDirectory)),
      m_program(std::move(extractProgram)), m_limits(limits), m_worker(new QObject)
{
    qRegisterMetaType<SyncReport>();
    m_thread.setObjectName(QStringLiteral("FileIndexer"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(m_worker,
                              [] { setpriority(PRIO_PROCESS, gettid(), backgroundNiceness); });
}

FileIndexer::~FileIndexer()
{
    {
        QMutexLocker lock(&m_mutex);
        m_closing = true;
        m_wake.wakeAll();
    }
    // The extraction process belongs to the thread: it ends there.
    QMetaObject::invokeMethod(m_worker, [this] { m_sync.reset(); });
    m_thread.quit();
    m_thread.wait();
}

void FileIndexer::run(std::function<void(IndexSync &)> job, Start start)
{
    const int generation = m_generation;
    QMetaObject::invokeMethod(m_worker, [this, job = std::move(job), start, generation] {
        if (stale(generation))
            return;
        try {
            if (start == Start::Afresh)
                m_sync.reset();
            // Opened on the thread: opening a large index takes a moment.
            if (!m_sync)
                m_sync = std::make_unique<IndexSync>(m_dataDirectory, m_program, m_limits,
                                                     controlFor(generation), backgroundNiceness);
            job(*m_sync);
        } catch (const IndexError &e) {
            qCWarning(indexLog).noquote() << QString::fromUtf8(e.what());
            // A damaged index is thrown away; the next pass makes it anew.
            if (e.damaged()) {
                m_sync.reset();
                FileTextIndex::removeIn(m_dataDirectory);
            }
        } catch (const std::exception &e) {
            // The catalogue works without the index; the log says why it is behind.
            qCWarning(indexLog).noquote() << QString::fromUtf8(e.what());
        }
    });
}

SyncControl FileIndexer::controlFor(int generation)
{
    SyncControl control;
    control.interrupted = [this, generation] { return stale(generation); };
    control.betweenFiles = [this, generation] { waitForTurn(generation); };
    control.reading = [this, lastSent = qint64(-1)](const QString &description,
                                                    int remaining) mutable {
        const qint64 now = nowMs();
        if (lastSent >= 0 && now - lastSent < progressEveryMs && remaining > 1)
            return;
        lastSent = now;
        emit reading(description, remaining);
    };
    return control;
}

void FileIndexer::waitForTurn(int generation)
{
    QMutexLocker lock(&m_mutex);
    while (!stale(generation)) {
        const qint64 lastInput = m_lastInputMs;
        const qint64 quietFor = lastInput < 0 ? quietAfterInputMs : nowMs() - lastInput;
        if (m_paused)
            m_wake.wait(&m_mutex);
        else if (quietFor < quietAfterInputMs)
            m_wake.wait(&m_mutex, QDeadlineTimer(quietAfterInputMs - quietFor));
        else
            return;
    }
}

void FileIndexer::syncAll()
{
    run([this](IndexSync &sync) { emit synced(sync.syncAll()); });
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

void FileIndexer::catalogueReplaced()
{
    {
        QMutexLocker lock(&m_mutex);
        ++m_generation;
        m_wake.wakeAll();
    }
    m_searchIndex.reset();
    run([this](IndexSync &sync) { emit synced(sync.syncAll()); }, Start::Afresh);
}

void FileIndexer::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    {
        QMutexLocker lock(&m_mutex);
        m_paused = paused;
        m_wake.wakeAll();
    }
    emit pausedChanged(paused);
}

void FileIndexer::yieldToUserInput()
{
    QCoreApplication::instance()->installEventFilter(this);
}

bool FileIndexer::eventFilter(QObject *watched, QEvent *event)
{
    if (isUserInput(event->type()))
        m_lastInputMs = nowMs();
    return QObject::eventFilter(watched, event);
}

const FileTextIndex *FileIndexer::searchIndex() const
{
    // Until the first pass has made the index there is nothing to search.
    if (!m_searchIndex && QFile::exists(FileTextIndex::pathIn(m_dataDirectory)))
        m_searchIndex =
            std::make_unique<FileTextIndex>(m_dataDirectory, FileTextIndex::Opening::AsIs);
    return m_searchIndex.get();
}

QList<FileHit> FileIndexer::search(const QString &text) const
{
    try {
        const FileTextIndex *index = searchIndex();
        return index ? index->search(text) : QList<FileHit>{};
    } catch (const IndexError &e) {
        qCWarning(indexLog).noquote() << QString::fromUtf8(e.what());
        m_searchIndex.reset();
        return {};
    }
}

QList<IndexedFile> FileIndexer::skippedFiles() const
{
    try {
        const FileTextIndex *index = searchIndex();
        return index ? index->skipped() : QList<IndexedFile>{};
    } catch (const IndexError &e) {
        qCWarning(indexLog).noquote() << QString::fromUtf8(e.what());
        m_searchIndex.reset();
        return {};
    }
}
