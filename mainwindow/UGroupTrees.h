#pragma once

#include "GroupTree.h"
#include "TabContext.h"

#include <QHash>
#include <QObject>
#include <QSet>

class DataSet;
class QAction;
class QMenu;
class QTimer;
class Table;

// The handlers the two group trees of the main window share: loading,
// selection (the group condition of the page's list), adding, deleting,
// renaming and moving groups, and the scrolling during a drag. Each handler
// works on the tree and tables of the active page, as the tab context names
// them, whichever tree fired.
class TGroupTrees : public QObject
{
    Q_OBJECT
public:
    TGroupTrees(QWidget *owner, TabContext &context, TGroupTree *firmTree, TGroupTree *itemTree);

    // Rebuilds `tree` from `table` level by level under the root "Все", opens
    // the root, leaves the table unfiltered and selects the root.
    void LoadGroupTree(TGroupTree *tree, Table *table);
    // Groups another desk added, renamed, moved or deleted: the tree is made
    // again with the same nodes open and the same one selected, so that the
    // list stays as it is; only when that group is gone does the root take
    // its place.
    void followOtherDesk(TGroupTree *tree, Table *table);

    QMenu *PopupMenu1;
    QAction *N1, *N2, *N3, *N4;
    QTimer *TimerScrollUp, *TimerScrollDown;

    // Selection: the node's group becomes the condition of the page's list.
    void TreeGrpItemChange(QTreeWidgetItem *node);
    // A click applies the selected node again.
    void TreeGrpClick();
    // Whether an in-place edit of `node` may start (never on the root).
    bool TreeGrpEditing(QTreeWidgetItem *node);
    // Stores the accepted text of `node` and returns the text as stored, which
    // the tree shows only after this returns.
    QString TreeGrpEdited(QTreeWidgetItem *node, const QString &text);
    // Positions in viewport coordinates of the current tree.
    void TreeGrpDragOver(QObject *source, int x, int y);
    void TreeGrpDragDrop(QObject *source, int x, int y);
    void TreeGrpEndDrag();
    void N1Click(); // add at this level
    void N2Click(); // add a subordinate
    void N4Click(); // delete the node
    void TimerScrollUpTimer();
    void TimerScrollDownTimer();

private:
    void createMenu();
    void createTimers();
    void wire(TGroupTree *tree);
    struct GroupRow
    {
        int tag;
        QString name;
    };
    static QHash<int, QList<GroupRow>> groupsByParent(Table &table);
    static void addGroupLevel(TGroupTree *tree, const QHash<int, QList<GroupRow>> &children,
                              QTreeWidgetItem *node, QSet<int> &shown);
    void applyGroup(int tag);
    void addGroup(QTreeWidgetItem *parent);
    QTreeWidgetItem *selectedNode() const;
    DataSet &groupTable() const;
    QTreeWidgetItem *dropTarget(QObject *source, const QPoint &pos) const;
    void scrollWhileOverScrollBar(TGroupTree *tree, const QPoint &pos);
    void scrollTopBy(int step);

    QWidget *m_owner;
    TabContext &m_context;
};
