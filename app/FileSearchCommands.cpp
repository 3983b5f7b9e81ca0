#include "FileSearchCommands.h"

#include "IndexSync.h"
#include "Session.h"
#include "UData.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QString ownerOf(Session &session, const CatalogueFile &file)
{
    const bool firm = file.firmId != 0;
    const QString sql =
        firm ? QStringLiteral("Select Name From Firms Where FirmID=%1").arg(file.firmId)
             : QStringLiteral("Select Name From Items Where ItemID=%1").arg(file.itemId);
    Statement statement = session.prepare(sql);
    const QString name = statement.step() ? statement.value(0).toString() : QString();
    return (firm ? QStringLiteral("Фирма «") : QStringLiteral("Элемент «")) + name + u'»';
}

void printReport(const SyncReport &report)
{
    QTextStream(stdout) << QStringLiteral("Файлов: %1, текст прочитан: %2, без изменений: %3, "
                                          "неизвестный вид: %4, повреждены или слишком велики: %5")
                               .arg(report.total)
                               .arg(report.extracted)
                               .arg(report.unchanged)
                               .arg(report.unsupported)
                               .arg(report.failed)
                        << Qt::endl;
}

SyncReport syncIndex(const QString &directory)
{
    IndexSync sync(directory, QCoreApplication::applicationFilePath());
    return sync.syncAll();
}

} // namespace

int rebuildFileIndex()
{
    const QString directory = Tdm::ensureAlias();
    FileTextIndex::removeIn(directory);
    printReport(syncIndex(directory));
    return 0;
}

int findInFiles(const QString &text)
{
    const QString directory = Tdm::ensureAlias();
    syncIndex(directory);
    const std::unique_ptr<Session> session = Session::open(directory);
    QTextStream out(stdout);
    const int all = 5000;
    const QList<FileHit> hits = FileTextIndex(directory).search(text, all, all);
    for (const FileHit &hit : hits)
        out << ownerOf(*session, hit.file) << '\t' << hit.file.description << '\t' << hit.snippet
            << Qt::endl;
    return hits.isEmpty() ? 1 : 0;
}
