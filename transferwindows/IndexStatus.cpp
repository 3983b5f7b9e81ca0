#include "IndexStatus.h"

#include "FileIndexer.h"

#include <QLocale>

namespace {

QString remainingText(int remaining)
{
    return QStringLiteral("осталось %1").arg(QLocale(QLocale::Russian).toString(remaining));
}

} // namespace

IndexStatus::IndexStatus(FileIndexer &indexer, QWidget *parent)
    : QLabel(parent), m_indexer(indexer)
{
    setObjectName(QStringLiteral("IndexStatus"));
    connect(&indexer, &FileIndexer::reading, this, &IndexStatus::showReading);
    connect(&indexer, &FileIndexer::pausedChanged, this, &IndexStatus::showPaused);
    connect(&indexer, &FileIndexer::synced, this, &IndexStatus::showSynced);
}

void IndexStatus::showReading(const QString &description, int remaining)
{
    m_remaining = remaining;
    if (m_indexer.isPaused())
        return showPaused(true);
    setText(QStringLiteral("Индексация файлов: «%1», %2")
                .arg(fontMetrics().elidedText(description, Qt::ElideMiddle, 240),
                     remainingText(remaining)));
}

void IndexStatus::showPaused(bool paused)
{
    if (m_remaining == 0)
        setText(paused ? QStringLiteral("Индексация файлов приостановлена") : QString());
    else if (paused)
        setText(QStringLiteral("Индексация файлов приостановлена, ") +
                remainingText(m_remaining));
    else
        setText(QStringLiteral("Индексация файлов, ") + remainingText(m_remaining));
}

void IndexStatus::showSynced(const SyncReport &report)
{
    if (!report.finished)
        return;
    m_remaining = 0;
    setText(report.failed > 0
                ? QStringLiteral("Текст не прочитан у файлов: %1 (меню F10)").arg(report.failed)
                : QString());
}
