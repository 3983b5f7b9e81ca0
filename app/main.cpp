#include "Application.h"
#include "FileIndexer.h"
#include "Maintenance.h"
#include "Restore.h"
#include "Session.h"
#include "TransferMenu.h"
#include "UData.h"
#include "UFind.h"
#include "UMain.h"
#include "USplash.h"
#include "WindowsUi.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace {

bool wantsMaintenance(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-')
            return true;
    }
    return false;
}

// The index of attached files follows the data module from now on; the
// files new or changed since the last run are indexed in the background,
// their progress shown at the right of the main window's status bar.
std::unique_ptr<FileIndexer> startFileIndexer(Tdm &data, TMainForm &mainForm, TfrmFind &find)
{
    if (!data.Main_sess())
        return nullptr;
    auto indexer = std::make_unique<FileIndexer>(data.Main_sess()->directory(),
                                                 QCoreApplication::applicationFilePath());
    indexer->follow(data);
    find.setFileIndexer(indexer.get());
    auto *status = new QLabel(&mainForm);
    status->setObjectName(QStringLiteral("IndexStatus"));
    mainForm.statusBar()->addPermanentWidget(status);
    QObject::connect(indexer.get(), &FileIndexer::progress, status, [status](int done, int total) {
        status->setText(QStringLiteral("Индексация файлов: %1 из %2").arg(done).arg(total));
    });
    QObject::connect(indexer.get(), &FileIndexer::synced, status, [status] { status->clear(); });
    // Started once the window is up: start-up never waits for the index.
    QTimer::singleShot(0, indexer.get(), &FileIndexer::syncAll);
    return indexer;
}

int runHeadless(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));
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
    const std::unique_ptr<FileIndexer> indexer = startFileIndexer(data, mainForm, find);
    // On a Linux desktop a frameless window may stay above the main window:
    // it is hidden until a manual check shows it again.
    splash->hide();
    const int status = app.exec();
    backupAtExit(&mainForm);
    delete splash;
    SplashForm = nullptr;
    return status;
}
