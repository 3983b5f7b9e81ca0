#include "Application.h"
#include "Maintenance.h"
#include "Restore.h"
#include "TransferMenu.h"
#include "UData.h"
#include "UFind.h"
#include "UMain.h"
#include "USplash.h"
#include "WindowsUi.h"

#include <QCoreApplication>

namespace {

bool wantsMaintenance(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-')
            return true;
    }
    return false;
}

int runHeadless(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2"));
    const int status = runMaintenance(QCoreApplication::arguments());
    return status < 0 ? 0 : status;
}

} // namespace

int main(int argc, char **argv)
{
    if (wantsMaintenance(argc, argv))
        return runHeadless(argc, argv);

    Application app(argc, argv);
    // The splash window is up before anything slow happens.
    auto *splash = new TSplashForm;
    SplashForm = splash;
    splash->show();
    splash->repaint();
    QCoreApplication::processEvents();
    Application::setApplicationDisplayName(QStringLiteral("Квиллон"));

    WindowsUi ui(splash);
    Tdm data(ui);
    // A restore cut short is completed before anything opens the tables.
    Application::guarded([&] {
        Restore::finishInterrupted(Tdm::ensureAlias());
        data.DataModuleCreate();
    });
    TMainForm mainForm;
    MainForm = &mainForm;
    TfrmFind find(&mainForm);
    frmFind = &find;
    mainForm.show();
    // On a Linux desktop a frameless window may stay above the main window:
    // it is hidden until a manual check shows it again.
    splash->hide();
    const int status = app.exec();
    backupAtExit(&mainForm);
    delete splash;
    SplashForm = nullptr;
    return status;
}
