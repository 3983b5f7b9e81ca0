#include "UTree.h"

#include "Application.h"
#include "DataSet.h"
#include "GroupTree.h"
#include "PostOrDrop.h"
#include "SelectableTree.h"
#include "UData.h"
#include "UMain.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QMultiHash>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const QString groupIdField = QStringLiteral("GroupID");

// State pictures of the dialog's nodes: the mark + 1.
constexpr int unmarkedPicture = 1;

void copyChildren(TSelectableTree &tree, TSelectableNode *copy, const QTreeWidgetItem *original)
{
    for (int i = 0; i < original->childCount(); ++i) {
        const QTreeWidgetItem *child = original->child(i);
        copyChildren(tree, tree.addNode(copy, child->text(0)), child);
    }
}

} // namespace

TfrmTree::TfrmTree(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmTree"));
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);
    resize(342, 349);

    TreeView1 = new TSelectableTree(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setMultiSelect(true);
    TreeView1->setDefaultPopup(false);
    TreeView1->setRightClickSelect(true);
    TreeView1->setHideSelection(false);
    TreeView1->setIndentation(19);
    // The nodes are copies: a name changed here would never reach the group
    // table, and Enter, which ends an edit, would also save and close.
    TreeView1->setReadOnly(true);
    TreeView1->setAccessibleDescription(
        QStringLiteral("Пробел отмечает группу или снимает отметку"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(TreeView1, 1);
    makeButtonPanel();
    layout->addWidget(Panel1);
    setTabOrder(TreeView1, Button1);
    setTabOrder(Button1, Button2);
    TreeView1->setFocus();

    if (const QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmTree::makeButtonPanel()
{
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setFixedHeight(41);
    Button1 = new QPushButton(QStringLiteral("Сохранить"), Panel1);
    Button2 = new QPushButton(QStringLiteral("Отмена"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2->setObjectName(QStringLiteral("Button2"));
    Button1->setDefault(true);
    auto *buttons = new QHBoxLayout(Panel1);
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    connect(Button1, &QPushButton::clicked, this,
            [this] { Application::guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmTree::copyNodes(const TGroupTree &source)
{
    TreeView1->clear();
    for (int i = 0; i < source.topLevelItemCount(); ++i) {
        const QTreeWidgetItem *original = source.topLevelItem(i);
        copyChildren(*TreeView1, TreeView1->addNode(nullptr, original->text(0)), original);
    }
}

// The group of a row is found at every position of the source tree whose tag
// names it; the copy has the same positions.
void TfrmTree::markMemberships(DataSet &members, const TGroupTree &source)
{
    const QList<QTreeWidgetItem *> originals = source.nodesInOrder();
    const QList<TSelectableNode *> copies = TreeView1->nodesInOrder();
    QMultiHash<int, int> positions;
    for (int i = 0; i < originals.size() && i < copies.size(); ++i)
        positions.insert(TGroupTree::nodeTag(originals.at(i)), i);
    for (members.first(); !members.eof(); members.next()) {
        const int group = static_cast<int>(members.fieldByName(groupIdField)->asInteger());
        for (const int i : positions.values(group))
            TreeView1->SetCheckState(copies.at(i), 1);
    }
}

void TfrmTree::Button1Click()
{
    DataSet &members = *dsTree.dataSet();
    const QList<QTreeWidgetItem *> originals = SourceTree->nodesInOrder();
    const QList<TSelectableNode *> copies = TreeView1->nodesInOrder();
    // Position 0 is the root "Все", which stands for no group.
    for (int a = 1; a < copies.size() && a < originals.size(); ++a)
        saveMark(members, TGroupTree::nodeTag(originals.at(a)), copies.at(a)->stateIndex());
    accept();
}

void TfrmTree::saveMark(DataSet &members, int group, int stateIndex)
{
    const bool member =
        members.locate(KeyFieldName + QStringLiteral(";") + groupIdField, {KeyValue, group});
    if (member && stateIndex == unmarkedPicture) {
        members.deleteRecord();
    } else if (!member && stateIndex > unmarkedPicture) {
        members.append();
        members.fieldByName(KeyFieldName)->setAsInteger(KeyValue);
        members.fieldByName(groupIdField)->setAsInteger(group);
        postOrDrop(members);
    }
}

std::unique_ptr<TfrmTree> prepareGroupAssignment(QWidget *editor, GroupOwner owner)
{
    const bool firm = owner == GroupOwner::Firm;
    TGroupTree *source = firm ? MainForm->TreeGrpFirm : MainForm->TreeGrpItem;
    Table &members = firm ? dm->tblGrpFrm : dm->tblGrpItm;
    const QString keyField = firm ? QStringLiteral("FirmID") : QStringLiteral("ItemID");
    Table &record = firm ? dm->tblFirms : dm->tblItem;

    auto dialog = std::make_unique<TfrmTree>(editor);
    dialog->copyNodes(*source);
    dialog->TreeView1->SelectAll();
    dialog->TreeView1->UnSelectAll();
    dialog->markMemberships(members, *source);
    dialog->TreeView1->expandAll();
    dialog->TreeView1->setCurrentItem(dialog->TreeView1->topLevelItem(0));

    dialog->dsTree.setDataSet(&members);
    dialog->KeyFieldName = keyField;
    dialog->KeyValue = static_cast<qint32>(record.fieldByName(keyField)->asInteger());
    dialog->SourceTree = source;
    const QString caption = firm ? QStringLiteral("Типы фирм") : QStringLiteral("Типы элементов");
    dialog->setWindowTitle(caption);
    dialog->TreeView1->setAccessibleName(caption);
    return dialog;
}

void showGroupAssignment(QWidget *editor, GroupOwner owner)
{
    // The editor owns the dialog; should it go first, the guard forgets the dialog.
    const QPointer<TfrmTree> dialog = prepareGroupAssignment(editor, owner).release();
    dialog->exec();
    delete dialog.data();
}
