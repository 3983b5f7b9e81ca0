// Times one run of the stream packer on a file: packbench pack|unpack max|none IN OUT
// Prints: seconds, peak memory above the start-up baseline, input and output sizes.
#include "SPacker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

qint64 peakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: packbench pack|unpack max|none IN OUT\n");
        return 2;
    }
    const qint64 baseline = peakResidentBytes();
    TStreamPacker packer;
    packer.Action = args[1] == QLatin1String("pack") ? aCompress : aDecompress;
    packer.Method = args[2] == QLatin1String("max") ? clMax : clNone;
    packer.InputStream()->LoadFromFile(args[3]);
    const qint64 inputSize = packer.InputStream()->size();

    QElapsedTimer clock;
    clock.start();
    packer.Execute();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;

    packer.OutputStream()->SaveToFile(args[4]);
    std::printf("%.3f %lld %lld %lld\n", seconds, qlonglong(peakResidentBytes() - baseline),
                qlonglong(inputSize), qlonglong(packer.OutputStream()->size()));
    return 0;
}
