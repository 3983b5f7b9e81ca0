#pragma once

#include "ExtractionProcess.h"
#include "FileTextIndex.h"

#include <QMetaType>
#include <atomic>
#include <functional>
#include <memory>

class FilesTable;

// How one pass over the attached files went.
struct SyncReport
{
    int total = 0;       // files in the catalogue
    int extracted = 0;   // files whose text was read anew
    int unchanged = 0;   // files whose packed bytes were indexed already
    int unsupported = 0; // kinds of file no text is read from
    int failed = 0;      // damaged files and files over a limit
    int removed = 0;     // index entries of files no longer in the catalogue
};
Q_DECLARE_METATYPE(SyncReport)

// Brings the index in line with the catalogue's attached files: reads each
// file's packed bytes, extracts the text of the new and changed ones in a
// separate process, and forgets the files that are gone. Reads the table
// through its own connection, in short statements, so that the window's posts
// are never kept waiting; runs on any one thread.
class IndexSync
{
public:
    // Setting `stop` ends a pass between files and kills an extraction under
    // way, whose file is then left for the next pass.
    // `catalogue` is a data directory or a server's URI.
    IndexSync(QString catalogue, QString extractProgram, ExtractionLimits limits = {},
              const std::atomic_bool *stop = nullptr);
    ~IndexSync();

    FileTextIndex &index() { return m_index; }

    using Progress = std::function<void(int done, int total)>;
    // Every file of the catalogue.
    SyncReport syncAll(const Progress &progress = {});
    // One file after it was added, replaced, stored back or renamed.
    void syncFile(qint64 fileId);
    // Forgets the files the catalogue no longer holds (a file or its owner deleted).
    int dropMissing();

private:
    enum class Outcome
    {
        Extracted,
        Unchanged,
        Unsupported,
        Failed,
        Gone
    };
    Outcome indexOne(const CatalogueFile &file, const IndexedFile *known);
    Extraction extractPacked(const QByteArray &packed);
    bool stopping() const { return m_stop && *m_stop; }
    static void count(SyncReport &report, Outcome outcome);

    QString m_program;
    ExtractionLimits m_limits;
    const std::atomic_bool *m_stop;
    FileTextIndex m_index;
    std::unique_ptr<FilesTable> m_files;
};

// Unpacks a stored file, up to `limit` bytes; nullopt when the packed bytes
// are damaged or unpack past the limit. A stream cut short gives what it held.
std::optional<QByteArray> unpackWithin(const QByteArray &packed, qint64 limit);
