#pragma once

#include "RecordEditor.h"

class ClassesRoot;
class DBEdit;
class DBGrid;
class FilesPanel;
class QLabel;
class QPushButton;
class QToolButton;

// The firm editor: name, other names, description, address, telephones,
// e-mail and web address of the firm `dm.tblFirms` stands on, its folders and
// attached files, and buttons for its types and its items. It has no OK and
// no Cancel: every control writes into the data module's datasets, and what is
// still pending is stored when the window closes. Its opener chooses the firm.
class TfrmEditFirm : public RecordEditor
{
    Q_OBJECT
public:
    // The file types of `classesRoot` give the attached files their icons and
    // programs.
    explicit TfrmEditFirm(QWidget *owner, const ClassesRoot &classesRoot);
    explicit TfrmEditFirm(QWidget *owner = nullptr);
    ~TfrmEditFirm() override;

    // Controls by their design names.
    DBEdit *DBEdit1, *DBEdit2, *DBEdit3, *DBEdit4, *DBEdit5, *DBEmail, *DBURL;
    // "Тип фирмы": the firm's types in the group assignment dialog.
    QToolButton *BitBtn1;
    // Writes an e-mail to the firm.
    QToolButton *cmdSend;
    // Opens the firm's web address.
    QToolButton *cmdGo;
    // The firm's folders.
    DBGrid *DBGridEh1;
    FilesPanel *files;
    QPushButton *cmdItems, *cmdClose;

    void DBEdit1Change(const QString &text);
    void cmdSendClick();
    void cmdGoClick();
    void BitBtn1Click();
    void cmdItemsClick();
    void DBGridEh1Enter();
    void DBGridEh1KeyDown(int key);
    // Stores what is pending and refreshes the lists that show firm names;
    // a failure keeps the window open.
    void FormClose() override;

private:
    QWidget *makeNameBand();
    QWidget *makeContactBlock();
    QWidget *makeFolderGrid();
    QWidget *makeLowerPart();
    DBEdit *makeEdit(const char *name, const QString &field);
    void setTabOrder();
    void openAddress(const QString &address);
};

// Opens the firm editor on the firm with the key `firmId`, wherever the
// current-firm table stands: the table is unlinked from the main list and
// filtered to that firm while the editor is open, and gets its filter and
// link back on every path. `itemsAllowed` false disables "Элементы..." (the
// editor is opened from within a firm's items already).
void editFirmByKey(QWidget *owner, int firmId, bool itemsAllowed);
