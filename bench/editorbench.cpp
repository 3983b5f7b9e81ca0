// The firm editor on a large catalogue: opened on a firm (to the window
// painted), closed after a rename (the main list re-read, re-sorted and on
// the same firm again), the group assignment dialog prepared; then a large
// file attached and opened through the editor's files grid. Each figure is
// the time the window is busy; for the file operations also the longest the
// event loop went without a turn, i.e. how long the window looked frozen.
// bench/editor-bench.sh puts Python's zlib on the same file beside them.
#include "Application.h"
#include "ClassesRoot.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "FilesPanel.h"
#include "SPacker.h"
#include "UData.h"
#include "UFirm.h"
#include "UFirmItemList.h"
#include "UItem.h"
#include "UMain.h"
#include "UTree.h"
#include "WindowBench.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

void report(const char *what, double ms)
{
    std::printf("%-50s %9.1f ms\n", what, ms);
}

// The longest stretch without a turn of the event loop while `work` runs: a
// timer that wants to fire every few milliseconds notes every late turn.
double longestFreeze(const std::function<void()> &work)
{
    QElapsedTimer sinceTurn;
    double longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, double(sinceTurn.nsecsElapsed()) / 1e6);
        sinceTurn.restart();
    });
    ticker.start();
    sinceTurn.start();
    work();
    longest = std::max(longest, double(sinceTurn.nsecsElapsed()) / 1e6);
    return longest;
}

void openAndCloseEditor(TMainForm &form, const ClassesRoot &types)
{
    QElapsedTimer timer;
    QList<double> opens, closes;
    for (int run = 0; run < 5; ++run) {
        dm->qFirms.moveTo(dm->qFirms.recordCount() / 2 + run);
        const qint64 firm = dm->qFirms.fieldByName("FirmID")->asInteger();
        const QString name = dm->tblFirms.fieldByName("Name")->asString();
        timer.restart();
        TfrmEditFirm editor(&form, types);
        editor.show();
        editor.repaint();
        QCoreApplication::processEvents();
        opens << elapsed(timer);

        dm->tblFirms.edit();
        dm->tblFirms.fieldByName("Name")->setAsString(QStringLiteral("Я ") + name);
        timer.restart();
        editor.close();
        form.DBGrid2->viewport()->repaint();
        QCoreApplication::processEvents();
        closes << elapsed(timer);
        if (dm->qFirms.fieldByName("FirmID")->asInteger() != firm)
            std::fprintf(stderr, "the list did not stay on the renamed firm\n");
        // The catalogue is left as it was found.
        dm->tblFirms.edit();
        dm->tblFirms.fieldByName("Name")->setAsString(name);
        dm->tblFirms.post();
    }
    std::sort(opens.begin(), opens.end());
    std::sort(closes.begin(), closes.end());
    report("editor opened, window painted (median of 5)", opens[2]);
    report("editor closed after a rename, list re-sorted (median)", closes[2]);

    TfrmEditFirm editor(&form, types);
    timer.restart();
    const auto dialog = prepareGroupAssignment(&editor, GroupOwner::Firm);
    dialog->show();
    QCoreApplication::processEvents();
    report("group assignment dialog prepared and shown", elapsed(timer));
}

// The item editor with its maker and seller grids, the firm drop-down of
// the maker grid opened and searched, and the items list of the firm with
// the most relation rows. Prints the keys used, for the shell's reference.
void itemWindows(TMainForm &form, const ClassesRoot &types)
{
    QElapsedTimer timer;
    dm->qItems.moveTo(dm->qItems.recordCount() / 2);
    timer.start();
    TfrmEditItem item(&form, types);
    item.show();
    item.repaint();
    QCoreApplication::processEvents();
    report("item editor opened, maker and seller grids filled", elapsed(timer));
    std::printf("# item %lld, %d makers, %d sellers\n",
                dm->tblItem.fieldByName("ItemID")->asInteger(), dm->qFMaker.recordCount(),
                dm->qFSaler.recordCount());

    DBGrid *makers = item.DBGridEh1;
    makers->setFocus();
    QTest::keyClick(makers, Qt::Key_Insert);
    std::printf("firm drop-down opened over every firm:\n");
    timer.restart();
    QTest::keyClick(makers, Qt::Key_F2);
    auto *list = qobject_cast<QComboBox *>(QApplication::focusWidget());
    report("  of which the drop-down made", elapsed(timer));
    list->showPopup();
    QCoreApplication::processEvents();
    report("  and its list shown", elapsed(timer));
    QTest::sendKeyEvent(QTest::Click, list->view(), Qt::Key_unknown, QStringLiteral("Т"),
                        Qt::NoModifier);
    QCoreApplication::processEvents();
    report("one keystroke in the drop-down (\"Т\")", elapsed(timer));
    list->hidePopup();
    QTest::keyClick(list, Qt::Key_Escape);
    item.close();

    dm->TMPQuery.setSql(
        {"Select FirmID, count(*) As N From CrFirms Group By FirmID Order By N Desc"});
    dm->TMPQuery.open();
    const QVariant busiest = dm->TMPQuery.fieldByName("FirmID")->value();
    dm->TMPQuery.close();
    dm->qFirms.locate("FirmID", busiest);
    timer.restart();
    TfrmListItem items(&form);
    items.show();
    items.repaint();
    QCoreApplication::processEvents();
    report("items list of the busiest firm", elapsed(timer));
    std::printf("# firm %lld, %d made, %d sold\n", busiest.toLongLong(), items.qMake.recordCount(),
                items.qSale.recordCount());
}

void attachAndOpen(TMainForm &form, const QString &file)
{
    MemoryClassesRoot types;
    types.setDefault(".bin", "binfile");
    types.setDefault("binfile\\shell\\open\\command", "/bin/true %1");
    TfrmEditFirm editor(&form, types);
    editor.show();
    QCoreApplication::processEvents();
    FilesPanel *files = editor.files;
    QElapsedTimer timer;

    TStreamPacker packer;
    packer.Method = clMax;
    packer.InputStream()->LoadFromFile(file);
    timer.start();
    packer.Execute();
    report("the packer alone on the same file (clMax)", elapsed(timer));

    Dialogs::answerNextOpenFile(file);
    timer.restart();
    const double addFreeze = longestFreeze([&] { files->cmdAddClick(); });
    report("large file attached (read, packed at max, stored)", elapsed(timer));
    report("  longest the window went without a turn", addFreeze);

    Dialogs::answerNextConfirm(false);
    timer.restart();
    const double openFreeze = longestFreeze([&] { files->DBGrid1DblClick(); });
    report("large file opened (unpacked, written, program run)", elapsed(timer));
    report("  longest the window went without a turn", openFreeze);

    Dialogs::answerNextConfirm(true);
    files->cmdDeleteClick();
    editor.close();
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    isolateBench(config);
    Application app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: editorbench CATALOGUE_DIR LARGE_FILE.bin\n");
        return 2;
    }
    BenchDataModule bench(argv[1]);
    Tdm &data = bench.module;
    TMainForm form;
    MainForm = &form;
    form.show();
    QCoreApplication::processEvents();
    std::printf("%-50s %9d\n", "firms in the list", data.qFirms.recordCount());

    MemoryClassesRoot noTypes;
    openAndCloseEditor(form, noTypes);
    itemWindows(form, noTypes);
    Dialogs::setScripted(true);
    attachAndOpen(form, QString::fromLocal8Bit(argv[2]));
    return 0;
}
