#pragma once

#include "RecordEditor.h"

class ClassesRoot;
class DBEdit;
class DBGrid;
class DataSet;
class FilesPanel;
class QPushButton;
class QToolButton;

// The item editor: name, synonyms and description of the item `dm.tblItem`
// stands on, the firms that make and sell it, its folders and attached files,
// and a button for its types. Like the firm editor it has no OK and no Cancel;
// its opener chooses the item. From a maker or seller row it opens the firm.
class TfrmEditItem : public RecordEditor
{
    Q_OBJECT
public:
    explicit TfrmEditItem(QWidget *owner, const ClassesRoot &classesRoot);
    explicit TfrmEditItem(QWidget *owner = nullptr);
    ~TfrmEditItem() override;

    // Controls by their design names.
    DBEdit *DBEdit1, *DBEdit2, *DBEdit3;
    // "Тип элемента": the item's types in the group assignment dialog.
    QToolButton *BitBtn1;
    // The makers, with the button that opens the current maker's firm.
    DBGrid *DBGridEh1;
    QToolButton *bFMaketOpen;
    // The sellers, with the button that opens the current seller's firm.
    DBGrid *DBGridEh2;
    QToolButton *bFSalerOpen;
    // The item's folders.
    DBGrid *DBGridEh3;
    FilesPanel *files;
    QPushButton *cmdClose;

    void DBEdit1Change(const QString &text);
    void BitBtn1Click();
    // Entering the maker or the seller grid: there must be firms to choose.
    void DBGridEh1Enter(DBGrid *grid);
    void DBGridEh3Enter();
    // Enter in any of the three grids posts that grid's rows only.
    void DBGridEh1KeyDown(DBGrid *grid, int key);
    void DBGridEh1Exit(DBGrid *grid);
    void bFMaketOpenClick();
    void bFSalerOpenClick();
    void FormClose() override;

private:
    QWidget *makeNameBand();
    QWidget *makeRelationGrids();
    QWidget *makeFirmGrid(DBGrid *&grid, QToolButton *&open, const char *gridName,
                          const char *buttonName, const QString &title, int width);
    QWidget *makeLowerPart();
    void setTabOrder();
    void bindGridKeys(DBGrid *grid);
    void openFirmOf(DBGrid *grid);
};

// Opens the item editor on the item with the key `itemId`, wherever the
// current-item table stands, restoring its filter and link afterwards.
void editItemByKey(QWidget *owner, int itemId);
