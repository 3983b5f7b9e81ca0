#pragma once

#include <QIcon>
#include <QTreeWidget>
#include <functional>

class QMenu;
class QAction;
class TCustomSelectableTree;

// A tree node with a three-state mark: 0 unmarked, 1 partly marked, 2 marked.
// The mark is shown as the node's state picture, whose index is the mark + 1
// while the tree is in multi-select mode and -1 (no picture) otherwise.
class TSelectableNode : public QTreeWidgetItem
{
public:
    static constexpr int Type = QTreeWidgetItem::UserType + 1;

    explicit TSelectableNode(const QString &text);

    quint8 CheckState() const { return m_checkState; }
    // Stores the mark as it is, without the tree's rules, and updates the picture.
    void assignCheckState(quint8 state);

    // The index of the state picture: -1 or 0 for none, 1 to 3 for the marks.
    int stateIndex() const;
    void setStateIndex(int index);
    virtual void UpdateStateIndex();

    TCustomSelectableTree *selectableTree() const;
    TSelectableNode *parentNode() const;
    TSelectableNode *childNode(int i) const;

    // The platform's check state follows the mark, so that screen readers
    // announce it; a check state set from outside goes through the tree's rules.
    void setData(int column, int role, const QVariant &value) override;

private:
    quint8 m_checkState = 0;
    bool m_mirroring = false;
};

// A tree view whose nodes carry marks, with the rule that a node with
// children is marked exactly as far as its leaves are. A press on a node's
// state picture (or Space on the current node) marks or unmarks its subtree.
class TCustomSelectableTree : public QTreeWidget
{
    Q_OBJECT
public:
    using TChangeSelectionEvent = std::function<void(TSelectableNode *Sender)>;

    explicit TCustomSelectableTree(QWidget *parent = nullptr);
    ~TCustomSelectableTree() override;

    // The only way nodes enter the tree: the last child of `parent`, or a
    // top-level node when `parent` is null.
    TSelectableNode *addNode(TSelectableNode *parent, const QString &text);
    TSelectableNode *node(int topLevelIndex) const;
    // Every node, depth-first in display order, collapsed branches included.
    QList<TSelectableNode *> nodesInOrder() const;

    // The mark the node stands for: a leaf is never partly marked.
    quint8 GetCheckState(const TSelectableNode *node) const;
    void SetCheckState(TSelectableNode *node, quint8 state);
    void SelectAll();
    void UnSelectAll();
    void InvertSelection();

    bool MultiSelect() const { return m_multiSelect; }
    void setMultiSelect(bool on);

    // The pictures behind the state indexes (index 0 is never drawn).
    QList<QIcon> stateImages() const { return m_stateImages; }
    void setStateImages(const QList<QIcon> &images);
    // Where the node's state picture is drawn, in viewport coordinates; empty
    // when the node shows none.
    QRect stateImageRect(const QTreeWidgetItem *node) const;

    // The menu a right click or the menu key opens; none by default.
    QMenu *popupMenu() const { return m_popupMenu; }
    void setPopupMenu(QMenu *menu) { m_popupMenu = menu; }
    // Whether a right click selects the node under the pointer.
    bool rightClickSelect() const { return m_rightClickSelect; }
    void setRightClickSelect(bool on) { m_rightClickSelect = on; }
    // Whether the selection is hidden while the tree has no focus.
    void setHideSelection(bool hide);
    // Whether node texts may be edited in place (F2 or a click on the selected node).
    void setReadOnly(bool readOnly);

    TChangeSelectionEvent OnChangeSelection;

    // The built-in menu, owned by the control.
    QMenu *builtInMenu() const { return m_menu; }
    QAction *SelectAllMenuItem = nullptr;
    QAction *UnSelectAllMenuItem = nullptr;
    QAction *InvertSelectionMenuItem = nullptr;
    // Enables the built-in menu's items for the marks of the top-level nodes.
    void UpdateMenuItems();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void createBuiltInMenu();
    void UpdateParentState(TSelectableNode *parent);
    bool toggleStateAt(const QPoint &pos);
    void toggle(TSelectableNode *node);
    TSelectableNode *nodeAt(const QPoint &pos) const;

    QList<QIcon> m_stateImages;
    QList<QIcon> m_keptStateImages; // the host's, while the marks are shown
    QMenu *m_menu = nullptr;
    QMenu *m_popupMenu = nullptr;
    bool m_multiSelect = false;
    bool m_rightClickSelect = false;
    bool m_readOnly = false;
};

// The check-mark tree as a form places it, with the switch that makes the
// built-in menu its context menu.
class TSelectableTree : public TCustomSelectableTree
{
    Q_OBJECT
public:
    explicit TSelectableTree(QWidget *parent = nullptr);

    bool DefaultPopup() const { return m_defaultPopup; }
    // On: the built-in menu becomes the context menu. Off never takes it away.
    void setDefaultPopup(bool on);

private:
    bool m_defaultPopup = false;
};
