#pragma once

#include <QTreeWidget>
#include <functional>

// One group tree: a node per group, the group's key as the node's tag (0 for
// the root "Все"), children kept in the Russian locale's case-sensitive
// order. The tree only shows and reports; the owner of its events decides
// what each edit, drag and drop means for the group table.
class TGroupTree : public QTreeWidget
{
    Q_OBJECT
public:
    explicit TGroupTree(QWidget *parent = nullptr);

    static int nodeTag(const QTreeWidgetItem *node);
    static void setNodeTag(QTreeWidgetItem *node, int tag);

    // A node that sorts by the locale-aware comparison; the last child of
    // `parent`, or a top-level node when `parent` is null.
    QTreeWidgetItem *addNode(QTreeWidgetItem *parent, const QString &text, int tag);

    // Every node, depth-first in display order, root first, including the
    // nodes of collapsed branches: other windows copy trees by position.
    QList<QTreeWidgetItem *> nodesInOrder() const;

    // Children of every node in ascending text order.
    void sortAll();
    // The node placed among its siblings again, after its text changed.
    void sortAmongSiblings(QTreeWidgetItem *node);
    // Moves `node` with its subtree to be the first child of `target` and
    // opens `target`; no selection change is reported meanwhile.
    void moveNode(QTreeWidgetItem *node, QTreeWidgetItem *target);

    // The node whose text lies under `pos` (viewport coordinates); null on
    // the blank part of a row, its indentation or its expand button.
    QTreeWidgetItem *nodeLabelAt(const QPoint &pos) const;

    // The node at the top of the view, and scrolling a node to the top
    // (its collapsed ancestors are opened so that it can be shown).
    QTreeWidgetItem *topNode() const;
    void setTopNode(QTreeWidgetItem *node);

    // The cursors a drag over this tree shows. The platform draws a drag's
    // cursor from the action its target accepts, so each shape stands for
    // one: none for no-drop, a move for one node, a copy for a node with
    // subgroups (a distinct standard shape; nothing is copied).
    static constexpr Qt::CursorShape noDropCursor = Qt::ForbiddenCursor;
    static constexpr Qt::CursorShape singleDragCursor = Qt::DragMoveCursor;
    static constexpr Qt::CursorShape multiDragCursor = Qt::DragCopyCursor;
    Qt::CursorShape dragCursor() const { return m_dragCursor; }
    void setDragCursor(Qt::CursorShape cursor) { m_dragCursor = cursor; }

    // Events, filled in by the owner of the handlers. Positions are in
    // viewport coordinates; a drag over the scroll bar reports positions
    // right of the viewport.
    std::function<void()> onClick;                        // left click anywhere
    std::function<bool(QTreeWidgetItem *node)> onEditing; // false refuses the edit
    std::function<bool(QTreeWidgetItem *node, QString &text)>
        onEdited; // false keeps the old text; the handler may change the text shown
    std::function<void(QObject *source, const QPoint &pos)> onDragOver;
    std::function<void(QObject *source, const QPoint &pos)> onDragDrop;
    std::function<void()> onEndDrag;

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void commitData(QWidget *editor) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool asksBeforeEditing(EditTrigger trigger) const;
    void reportDragOver(QDragMoveEvent *event, const QPoint &pos);
    void reportDrop(QDropEvent *event, const QPoint &pos);
    QPoint fromScrollBar(const QPoint &pos) const;

    Qt::CursorShape m_dragCursor = noDropCursor;
    QTreeWidgetItem *m_editedNode = nullptr;
    bool m_committing = false;
};
