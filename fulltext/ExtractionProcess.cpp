#include "ExtractionProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <cstdio>

namespace {

// How often the reader looks at the process: short enough that a runaway
// output is cut early, long enough to cost nothing.
constexpr int pollMs = 50;

// UTF-8 takes at most three bytes for a character of the basic plane, four
// beyond it; output past four bytes a character breaks the limit.
constexpr qint64 bytesPerCharacter = 4;

Extraction failure(ExtractStatus status, const QString &reason)
{
    return {status, {}, reason};
}

Extraction answerOf(QProcess &process, const QByteArray &output)
{
    if (process.exitStatus() != QProcess::NormalExit)
        return failure(ExtractStatus::Damaged, QStringLiteral("the extraction process crashed"));
    const QString reason = QString::fromUtf8(process.readAllStandardError().left(300)).trimmed();
    switch (process.exitCode()) {
    case int(ExtractStatus::Text):
        return {ExtractStatus::Text, QString::fromUtf8(output), {}};
    case int(ExtractStatus::Unsupported):
        return failure(ExtractStatus::Unsupported, reason);
    case int(ExtractStatus::TooLarge):
        return failure(ExtractStatus::TooLarge, reason);
    default:
        return failure(ExtractStatus::Damaged,
                       reason.isEmpty() ? QStringLiteral("extraction failed") : reason);
    }
}

} // namespace

int runExtractTextCommand(const QString &path, qint64 maxText)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read the file\n");
        return int(ExtractStatus::Damaged);
    }
    const Extraction result = extractText(file.readAll(), path, maxText);
    if (result.status != ExtractStatus::Text) {
        std::fprintf(stderr, "%s\n", result.reason.toUtf8().constData());
        return int(result.status);
    }
    const QByteArray utf8 = result.text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout);
    return std::fflush(stdout) == 0 ? int(ExtractStatus::Text) : int(ExtractStatus::Damaged);
}

Extraction extractInProcess(const QString &program, const QString &path,
                            const ExtractionLimits &limits, const std::atomic_bool *stop)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--extract-text"), path, QStringLiteral("--max-text"),
                          QString::number(limits.maxText)});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier(
        [limits] { ChildLimits::bound(limits.memoryBytes, limits.seconds + 1); });
    process.start();
    if (!process.waitForStarted())
        return failure(ExtractStatus::Damaged,
                       QStringLiteral("the extraction process did not start"));
    QElapsedTimer clock;
    clock.start();
    QByteArray output;
    const qint64 maxOutput = limits.maxText * bytesPerCharacter;
    while (process.state() != QProcess::NotRunning && !process.waitForFinished(pollMs)) {
        output += process.readAllStandardOutput();
        if (output.size() > maxOutput) {
            process.kill();
            process.waitForFinished();
            return failure(ExtractStatus::TooLarge, QStringLiteral("text over the limit"));
        }
        if (clock.elapsed() > qint64(limits.seconds) * 1000 || (stop && *stop)) {
            process.kill();
            process.waitForFinished();
            return failure(ExtractStatus::Damaged, QStringLiteral("time limit reached"));
        }
    }
    output += process.readAllStandardOutput();
    if (output.size() > maxOutput)
        return failure(ExtractStatus::TooLarge, QStringLiteral("text over the limit"));
    return answerOf(process, output);
}
