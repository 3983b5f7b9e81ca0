#include "UMain.h"

#include "Application.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "EditorParts.h"
#include "GroupTree.h"
#include "NewRecord.h"
#include "Pictures.h"
#include "RadioGroup.h"
#include "TextRules.h"
#include "TransferMenu.h"
#include "UData.h"
#include "UFind.h"
#include "UFirm.h"
#include "UGroupTrees.h"
#include "UItem.h"
#include "UOption.h"
#include "USplash.h"
#include "WindowPlaces.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
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

// Keys that only change what the next key types: they leave the search
// buffer alone, so that a capital letter can be typed in the middle of a name.
bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_AltGr || key == Qt::Key_Meta || key == Qt::Key_CapsLock ||
           key == Qt::Key_NumLock;
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
    // The designed size, centred, the first time; where the user left it later.
    if (!WindowPlaces::restorePlace(this)) {
        if (const QScreen *screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    Application::guarded([this] { FormCreate(); });
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    WindowPlaces::rememberPlace(this);
    QMainWindow::closeEvent(event);
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
    // What a screen reader calls the list: it has no label of its own.
    grid->setAccessibleName(dataSet == &dm->qFirms ? QStringLiteral("Список фирм")
                                                   : QStringLiteral("Список элементов"));
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
    showReadOnly(dm->Main_sess()->readOnlyReason());
    connect(dm, &Tdm::changedElsewhere, this, [this](const QStringList &tables) {
        Application::guarded([&] { followOtherDesks(tables); });
    });
}

// The group trees are made once from their tables: what another desk did
// to the groups is made again in them.
void TMainForm::followOtherDesks(const QStringList &tables)
{
    const bool any = tables.contains(QStringLiteral("*"));
    if (any || tables.contains(QStringLiteral("GRFIRMS")))
        m_trees->followOtherDesk(TreeGrpFirm, &dm->tblGrpFirm);
    if (any || tables.contains(QStringLiteral("GRITEMS")))
        m_trees->followOtherDesk(TreeGrpItem, &dm->tblGrpItem);
}

// A catalogue this desk may only read (a reading role on a server, foreign
// objects in a folder's files) offers no command that would change it, and
// the status bar says why.
void TMainForm::showReadOnly(const QString &reason)
{
    const bool readOnly = !reason.isEmpty();
    for (QWidget *button : {SpeedButton2, SpeedButton3, SpeedButton4, SpeedButton6})
        button->setEnabled(!readOnly);
    for (QAction *action : m_trees->PopupMenu1->actions())
        action->setEnabled(!readOnly);
    if (readOnly) {
        for (TGroupTree *tree : {TreeGrpFirm, TreeGrpItem}) {
            tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
            tree->setAcceptDrops(false);
        }
    }
    if (!m_readOnlyNote) {
        m_readOnlyNote = new QLabel(this);
        m_readOnlyNote->setObjectName(QStringLiteral("ReadOnlyReason"));
        m_readOnlyNote->setWordWrap(true);
        statusBar()->insertWidget(0, m_readOnlyNote, 1);
    }
    m_readOnlyNote->setText(reason);
    m_readOnlyNote->setToolTip(reason);
    m_readOnlyNote->setVisible(readOnly);
    // The first panel shows nothing in this program: the reason takes its
    // place and the rest of the bar's width, on two lines rather than in a
    // sliver beside the panels.
    statusPanels[0]->setVisible(!readOnly);
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
    // A buffer with nothing to read in it (empty, or quote marks alone) is no
    // name to look for: the list stays where it is.
    if (TextRules::readingForm(SearchBuffer).isEmpty() || !context.CurrentListQuery->active())
        return;
    context.CurrentListQuery->locate(QStringLiteral("Name"), SearchBuffer,
                                     LocateCaseInsensitive | LocatePartialKey | LocateAsRead);
}

void TMainForm::DBGrid2KeyDown(int key, Qt::KeyboardModifiers, const QString &text)
{
    // A key that types text (a letter, a digit, a blank, a mark) or takes the
    // last character back keeps the buffer; so do Shift and the other
    // modifiers. Every other key (the arrows, Enter, Esc...) empties it.
    const bool typing = !text.isEmpty() && text.at(0).isPrint();
    if (!typing && key != Qt::Key_Backspace && !isModifierKey(key))
        SearchBuffer.clear();
    ApplySearch();
}

void TMainForm::DBGrid2KeyPress(QChar character)
{
    if (character == u'\b')
        SearchBuffer.chop(1);
    else if (character.isPrint() && SearchBuffer.size() < maxSearchLength)
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
        Application::postSettled(dm->tblFolder);
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

void TMainForm::addRecord(const NewRecord &record)
{
    Table &table = record.table();
    table.setMasterSource(nullptr);
    // Runs while an exception may be on its way out: it must not throw.
    const auto relink =
        qScopeGuard([&] { Application::guarded([&] { table.setMasterSource(record.list()); }); });
    record.add(selectedGroup());
    const QVariantList unfilled = record.fillState();
    openCurrent(record.isFirm(), true);
    if (record.fillState() != unfilled ||
        !Dialogs::askYesNo(this, QApplication::applicationDisplayName(),
                           QStringLiteral("Запись не заполнена. Удалить её?")))
        return;
    record.remove();
    if (record.isFirm())
        rereadFirmLists();
    else
        EditorParts::rereadList(dm->qItems, QStringLiteral("ItemID"));
}

// The firm list stays on the firm it stood on; the lists of firm names to
// choose from forget a removed firm.
void TMainForm::rereadFirmLists()
{
    EditorParts::rereadList(dm->qFirms, QStringLiteral("FirmID"));
    for (DataSet *names : QList<DataSet *>{&dm->qFMaker, &dm->qFSaler, &dm->qListFirm}) {
        names->close();
        names->open();
    }
}

void TMainForm::SpeedButton4Click()
{
    addRecord(context.activePage == 0 ? NewRecord::firm() : NewRecord::item());
}

bool TMainForm::openRecord(DataSet &table)
{
    if (table.isEmpty())
        return false;
    table.refreshRecord();
    return true;
}

void TMainForm::openCurrent(bool firm, bool newRecord)
{
    if (!openRecord(firm ? static_cast<DataSet &>(dm->tblFirms) : dm->tblItem))
        return;
    const std::unique_ptr<RecordEditor> editor =
        firm ? std::unique_ptr<RecordEditor>(std::make_unique<TfrmEditFirm>(this))
             : std::make_unique<TfrmEditItem>(this);
    if (newRecord)
        editor->openOnNewRecord();
    editor->exec();
}

void TMainForm::DBGrid2DblClick()
{
    openCurrent(true, false);
}

void TMainForm::DBGrid3DblClick()
{
    openCurrent(false, false);
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
