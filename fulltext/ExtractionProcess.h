#pragma once

#include "ChildLimits.h"
#include "TextExtraction.h"

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QDeadlineTimer;
class QProcess;

// Bounds on the extraction of one file. A file that passes one of them is
// skipped; the process that read it is started again for the next file.
struct ExtractionLimits
{
    int seconds = 30;                          // wall-clock time of one file
    qint64 memoryBytes = 1024LL * 1024 * 1024; // address space of the process; 0: unbounded
    qint64 maxText = 16 * 1024 * 1024;         // characters of text
    qint64 maxFileSize = 256LL * 1024 * 1024;  // bytes of the unpacked file
    // Packed bytes sent to the process at most: a stream never packs larger
    // than its contents by more than a few bytes in 64 KB, so a larger one
    // would unpack past maxFileSize anyway and is refused unread.
    qint64 maxPackedSize() const { return maxFileSize + maxFileSize / 1024 + 64; }
};

// The extraction process itself (`quillon --extract-server`): reads packed
// files from stdin one after another and answers each on stdout with its
// status, its reason and its text. Runs until stdin closes.
int runExtractionServer(const ExtractionLimits &limits);

// One extraction process, kept running from file to file and started again
// after a crash, a limit or a number of files. Files are handed over packed,
// as the catalogue stores them: they are unpacked in the process, within its
// limits, never in the caller's. The process dies with the thread that
// started it and leaves no file behind. Used from one thread.
class ExtractionWorker
{
public:
    ExtractionWorker(QString program, ExtractionLimits limits, int niceness = 0);
    ~ExtractionWorker();
    ExtractionWorker(const ExtractionWorker &) = delete;
    ExtractionWorker &operator=(const ExtractionWorker &) = delete;

    // Queues a packed file; its answer comes from next() in the order given.
    // Handing over the next file before waiting for an answer lets the
    // process read it while the caller stores the previous text.
    void submit(QByteArray packed);
    int queued() const { return int(m_queue.size()); }
    // The answer for the oldest queued file. When `interrupted` turns true
    // the process is killed and every queued file dropped; the answer is
    // then Damaged and meaningless.
    Extraction next(const std::function<bool()> &interrupted = {});

    // Drops every queued file unanswered and ends the process.
    void abandon();

    // The packed file's text, at once.
    Extraction extract(QByteArray packed, const std::function<bool()> &interrupted = {});

    // Processes started so far (the first one included).
    int starts() const { return m_starts; }

private:
    bool ensureRunning();
    void stop();
    void restart();
    void send(const QByteArray &packed);
    static Extraction failureOfProcess(const QByteArray &stderrTail);
    std::optional<Extraction> readAnswer(const std::function<bool()> &interrupted,
                                         Extraction &failure);
    bool readExactly(QByteArray &into, qint64 size, const std::function<bool()> &interrupted,
                     const QDeadlineTimer &deadline, Extraction &failure);

    QString m_program;
    ExtractionLimits m_limits;
    int m_niceness;
    std::unique_ptr<QProcess> m_process;
    std::deque<QByteArray> m_queue; // sent to the process, not answered yet
    QByteArray m_stderr;
    int m_answered = 0;
    bool m_processEnds = false; // the last answer said the process ends
    int m_starts = 0;
};
