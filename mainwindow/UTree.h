#pragma once

#include "DataSource.h"

#include <QDialog>
#include <memory>

class DataSet;
class QFrame;
class QPushButton;
class TGroupTree;
class TSelectableTree;

// The group assignment dialog: a copy of a group tree of the main window with
// a mark per group. "Сохранить" turns the marks into the record's membership
// rows; "Отмена" and the close box write nothing.
class TfrmTree : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmTree(QWidget *owner);

    TSelectableTree *TreeView1 = nullptr;
    QFrame *Panel1 = nullptr;
    QPushButton *Button1 = nullptr; // "Сохранить"
    QPushButton *Button2 = nullptr; // "Отмена"

    // The context the opener sets: the membership table (limited by its master
    // link to the record's rows), the record's key field and value, and the
    // group tree whose nodes the dialog's tree copies position by position.
    DataSource dsTree;
    QString KeyFieldName;
    qint32 KeyValue = 0;
    TGroupTree *SourceTree = nullptr;

    // Copies every node of `source`, keeping texts, structure and order.
    void copyNodes(const TGroupTree &source);
    // Marks the groups the record belongs to: a leaf group becomes marked, a
    // group with subgroups shows what its leaves show.
    void markMemberships(DataSet &members, const TGroupTree &source);

    // Saves: a row for every group shown fully or partly marked, none for an
    // unmarked one; groups without a node keep their rows. An engine failure
    // leaves the rows handled so far changed and the dialog open.
    void Button1Click();

private:
    void makeButtonPanel();
    void saveMark(DataSet &members, int group, int stateIndex);
};

enum class GroupOwner
{
    Firm,
    Item
};

// Prepares the group assignment dialog on the current firm (dm->tblFirms,
// caption "Типы фирм") or the current item (dm->tblItem, caption "Типы
// элементов"), ready to be shown, owned by `editor`.
std::unique_ptr<TfrmTree> prepareGroupAssignment(QWidget *editor, GroupOwner owner);

// Prepares the group assignment dialog on the current firm (dm->tblFirms, caption "Типы фирм") or
// the current item (dm->tblItem, caption "Типы элементов"), shows it modally owned by the editor,
// and destroys it when it returns.
void showGroupAssignment(QWidget *editor, GroupOwner owner);
