#pragma once

#include "TabContext.h"

#include <QIcon>
#include <QMainWindow>
#include <functional>

class DBGrid;
class DataSet;
class NewRecord;
class QAction;
class Table;
class QCheckBox;
class QFrame;
class QLabel;
class QSplitter;
class QTabWidget;
class QToolButton;
class TGroupTree;
class TGroupTrees;

// The main window: folders on the left; the "Фирмы" and "Элементы" tabs, each
// a group tree beside a read-only list; the toolbar and the status bar with
// the incremental-search buffer. It holds no data of its own: every list,
// tree table and record belongs to the data module.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // Controls by their design names.
    QToolButton *ToolButton1 = nullptr;
    QAction *acFind, *acOption, *acAbout, *acExit;
    QLabel *statusPanels[3] = {};
    QFrame *Panel1 = nullptr;
    DBGrid *grdFolders = nullptr;
    QToolButton *SpeedButton1, *SpeedButton2, *SpeedButton3;
    QTabWidget *PageControl1 = nullptr;
    TGroupTree *TreeGrpFirm = nullptr;
    TGroupTree *TreeGrpItem = nullptr;
    DBGrid *DBGrid2 = nullptr;
    DBGrid *DBGrid3 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QToolButton *SpeedButton4, *SpeedButton5, *SpeedButton6;

    TabContext context;
    TGroupTrees *groupTrees() const { return m_trees; }
    QString searchBuffer() const { return SearchBuffer; }

    // Handlers, named after the controls they serve.
    void FormCreate();
    void showReadOnly(const QString &reason);
    void followOtherDesks(const QStringList &tables);
    void PageControl1Change();
    void SpeedButton1Click();
    void ToolButton2Click();
    void ToolButton3Click();
    void ToolButton4Click();
    void ToolButton5Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void grdFoldersKeyDown(int key);
    void grdFoldersExit();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    void DBGrid2DblClick();
    void DBGrid3DblClick();
    void DBGrid2KeyDown(int key, Qt::KeyboardModifiers modifiers, const QString &text);
    void DBGrid2KeyPress(QChar character);
    void CheckBox1Click();
    void ApplySearch();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *makeToolBar();
    void makeStatusBar();
    QWidget *makeFolderPanel();
    QWidget *makeFolderHeader();
    QWidget *makeListPanel();
    QWidget *makePage(TGroupTree *tree, DBGrid *list, const char *splitterName);
    QWidget *makeButtonStrip();
    DBGrid *makeList(const char *name, DataSet *dataSet);
    void bindListKeys(DBGrid *grid);
    QAction *makeAction(const char *name, const QString &tip, int picture, const QKeySequence &key,
                        const std::function<void()> &handler);
    void postPendingFolder();
    void addRecord(const NewRecord &record);
    void rereadFirmLists();
    // Reads the record again from its table; false when there is none.
    bool openRecord(DataSet &table);
    // Opens the current firm or item in its editor.
    void openCurrent(bool firm, bool newRecord);
    int selectedGroup() const;

    TGroupTrees *m_trees = nullptr;
    QLabel *m_readOnlyNote = nullptr;
    QString SearchBuffer;
};

extern TMainForm *MainForm;
