// The group assignment dialog on a large catalogue: prepared on a firm
// (the type tree copied, the firm's rows marked) and shown, then saved with
// every group marked and with none. Each figure is the time the window is
// busy. bench/tree-bench.sh runs the sqlite3 shell on the same work beside it.
#include "Application.h"
#include "GroupTree.h"
#include "SelectableTree.h"
#include "UData.h"
#include "UMain.h"
#include "UTree.h"
#include "WindowBench.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace {

void report(const char *what, double ms)
{
    std::printf("%-46s %8.1f ms\n", what, ms);
}

double msSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// Prepared, shown and painted once: what the user waits for after the press.
std::unique_ptr<TfrmTree> openDialog(QWidget *editor, double &ms)
{
    QElapsedTimer timer;
    timer.start();
    auto dialog = prepareGroupAssignment(editor, GroupOwner::Firm);
    dialog->show();
    dialog->TreeView1->viewport()->repaint();
    QCoreApplication::processEvents();
    ms = msSince(timer);
    return dialog;
}

double saveTimed(TfrmTree &dialog)
{
    QElapsedTimer timer;
    timer.start();
    dialog.Button1Click();
    return msSince(timer);
}

void run(const QString &sql)
{
    dm->TMPQuery.close();
    dm->TMPQuery.setSql({sql});
    dm->TMPQuery.execSql();
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    isolateBench(config);
    Application app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: treebench CATALOGUE_DIR FIRM_ID [SCREENSHOT.png]\n");
        return 2;
    }
    BenchDataModule bench(argv[1]);
    Tdm &data = bench.module;
    TMainForm form;
    MainForm = &form;
    QWidget editor;
    const int firm = QString::fromLocal8Bit(argv[2]).toInt();
    if (!data.qFirms.locate(QStringLiteral("FirmID"), firm)) {
        std::fprintf(stderr, "no firm %d\n", firm);
        return 1;
    }
    QList<qint64> kept;
    for (data.tblGrpFrm.first(); !data.tblGrpFrm.eof(); data.tblGrpFrm.next())
        kept << data.tblGrpFrm.fieldByName(QStringLiteral("GroupID"))->asInteger();

    QList<double> opens;
    for (int i = 0; i < 5; ++i) {
        double ms = 0;
        auto dialog = openDialog(&editor, ms);
        opens << ms;
        if (i == 0 && argc > 3)
            dialog->grab().save(QString::fromLocal8Bit(argv[3]));
    }
    std::sort(opens.begin(), opens.end());
    std::printf("%-46s %8d\n", "groups in the tree",
                int(form.TreeGrpFirm->nodesInOrder().size()) - 1);
    std::printf("%-46s %8d\n", "the firm's membership rows", int(kept.size()));
    report("dialog prepared and shown (median of 5)", opens.at(2));
    report("dialog prepared and shown (fastest)", opens.first());

    double ms = 0;
    auto dialog = openDialog(&editor, ms);
    dialog->TreeView1->SelectAll();
    report("save with every group marked", saveTimed(*dialog));
    dialog = openDialog(&editor, ms);
    dialog->TreeView1->UnSelectAll();
    report("save with no group marked", saveTimed(*dialog));

    // The firm's rows as they were before the run.
    for (const qint64 group : kept)
        run(QStringLiteral("Insert Into GrpFrm (FirmID, GroupID) Values (%1, %2)")
                .arg(firm)
                .arg(group));
    return 0;
}
