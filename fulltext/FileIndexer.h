#pragma once

#include "FileTextIndex.h"
#include "IndexSync.h"

#include <QMutex>
#include <QObject>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <memory>

class Tdm;

// Keeps the index of attached files current while the program runs. All
// reading and extraction happens on a thread of its own, one file at a time,
// at the lowest priority and never while the user types or clicks, so the
// window never waits for it; searches run on the caller's thread over a
// connection of their own.
class FileIndexer : public QObject
{
    Q_OBJECT
public:
    FileIndexer(QString dataDirectory, QString extractProgram, ExtractionLimits limits = {},
                QObject *parent = nullptr);
    // Stops the work under way (an extraction is killed) and waits for the thread.
    ~FileIndexer() override;

    // Indexes the files that are new or changed since the last run and
    // forgets those that are gone: once at start-up.
    void syncAll();
    // A file row was posted: added, replaced, stored back or renamed.
    void fileChanged(qint64 fileId);
    // File rows were deleted, on their own or with their owner.
    void filesRemoved();
    // Follows the attached files of the data module's datasets.
    void follow(Tdm &data);
    // The catalogue's folder now holds another catalogue (a restore put it
    // there): the work under way is dropped and the index follows the new
    // files at once.
    void catalogueReplaced();

    // While paused, the file being read is finished and no other is begun.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    // Indexing waits while the user types or clicks in the application and
    // goes on after a moment of quiet.
    void yieldToUserInput();

    // Files holding every word of `text`; empty while there is no index yet.
    QList<FileHit> search(const QString &text) const;
    // The files whose text could not be read, with the reasons.
    QList<IndexedFile> skippedFiles() const;

signals:
    // The file being read and how many remain, this one included; sent at
    // most a few times a second.
    void reading(const QString &description, int remaining);
    void synced(const SyncReport &report);
    void pausedChanged(bool paused);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Start
    {
        AsIs,   // on the index already open
        Afresh  // on the files the data folder holds now
    };
    void run(std::function<void(IndexSync &)> job, Start start = Start::AsIs);
    SyncControl controlFor(int generation);
    void waitForTurn(int generation);
    bool stale(int generation) const { return m_closing || m_generation != generation; }
    const FileTextIndex *searchIndex() const;

    QString m_dataDirectory;
    QString m_program;
    ExtractionLimits m_limits;
    std::atomic_bool m_closing{false};
    std::atomic_int m_generation{0};
    std::atomic_bool m_paused{false};
    std::atomic<qint64> m_lastInputMs{-1};
    QMutex m_mutex;
    QWaitCondition m_wake;
    QThread m_thread;
    QObject *m_worker;
    std::unique_ptr<IndexSync> m_sync; // used on the thread only
    mutable std::unique_ptr<FileTextIndex> m_searchIndex;
};
