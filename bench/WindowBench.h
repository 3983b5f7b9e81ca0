#pragma once

// What the window benchmarks share: a program without a desktop whose
// settings live in a private folder, pointed at a generated catalogue, and a
// storage interface that answers nothing and prints the messages.
#include "Aliases.h"
#include "CatalogueLocation.h"
#include "SettingsStore.h"
#include "StorageUi.h"
#include "UData.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

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

// Before the application object: offscreen, with private settings.
inline void isolateBench(const QTemporaryDir &config)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", config.path().toUtf8());
}

// The alias points at the catalogue (a folder or a server's URI); start-up
// runs without the structure check, which check-bench.sh measures on its own.
inline void useCatalogue(const char *location)
{
    const QString given = QString::fromLocal8Bit(location);
    Aliases aliases;
    aliases.addStandardAlias(
        "Quillon", CatalogueLocation::isServer(given) ? given : QDir(given).absolutePath(),
        "Paradox");
    aliases.saveConfigFile();
    writeBoolSetting("CheckOnLoad", false);
}

// Milliseconds since the timer's last reading, which this one becomes.
inline double elapsed(QElapsedTimer &timer)
{
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    return ms;
}

// The data module open on a generated catalogue, as the window benchmarks
// start once the application object exists.
struct BenchDataModule
{
    explicit BenchDataModule(const char *catalogue) : module(ui)
    {
        useCatalogue(catalogue);
        module.DataModuleCreate();
    }
    SilentUi ui;
    Tdm module;
};
