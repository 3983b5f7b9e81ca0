// The main window on a large catalogue: start-up to the window shown, a
// folder switch and a group switch (list reopened, first screen read), one
// incremental-search keystroke and the list scrolled to its end. Each figure
// is the time the window is busy, i.e. frozen for the user.
// bench/main-bench.sh runs the sqlite3 shell on the equivalent SQL beside it.
#include "Application.h"
#include "DBGrid.h"
#include "ForeignObjects.h"
#include "GroupTree.h"
#include "UData.h"
#include "UMain.h"
#include "WindowBench.h"

#include <QElapsedTimer>
#include <QTest>
#include <cstdio>

namespace {

// Paints the window and reads what a first screen of the list shows.
void showFirstScreen(TMainForm &form)
{
    form.DBGrid2->viewport()->repaint();
    QCoreApplication::processEvents();
}

void report(const char *what, double ms)
{
    std::printf("%-46s %8.1f ms\n", what, ms);
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    isolateBench(config);
    Application app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: mainbench CATALOGUE_DIR\n");
        return 2;
    }
    useCatalogue(argv[1]);

    SilentUi ui;
    QElapsedTimer timer;
    timer.start();
    Tdm data(ui);
    data.DataModuleCreate();
    const double dataModule = elapsed(timer);
    TMainForm form;
    form.show();
    showFirstScreen(form);
    const double window = elapsed(timer);
    report("start-up to the main window (no check)", dataModule + window);
    report("  of which the data module (every dataset open)", dataModule);
    // Part of every start: each table file read for objects the program did not make.
    timer.restart();
    ForeignObjects::inCatalogue(data.Main_sess()->location(), Tdm::describedTables());
    report("  a look for foreign objects in every table file", elapsed(timer));

    data.FolderFilter = true;
    data.tblFolderAfterScroll(data.tblFolder);
    timer.restart();
    data.tblFolder.next();
    showFirstScreen(form);
    report("folder switch (filter on), first screen", elapsed(timer));
    data.FolderFilter = false;
    data.tblFolderAfterScroll(data.tblFolder);
    data.RebuildFirmQuery();

    QTreeWidgetItem *group = form.TreeGrpFirm->topLevelItem(0)->child(0);
    timer.restart();
    form.TreeGrpFirm->setCurrentItem(group);
    showFirstScreen(form);
    report("group switch, first screen", elapsed(timer));
    form.TreeGrpFirm->setCurrentItem(form.TreeGrpFirm->topLevelItem(0));

    form.DBGrid2->setFocus();
    // The list is searched along its order for a name that begins, as a
    // person reads it, with what was typed: a letter found early, and a
    // last letter that makes a text no firm has (the whole list read).
    const auto keystroke = [&](const QString &key) {
        timer.restart();
        QTest::sendKeyEvent(QTest::Click, form.DBGrid2, Qt::Key_unknown, key, Qt::NoModifier);
        showFirstScreen(form);
        return elapsed(timer);
    };
    report("one incremental-search keystroke", keystroke(QStringLiteral("Т")));
    report("  a keystroke no firm's name follows", keystroke(QStringLiteral("Щ")));
    QTest::keyClick(form.DBGrid2, Qt::Key_Home);

    timer.restart();
    QTest::keyClick(form.DBGrid2, Qt::Key_End, Qt::ControlModifier);
    showFirstScreen(form);
    report("list scrolled to its end", elapsed(timer));
    std::printf("%-46s %8d\n", "firms in the list", data.qFirms.recordCount());
    return 0;
}
