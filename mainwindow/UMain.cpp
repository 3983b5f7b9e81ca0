#include "UMain.h"

#include "Application.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "GroupTree.h"
#include "Pictures.h"
#include "RadioGroup.h"
#include "TransferMenu.h"
#include "UData.h"
#include "UFind.h"
#include "UFirm.h"
#include "UGroupTrees.h"
#include "UItem.h"
#include "UOption.h"
#include "USplash.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

TMainForm *MainForm = nullptr;

namespace {

// The search buffer holds at most this many characters.
constexpr int maxSearchLength = 255;
const QColor headerBlue(126, 170, 214);

// Letters the incremental search appends: Latin, and the Cyrillic А to я.
bool isSearchLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= 0x0410 && u <= 0x044F);
}

QToolButton *flatButton(QWidget *parent, const char *name, const QString &text)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setAutoRaise(true);
    return button;
}

// A picture button says what it does on hover and to a screen reader alike.
void describe(QToolButton *button, const QString &what)
{
    button->setToolTip(what);
    button->setAccessibleName(what);
}

} // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Квиллон"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);
    resize(586, 402);
    addToolBar(static_cast<QToolBar *>(makeToolBar()));
    makeStatusBar();

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(2);
    splitter->addWidget(makeFolderPanel());
    splitter->addWidget(makeListPanel());
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({161, 425});
    setCentralWidget(splitter);
    if (const QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    Application::guarded([this] { FormCreate(); });
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
}

QAction *TMainForm::makeAction(const char *name, const QString &tip, int picture,
                               const QKeySequence &key, const std::function<void()> &handler)
{
    auto *action = new QAction(Pictures::picture(Pictures::Picture(picture)), tip, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(tip);
    action->setShortcut(key);
    // The keys work anywhere in the window.
    action->setShortcutContext(Qt::WindowShortcut);
    if (handler)
        connect(action, &QAction::triggered, this, [handler] { Application::guarded(handler); });
    addAction(action);
    return action;
}

QWidget *TMainForm::makeToolBar()
{
    auto *bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setIconSize(QSize(32, 32));
    auto *panel = new QAction(Pictures::picture(Pictures::FolderPanelShown),
                              QStringLiteral("Список папок"), this);
    connect(panel, &QAction::triggered, this, [this] { SpeedButton1Click(); });
    bar->addAction(panel);
    ToolButton1 = qobject_cast<QToolButton *>(bar->widgetForAction(panel));
    ToolButton1->setObjectName(QStringLiteral("ToolButton1"));
    ToolButton1->setProperty("picture", int(Pictures::FolderPanelShown));
    acFind = makeAction("acFind", QStringLiteral("Поиск"), Pictures::Search,
                        QKeySequence(Qt::CTRL | Qt::Key_F), [this] { ToolButton2Click(); });
    acOption = makeAction("acOption", QStringLiteral("Настройки"), Pictures::Options,
                          QKeySequence(Qt::CTRL | Qt::Key_O), [this] { ToolButton3Click(); });
    acAbout = makeAction("acAbout", QStringLiteral("О программе"), Pictures::About,
                         QKeySequence(Qt::Key_F1), [this] { ToolButton4Click(); });
    acExit = makeAction("acExit", QStringLiteral("Выход"), Pictures::Exit,
                        QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { ToolButton5Click(); });
    const QList<std::pair<QAction *, const char *>> buttons = {
        {acFind, "ToolButton2"},  {acOption, "ToolButton3"}, {nullptr, "ToolButton7"},
        {acAbout, "ToolButton4"}, {nullptr, "ToolButton6"},  {acExit, "ToolButton5"}};
    for (const auto &[action, name] : buttons) {
        QAction *added = action ? action : bar->addSeparator();
        if (action)
            bar->addAction(action);
        if (QWidget *button = bar->widgetForAction(added))
            button->setObjectName(QString::fromLatin1(name));
    }
    // Backups and spreadsheets come after every designed button.
    new TransferMenu(this, bar);
    return bar;
}

void TMainForm::makeStatusBar()
{
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    const int widths[3] = {300, 100, 50};
    for (int i = 0; i < 3; ++i) {
        statusPanels[i] = new QLabel(this);
        statusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusPanels[i]->setFixedWidth(widths[i]);
        statusPanels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar()->addWidget(statusPanels[i]);
    }
}

QWidget *TMainForm::makeFolderHeader()
{
    auto *header = new QFrame(this);
    header->setObjectName(QStringLiteral("Panel2"));
    header->setAutoFillBackground(true);
    QPalette palette = header->palette();
    palette.setColor(QPalette::Window, headerBlue);
    palette.setColor(QPalette::WindowText, Qt::white);
    header->setPalette(palette);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 2, 2, 2);
    auto *caption = new QLabel(QStringLiteral("  Папки"), header);
    row->addWidget(caption, 1);
    SpeedButton1 = flatButton(header, "SpeedButton1", QStringLiteral("×"));
    QFont bold = SpeedButton1->font();
    bold.setBold(true);
    SpeedButton1->setFont(bold);
    describe(SpeedButton1, QStringLiteral("Скрыть список папок"));
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    row->addWidget(SpeedButton1);
    return header;
}

QWidget *TMainForm::makeFolderPanel()
{
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setMinimumWidth(60);
    auto *column = new QVBoxLayout(Panel1);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(0);
    column->addWidget(makeFolderHeader());

    grdFolders = new DBGrid(Panel1);
    grdFolders->setObjectName(QStringLiteral("grdFolders"));
    grdFolders->setDataSource(&dm->dsFolder);
    grdFolders->setColumns({{QStringLiteral("Description"), QStringLiteral("Описание"), 141}});
    connect(grdFolders, &DBGrid::keyDown, this,
            [this](int key, Qt::KeyboardModifiers, const QString &) { grdFoldersKeyDown(key); });
    connect(grdFolders, &DBGrid::exited, this, [this] { grdFoldersExit(); });
    column->addWidget(grdFolders, 1);

    auto *strip = new QFrame(Panel1);
    strip->setObjectName(QStringLiteral("Panel5"));
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(2, 2, 2, 2);
    SpeedButton2 = flatButton(strip, "SpeedButton2", QString());
    SpeedButton2->setIcon(Pictures::picture(Pictures::AddFolder));
    describe(SpeedButton2, QStringLiteral("Добавить папку"));
    SpeedButton3 = flatButton(strip, "SpeedButton3", QString());
    SpeedButton3->setIcon(Pictures::picture(Pictures::DeleteFolder));
    describe(SpeedButton3, QStringLiteral("Удалить папку"));
    connect(SpeedButton2, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { SpeedButton2Click(); }); });
    connect(SpeedButton3, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { SpeedButton3Click(); }); });
    row->addWidget(SpeedButton2);
    row->addWidget(SpeedButton3);
    row->addStretch();
    column->addWidget(strip);
    return Panel1;
}

DBGrid *TMainForm::makeList(const char *name, DataSet *dataSet)
{
    auto *grid = new DBGrid(this);
    grid->setObjectName(QString::fromLatin1(name));
    grid->setDataSource(dataSet == &dm->qFirms ? &dm->dsMainFirms : &dm->dsMainItems);
    grid->setColumns({{QStringLiteral("Name"), QStringLiteral("Название"), 250}});
    grid->setReadOnly(true);
    bindListKeys(grid);
    return grid;
}

void TMainForm::bindListKeys(DBGrid *grid)
{
    connect(grid, &DBGrid::keyDown, this,
            [this](int key, Qt::KeyboardModifiers modifiers, const QString &text) {
                Application::guarded([&] { DBGrid2KeyDown(key, modifiers, text); });
            });
    connect(grid, &DBGrid::keyPress, this,
            [this](QChar c) { Application::guarded([&] { DBGrid2KeyPress(c); }); });
}

QWidget *TMainForm::makePage(TGroupTree *tree, DBGrid *list, const char *splitterName)
{
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QString::fromLatin1(splitterName));
    splitter->setHandleWidth(2);
    splitter->addWidget(tree);
    splitter->addWidget(list);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({145, 280});
    return splitter;
}

QWidget *TMainForm::makeListPanel()
{
    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel3"));
    auto *column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    PageControl1 = new QTabWidget(panel);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TreeGrpFirm = new TGroupTree(panel);
    TreeGrpFirm->setObjectName(QStringLiteral("TreeGrpFirm"));
    TreeGrpItem = new TGroupTree(panel);
    TreeGrpItem->setObjectName(QStringLiteral("TreeGrpItem"));
    DBGrid2 = makeList("DBGrid2", &dm->qFirms);
    DBGrid3 = makeList("DBGrid3", &dm->qItems);
    connect(DBGrid2, &DBGrid::dblClicked, this,
            [this] { Application::guarded([this] { DBGrid2DblClick(); }); });
    connect(DBGrid3, &DBGrid::dblClicked, this,
            [this] { Application::guarded([this] { DBGrid3DblClick(); }); });
    QWidget *firms = makePage(TreeGrpFirm, DBGrid2, "Splitter3");
    firms->setObjectName(QStringLiteral("TabFirm"));
    QWidget *items = makePage(TreeGrpItem, DBGrid3, "Splitter2");
    items->setObjectName(QStringLiteral("TabItem"));
    PageControl1->addTab(firms, QStringLiteral("Фирмы"));
    PageControl1->addTab(items, QStringLiteral("Элементы"));
    column->addWidget(PageControl1, 1);
    column->addWidget(makeButtonStrip());
    m_trees = new TGroupTrees(this, context, TreeGrpFirm, TreeGrpItem);
    connect(PageControl1, &QTabWidget::currentChanged, this,
            [this] { Application::guarded([this] { PageControl1Change(); }); });
    return panel;
}

QWidget *TMainForm::makeButtonStrip()
{
    auto *strip = new QFrame(this);
    strip->setObjectName(QStringLiteral("Panel4"));
    strip->setFixedHeight(34);
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(4, 2, 4, 2);
    CheckBox1 = new QCheckBox(strip);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    auto *label = new QLabel(QStringLiteral("Отображать с учетом \nтекущей папки"), strip);
    label->setObjectName(QStringLiteral("Label1"));
    label->setBuddy(CheckBox1);
    // Only the user's click switches the filter, not the window setting the box.
    connect(CheckBox1, &QCheckBox::clicked, this,
            [this] { Application::guarded([this] { CheckBox1Click(); }); });
    row->addWidget(CheckBox1);
    row->addWidget(label);
    row->addStretch();
    SpeedButton4 = flatButton(strip, "SpeedButton4", QStringLiteral("Добавить"));
    SpeedButton5 = flatButton(strip, "SpeedButton5", QStringLiteral("Редактировать"));
    SpeedButton6 = flatButton(strip, "SpeedButton6", QStringLiteral("Удалить"));
    connect(SpeedButton4, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { SpeedButton4Click(); }); });
    connect(SpeedButton5, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { SpeedButton5Click(); }); });
    connect(SpeedButton6, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { SpeedButton6Click(); }); });
    for (QToolButton *button : {SpeedButton4, SpeedButton5, SpeedButton6})
        row->addWidget(button);
    return strip;
}

void TMainForm::FormCreate()
{
    m_trees->LoadGroupTree(TreeGrpFirm, &dm->tblGrpFirm);
    TreeGrpFirm->sortAll();
    m_trees->LoadGroupTree(TreeGrpItem, &dm->tblGrpItem);
    TreeGrpItem->sortAll();
    PageControl1->blockSignals(true);
    PageControl1->setCurrentIndex(0);
    PageControl1->blockSignals(false);
    PageControl1Change();
    CheckBox1->setChecked(dm->FolderFilter);
}

void TMainForm::PageControl1Change()
{
    SearchBuffer.clear();
    const bool firms = PageControl1->currentIndex() == 0;
    context.activePage = firms ? 0 : 1;
    context.CurrentTree = firms ? TreeGrpFirm : TreeGrpItem;
    context.CurrentGroupSource = firms ? &dm->dsGrpFirm : &dm->dsGrpItem;
    context.CurrentRecordSource = firms ? &dm->dsFirms : &dm->dsItems;
    context.CurrentListQuery = firms ? &dm->qFirms : &dm->qItems;
    ApplySearch();
}

void TMainForm::ApplySearch()
{
    statusPanels[1]->setText(SearchBuffer);
    // An empty buffer is no name to look for: the list stays where it is.
    if (SearchBuffer.isEmpty() || !context.CurrentListQuery->active())
        return;
    context.CurrentListQuery->locate(QStringLiteral("Name"), SearchBuffer,
                                     LocateCaseInsensitive | LocatePartialKey);
}

void TMainForm::DBGrid2KeyDown(int, Qt::KeyboardModifiers, const QString &text)
{
    // A key that types a letter or a digit keeps the buffer, whatever the
    // keyboard layout; every other key (Shift, Space, the arrows...) empties it.
    const bool letterOrDigit = !text.isEmpty() && text.at(0).isLetterOrNumber();
    if (!letterOrDigit)
        SearchBuffer.clear();
    ApplySearch();
}

void TMainForm::DBGrid2KeyPress(QChar character)
{
    if (isSearchLetter(character) && SearchBuffer.size() < maxSearchLength)
        SearchBuffer += character;
    ApplySearch();
}

void TMainForm::SpeedButton1Click()
{
    const bool shown = Panel1->isVisible();
    ToolButton1->setIcon(
        Pictures::picture(shown ? Pictures::FolderPanelHidden : Pictures::FolderPanelShown));
    ToolButton1->setProperty("picture", shown ? 0 : 5);
    Panel1->setVisible(!shown);
}

void TMainForm::ToolButton2Click()
{
    // The search window lives for the whole run; only its scope follows the tab.
    frmFind->RadioGroup1->setItemIndex(context.activePage);
    frmFind->exec();
}

void TMainForm::ToolButton3Click()
{
    TfrmOption options(this);
    options.exec();
}

void TMainForm::ToolButton4Click()
{
    TSplashForm about(this);
    about.Button1->setVisible(true);
    about.lblInit->setVisible(false);
    about.exec();
}

void TMainForm::ToolButton5Click()
{
    close();
}

void TMainForm::SpeedButton2Click()
{
    const auto name = Dialogs::promptText(this, QStringLiteral("Добавление новой папки"),
                                          QStringLiteral("Введите название новой папки"),
                                          QStringLiteral("Новая папка"));
    if (!name)
        return;
    dm->tblFolder.append();
    dm->tblFolder.fieldByName(QStringLiteral("Description"))->setAsString(*name);
    dm->tblFolder.post();
}

void TMainForm::SpeedButton3Click()
{
    if (dm->tblFolder.recordCount() > 0)
        dm->tblFolder.deleteRecord();
}

void TMainForm::postPendingFolder()
{
    const DataSetState state = dm->tblFolder.state();
    if (state == DataSetState::Edit || state == DataSetState::Insert)
        dm->tblFolder.post();
}

void TMainForm::grdFoldersKeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        Application::guarded([this] { postPendingFolder(); });
}

void TMainForm::grdFoldersExit()
{
    Application::guarded([this] { postPendingFolder(); });
}

int TMainForm::selectedGroup() const
{
    const QTreeWidgetItem *node = context.CurrentTree->currentItem();
    return node ? TGroupTree::nodeTag(node) : 0;
}

void TMainForm::addRecord(Table &table, const QString &name, DataSource *list)
{
    table.setMasterSource(nullptr);
    try {
        table.append();
        table.fieldByName(QStringLiteral("Name"))->setAsString(name);
        table.fieldByName(QStringLiteral("GroupID"))->setAsInteger(selectedGroup());
        table.post();
        // Opened as a double click on its list opens it.
        if (&table == &dm->tblFirms)
            DBGrid2DblClick();
        else
            DBGrid3DblClick();
    } catch (...) {
        table.setMasterSource(list);
        throw;
    }
    table.setMasterSource(list);
}

void TMainForm::SpeedButton4Click()
{
    if (context.activePage == 0)
        addRecord(dm->tblFirms, QStringLiteral("Новая"), &dm->dsMainFirms);
    else
        addRecord(dm->tblItem, QStringLiteral("Новый"), &dm->dsMainItems);
}

bool TMainForm::openRecord(DataSet &table)
{
    if (table.isEmpty())
        return false;
    table.refreshRecord();
    return true;
}

void TMainForm::DBGrid2DblClick()
{
    if (!openRecord(dm->tblFirms))
        return;
    TfrmEditFirm editor(this);
    editor.exec();
}

void TMainForm::DBGrid3DblClick()
{
    if (!openRecord(dm->tblItem))
        return;
    TfrmEditItem editor(this);
    editor.exec();
}

void TMainForm::SpeedButton5Click()
{
    if (context.CurrentRecordSource->dataSet()->isEmpty())
        return;
    if (context.activePage == 0)
        DBGrid2DblClick();
    else
        DBGrid3DblClick();
}

void TMainForm::SpeedButton6Click()
{
    DataSet *record = context.CurrentRecordSource->dataSet();
    if (record->isEmpty())
        return;
    record->deleteRecord();
    const QList<DataSet *> reopened =
        context.activePage == 0
            ? QList<DataSet *>{&dm->qFirms, &dm->qFMaker, &dm->qFSaler, &dm->qListFirm}
            : QList<DataSet *>{&dm->qItems};
    for (DataSet *dataSet : reopened) {
        dataSet->close();
        dataSet->open();
    }
}

void TMainForm::CheckBox1Click()
{
    dm->FolderFilter = CheckBox1->isChecked();
    dm->tblFolderAfterScroll(dm->tblFolder);
    dm->RebuildFirmQuery();
    dm->RebuildItemQuery();
}
