#pragma once

#include "CatalogueFiles.h"
#include "ExtractionProcess.h"
#include "FileTextIndex.h"

#include <QMetaType>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// How one pass over the attached files went.
struct SyncReport
{
    int total = 0;        // files in the catalogue
    int extracted = 0;    // files whose text was read anew
    int unchanged = 0;    // files whose packed bytes were indexed already
    int unsupported = 0;  // kinds of file no text is read from
    int failed = 0;       // damaged and locked files, files over a limit
    int removed = 0;      // index entries of files no longer in the catalogue
    bool finished = true; // false when the pass was interrupted
};
Q_DECLARE_METATYPE(SyncReport)

// How a pass is steered from outside. Every member may be left empty.
struct SyncControl
{
    // True once the work must end at once (the program closes, the
    // catalogue was replaced); a file being read is then dropped.
    std::function<bool()> interrupted;
    // Called between files: returns when the work may go on (it waits
    // while indexing is paused or the user is busy).
    std::function<void()> betweenFiles;
    // The file being read and how many are left to read, this one included.
    std::function<void(const QString &description, int remaining)> reading;
};

// Brings the index in line with the catalogue's attached files: the text of
// new and changed files is read in a small pool of extraction processes kept
// beside it, and the files that are gone are forgotten. What changed is told
// by each row's details and the size of its stored bytes, so that a pass with
// nothing to do reads no file; a file posted while the program runs is
// compared by the hash of its bytes. Runs on any one thread.
class IndexSync
{
public:
    IndexSync(const QString &dataDirectory, const QString &extractProgram,
              ExtractionLimits limits = {}, SyncControl control = {}, int niceness = 0);

    FileTextIndex &index() { return m_index; }
    CatalogueFiles &catalogue() { return m_catalogue; }

    // Every file of the catalogue.
    SyncReport syncAll();
    // One file after it was added, replaced, stored back or renamed.
    void syncFile(qint64 fileId);
    // Forgets the files the catalogue no longer holds (a file or its owner deleted).
    int dropMissing();

private:
    struct Reading
    {
        CatalogueFile file;
        QByteArray hash;
        ExtractionWorker *worker; // the process the file was handed to
    };
    void readTexts(const QList<CatalogueFile> &files, const QHash<qint64, IndexedFile> &known,
                   SyncReport &report);
    // Hands the file's stored bytes to the extraction process, unless its
    // row is gone or its bytes are those indexed already.
    void handOver(const CatalogueFile &file, const IndexedFile *known, std::deque<Reading> &queue,
                  SyncReport &report);
    void store(const Reading &reading, const Extraction &extraction, SyncReport &report);
    bool interrupted() const { return m_control.interrupted && m_control.interrupted(); }
    ExtractionWorker &leastBusyWorker();

    SyncControl m_control;
    CatalogueFiles m_catalogue;
    FileTextIndex m_index;
    // Each answers its files in the order given; a process is started only
    // when a file is handed to it.
    std::vector<std::unique_ptr<ExtractionWorker>> m_workers;
};
