#include "ExtractionProcess.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QtEndian>
#include <csignal>
#include <fcntl.h>
#include <new>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

// The two sides speak over the process's stdin and stdout:
//   request:  u64 size, then the packed bytes;
//   answer:   u32 status, u32 flags, u32 reason size, the reason (UTF-8),
//             then the text (UTF-8) in pieces, each u32 size and bytes, ended
//             by a piece of 0. Flag 1: the process ends after this answer.
// Numbers are little-endian.

namespace {

// How often the reader looks at the process: short enough that a runaway
// output or a closing program is noticed at once, long enough to cost nothing.
constexpr int pollMs = 20;

// A long-lived process is started afresh now and then: what a reading
// library keeps between files (caches, fragments of memory) never piles up.
constexpr int filesPerProcess = 1000;

// UTF-8 takes at most four bytes for a character; more output than that is
// no answer of ours.
constexpr qint64 bytesPerCharacter = 4;
constexpr quint32 longestReason = 4096;

// The piece of text converted and written at once: the text is never held
// twice over in the process.
constexpr qsizetype textPiece = 1 << 20;

// The per-file alarm of the process itself, past the caller's own limit: it
// ends a file that runs away should the caller stall.
constexpr int alarmGraceSeconds = 5;

// The pipes to and from the process hold a whole price list and its text
// (a pipe holds 64 KB unless asked): the process reads the next file and
// writes its answer while the caller is busy storing, instead of waiting
// for the caller to come back for the rest. 1 MB is what a user may ask for.
constexpr int pipeBytes = 1 << 20;

bool readFully(int fd, char *into, size_t size)
{
    while (size > 0) {
        const ssize_t got = read(fd, into, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        into += got;
        size -= size_t(got);
    }
    return true;
}

bool writeFully(int fd, const char *from, size_t size)
{
    while (size > 0) {
        const ssize_t put = write(fd, from, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        from += put;
        size -= size_t(put);
    }
    return true;
}

template <typename Number> bool writeNumber(int fd, Number value)
{
    const Number little = qToLittleEndian(value);
    return writeFully(fd, reinterpret_cast<const char *>(&little), sizeof little);
}

// Unpacks a stored file up to `limit` bytes. A stream cut short gives what it held.
Extraction unpackWithin(const QByteArray &packed, qint64 limit, QByteArray &bytes)
{
    z_stream zlib{};
    if (inflateInit(&zlib) != Z_OK)
        return tooLarge(QStringLiteral("не хватило памяти"));
    zlib.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    zlib.avail_in = uInt(packed.size());
    char buffer[65536];
    int rc = Z_OK;
    bool over = false;
    while (rc == Z_OK && !over) {
        zlib.next_out = reinterpret_cast<Bytef *>(buffer);
        zlib.avail_out = sizeof buffer;
        rc = inflate(&zlib, Z_NO_FLUSH);
        bytes.append(buffer, qsizetype(sizeof buffer - zlib.avail_out));
        over = bytes.size() > limit;
    }
    inflateEnd(&zlib);
    if (over)
        return tooLarge(QStringLiteral("после распаковки больше %1 МБ").arg(limit >> 20));
    if (rc != Z_STREAM_END)
        return damaged(QStringLiteral("сохранённые данные файла испорчены"));
    // What the growing buffer kept in reserve is given back before the text is read.
    bytes.squeeze();
    return {ExtractStatus::Text, {}, {}};
}

Extraction extractPacked(QByteArray packed, const ExtractionLimits &limits)
{
    if (packed.isEmpty())
        return {ExtractStatus::Unsupported, {}, QStringLiteral("файл пуст")};
    QByteArray bytes;
    const Extraction unpacked = unpackWithin(packed, limits.maxFileSize, bytes);
    packed = QByteArray(); // no longer needed while the text is read
    if (unpacked.status != ExtractStatus::Text)
        return unpacked;
    return extractText(bytes, limits.maxText);
}

constexpr quint32 endsAfterAnswer = 1;

bool writeAnswer(int fd, const Extraction &answer, quint32 flags)
{
    const QByteArray reason = answer.reason.toUtf8().left(longestReason);
    if (!writeNumber(fd, quint32(answer.status)) || !writeNumber(fd, flags) ||
        !writeNumber(fd, quint32(reason.size())) ||
        !writeFully(fd, reason.constData(), size_t(reason.size())))
        return false;
    const qsizetype size = answer.text.size();
    qsizetype from = 0;
    while (from < size) {
        // A piece never ends between the two halves of a surrogate pair.
        qsizetype length = std::min(textPiece, size - from);
        if (from + length < size && answer.text.at(from + length - 1).isHighSurrogate())
            --length;
        const QByteArray utf8 = QStringView(answer.text).mid(from, length).toUtf8();
        if (!writeNumber(fd, quint32(utf8.size())) ||
            !writeFully(fd, utf8.constData(), size_t(utf8.size())))
            return false;
        from += length;
    }
    return writeNumber(fd, quint32(0));
}

// Runs in the child between fork and exec: only system calls here.
void limitChild(const ExtractionLimits &limits, int niceness, pid_t parent)
{
    // The process ends with the thread that started it, even one killed outright.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    // A pipe left at its usual size only costs speed.
    fcntl(STDIN_FILENO, F_SETPIPE_SZ, pipeBytes);
    fcntl(STDOUT_FILENO, F_SETPIPE_SZ, pipeBytes);
    if (ChildLimits::addressSpaceBoundable && limits.memoryBytes > 0) {
        const rlimit address{rlim_t(limits.memoryBytes), rlim_t(limits.memoryBytes)};
        setrlimit(RLIMIT_AS, &address);
    }
    // A crash of a reading library leaves no core of a user's document behind.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (niceness > 0)
        setpriority(PRIO_PROCESS, 0, niceness);
}

bool mentionsMemory(const QByteArray &stderrTail)
{
    return stderrTail.contains("Out of memory") || stderrTail.contains("bad_alloc") ||
           stderrTail.contains("memory exhausted");
}

} // namespace

int runExtractionServer(const ExtractionLimits &limits)
{
    // The answers get a descriptor of their own: whatever a library prints
    // to stdout lands on stderr instead of in the middle of an answer.
    const int answers = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    for (;;) {
        quint64 size = 0;
        if (!readFully(STDIN_FILENO, reinterpret_cast<char *>(&size), sizeof size))
            return 0; // the caller closed the pipe: no more files
        size = qFromLittleEndian(size);
        if (qint64(size) > limits.maxPackedSize() || size > quint64(INT_MAX))
            return int(ExtractStatus::TooLarge);
        alarm(unsigned(limits.seconds + alarmGraceSeconds));
        Extraction answer;
        bool afresh = false;
        try {
            QByteArray packed(qsizetype(size), Qt::Uninitialized);
            if (!readFully(STDIN_FILENO, packed.data(), size))
                return int(ExtractStatus::Damaged);
            answer = extractPacked(std::move(packed), limits);
        } catch (const std::bad_alloc &) {
            answer = tooLarge(QStringLiteral("не хватило памяти"));
            // What failed to allocate may have left the heap in pieces.
            afresh = true;
        }
        if (!writeAnswer(answers, answer, afresh ? endsAfterAnswer : 0))
            return 0;
        alarm(0);
        if (afresh)
            return 0;
    }
}

ExtractionWorker::ExtractionWorker(QString program, ExtractionLimits limits, int niceness)
    : m_program(std::move(program)), m_limits(limits), m_niceness(niceness)
{}

ExtractionWorker::~ExtractionWorker()
{
    stop();
}

bool ExtractionWorker::ensureRunning()
{
    if (m_process && m_process->state() == QProcess::Running)
        return true;
    stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(m_program);
    m_process->setArguments({QStringLiteral("--extract-server"), QStringLiteral("--max-text"),
                             QString::number(m_limits.maxText), QStringLiteral("--max-file"),
                             QString::number(m_limits.maxFileSize), QStringLiteral("--seconds"),
                             QString::number(m_limits.seconds)});
    const ExtractionLimits limits = m_limits;
    const int niceness = m_niceness;
    const pid_t parent = getpid();
    m_process->setChildProcessModifier(
        [limits, niceness, parent] { limitChild(limits, niceness, parent); });
    m_process->start();
    ++m_starts;
    m_answered = 0;
    m_stderr.clear();
    return m_process->waitForStarted();
}

void ExtractionWorker::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished();
    }
    m_process.reset();
}

void ExtractionWorker::send(const QByteArray &packed)
{
    const quint64 size = qToLittleEndian(quint64(packed.size()));
    m_process->write(reinterpret_cast<const char *>(&size), sizeof size);
    m_process->write(packed);
}

void ExtractionWorker::submit(QByteArray packed)
{
    m_queue.push_back(std::move(packed));
    if (qint64(m_queue.back().size()) > m_limits.maxPackedSize())
        return; // answered by next() without the process
    if (ensureRunning())
        send(m_queue.back());
}

Extraction ExtractionWorker::failureOfProcess(const QByteArray &stderrTail)
{
    if (mentionsMemory(stderrTail))
        return tooLarge(QStringLiteral("не хватило памяти"));
    return damaged(QStringLiteral("чтение файла прервалось аварийно"));
}

bool ExtractionWorker::readExactly(QByteArray &into, qint64 size,
                                   const std::function<bool()> &interrupted,
                                   const QDeadlineTimer &deadline, Extraction &failure)
{
    while (m_process->bytesAvailable() < size) {
        m_stderr = (m_stderr + m_process->readAllStandardError()).right(longestReason);
        if (interrupted && interrupted()) {
            failure = damaged(QStringLiteral("чтение прервано"));
            return false;
        }
        if (deadline.hasExpired()) {
            failure = damaged(QStringLiteral("чтение заняло больше %1 с").arg(m_limits.seconds));
            return false;
        }
        if (m_process->state() == QProcess::NotRunning) {
            failure = failureOfProcess(m_stderr + m_process->readAllStandardError());
            return false;
        }
        m_process->waitForReadyRead(pollMs);
    }
    into = m_process->read(size);
    return true;
}

std::optional<Extraction> ExtractionWorker::readAnswer(const std::function<bool()> &interrupted,
                                                       Extraction &failure)
{
    const QDeadlineTimer deadline(qint64(m_limits.seconds) * 1000);
    const auto read = [&](QByteArray &into, qint64 size) {
        return readExactly(into, size, interrupted, deadline, failure);
    };
    QByteArray header, reason, text, piece;
    if (!read(header, 12))
        return std::nullopt;
    const quint32 status = qFromLittleEndian<quint32>(header.constData());
    m_processEnds = qFromLittleEndian<quint32>(header.constData() + 4) & endsAfterAnswer;
    const quint32 reasonSize = qFromLittleEndian<quint32>(header.constData() + 8);
    const bool known =
        status == quint32(ExtractStatus::Text) ||
        (status >= quint32(ExtractStatus::Unsupported) && status <= quint32(ExtractStatus::Locked));
    if (!known || reasonSize > longestReason) {
        failure = damaged(QStringLiteral("непонятный ответ программы чтения"));
        return std::nullopt;
    }
    if (!read(reason, reasonSize))
        return std::nullopt;
    for (;;) {
        if (!read(piece, 4))
            return std::nullopt;
        const quint32 size = qFromLittleEndian<quint32>(piece.constData());
        if (size == 0)
            break;
        if (text.size() + qint64(size) > m_limits.maxText * bytesPerCharacter) {
            failure = tooLarge(QStringLiteral("текст длиннее %1 символов").arg(m_limits.maxText));
            return std::nullopt;
        }
        if (!read(piece, size))
            return std::nullopt;
        text += piece;
    }
    return Extraction{ExtractStatus(status), QString::fromUtf8(text), QString::fromUtf8(reason)};
}

Extraction ExtractionWorker::next(const std::function<bool()> &interrupted)
{
    if (m_queue.empty())
        return damaged(QStringLiteral("нечего читать"));
    if (qint64(m_queue.front().size()) > m_limits.maxPackedSize()) {
        m_queue.pop_front();
        return tooLarge(QStringLiteral("больше %1 МБ").arg(m_limits.maxFileSize >> 20));
    }
    Extraction failure;
    if (!m_process || !m_process->isOpen()) {
        failure = damaged(QStringLiteral("программа чтения файлов не запускается"));
    } else if (std::optional<Extraction> answer = readAnswer(interrupted, failure)) {
        m_queue.pop_front();
        if (m_processEnds || (++m_answered >= filesPerProcess && m_queue.empty()))
            restart();
        return *answer;
    }
    m_queue.pop_front();
    if (interrupted && interrupted()) {
        abandon();
        return failure;
    }
    restart();
    return failure;
}

void ExtractionWorker::abandon()
{
    stop();
    m_queue.clear();
}

void ExtractionWorker::restart()
{
    // The files queued behind the last answer go to a fresh process.
    stop();
    if (m_queue.empty() || !ensureRunning())
        return;
    for (const QByteArray &packed : m_queue) {
        if (qint64(packed.size()) <= m_limits.maxPackedSize())
            send(packed);
    }
}

Extraction ExtractionWorker::extract(QByteArray packed, const std::function<bool()> &interrupted)
{
    submit(std::move(packed));
    return next(interrupted);
}
