#include "UItem.h"

#include "Application.h"
#include "ClassesRoot.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "EditorParts.h"
#include "FilesPanel.h"
#include "UData.h"
#include "UFirm.h"
#include "UTree.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace EditorParts;

TfrmEditItem::TfrmEditItem(QWidget *owner) : TfrmEditItem(owner, desktopClassesRoot()) {}

TfrmEditItem::TfrmEditItem(QWidget *owner, const ClassesRoot &classesRoot)
    : RecordEditor(owner, classesRoot)
{
    setObjectName(QStringLiteral("frmEditItem"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(makeNameBand());
    column->addWidget(makeRelationGrids());
    column->addWidget(makeLowerPart(), 1);
    setTabOrder();
    m_nameBox = DBEdit1;

    connect(DBEdit1, &QLineEdit::textChanged, this, &TfrmEditItem::DBEdit1Change);
    watchRecord(dm->tblItem);
    showCaption(dm->tblItem.fieldByName(QStringLiteral("Name"))->asString());
    setUpWindow(this, 602, 401);
    onEnter(DBGridEh1, [this] { DBGridEh1Enter(DBGridEh1); });
    onEnter(DBGridEh2, [this] { DBGridEh1Enter(DBGridEh2); });
    onEnter(DBGridEh3, [this] { DBGridEh3Enter(); });
}

TfrmEditItem::~TfrmEditItem() = default;

QWidget *TfrmEditItem::makeNameBand()
{
    const NameBand band = nameBand(this, &dm->dsItems, {"Наименование", "Синонимы", "Описание"},
                                   QStringLiteral("Тип элемента"));
    DBEdit1 = band.name;
    DBEdit2 = band.otherNames;
    DBEdit3 = band.description;
    BitBtn1 = band.types;
    connect(BitBtn1, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { BitBtn1Click(); }); });
    return band.frame;
}

QWidget *TfrmEditItem::makeFirmGrid(DBGrid *&grid, QToolButton *&open, const char *gridName,
                                    const char *buttonName, const QString &title, int width)
{
    auto *part = new QWidget(this);
    grid = new DBGrid(part);
    grid->setObjectName(QString::fromLatin1(gridName));
    grid->setColumns({{QStringLiteral("FirmName"), QStringLiteral("Название"), width}});
    grid->setFixedSize(width + 20, 110);
    open = pictureButton(part, buttonName, QStringLiteral("Открыть фирму"), Pictures::OpenFirm);
    auto *layout = new QGridLayout(part);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buddyLabel(part, title, grid), 0, 0);
    layout->addWidget(grid, 1, 0);
    layout->addWidget(open, 1, 1, Qt::AlignTop);
    bindGridKeys(grid);
    return part;
}

QWidget *TfrmEditItem::makeRelationGrids()
{
    auto *part = new QWidget(this);
    auto *row = new QHBoxLayout(part);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(makeFirmGrid(DBGridEh1, bFMaketOpen, "DBGridEh1", "bFMaketOpen",
                                QStringLiteral("Фирмы-производители"), 125));
    row->addWidget(makeFirmGrid(DBGridEh2, bFSalerOpen, "DBGridEh2", "bFSalerOpen",
                                QStringLiteral("Фирмы-поставщики"), 127));
    DBGridEh1->setDataSource(&dm->dsFMaker);
    DBGridEh2->setDataSource(&dm->dsFSaler);
    DBGridEh3 = new DBGrid(part);
    DBGridEh3->setObjectName(QStringLiteral("DBGridEh3"));
    DBGridEh3->setAccessibleName(QStringLiteral("Папки"));
    DBGridEh3->setDataSource(&dm->dsCrItemFolder);
    DBGridEh3->setColumns({{QStringLiteral("FolderName"), QStringLiteral("Папки"), 150}});
    DBGridEh3->setFixedHeight(110);
    bindGridKeys(DBGridEh3);
    row->addWidget(DBGridEh3, 1, Qt::AlignBottom);
    connect(bFMaketOpen, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { bFMaketOpenClick(); }); });
    connect(bFSalerOpen, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { bFSalerOpenClick(); }); });
    return part;
}

QWidget *TfrmEditItem::makeLowerPart()
{
    auto *part = new QWidget(this);
    files = new FilesPanel({&dm->dsItemFiles, &dm->tblItem, QStringLiteral("ItemID")},
                           m_classesRoot, part);
    files->setObjectName(QStringLiteral("files"));
    // The item editor's files grid has no label of its own.
    files->label->hide();
    cmdClose = new QPushButton(QStringLiteral("Закрыть"), part);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    auto *row = new QHBoxLayout(part);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(files, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdClose);
    row->addLayout(buttons);
    return part;
}

void TfrmEditItem::setTabOrder()
{
    const QList<QWidget *> order = {
        DBEdit1,       DBEdit2,          DBEdit3,          BitBtn1,   DBGridEh1,
        bFMaketOpen,   DBGridEh2,        bFSalerOpen,      DBGridEh3, files->DBGrid1,
        files->cmdAdd, files->cmdChange, files->cmdDelete, cmdClose};
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    for (QPushButton *button : {files->cmdAdd, files->cmdChange, files->cmdDelete})
        button->setAutoDefault(false);
}

void TfrmEditItem::bindGridKeys(DBGrid *grid)
{
    connect(grid, &DBGrid::keyDown, this,
            [this, grid](int key, Qt::KeyboardModifiers, const QString &) {
                DBGridEh1KeyDown(grid, key);
            });
    connect(grid, &DBGrid::exited, this,
            [this, grid] { Application::guarded([this, grid] { DBGridEh1Exit(grid); }); });
}

void TfrmEditItem::DBEdit1Change(const QString &text)
{
    showCaption(text);
}

void TfrmEditItem::BitBtn1Click()
{
    showGroupAssignment(this, GroupOwner::Item);
}

void TfrmEditItem::DBGridEh1Enter(DBGrid *grid)
{
    refuseWhenNothingToChoose(grid, dm->qListFirm, QStringLiteral("Не определено ни одной фирмы"));
}

void TfrmEditItem::DBGridEh3Enter()
{
    refuseWhenNothingToChoose(DBGridEh3, dm->tblFolder,
                              QStringLiteral("Не определено ни одной папки"));
}

void TfrmEditItem::DBGridEh1KeyDown(DBGrid *grid, int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        postIfPending(*grid->dataSet());
}

void TfrmEditItem::DBGridEh1Exit(DBGrid *grid)
{
    postIfPending(*grid->dataSet());
}

void TfrmEditItem::openFirmOf(DBGrid *grid)
{
    DataSet &rows = *grid->dataSet();
    if (rows.isEmpty())
        return;
    editFirmByKey(this, int(rows.fieldByName(QStringLiteral("FirmID"))->asInteger()), false);
}

void TfrmEditItem::bFMaketOpenClick()
{
    openFirmOf(DBGridEh1);
}

void TfrmEditItem::bFSalerOpenClick()
{
    openFirmOf(DBGridEh2);
}

void TfrmEditItem::FormClose()
{
    if (dm->tblItem.state() == DataSetState::Edit)
        dm->tblItem.post();
    // The close box does not take the focus from a grid: what is typed in
    // one is stored here rather than lost.
    for (DataSet *rows :
         {static_cast<DataSet *>(&dm->tblCrItemFolder), static_cast<DataSet *>(&dm->qFMaker),
          static_cast<DataSet *>(&dm->qFSaler)})
        storePending(*rows);
    files->postPending();
    rereadList(dm->qItems, QStringLiteral("ItemID"));
}

void editItemByKey(QWidget *owner, int itemId)
{
    editByKey(dm->tblItem, QStringLiteral("ItemID"), itemId, [&] {
        TfrmEditItem editor(owner);
        editor.exec();
    });
}
