#include "UFirm.h"

#include "Application.h"
#include "ClassesRoot.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "EditorParts.h"
#include "FilesPanel.h"
#include "Pictures.h"
#include "ShellHelpers.h"
#include "TempFiles.h"
#include "UData.h"
#include "UFirmItemList.h"
#include "UTree.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace EditorParts;

namespace {

// Blanks and control characters around an address are no part of it.
QString trimmedAddress(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start).unicode() <= ' ')
        ++start;
    while (end > start && text.at(end - 1).unicode() <= ' ')
        --end;
    return text.mid(start, end - start);
}

QFrame *framedBlock(QWidget *parent)
{
    auto *frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    return frame;
}

} // namespace

TfrmEditFirm::TfrmEditFirm(QWidget *owner) : TfrmEditFirm(owner, desktopClassesRoot()) {}

TfrmEditFirm::TfrmEditFirm(QWidget *owner, const ClassesRoot &classesRoot)
    : RecordEditor(owner, classesRoot)
{
    setObjectName(QStringLiteral("frmEditFirm"));

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(makeNameBand());
    auto *middle = new QHBoxLayout;
    middle->addWidget(makeContactBlock());
    middle->addWidget(makeFolderGrid(), 1);
    column->addLayout(middle);
    column->addWidget(makeLowerPart(), 1);
    setTabOrder();
    m_nameBox = DBEdit1;

    connect(DBEdit1, &QLineEdit::textChanged, this, &TfrmEditFirm::DBEdit1Change);
    watchRecord(dm->tblFirms);
    showCaption(dm->tblFirms.fieldByName(QStringLiteral("Name"))->asString());
    setUpWindow(this, 544, 395);
    onEnter(DBGridEh1, [this] { DBGridEh1Enter(); });
}

TfrmEditFirm::~TfrmEditFirm() = default;

DBEdit *TfrmEditFirm::makeEdit(const char *name, const QString &field)
{
    return boundEdit(this, name, &dm->dsFirms, field);
}

QWidget *TfrmEditFirm::makeNameBand()
{
    const NameBand band =
        nameBand(this, &dm->dsFirms, {"Наименование", "Другие названия", "Описание"},
                 QStringLiteral("Тип фирмы"));
    DBEdit1 = band.name;
    DBEdit2 = band.otherNames;
    DBEdit3 = band.description;
    BitBtn1 = band.types;
    connect(BitBtn1, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { BitBtn1Click(); }); });
    return band.frame;
}

QWidget *TfrmEditFirm::makeContactBlock()
{
    QFrame *block = framedBlock(this);
    block->setObjectName(QStringLiteral("Panel2"));
    DBEdit4 = makeEdit("DBEdit4", QStringLiteral("Address"));
    DBEdit5 = makeEdit("DBEdit5", QStringLiteral("Phones"));
    DBEmail = makeEdit("DBEmail", QStringLiteral("Email"));
    DBURL = makeEdit("DBURL", QStringLiteral("WWW"));
    cmdSend = pictureButton(this, "cmdSend", QStringLiteral("Написать письмо"), Pictures::Envelope);
    cmdGo = pictureButton(this, "cmdGo", QStringLiteral("Открыть сайт"), Pictures::Globe);
    connect(cmdSend, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { cmdSendClick(); }); });
    connect(cmdGo, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { cmdGoClick(); }); });

    auto *grid = new QGridLayout(block);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(3);
    const QList<std::tuple<QString, DBEdit *, QToolButton *>> rows = {
        {QStringLiteral("Адрес"), DBEdit4, nullptr},
        {QStringLiteral("Телефон"), DBEdit5, nullptr},
        {QStringLiteral("e-mail"), DBEmail, cmdSend},
        {QStringLiteral("WWW"), DBURL, cmdGo}};
    for (int row = 0; row < rows.size(); ++row) {
        const auto &[text, edit, button] = rows[row];
        grid->addWidget(buddyLabel(this, text, edit), row, 0);
        edit->setMinimumWidth(200);
        grid->addWidget(edit, row, 1, 1, button ? 1 : 2);
        if (button)
            grid->addWidget(button, row, 2);
    }
    return block;
}

QWidget *TfrmEditFirm::makeFolderGrid()
{
    DBGridEh1 = new DBGrid(this);
    DBGridEh1->setObjectName(QStringLiteral("DBGridEh1"));
    DBGridEh1->setAccessibleName(QStringLiteral("Папки"));
    DBGridEh1->setDataSource(&dm->dsCrFirmFolder);
    DBGridEh1->setColumns({{QStringLiteral("FolderName"), QStringLiteral("Папки"), 160}});
    // As high as the block of contact boxes beside it: the files take the height.
    DBGridEh1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    connect(DBGridEh1, &DBGrid::keyDown, this,
            [this](int key, Qt::KeyboardModifiers, const QString &) { DBGridEh1KeyDown(key); });
    return DBGridEh1;
}

QWidget *TfrmEditFirm::makeLowerPart()
{
    auto *part = new QWidget(this);
    files = new FilesPanel({&dm->dsFirmFiles, &dm->tblFirms, QStringLiteral("FirmID")},
                           m_classesRoot, part);
    files->setObjectName(QStringLiteral("files"));
    cmdItems = new QPushButton(QStringLiteral("Элементы..."), part);
    cmdItems->setObjectName(QStringLiteral("cmdItems"));
    connect(cmdItems, &QPushButton::clicked, this,
            [this] { Application::guarded([this] { cmdItemsClick(); }); });
    cmdClose = new QPushButton(QStringLiteral("Закрыть"), part);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setAutoDefault(false);
    cmdItems->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);

    auto *row = new QHBoxLayout(part);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(files, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdItems);
    buttons->addWidget(cmdClose);
    row->addLayout(buttons);
    return part;
}

void TfrmEditFirm::setTabOrder()
{
    const QList<QWidget *> order = {DBEdit1,       DBEdit2,          DBEdit3,
                                    BitBtn1,       DBEdit4,          DBEdit5,
                                    DBEmail,       cmdSend,          DBURL,
                                    cmdGo,         DBGridEh1,        files->DBGrid1,
                                    files->cmdAdd, files->cmdChange, files->cmdDelete,
                                    cmdItems,      cmdClose};
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    // Every push button would otherwise take Enter from the grids.
    for (QPushButton *button : {files->cmdAdd, files->cmdChange, files->cmdDelete})
        button->setAutoDefault(false);
}

void TfrmEditFirm::DBEdit1Change(const QString &text)
{
    showCaption(text);
}

// The browser's command without its file placeholder; when that names a
// program file, the address is handed to it, else to the desktop's handler
// for such addresses.
void TfrmEditFirm::openAddress(const QString &address)
{
    QString command = FindBrowserCommand(m_classesRoot);
    while (command.contains(QStringLiteral("%1")))
        command.remove(QStringLiteral("%1"));
    if (FileExists(command))
        ShellOpen(command, address);
    else
        ShellOpen(address);
}

void TfrmEditFirm::cmdSendClick()
{
    openAddress(QStringLiteral("mailto:") + trimmedAddress(DBEmail->text()));
}

void TfrmEditFirm::cmdGoClick()
{
    openAddress(trimmedAddress(DBURL->text()));
}

void TfrmEditFirm::cmdItemsClick()
{
    TfrmListItem list(this);
    list.exec();
}

void TfrmEditFirm::BitBtn1Click()
{
    showGroupAssignment(this, GroupOwner::Firm);
}

void TfrmEditFirm::DBGridEh1Enter()
{
    refuseWhenNothingToChoose(DBGridEh1, dm->tblFolder,
                              QStringLiteral("Не определено ни одной папки"));
}

void TfrmEditFirm::DBGridEh1KeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        postIfPending(dm->tblCrFirmFolder);
}

void TfrmEditFirm::FormClose()
{
    if (dm->tblFirms.state() == DataSetState::Edit)
        dm->tblFirms.post();
    // A folder row nobody chose a folder for is dropped. A description typed
    // into the files grid is stored too: the close box does not take the
    // focus from the grid, and the edit would be lost.
    storePending(dm->tblCrFirmFolder);
    files->postPending();
    for (DataSet *names :
         {static_cast<DataSet *>(&dm->qFMaker), static_cast<DataSet *>(&dm->qFSaler),
          static_cast<DataSet *>(&dm->qListFirm)}) {
        names->close();
        names->open();
    }
    rereadList(dm->qFirms, QStringLiteral("FirmID"));
}

void editFirmByKey(QWidget *owner, int firmId, bool itemsAllowed)
{
    editByKey(dm->tblFirms, QStringLiteral("FirmID"), firmId, [&] {
        TfrmEditFirm editor(owner);
        if (!itemsAllowed)
            editor.cmdItems->setEnabled(false);
        editor.exec();
    });
}
