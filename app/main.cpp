#include "Application.h"
#include "CatalogueChoice.h"
#include "CatalogueLocation.h"
#include "CatalogueWindow.h"
#include "FileError.h"
#include "FileIndexer.h"
#include "IndexStatus.h"
#include "Leftovers.h"
#include "Maintenance.h"
#include "Restore.h"
#include "Russian.h"
#include "Session.h"
#include "TransferMenu.h"
#include "UData.h"
#include "UFind.h"
#include "UMain.h"
#include "USplash.h"
#include "WindowsUi.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QStatusBar>
#include <QTimer>

namespace {

// Any option asks for the headless program, except the catalogue to open.
bool wantsMaintenance(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--catalogue")
            ++i;
        else if (argument.startsWith('-') && !argument.startsWith("--catalogue="))
            return true;
    }
    return false;
}

// A catalogue that is gone gets no index: nothing is made in its place. The
// catalogue works without its index; the log says why there is none.
bool hasIndexFolder(const QString &location)
{
    try {
        return QFileInfo(CatalogueLocation::indexFolder(location)).isDir();
    } catch (const FileError &e) {
        qWarning().noquote() << e.message();
        return false;
    }
}

// The index of attached files follows the data module from now on; the
// files new or changed since the last run are indexed in the background,
// their progress shown at the right of the main window's status bar and the
// indexing steered from the toolbar menu.
std::unique_ptr<FileIndexer> startFileIndexer(Tdm &data, TMainForm &mainForm, TfrmFind &find)
{
    if (!data.Main_sess() || !hasIndexFolder(data.Main_sess()->location()))
        return nullptr;
    auto indexer = std::make_unique<FileIndexer>(data.Main_sess()->location(),
                                                 QCoreApplication::applicationFilePath());
    indexer->follow(data);
    indexer->yieldToUserInput();
    find.setFileIndexer(indexer.get());
    mainForm.statusBar()->addPermanentWidget(new IndexStatus(*indexer, &mainForm));
    if (auto *menu = mainForm.findChild<TransferMenu *>(QStringLiteral("TransferMenu")))
        menu->setFileIndexer(indexer.get());
    // Started once the window is up: start-up never waits for the index.
    QTimer::singleShot(0, indexer.get(), &FileIndexer::syncAll);
    return indexer;
}

// Whatever shows or steers the index lets it go before it goes.
void stopFileIndexer(std::unique_ptr<FileIndexer> &indexer, TMainForm &mainForm, TfrmFind &find)
{
    find.setFileIndexer(nullptr);
    if (auto *menu = mainForm.findChild<TransferMenu *>(QStringLiteral("TransferMenu")))
        menu->setFileIndexer(nullptr);
    delete mainForm.findChild<IndexStatus *>();
    indexer.reset();
}

int runHeadless(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    speakRussian(app);
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

    Leftovers::clearOfEndedRuns();
    WindowsUi ui(splash);
    Tdm data(ui);
    applyCatalogueOption(QCoreApplication::arguments());
    // A folder catalogue already open in a window of this user: that window
    // comes to the front instead of a second one on the same tables.
    if (CatalogueWindow::isOpen(Tdm::ensureAlias(), true)) {
        delete splash;
        return 0;
    }
    // A restore cut short is completed before anything looks at the
    // catalogue: between its two renames the data folder is not there.
    Application::guarded([] { Restore::finishInterrupted(Tdm::ensureAlias()); });
    // A catalogue that cannot be reached is said so, with the choice of
    // another one, before any window shows it empty.
    bool reached = false;
    Application::guarded([&] { reached = CatalogueChoice::reachAtStart(splash); });
    if (!reached) {
        delete splash;
        return 0;
    }
    Application::guarded([&] { data.DataModuleCreate(); });
    TMainForm mainForm;
    MainForm = &mainForm;
    TfrmFind find(&mainForm);
    frmFind = &find;
    mainForm.show();
    std::unique_ptr<FileIndexer> indexer = startFileIndexer(data, mainForm, find);
    CatalogueWindow shown;
    const auto showCatalogue = [&] {
        if (data.Main_sess())
            shown.show(data.Main_sess()->location(), [&mainForm] {
                mainForm.setWindowState(mainForm.windowState() & ~Qt::WindowMinimized);
                mainForm.raise();
                mainForm.activateWindow();
            });
    };
    showCatalogue();
    // Another catalogue opened from the menu brings its own index.
    QObject::connect(&data, &Tdm::catalogueOpened, &mainForm, [&] {
        stopFileIndexer(indexer, mainForm, find);
        indexer = startFileIndexer(data, mainForm, find);
        showCatalogue();
    });
    // On a Linux desktop a frameless window may stay above the main window:
    // it is hidden until a manual check shows it again.
    splash->hide();
    const int status = app.exec();
    backupAtExit(&mainForm);
    delete splash;
    SplashForm = nullptr;
    return status;
}
