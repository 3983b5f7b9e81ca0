#pragma once

#include "Aliases.h"
#include "SettingsStore.h"
#include "StorageUi.h"

#include <QDir>
#include <QElapsedTimer>
#include <cstdio>

// Shared by the window benchmarks: a storage UI that asks nothing, the alias
// pointed at the catalogue under test, and the time since the last reading.
namespace BenchSupport {

class SilentUi : public StorageUi
{
public:
    bool confirm(const QString &) override { return false; }
    void message(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void setStatus(const QString &) override {}
    void startProgress(int) override {}
    void setTableCaption(const QString &) override {}
    void stepProgress() override {}
};

// The structure check is measured by check-bench.sh: the window benchmarks
// start without it.
inline void useCatalogue(const char *directory)
{
    Aliases aliases;
    aliases.addStandardAlias("Quillon", QDir(QString::fromLocal8Bit(directory)).absolutePath(),
                             "Paradox");
    aliases.saveConfigFile();
    writeBoolSetting("CheckOnLoad", false);
}

inline double elapsed(QElapsedTimer &timer)
{
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    return ms;
}

} // namespace BenchSupport
