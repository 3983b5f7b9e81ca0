#pragma once

#include "StorageUi.h"

class TSplashForm;

// What the storage layer asks of the user, done with the splash window and
// the program's message boxes.
class WindowsUi : public StorageUi
{
public:
    explicit WindowsUi(TSplashForm *splash) : m_splash(splash) {}

    bool confirm(const QString &question) override;
    void message(const QString &text) override;
    void setStatus(const QString &text) override;
    void startProgress(int maximum) override;
    void setTableCaption(const QString &caption) override;
    // Advances the bar by one, repaints the splash window at once and lets
    // pending events through, so the desktop never sees a frozen program.
    void stepProgress() override;
    void keepAlive() override;

private:
    TSplashForm *m_splash;
};
