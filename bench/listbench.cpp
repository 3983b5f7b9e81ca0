// Every list action of the main window and its editors on a large catalogue of
// either kind: start-up to the main window, the firm list opened by name, a
// folder switch and a group switch (each to the first screen painted), one
// type-to-find keystroke, the list scrolled to its end, the firm editor
// opened and closed after a rename, and a search. Each figure is the time
// the window is busy, i.e. frozen for the user.
//
// With --statements FILE, the statements each action ran are written there,
// their values in, under a line "-- action: <label>": bench/server-bench.sh
// runs them again in psql beside each figure.
#include "Application.h"
#include "ClassesRoot.h"
#include "DBGrid.h"
#include "GroupTree.h"
#include "Session.h"
#include "UData.h"
#include "UFind.h"
#include "UFirm.h"
#include "UMain.h"
#include "WindowBench.h"

#include <QCommandLineParser>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <cstdio>

namespace {

// The statements of one action at a time, and the longest action.
class Actions
{
public:
    explicit Actions(const QString &file) : m_file(file)
    {
        if (!file.isEmpty() && !m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    }

    void follow(Session *session)
    {
        if (m_file.isOpen())
            session->setTrace([this](const QString &sql) { m_statements << sql; });
    }

    void start()
    {
        m_statements.clear();
        m_timer.restart();
    }

    void finish(const char *label)
    {
        const double ms = double(m_timer.nsecsElapsed()) / 1e6;
        std::printf("%-52s %8.1f ms\n", label, ms);
        m_longest = std::max(m_longest, ms);
        if (!m_file.isOpen())
            return;
        m_file.write("-- action: " + QByteArray(label) + '\n');
        for (const QString &sql : std::as_const(m_statements))
            m_file.write(sql.toUtf8() + ";\n");
        m_file.flush();
    }

    double longest() const { return m_longest; }

private:
    QFile m_file;
    QStringList m_statements;
    QElapsedTimer m_timer;
    double m_longest = 0;
};

// Paints the window and reads what a first screen of the list shows.
void showFirstScreen(TMainForm &form)
{
    form.DBGrid2->viewport()->repaint();
    QCoreApplication::processEvents();
}

void listActions(Tdm &data, TMainForm &form, Actions &actions)
{
    actions.start();
    data.RebuildFirmQuery();
    showFirstScreen(form);
    actions.finish("firm list opened by name, first screen");

    data.FolderFilter = true;
    data.tblFolderAfterScroll(data.tblFolder);
    actions.start();
    data.tblFolder.next();
    showFirstScreen(form);
    actions.finish("folder switch (filter on), first screen");
    data.FolderFilter = false;
    data.tblFolderAfterScroll(data.tblFolder);
    data.RebuildFirmQuery();

    QTreeWidgetItem *group = form.TreeGrpFirm->topLevelItem(0)->child(0);
    actions.start();
    form.TreeGrpFirm->setCurrentItem(group);
    showFirstScreen(form);
    actions.finish("group switch, first screen");
    form.TreeGrpFirm->setCurrentItem(form.TreeGrpFirm->topLevelItem(0));

    form.DBGrid2->setFocus();
    actions.start();
    QTest::sendKeyEvent(QTest::Click, form.DBGrid2, Qt::Key_unknown, QStringLiteral("Т"),
                        Qt::NoModifier);
    showFirstScreen(form);
    actions.finish("one type-to-find keystroke");

    actions.start();
    QTest::keyClick(form.DBGrid2, Qt::Key_End, Qt::ControlModifier);
    showFirstScreen(form);
    actions.finish("list scrolled to its end");
}

void editorActions(TMainForm &form, Actions &actions)
{
    MemoryClassesRoot noTypes;
    dm->qFirms.moveTo(dm->qFirms.recordCount() / 2);
    const QString name = dm->tblFirms.fieldByName("Name")->asString();
    actions.start();
    auto editor = std::make_unique<TfrmEditFirm>(&form, noTypes);
    editor->show();
    editor->repaint();
    QCoreApplication::processEvents();
    actions.finish("firm editor opened, window painted");

    dm->tblFirms.edit();
    dm->tblFirms.fieldByName("Name")->setAsString(QStringLiteral("Я ") + name);
    actions.start();
    editor->close();
    editor.reset();
    showFirstScreen(form);
    actions.finish("firm editor closed after a rename, list re-sorted");
    // The catalogue is left as it was found.
    dm->tblFirms.edit();
    dm->tblFirms.fieldByName("Name")->setAsString(name);
    dm->tblFirms.post();
}

void searchAction(Actions &actions)
{
    TfrmFind find;
    frmFind = &find;
    find.Edit1->setText(QStringLiteral("техно"));
    actions.start();
    find.Button1Click();
    find.DBGrid1->viewport()->repaint();
    QCoreApplication::processEvents();
    actions.finish("search \"техно\" over the firms, first screen");
    frmFind = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    isolateBench(config);
    Application app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption statements("statements", "Write each action's statements to FILE.",
                                        "FILE");
    parser.addOption(statements);
    parser.addPositionalArgument("CATALOGUE", "A folder or a server's URI.");
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    Actions actions(parser.value(statements));
    useCatalogue(parser.positionalArguments().first().toLocal8Bit().constData());

    SilentUi ui;
    Tdm data(ui);
    // The data module's own statements count towards the start, as the window's do.
    QObject::connect(&data, &Tdm::catalogueOpened, [&] { actions.follow(data.Main_sess()); });
    actions.start();
    data.DataModuleCreate();
    TMainForm form;
    MainForm = &form;
    form.show();
    showFirstScreen(form);
    actions.finish("start-up to the main window (no check)");

    listActions(data, form, actions);
    editorActions(form, actions);
    searchAction(actions);
    std::printf("%-52s %8d\n", "firms in the list", data.qFirms.recordCount());
    std::printf("%-52s %8.1f ms\n", "longest the window was busy", actions.longest());
    MainForm = nullptr;
    return 0;
}
