#include "FileSearchCommands.h"

#include "IndexSync.h"
#include "UData.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

void printReport(const SyncReport &report)
{
    QTextStream(stdout) << QStringLiteral("Файлов: %1, текст прочитан: %2, без изменений: %3, "
                                          "неизвестный вид: %4, не прочитано: %5")
                               .arg(report.total)
                               .arg(report.extracted)
                               .arg(report.unchanged)
                               .arg(report.unsupported)
                               .arg(report.failed)
                        << Qt::endl;
}

// Every file whose text could not be read, whose it is and why, on stderr.
void printSkipped(IndexSync &sync)
{
    QTextStream err(stderr);
    for (const IndexedFile &skipped : sync.index().skipped())
        err << QStringLiteral("Текст не прочитан: %1, файл «%2»: %3")
                   .arg(sync.catalogue().ownerName(skipped.file), skipped.file.description,
                        skipped.reason)
            << Qt::endl;
}

} // namespace

int rebuildFileIndex()
{
    const QString directory = Tdm::ensureAlias();
    FileTextIndex::removeIn(directory);
    IndexSync sync(directory, QCoreApplication::applicationFilePath());
    printReport(sync.syncAll());
    printSkipped(sync);
    return 0;
}

int findInFiles(const QString &text)
{
    const QString directory = Tdm::ensureAlias();
    IndexSync sync(directory, QCoreApplication::applicationFilePath());
    sync.syncAll();
    QTextStream out(stdout);
    const int all = 5000;
    const QList<FileHit> hits = sync.index().search(text, all, all);
    for (const FileHit &hit : hits)
        out << sync.catalogue().ownerName(hit.file) << '\t' << hit.file.description << '\t'
            << hit.snippet << Qt::endl;
    return hits.isEmpty() ? 1 : 0;
}
