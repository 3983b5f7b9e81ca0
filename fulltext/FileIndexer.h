#pragma once

#include "FileTextIndex.h"
#include "IndexSync.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <memory>

class Tdm;

// Keeps the index of attached files current while the program runs. All
// reading and extraction happens on a thread of its own, one file at a time,
// so the window never waits for it; searches run on the caller's thread
// over a connection of their own.
class FileIndexer : public QObject
{
    Q_OBJECT
public:
    FileIndexer(QString catalogue, QString extractProgram, ExtractionLimits limits = {},
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

    // Files holding every word of `text`; empty while there is no index yet.
    QList<FileHit> search(const QString &text) const;

signals:
    // During syncAll, after each file.
    void progress(int done, int total);
    void synced(const SyncReport &report);

private:
    void run(std::function<void(IndexSync &)> job);

    QString m_catalogue;
    QString m_program;
    ExtractionLimits m_limits;
    std::atomic_bool m_stop{false};
    QThread m_thread;
    QObject *m_worker;
    std::unique_ptr<IndexSync> m_sync; // used on the thread only
    mutable std::unique_ptr<FileTextIndex> m_searchIndex;
};
