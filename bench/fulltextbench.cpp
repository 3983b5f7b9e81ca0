// The file index measured from inside: searches over the whole index, and the
// main window's event loop while the index is made in the background.
//   fulltextbench search DIR WORD PHRASE
//   fulltextbench window DIR PROGRAM
//   fulltextbench extract PROGRAM FILE...   (the long-lived extraction process alone)
//   fulltextbench look DIR PROGRAM          (a start's look at the index, nothing changed)
#include "FileIndexer.h"
#include "IndexSync.h"
#include "TestDocuments.h"
#include "UData.h"
#include "UMain.h"
#include "WindowBench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>

namespace {

double medianMs(const std::function<void()> &work, int runs = 21)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int searchBench(const QString &directory, const QString &word, const QString &phrase)
{
    FileTextIndex index(directory, FileTextIndex::Opening::AsIs);
    for (const QString &text : {word, phrase}) {
        qsizetype hits = 0;
        const double ms = medianMs([&] { hits = index.search(text).size(); });
        std::printf("search %-28s %5lld files  median %.2f ms\n", qPrintable(text),
                    static_cast<long long>(hits), ms);
    }
    return 0;
}

// The files as the catalogue stores them, read by one extraction process
// kept running, as the indexer hands them over: the next file queued
// while the last answer is awaited.
int extractBench(const QString &program, const QStringList &paths)
{
    QList<QByteArray> packed;
    qint64 bytes = 0;
    for (const QString &path : paths) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray contents = file.readAll();
        bytes += contents.size();
        packed << TestDocuments::packed(contents);
    }
    ExtractionWorker worker(program, {});
    QElapsedTimer timer;
    timer.start();
    int read = 0;
    for (qsizetype i = 0; i < packed.size(); ++i) {
        worker.submit(packed[i]);
        if (worker.queued() > 1)
            read += worker.next().status == ExtractStatus::Text;
    }
    while (worker.queued() > 0)
        read += worker.next().status == ExtractStatus::Text;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("%.1f MB/s (%d of %lld files read, %.2f s)\n", double(bytes) / 1048576 / seconds,
                read, static_cast<long long>(packed.size()), seconds);
    return 0;
}

// What a start, or a --find-in-files, does before it searches when nothing
// changed: open the index and the file table and compare their rows.
int lookBench(const QString &directory, const QString &program)
{
    SyncReport report;
    const double ms = medianMs(
        [&] {
            IndexSync sync(directory, program);
            report = sync.syncAll();
        },
        11);
    std::printf("index look alone, nothing changed: median %.1f ms (%d files unchanged, %d read)\n",
                ms, report.unchanged, report.extracted);
    return 0;
}

// The longest time the event loop went without running a 5 ms timer.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this,
                [this] { m_worst = std::max(m_worst, m_since.restart()); });
    }
    void start()
    {
        m_worst = 0;
        m_since.start();
        m_timer.start();
    }
    qint64 worst() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_worst = 0;
};

int windowBench(const char *directory, const QString &program, int argc, char **argv)
{
    QTemporaryDir config;
    isolateBench(config);
    QApplication app(argc, argv);
    BenchDataModule bench(directory);
    Tdm &data = bench.module;
    TMainForm mainForm;
    mainForm.show();
    const QString dataDirectory = data.Main_sess()->directory();
    FileTextIndex::removeIn(dataDirectory);

    StallMeter meter;
    meter.start();
    QTimer::singleShot(2000, &app, &QApplication::quit);
    app.exec();
    std::printf("event loop, idle window:         worst gap %lld ms over 2 s\n", meter.worst());

    QElapsedTimer started;
    started.start();
    FileIndexer indexer(dataDirectory, program);
    indexer.syncAll();
    const qint64 startCost = started.elapsed();
    SyncReport report;
    QObject::connect(&indexer, &FileIndexer::synced, &app, [&](const SyncReport &r) {
        report = r;
        app.quit();
    });
    meter.start();
    // The user works meanwhile: the firm list scrolls a row at a time.
    QTimer scroller;
    QObject::connect(&scroller, &QTimer::timeout, &data, [&] {
        data.qFirms.next();
        if (data.qFirms.eof())
            data.qFirms.first();
    });
    scroller.start(20);
    app.exec();
    const double seconds = double(started.elapsed()) / 1000;
    std::printf("event loop while indexing:       worst gap %lld ms over %.1f s (list scrolling)\n",
                meter.worst(), seconds);
    std::printf("indexer start on the UI thread:  %lld ms\n", startCost);
    std::printf("indexed %d files (%d read, %d other kinds, %d skipped) in %.1f s\n", report.total,
                report.extracted, report.unsupported, report.failed, seconds);

    // A start with nothing changed: the pass only compares the rows.
    started.restart();
    indexer.syncAll();
    app.exec();
    std::printf("start-up pass, nothing changed:  %lld ms (%d files unchanged)\n",
                started.elapsed(), report.unchanged);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && !strcmp(argv[1], "search")) {
        QCoreApplication app(argc, argv);
        return searchBench(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                           QString::fromLocal8Bit(argv[4]));
    }
    if (argc == 4 && !strcmp(argv[1], "window"))
        return windowBench(argv[2], QString::fromLocal8Bit(argv[3]), argc, argv);
    if (argc >= 3 && !strcmp(argv[1], "extract")) {
        QCoreApplication app(argc, argv);
        QStringList files = QCoreApplication::arguments().mid(3);
        return extractBench(QString::fromLocal8Bit(argv[2]), files);
    }
    if (argc == 4 && !strcmp(argv[1], "look")) {
        QCoreApplication app(argc, argv);
        return lookBench(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    std::fprintf(stderr, "usage: fulltextbench search DIR WORD PHRASE | window DIR PROGRAM | "
                         "extract PROGRAM FILE... | look DIR PROGRAM\n");
    return 2;
}
