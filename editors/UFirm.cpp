#include "UFirm.h"

#include "Application.h"
#include "ClassesRoot.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "FilesPanel.h"
#include "Pictures.h"
#include "ShellHelpers.h"
#include "TempFiles.h"
#include "UData.h"
#include "UTree.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

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

bool isPending(const DataSet &dataSet)
{
    return dataSet.state() == DataSetState::Edit || dataSet.state() == DataSetState::Insert;
}

} // namespace

TfrmEditFirm::TfrmEditFirm(QWidget *owner) : TfrmEditFirm(owner, desktopClassesRoot()) {}

TfrmEditFirm::TfrmEditFirm(QWidget *owner, const ClassesRoot &classesRoot)
    : QDialog(owner), m_classesRoot(classesRoot)
{
    setObjectName(QStringLiteral("frmEditFirm"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);
    setSizeGripEnabled(true);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(makeNameBand());
    auto *middle = new QHBoxLayout;
    middle->addWidget(makeContactBlock());
    middle->addWidget(makeFolderGrid(), 1);
    column->addLayout(middle);
    column->addWidget(makeLowerPart(), 1);
    setTabOrder();

    connect(DBEdit1, &QLineEdit::textChanged, this, &TfrmEditFirm::DBEdit1Change);
    setWindowTitle(dm->tblFirms.fieldByName(QStringLiteral("Name"))->asString());
    resize(544, 395);
    if (const QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    connect(qApp, &QApplication::focusChanged, this, &TfrmEditFirm::folderFocusMoved);
}

TfrmEditFirm::~TfrmEditFirm()
{
    disconnect(qApp, &QApplication::focusChanged, this, &TfrmEditFirm::folderFocusMoved);
}

DBEdit *TfrmEditFirm::makeEdit(const char *name, const QString &field)
{
    auto *edit = new DBEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDataSource(&dm->dsFirms);
    edit->setFieldName(field);
    return edit;
}

QLabel *TfrmEditFirm::makeLabel(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text, this);
    label->setBuddy(buddy);
    buddy->setAccessibleName(text);
    return label;
}

QToolButton *TfrmEditFirm::makePictureButton(const char *name, const QString &accessibleName,
                                             int picture)
{
    auto *button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(Pictures::picture(Pictures::Picture(picture)));
    button->setAccessibleName(accessibleName);
    button->setToolTip(accessibleName);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QWidget *TfrmEditFirm::makeNameBand()
{
    QFrame *band = framedBlock(this);
    band->setObjectName(QStringLiteral("Panel1"));
    DBEdit1 = makeEdit("DBEdit1", QStringLiteral("Name"));
    DBEdit2 = makeEdit("DBEdit2", QStringLiteral("Sinonyms"));
    DBEdit3 = makeEdit("DBEdit3", QStringLiteral("Description"));
    BitBtn1 = makePictureButton("BitBtn1", QStringLiteral("Тип фирмы"), Pictures::FirmTypes);
    BitBtn1->setText(QStringLiteral("Тип фирмы"));
    BitBtn1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    BitBtn1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    connect(BitBtn1, &QToolButton::clicked, this,
            [this] { Application::guarded([this] { BitBtn1Click(); }); });

    auto *grid = new QGridLayout(band);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(3);
    const QList<std::pair<QString, DBEdit *>> rows = {{QStringLiteral("Наименование"), DBEdit1},
                                                      {QStringLiteral("Другие названия"), DBEdit2},
                                                      {QStringLiteral("Описание"), DBEdit3}};
    for (int row = 0; row < rows.size(); ++row) {
        grid->addWidget(makeLabel(rows[row].first, rows[row].second), row, 0);
        // The description runs on beneath the button.
        grid->addWidget(rows[row].second, row, 1, 1, row == 2 ? 2 : 1);
    }
    grid->addWidget(BitBtn1, 0, 2, 2, 1);
    grid->setColumnStretch(1, 1);
    return band;
}

QWidget *TfrmEditFirm::makeContactBlock()
{
    QFrame *block = framedBlock(this);
    block->setObjectName(QStringLiteral("Panel2"));
    DBEdit4 = makeEdit("DBEdit4", QStringLiteral("Address"));
    DBEdit5 = makeEdit("DBEdit5", QStringLiteral("Phones"));
    DBEmail = makeEdit("DBEmail", QStringLiteral("Email"));
    DBURL = makeEdit("DBURL", QStringLiteral("WWW"));
    cmdSend = makePictureButton("cmdSend", QStringLiteral("Написать письмо"), Pictures::Envelope);
    cmdGo = makePictureButton("cmdGo", QStringLiteral("Открыть сайт"), Pictures::Globe);
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
        grid->addWidget(makeLabel(text, edit), row, 0);
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
    // The firm's items list comes with a window of its own; until then the
    // button stays disabled.
    cmdItems->setEnabled(false);
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
    setWindowTitle(text);
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

void TfrmEditFirm::BitBtn1Click()
{
    showGroupAssignment(this, GroupOwner::Firm);
}

void TfrmEditFirm::folderFocusMoved(QWidget *from, QWidget *to)
{
    const auto inGrid = [this](const QWidget *widget) {
        for (; widget; widget = widget->parentWidget()) {
            if (widget == DBGridEh1)
                return true;
        }
        return false;
    };
    // Focus coming back from a message box is no entry into the grid.
    if (!from || from->window() != this || inGrid(from) || !inGrid(to))
        return;
    Application::guarded([this] { DBGridEh1Enter(); });
}

void TfrmEditFirm::DBGridEh1Enter()
{
    const bool noFolders = dm->tblFolder.isEmpty();
    DBGridEh1->setReadOnly(noFolders);
    if (noFolders) {
        Dialogs::inform(this, QStringLiteral("Не определено ни одной папки"));
        Abort();
    }
}

void TfrmEditFirm::DBGridEh1KeyDown(int key)
{
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && isPending(dm->tblCrFirmFolder))
        dm->tblCrFirmFolder.post();
}

void TfrmEditFirm::FormClose()
{
    if (dm->tblFirms.state() == DataSetState::Edit)
        dm->tblFirms.post();
    // A folder row nobody chose a folder for is dropped, as leaving the grid
    // drops it; a chosen one is stored.
    if (dm->tblCrFirmFolder.state() == DataSetState::Insert && !dm->tblCrFirmFolder.modified())
        dm->tblCrFirmFolder.cancel();
    else if (isPending(dm->tblCrFirmFolder))
        dm->tblCrFirmFolder.post();
    // A description typed into the files grid is stored too: the close box
    // does not take the focus from the grid, and the edit would be lost.
    files->postPending();
    for (DataSet *names :
         {static_cast<DataSet *>(&dm->qFMaker), static_cast<DataSet *>(&dm->qFSaler),
          static_cast<DataSet *>(&dm->qListFirm)}) {
        names->close();
        names->open();
    }
    Query &list = dm->qFirms;
    const QVariant current =
        list.isEmpty() ? QVariant() : list.fieldByName(QStringLiteral("FirmID"))->value();
    list.close();
    list.open();
    if (current.isValid())
        list.locate(QStringLiteral("FirmID"), current);
}

// Every way of closing the window comes here: "Закрыть" and the close box
// through the close event, Esc directly.
void TfrmEditFirm::reject()
{
    if (Application::guarded([this] { FormClose(); }))
        QDialog::reject();
}

void editFirmByKey(QWidget *owner, int firmId, bool itemsAllowed)
{
    Table &firm = dm->tblFirms;
    DataSource *const master = firm.masterSource();
    const QString filter = firm.filter();
    const bool filtered = firm.filtered();
    // Runs while an exception may be on its way out: it must not throw.
    const auto restore = qScopeGuard([&] {
        Application::guarded([&] {
            firm.setFilter(filter);
            firm.setFiltered(filtered);
            firm.setMasterSource(master);
        });
    });
    firm.setFilter(QStringLiteral("FirmID=") + QString::number(firmId));
    firm.setFiltered(true);
    firm.setMasterSource(nullptr);
    if (firm.isEmpty())
        return;
    TfrmEditFirm editor(owner);
    if (!itemsAllowed)
        editor.cmdItems->setEnabled(false);
    editor.exec();
}
