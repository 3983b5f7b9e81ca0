#pragma once

#include <QLabel>

class FileIndexer;
struct SyncReport;

// The right end of the main window's status bar while the attached files
// are indexed: the file being read and how many remain, or that indexing
// is paused; at the end, how many files could not be read.
class IndexStatus : public QLabel
{
    Q_OBJECT
public:
    IndexStatus(FileIndexer &indexer, QWidget *parent);

private:
    void showReading(const QString &description, int remaining);
    void showPaused(bool paused);
    void showSynced(const SyncReport &report);

    FileIndexer &m_indexer;
    int m_remaining = 0;
};
