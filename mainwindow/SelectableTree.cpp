#include "SelectableTree.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

namespace {

// The state index lives in the item data: the delegate paints from the model
// and never needs the node itself.
constexpr int stateIndexRole = Qt::UserRole + 16;
constexpr int pictureSize = 16;
// The picture with a pixel of air on each side, left of the node's text.
constexpr int stateWidth = pictureSize + 2;

TSelectableNode *asNode(QTreeWidgetItem *item)
{
    return item && item->type() == TSelectableNode::Type ? static_cast<TSelectableNode *>(item)
                                                         : nullptr;
}

enum SelectionPicture
{
    Blank = 0,
    EmptyBox = 1,
    GreyTick = 2,
    BlackTick = 3
};

void drawSelectionPicture(QPainter &painter, SelectionPicture which)
{
    if (which == Blank)
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(2.5, 2.5, 11, 11);
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(64, 64, 64), 1, which == EmptyBox ? Qt::DotLine : Qt::SolidLine));
    painter.drawRect(box);
    if (which == EmptyBox)
        return;
    const QColor tick = which == GreyTick ? QColor(150, 150, 150) : QColor(Qt::black);
    painter.setPen(QPen(tick, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(QPolygonF({QPointF(4.5, 8), QPointF(7, 10.5), QPointF(11.5, 5)}));
}

// The four marks the tree shows, drawn for plain and for doubled pixel density.
QList<QIcon> selectionImages()
{
    QList<QIcon> images;
    for (const SelectionPicture which : {Blank, EmptyBox, GreyTick, BlackTick}) {
        QIcon icon;
        for (const int scale : {1, 2}) {
            QPixmap pixmap(pictureSize * scale, pictureSize * scale);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.scale(scale, scale);
            drawSelectionPicture(painter, which);
            painter.end();
            icon.addPixmap(pixmap);
        }
        images << icon;
    }
    return images;
}

int stateIndexOf(const QModelIndex &index)
{
    const QVariant state = index.data(stateIndexRole);
    return state.isValid() ? state.toInt() : -1;
}

// Draws the state picture left of the node's text and keeps the platform's
// own check box out of the cell: the mark is ours, and so are its rules.
class StatePictureDelegate : public QStyledItemDelegate
{
public:
    explicit StatePictureDelegate(TCustomSelectableTree *tree)
        : QStyledItemDelegate(tree), m_tree(tree)
    {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const int state = stateIndexOf(index);
        const QList<QIcon> images = m_tree->stateImages();
        if (state <= 0 || state >= images.size())
            return QStyledItemDelegate::paint(painter, option, index);
        images.at(state).paint(painter, pictureRect(option.rect));
        QStyleOptionViewItem rest(option);
        rest.rect.setLeft(option.rect.left() + stateWidth);
        QStyledItemDelegate::paint(painter, rest, index);
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        if (stateIndexOf(index) > 0)
            size = QSize(size.width() + stateWidth, qMax(size.height(), stateWidth));
        return size;
    }

    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override
    {
        QStyleOptionViewItem rest(option);
        if (stateIndexOf(index) > 0)
            rest.rect.setLeft(option.rect.left() + stateWidth);
        QStyledItemDelegate::updateEditorGeometry(editor, rest, index);
    }

    bool editorEvent(QEvent *, QAbstractItemModel *, const QStyleOptionViewItem &,
                     const QModelIndex &) override
    {
        return false; // clicks and Space on the mark are the tree's
    }

    static QRect pictureRect(const QRect &cell)
    {
        return QRect(cell.left() + 1, cell.top() + (cell.height() - pictureSize) / 2, pictureSize,
                     pictureSize);
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->features &= ~QStyleOptionViewItem::HasCheckIndicator;
    }

private:
    TCustomSelectableTree *m_tree;
};

} // namespace

// ---- TSelectableNode ----

TSelectableNode::TSelectableNode(const QString &text) : QTreeWidgetItem(Type)
{
    setText(0, text);
    UpdateStateIndex();
}

void TSelectableNode::assignCheckState(quint8 state)
{
    m_checkState = state;
    UpdateStateIndex();
}

int TSelectableNode::stateIndex() const
{
    const QVariant state = data(0, stateIndexRole);
    return state.isValid() ? state.toInt() : -1;
}

void TSelectableNode::setStateIndex(int index)
{
    QTreeWidgetItem::setData(0, stateIndexRole, index);
}

void TSelectableNode::UpdateStateIndex()
{
    const TCustomSelectableTree *tree = selectableTree();
    const bool shown = tree && tree->MultiSelect();
    setStateIndex(shown ? m_checkState + 1 : -1);
    const QScopedValueRollback mirroring(m_mirroring, true);
    setFlags(shown ? flags() | Qt::ItemIsUserCheckable : flags() & ~Qt::ItemIsUserCheckable);
    QTreeWidgetItem::setData(0, Qt::CheckStateRole,
                             shown ? QVariant(int(m_checkState)) : QVariant());
}

TCustomSelectableTree *TSelectableNode::selectableTree() const
{
    return qobject_cast<TCustomSelectableTree *>(treeWidget());
}

TSelectableNode *TSelectableNode::parentNode() const
{
    return asNode(parent());
}

TSelectableNode *TSelectableNode::childNode(int i) const
{
    return asNode(child(i));
}

void TSelectableNode::setData(int column, int role, const QVariant &value)
{
    TCustomSelectableTree *tree = selectableTree();
    if (role != Qt::CheckStateRole || m_mirroring || !tree || !value.isValid())
        return QTreeWidgetItem::setData(column, role, value);
    // Qt's unchecked, partly checked and checked are 0, 1 and 2, as the marks are.
    tree->SetCheckState(this, quint8(qBound(0, value.toInt(), 2)));
}

// ---- TCustomSelectableTree ----

TCustomSelectableTree::TCustomSelectableTree(QWidget *parent)
    : QTreeWidget(parent), m_stateImages(selectionImages())
{
    setColumnCount(1);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new StatePictureDelegate(this));
    setReadOnly(false);
    createBuiltInMenu();
}

TCustomSelectableTree::~TCustomSelectableTree() = default;

void TCustomSelectableTree::createBuiltInMenu()
{
    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("SelectionMenu"));
    SelectAllMenuItem = m_menu->addAction(QStringLiteral("Отметить все"));
    UnSelectAllMenuItem = m_menu->addAction(QStringLiteral("Снять все пометки"));
    m_menu->addSeparator();
    InvertSelectionMenuItem = m_menu->addAction(QStringLiteral("Инверсия выделения"));
    SelectAllMenuItem->setObjectName(QStringLiteral("SelectAllMenuItem"));
    UnSelectAllMenuItem->setObjectName(QStringLiteral("UnSelectAllMenuItem"));
    InvertSelectionMenuItem->setObjectName(QStringLiteral("InvertSelectionMenuItem"));
    connect(SelectAllMenuItem, &QAction::triggered, this, &TCustomSelectableTree::SelectAll);
    connect(UnSelectAllMenuItem, &QAction::triggered, this, &TCustomSelectableTree::UnSelectAll);
    connect(InvertSelectionMenuItem, &QAction::triggered, this,
            &TCustomSelectableTree::InvertSelection);
    connect(m_menu, &QMenu::aboutToShow, this, &TCustomSelectableTree::UpdateMenuItems);
}

TSelectableNode *TCustomSelectableTree::addNode(TSelectableNode *parent, const QString &text)
{
    auto *node = new TSelectableNode(text);
    if (!m_readOnly)
        node->setFlags(node->flags() | Qt::ItemIsEditable);
    if (parent)
        parent->addChild(node);
    else
        addTopLevelItem(node);
    node->UpdateStateIndex(); // now that it knows its tree's mode
    return node;
}

TSelectableNode *TCustomSelectableTree::node(int topLevelIndex) const
{
    return asNode(topLevelItem(topLevelIndex));
}

QList<TSelectableNode *> TCustomSelectableTree::nodesInOrder() const
{
    QList<TSelectableNode *> nodes;
    for (QTreeWidgetItemIterator it(const_cast<TCustomSelectableTree *>(this)); *it; ++it)
        if (TSelectableNode *n = asNode(*it))
            nodes << n;
    return nodes;
}

quint8 TCustomSelectableTree::GetCheckState(const TSelectableNode *node) const
{
    if (node->childCount() > 0)
        return node->CheckState();
    return node->CheckState() == 0 ? 0 : 2;
}

namespace {

void markSubtree(TSelectableNode *node, quint8 state)
{
    node->assignCheckState(state);
    for (int i = 0; i < node->childCount(); ++i)
        if (TSelectableNode *child = node->childNode(i))
            markSubtree(child, state);
}

} // namespace

void TCustomSelectableTree::SetCheckState(TSelectableNode *node, quint8 state)
{
    if (node->childCount() == 0 && state != 0)
        state = 2;
    if (state == GetCheckState(node))
        return;
    // A partly marked request on a node with children changes nothing below
    // it: its leaves decide how far it is marked.
    if (state != 1)
        markSubtree(node, state);
    if (TSelectableNode *parent = node->parentNode())
        UpdateParentState(parent);
    if (OnChangeSelection)
        OnChangeSelection(node);
}

void TCustomSelectableTree::UpdateParentState(TSelectableNode *parent)
{
    for (TSelectableNode *p = parent; p; p = p->parentNode()) {
        int unmarked = 0, marked = 0;
        for (int i = 0; i < p->childCount(); ++i) {
            const TSelectableNode *child = p->childNode(i);
            const quint8 state = child ? GetCheckState(child) : 0;
            unmarked += state == 0;
            marked += state == 2;
        }
        const int all = p->childCount();
        p->assignCheckState(marked == all ? 2 : unmarked == all ? 0 : 1);
    }
}

void TCustomSelectableTree::SelectAll()
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (TSelectableNode *n = node(i))
            SetCheckState(n, 2);
}

void TCustomSelectableTree::UnSelectAll()
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (TSelectableNode *n = node(i))
            SetCheckState(n, 0);
}

void TCustomSelectableTree::InvertSelection()
{
    for (TSelectableNode *n : nodesInOrder()) {
        if (n->childCount() == 0)
            SetCheckState(n, GetCheckState(n) == 0 ? 2 : 0);
    }
}

void TCustomSelectableTree::UpdateMenuItems()
{
    SelectAllMenuItem->setEnabled(false);
    UnSelectAllMenuItem->setEnabled(false);
    for (int i = 0; i < topLevelItemCount(); ++i) {
        const TSelectableNode *n = node(i);
        if (!n)
            continue;
        if (GetCheckState(n) != 2)
            SelectAllMenuItem->setEnabled(true);
        if (GetCheckState(n) != 0)
            UnSelectAllMenuItem->setEnabled(true);
    }
    InvertSelectionMenuItem->setEnabled(true);
}

void TCustomSelectableTree::setMultiSelect(bool on)
{
    if (on == m_multiSelect)
        return;
    m_multiSelect = on;
    if (on) {
        m_keptStateImages = m_stateImages;
        m_stateImages = selectionImages();
    } else {
        m_stateImages = m_keptStateImages;
    }
    // One repaint for the whole tree, also when a node's update throws.
    setUpdatesEnabled(false);
    const auto repaint = qScopeGuard([this] { setUpdatesEnabled(true); });
    for (TSelectableNode *n : nodesInOrder())
        n->UpdateStateIndex();
}

void TCustomSelectableTree::setStateImages(const QList<QIcon> &images)
{
    m_stateImages = images;
    viewport()->update();
}

QRect TCustomSelectableTree::stateImageRect(const QTreeWidgetItem *item) const
{
    const TSelectableNode *n = asNode(const_cast<QTreeWidgetItem *>(item));
    if (!n || n->stateIndex() <= 0)
        return {};
    return StatePictureDelegate::pictureRect(visualItemRect(n));
}

void TCustomSelectableTree::setHideSelection(bool hide)
{
    // Without focus the selection is drawn in the focused colours, or not at all.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, hide ? QPalette::Base : QPalette::Highlight));
    colours.setColor(
        QPalette::Inactive, QPalette::HighlightedText,
        colours.color(QPalette::Active, hide ? QPalette::Text : QPalette::HighlightedText));
    setPalette(colours);
}

void TCustomSelectableTree::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    setEditTriggers(readOnly
                        ? QAbstractItemView::NoEditTriggers
                        : QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    for (TSelectableNode *n : nodesInOrder())
        n->setFlags(readOnly ? n->flags() & ~Qt::ItemIsEditable : n->flags() | Qt::ItemIsEditable);
}

TSelectableNode *TCustomSelectableTree::nodeAt(const QPoint &pos) const
{
    return asNode(itemAt(pos));
}

bool TCustomSelectableTree::toggleStateAt(const QPoint &pos)
{
    TSelectableNode *n = nodeAt(pos);
    if (!n || !stateImageRect(n).contains(pos))
        return false;
    toggle(n);
    return true;
}

// A press on an empty or grey box marks the whole subtree; on a black tick
// it unmarks it.
void TCustomSelectableTree::toggle(TSelectableNode *node)
{
    SetCheckState(node, GetCheckState(node) == 2 ? 0 : 2);
}

void TCustomSelectableTree::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::RightButton || m_rightClickSelect)
        QTreeWidget::mousePressEvent(event);
    else
        event->accept();
    toggleStateAt(event->position().toPoint());
}

// Each press of a double click marks or unmarks, as two single presses
// would; a double click on the mark neither opens nor closes the node.
void TCustomSelectableTree::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (toggleStateAt(event->position().toPoint()))
        event->accept();
    else
        QTreeWidget::mouseDoubleClickEvent(event);
}

// A click on the mark of the selected node only marks: it does not start
// editing the node's text.
bool TCustomSelectableTree::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    if (trigger == QAbstractItemView::SelectedClicked && event &&
        event->type() == QEvent::MouseButtonRelease) {
        const QPoint pos = static_cast<QMouseEvent *>(event)->position().toPoint();
        if (stateImageRect(itemFromIndex(index)).contains(pos))
            return false;
    }
    return QTreeWidget::edit(index, trigger, event);
}

// Space marks from the keyboard as a press on the mark does.
void TCustomSelectableTree::keyPressEvent(QKeyEvent *event)
{
    TSelectableNode *current = asNode(currentItem());
    if (event->key() == Qt::Key_Space && current && current->stateIndex() > 0) {
        toggle(current);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void TCustomSelectableTree::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_popupMenu)
        return QTreeWidget::contextMenuEvent(event);
    QPoint at = event->globalPos();
    // From the keyboard the menu opens beside the current node.
    if (event->reason() == QContextMenuEvent::Keyboard && currentItem())
        at = viewport()->mapToGlobal(visualItemRect(currentItem()).center());
    m_popupMenu->popup(at);
    event->accept();
}

// ---- TSelectableTree ----

TSelectableTree::TSelectableTree(QWidget *parent) : TCustomSelectableTree(parent) {}

void TSelectableTree::setDefaultPopup(bool on)
{
    m_defaultPopup = on;
    if (on)
        setPopupMenu(builtInMenu());
}
