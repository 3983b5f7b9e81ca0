#include "UGroupTrees.h"

#include "Application.h"
#include "DataSource.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "PostOrDrop.h"
#include "Table.h"
#include "UData.h"

#include <QMenu>
#include <QSet>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidgetItemIterator>

namespace {

const QString rootText = QStringLiteral("Все");
const QString newGroupText = QStringLiteral("Новый");

int tagOf(const QTreeWidgetItem *node)
{
    return TGroupTree::nodeTag(node);
}

// Makes the group's row current. Editing or deleting whatever row happened
// to be current when the key is missing would damage another group.
void locateGroup(DataSet &table, int tag)
{
    if (!table.locate(QStringLiteral("GroupID"), tag))
        throw EngineError(QStringLiteral("Группа с ключом ") + QString::number(tag) +
                          QStringLiteral(" не найдена"));
}

QString quoted(const QTreeWidgetItem *node)
{
    return QLatin1Char('"') + node->text(0) + QLatin1Char('"');
}

// Four lines joined by LF then CR, without a break after the last.
QString moveQuestion(const QTreeWidgetItem *dragged, const QTreeWidgetItem *target)
{
    return QStringList{QStringLiteral("Вы действительно хотите переместить"),
                       quoted(dragged) + QStringLiteral(" из"),
                       quoted(dragged->parent()) + QStringLiteral(" в"),
                       quoted(target) + QStringLiteral(" ?")}
        .join(QStringLiteral("\n\r"));
}

bool isInside(const QTreeWidgetItem *node, const QTreeWidgetItem *ancestor)
{
    for (const QTreeWidgetItem *above = node->parent(); above; above = above->parent())
        if (above == ancestor)
            return true;
    return false;
}

void switchOn(QTimer *timer)
{
    // Restarting on every move would hold the timer back while the pointer
    // trembles over the scroll bar.
    if (!timer->isActive())
        timer->start();
}

} // namespace

TGroupTrees::TGroupTrees(QWidget *owner, TabContext &context, TGroupTree *firmTree,
                         TGroupTree *itemTree)
    : QObject(owner), m_owner(owner), m_context(context)
{
    createMenu();
    createTimers();
    wire(firmTree);
    wire(itemTree);
}

void TGroupTrees::createMenu()
{
    PopupMenu1 = new QMenu(m_owner);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = PopupMenu1->addAction(QStringLiteral("Добавить на этом уровне"));
    N2 = PopupMenu1->addAction(QStringLiteral("Добавить подчиненный"));
    N3 = PopupMenu1->addSeparator();
    N4 = PopupMenu1->addAction(QStringLiteral("Удалить узел"));
    const QList<std::pair<QAction *, void (TGroupTrees::*)()>> items = {
        {N1, &TGroupTrees::N1Click}, {N2, &TGroupTrees::N2Click}, {N4, &TGroupTrees::N4Click}};
    for (const auto &[action, handler] : items)
        connect(action, &QAction::triggered, this,
                [this, handler] { Application::guarded([this, handler] { (this->*handler)(); }); });
    N1->setObjectName(QStringLiteral("N1"));
    N2->setObjectName(QStringLiteral("N2"));
    N3->setObjectName(QStringLiteral("N3"));
    N4->setObjectName(QStringLiteral("N4"));
}

void TGroupTrees::createTimers()
{
    TimerScrollUp = new QTimer(this);
    TimerScrollDown = new QTimer(this);
    TimerScrollUp->setObjectName(QStringLiteral("TimerScrollUp"));
    TimerScrollDown->setObjectName(QStringLiteral("TimerScrollDown"));
    for (QTimer *timer : {TimerScrollUp, TimerScrollDown})
        timer->setInterval(100);
    connect(TimerScrollUp, &QTimer::timeout, this, &TGroupTrees::TimerScrollUpTimer);
    connect(TimerScrollDown, &QTimer::timeout, this, &TGroupTrees::TimerScrollDownTimer);
}

void TGroupTrees::wire(TGroupTree *tree)
{
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, [this, tree](const QPoint &pos) {
        PopupMenu1->popup(tree->viewport()->mapToGlobal(pos));
    });
    connect(tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *current) {
        Application::guarded([&] { TreeGrpItemChange(current); });
    });
    tree->onClick = [this] { Application::guarded([this] { TreeGrpClick(); }); };
    tree->onEditing = [this](QTreeWidgetItem *node) { return TreeGrpEditing(node); };
    tree->onEdited = [this](QTreeWidgetItem *node, QString &text) {
        return Application::guarded([&] { text = TreeGrpEdited(node, text); });
    };
    tree->onDragOver = [this](QObject *source, const QPoint &pos) {
        TreeGrpDragOver(source, pos.x(), pos.y());
    };
    tree->onDragDrop = [this](QObject *source, const QPoint &pos) {
        Application::guarded([&] { TreeGrpDragDrop(source, pos.x(), pos.y()); });
    };
    tree->onEndDrag = [this] { TreeGrpEndDrag(); };
}

void TGroupTrees::LoadGroupTree(TGroupTree *tree, Table *table)
{
    tree->clear();
    QTreeWidgetItem *root = tree->addNode(nullptr, rootText, 0);
    // A table that failed to open at start-up has been reported already:
    // the tree shows its root alone rather than a second error.
    if (!table->active()) {
        const QSignalBlocker quiet(tree);
        tree->setCurrentItem(root);
        return;
    }
    if (table->filtered())
        table->setFiltered(false);
    QSet<int> shown{0};
    addGroupLevel(tree, groupsByParent(*table), root, shown);
    root->setExpanded(true);
    table->first();
    tree->setCurrentItem(root);
}

void TGroupTrees::followOtherDesk(TGroupTree *tree, Table *table)
{
    const int selected = tree->currentItem() ? tagOf(tree->currentItem()) : 0;
    QSet<int> open;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->isExpanded())
            open << tagOf(*it);
    }
    QTreeWidgetItem *again = nullptr;
    {
        const QSignalBlocker quiet(tree);
        LoadGroupTree(tree, table);
        tree->sortAll();
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            (*it)->setExpanded(open.contains(tagOf(*it)));
            if (tagOf(*it) == selected)
                again = *it;
        }
        if (again)
            tree->setCurrentItem(again);
    }
    if (!again)
        tree->setCurrentItem(tree->topLevelItem(0));
}

// Every group of the table under the key of its parent, in the table's
// order, read in one pass: a tree of a few hundred groups is one statement
// rather than one a group.
QHash<int, QList<TGroupTrees::GroupRow>> TGroupTrees::groupsByParent(Table &table)
{
    QHash<int, QList<GroupRow>> children;
    for (table.first(); !table.eof(); table.next()) {
        const Field *parent = table.fieldByName(QStringLiteral("UpGroupID"));
        // A row without a parent is joined to no node, as no parent's key matches it.
        if (parent->isNull())
            continue;
        children[int(parent->asInteger())]
            << GroupRow{int(table.fieldByName(QStringLiteral("GroupID"))->asInteger()),
                        table.fieldByName(QStringLiteral("Description"))->asString()};
    }
    return children;
}

// All children of a node are added before any deeper level. Rows that no
// chain of parents joins to the root (a cycle, a missing parent) are
// therefore never shown.
void TGroupTrees::addGroupLevel(TGroupTree *tree, const QHash<int, QList<GroupRow>> &children,
                                QTreeWidgetItem *node, QSet<int> &shown)
{
    for (const GroupRow &row : children.value(tagOf(node))) {
        // A row whose key is already in the tree (a hand-made row with key 0
        // under the root) would otherwise be added again without end.
        if (shown.contains(row.tag))
            continue;
        shown.insert(row.tag);
        tree->addNode(node, row.name, row.tag);
    }
    for (int i = 0; i < node->childCount(); ++i)
        addGroupLevel(tree, children, node->child(i), shown);
}

QTreeWidgetItem *TGroupTrees::selectedNode() const
{
    return m_context.CurrentTree ? m_context.CurrentTree->currentItem() : nullptr;
}

DataSet &TGroupTrees::groupTable() const
{
    return *m_context.CurrentGroupSource->dataSet();
}

void TGroupTrees::TreeGrpItemChange(QTreeWidgetItem *node)
{
    if (node) // a tree being emptied has no selection to apply
        applyGroup(tagOf(node));
}

void TGroupTrees::TreeGrpClick()
{
    if (QTreeWidgetItem *node = selectedNode())
        applyGroup(tagOf(node));
}

// Chosen by the active page, not by the tree that fired.
void TGroupTrees::applyGroup(int tag)
{
    const QString key = QString::number(tag);
    if (m_context.activePage == 0) {
        dm->GroupFirmFilter =
            tag == 0 ? QString()
                     : QStringLiteral("FirmID in (Select FirmID From GrpFrm Where GroupID=") + key +
                           QLatin1Char(')');
        dm->RebuildFirmQuery();
    } else {
        dm->GroupItemFilter =
            tag == 0 ? QString()
                     : QStringLiteral("ItemID in (Select ItemID From GrpItm Where GroupID=") + key +
                           QLatin1Char(')');
        dm->RebuildItemQuery();
    }
}

void TGroupTrees::N1Click()
{
    QTreeWidgetItem *node = selectedNode();
    if (!node)
        return;
    if (tagOf(node) == 0) {
        Dialogs::inform(m_owner, QStringLiteral("Нельзя добавлять элементы на этот уровень"));
        return;
    }
    addGroup(node->parent());
}

void TGroupTrees::N2Click()
{
    if (QTreeWidgetItem *node = selectedNode())
        addGroup(node);
}

// The row first: the node appears only once the engine has taken the row and
// given it its key. The new node is neither selected nor edited.
void TGroupTrees::addGroup(QTreeWidgetItem *parent)
{
    DataSet &table = groupTable();
    table.append();
    const QList<Field *> fields = table.fields(); // key, parent key, name: by position
    fields.at(2)->setAsString(newGroupText);
    fields.at(1)->setAsInteger(tagOf(parent));
    postOrDrop(table);
    m_context.CurrentTree->addNode(parent, newGroupText,
                                   static_cast<int>(fields.at(0)->asInteger()));
    m_context.CurrentTree->sortAll();
}

void TGroupTrees::N4Click()
{
    QTreeWidgetItem *node = selectedNode();
    if (!node)
        return;
    if (node->childCount() > 0) {
        Dialogs::inform(m_owner, QStringLiteral("Невозможно удалить. Имеются подчиненные узлы."));
        return;
    }
    // The root stands for no row: with no group at all there is nothing to delete.
    if (tagOf(node) == 0)
        return;
    // The page's list under the selected group, with every filter in force.
    if (!m_context.CurrentRecordSource->dataSet()->isEmpty()) {
        Dialogs::inform(m_owner, QStringLiteral("Невозможно удалить. Имеются фирмы этого типа."));
        return;
    }
    if (!Dialogs::confirm(m_owner, QStringLiteral("Удалить ?")))
        return;
    DataSet &table = groupTable();
    locateGroup(table, tagOf(node));
    table.deleteRecord();
    delete node; // the tree selects a neighbour, and its group is applied
}

bool TGroupTrees::TreeGrpEditing(QTreeWidgetItem *node)
{
    return tagOf(node) != 0;
}

// The text is stored as typed: an empty or repeated name is the user's
// choice, and a long one is cut by the field. The name as stored comes back:
// another desk's, when the user kept that.
QString TGroupTrees::TreeGrpEdited(QTreeWidgetItem *node, const QString &text)
{
    DataSet &table = groupTable();
    locateGroup(table, tagOf(node));
    // The tree shows the name as it was loaded, not as the table holds it now.
    table.editAsShown(QStringLiteral("Description"), node->text(0));
    Field *name = table.fieldByName(QStringLiteral("Description"));
    name->setAsString(text);
    postOrDrop(table);
    return name->asString();
}

// A valid target: the drag comes from the current tree, whose selected node
// is a group, and the pointer is on the label of a node that is neither that
// group, nor its parent, nor inside its subtree.
QTreeWidgetItem *TGroupTrees::dropTarget(QObject *source, const QPoint &pos) const
{
    TGroupTree *tree = m_context.CurrentTree;
    QTreeWidgetItem *dragged = selectedNode();
    if (!tree || source != tree || !dragged || tagOf(dragged) == 0)
        return nullptr;
    QTreeWidgetItem *target = tree->nodeLabelAt(pos);
    if (!target || target == dragged || target == dragged->parent() || isInside(target, dragged))
        return nullptr;
    return target;
}

void TGroupTrees::TreeGrpDragOver(QObject *source, int x, int y)
{
    TGroupTree *tree = m_context.CurrentTree;
    if (!tree)
        return;
    scrollWhileOverScrollBar(tree, QPoint(x, y));
    if (!qobject_cast<TGroupTree *>(source))
        return;
    if (!dropTarget(source, QPoint(x, y)))
        tree->setDragCursor(TGroupTree::noDropCursor);
    else if (selectedNode()->childCount() > 0)
        tree->setDragCursor(TGroupTree::multiDragCursor);
    else
        tree->setDragCursor(TGroupTree::singleDragCursor);
}

void TGroupTrees::scrollWhileOverScrollBar(TGroupTree *tree, const QPoint &pos)
{
    const bool overScrollBar = pos.x() > tree->viewport()->width() && pos.x() < tree->width();
    if (!overScrollBar) {
        TimerScrollUp->stop();
        TimerScrollDown->stop();
        return;
    }
    const bool lowerHalf = pos.y() >= tree->viewport()->height() / 2;
    switchOn(lowerHalf ? TimerScrollDown : TimerScrollUp);
    (lowerHalf ? TimerScrollUp : TimerScrollDown)->stop();
}

// The move changes only the parent key of the dragged group; its subtree
// follows it because its children name it, not its parent.
void TGroupTrees::TreeGrpDragDrop(QObject *source, int x, int y)
{
    QTreeWidgetItem *target = dropTarget(source, QPoint(x, y));
    if (!target)
        return;
    QTreeWidgetItem *dragged = selectedNode();
    if (!Dialogs::askYesNo(m_owner, QStringLiteral("Переместить ?"), moveQuestion(dragged, target)))
        return;
    DataSet &table = groupTable();
    locateGroup(table, tagOf(dragged));
    table.edit();
    table.fields().at(1)->setAsInteger(tagOf(target));
    postOrDrop(table);
    // Not sorted: the moved group stays first under its new parent until the next load.
    m_context.CurrentTree->moveNode(dragged, target);
}

void TGroupTrees::TreeGrpEndDrag()
{
    TimerScrollUp->stop();
    TimerScrollDown->stop();
}

void TGroupTrees::TimerScrollUpTimer()
{
    scrollTopBy(-4);
}

void TGroupTrees::TimerScrollDownTimer()
{
    scrollTopBy(4);
}

// Positions count every node in depth-first order, collapsed branches
// included; the step stops at the first and at the last node.
void TGroupTrees::scrollTopBy(int step)
{
    TGroupTree *tree = m_context.CurrentTree;
    if (!tree)
        return;
    const QList<QTreeWidgetItem *> nodes = tree->nodesInOrder();
    const int top = nodes.indexOf(tree->topNode());
    if (top < 0)
        return;
    tree->setTopNode(nodes.at(qBound(0, top + step, nodes.size() - 1)));
}
