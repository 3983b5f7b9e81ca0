#include "GroupTree.h"

#include <QCollator>
#include <QDrag>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QScrollBar>

namespace {

// The node's key lives in the item data rather than in a picture index: the
// trees show no pictures, and copies of the nodes carry the role along.
constexpr int tagRole = Qt::UserRole;

// What a drag started on a group node carries: the dragged node's tag.
const QString groupNodeFormat = QStringLiteral("application/x-quillon-group-node");

const QCollator &russianOrder()
{
    static const QCollator collator = [] {
        QCollator c(QLocale(QLocale::Russian, QLocale::Russia));
        c.setCaseSensitivity(Qt::CaseSensitive);
        return c;
    }();
    return collator;
}

// A node that sorts by the locale's comparison instead of by code points, so
// that б and Б stand together and in the order the user's language expects.
class GroupNode : public QTreeWidgetItem
{
public:
    GroupNode() : QTreeWidgetItem(UserType) {}

    bool operator<(const QTreeWidgetItem &other) const override
    {
        return russianOrder().compare(text(0), other.text(0)) < 0;
    }
};

void collectExpanded(QTreeWidgetItem *node, QList<QTreeWidgetItem *> &expanded)
{
    if (node->isExpanded())
        expanded << node;
    for (int i = 0; i < node->childCount(); ++i)
        collectExpanded(node->child(i), expanded);
}

} // namespace

TGroupTree::TGroupTree(QWidget *parent) : QTreeWidget(parent)
{
    setColumnCount(1);
    setHeaderHidden(true);
    setIndentation(19);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setDragEnabled(true);
    setAcceptDrops(true);
    // Scrolling during a drag is the owner's: its timers run while the
    // pointer rests over the scroll bar, and the view must not scroll too.
    setAutoScroll(false);
    verticalScrollBar()->setAcceptDrops(true);
    verticalScrollBar()->installEventFilter(this);

    // The selected group stays visible while the user works in the list.
    QPalette colours = palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);
}

int TGroupTree::nodeTag(const QTreeWidgetItem *node)
{
    return node->data(0, tagRole).toInt();
}

void TGroupTree::setNodeTag(QTreeWidgetItem *node, int tag)
{
    node->setData(0, tagRole, tag);
}

QTreeWidgetItem *TGroupTree::addNode(QTreeWidgetItem *parent, const QString &text, int tag)
{
    auto *node = new GroupNode;
    node->setText(0, text);
    node->setFlags(node->flags() | Qt::ItemIsEditable);
    setNodeTag(node, tag);
    if (parent)
        parent->addChild(node);
    else
        addTopLevelItem(node);
    return node;
}

QList<QTreeWidgetItem *> TGroupTree::nodesInOrder() const
{
    QList<QTreeWidgetItem *> nodes;
    for (QTreeWidgetItemIterator it(const_cast<TGroupTree *>(this)); *it; ++it)
        nodes << *it;
    return nodes;
}

void TGroupTree::sortAll()
{
    sortItems(0, Qt::AscendingOrder); // every level, through GroupNode's comparison
}

void TGroupTree::sortAmongSiblings(QTreeWidgetItem *node)
{
    if (QTreeWidgetItem *parent = node->parent())
        parent->sortChildren(0, Qt::AscendingOrder);
}

void TGroupTree::moveNode(QTreeWidgetItem *node, QTreeWidgetItem *target)
{
    // Taking the selected node out makes the view select a neighbour for a
    // moment; the list must keep its group, so nobody hears of it.
    const QSignalBlocker quiet(this);
    const bool wasCurrent = currentItem() == node;
    QList<QTreeWidgetItem *> expanded;
    collectExpanded(node, expanded);
    QTreeWidgetItem *parent = node->parent(); // the root, the one top-level node, never moves
    parent->takeChild(parent->indexOfChild(node));
    target->insertChild(0, node);
    for (QTreeWidgetItem *open : expanded)
        open->setExpanded(true);
    target->setExpanded(true);
    if (wasCurrent)
        setCurrentItem(node);
}

QTreeWidgetItem *TGroupTree::nodeLabelAt(const QPoint &pos) const
{
    QTreeWidgetItem *node = itemAt(pos);
    if (!node)
        return nullptr;
    // The cell starts after the indentation; the label is the text with the
    // margins the style draws around it.
    const QRect cell = visualItemRect(node);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int labelEnd =
        cell.left() + 2 * margin + QFontMetrics(node->font(0)).horizontalAdvance(node->text(0));
    return pos.x() >= cell.left() && pos.x() < labelEnd ? node : nullptr;
}

QTreeWidgetItem *TGroupTree::topNode() const
{
    return itemAt(QPoint(0, 0));
}

void TGroupTree::setTopNode(QTreeWidgetItem *node)
{
    for (QTreeWidgetItem *above = node->parent(); above; above = above->parent())
        above->setExpanded(true);
    scrollToItem(node, QAbstractItemView::PositionAtTop);
}

bool TGroupTree::asksBeforeEditing(EditTrigger trigger) const
{
    return trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & trigger);
}

bool TGroupTree::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    QTreeWidgetItem *node = itemFromIndex(index);
    if (node && asksBeforeEditing(trigger) && onEditing && !onEditing(node))
        return false;
    if (!QTreeWidget::edit(index, trigger, event))
        return false;
    // A click on the selected node only arms a delayed edit, which comes
    // back here when it opens the editor.
    if (state() == QAbstractItemView::EditingState)
        m_editedNode = node;
    return true;
}

void TGroupTree::commitData(QWidget *editor)
{
    auto *line = qobject_cast<QLineEdit *>(editor);
    QTreeWidgetItem *node = m_editedNode;
    // An error box raised while the text is stored takes the focus from the
    // editor, which would commit the same text once more.
    if (m_committing || !line || !node)
        return;
    QString text = line->text();
    {
        const QScopedValueRollback guard(m_committing, true);
        if (onEdited && !onEdited(node, text))
            return;
    }
    node->setText(0, text);
    sortAmongSiblings(node);
}

void TGroupTree::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    QTreeWidget::closeEditor(editor, hint);
    m_editedNode = nullptr;
}

void TGroupTree::mousePressEvent(QMouseEvent *event)
{
    // Only the left button selects, and only on a node: the context menu
    // acts on the selected node, and a click on the blank part keeps it.
    if (event->button() != Qt::LeftButton || !itemAt(event->position().toPoint())) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void TGroupTree::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QTreeWidget::mouseReleaseEvent(event);
    if (onClick)
        onClick();
}

void TGroupTree::startDrag(Qt::DropActions)
{
    QTreeWidgetItem *node = currentItem();
    if (!node)
        return;
    auto *data = new QMimeData;
    data->setData(groupNodeFormat, QByteArray::number(nodeTag(node)));
    // Our own drag: the item view's would remove the source rows after a move.
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
    if (onEndDrag)
        onEndDrag();
}

void TGroupTree::dragEnterEvent(QDragEnterEvent *event)
{
    // The move that follows at once tells whether the spot takes the drop.
    event->setAccepted(event->mimeData()->hasFormat(groupNodeFormat));
}

void TGroupTree::dragMoveEvent(QDragMoveEvent *event)
{
    reportDragOver(event, event->position().toPoint());
}

void TGroupTree::dragLeaveEvent(QDragLeaveEvent *event)
{
    // Leaving is a move to nowhere: it ends any scrolling the drag started.
    if (onDragOver)
        onDragOver(nullptr, QPoint(-1, -1));
    event->accept();
}

void TGroupTree::dropEvent(QDropEvent *event)
{
    reportDrop(event, event->position().toPoint());
}

void TGroupTree::reportDragOver(QDragMoveEvent *event, const QPoint &pos)
{
    if (onDragOver)
        onDragOver(event->source(), pos);
    // The platform draws the drag cursor from the action a target accepts.
    if (m_dragCursor == noDropCursor) {
        event->ignore();
        return;
    }
    event->setDropAction(m_dragCursor == multiDragCursor ? Qt::CopyAction : Qt::MoveAction);
    event->accept();
}

void TGroupTree::reportDrop(QDropEvent *event, const QPoint &pos)
{
    if (onDragDrop)
        onDragDrop(event->source(), pos);
    event->accept();
}

QPoint TGroupTree::fromScrollBar(const QPoint &pos) const
{
    return viewport()->mapFrom(this, verticalScrollBar()->mapTo(this, pos));
}

bool TGroupTree::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != verticalScrollBar())
        return QTreeWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
        dragEnterEvent(static_cast<QDragEnterEvent *>(event));
        return true;
    case QEvent::DragMove: {
        auto *move = static_cast<QDragMoveEvent *>(event);
        reportDragOver(move, fromScrollBar(move->position().toPoint()));
        return true;
    }
    case QEvent::DragLeave:
        dragLeaveEvent(static_cast<QDragLeaveEvent *>(event));
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        reportDrop(drop, fromScrollBar(drop->position().toPoint()));
        return true;
    }
    default:
        return QTreeWidget::eventFilter(watched, event);
    }
}
