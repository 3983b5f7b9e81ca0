#pragma once

#include "DataSource.h"
#include "Query.h"

#include <QDialog>

class DBGrid;
class QLabel;
class QPushButton;

// The items the current firm makes and the items it sells, read-only; a
// double click opens an item in the item editor.
class TfrmListItem : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmListItem(QWidget *owner = nullptr);
    ~TfrmListItem() override;

    // Controls by their design names: "Производимые" and "Продаваемые".
    QLabel *Label1, *Label2;
    DBGrid *DBGrid1, *DBGrid2;
    QPushButton *Button1;
    // The firm's items by relation, with the firm's key as their parameter.
    Query qMake, qSale;
    DataSource dsMake, dsSale;

    // Opens the item of the grid's current row, then reads both lists again.
    void DBGrid1DblClick(DBGrid *grid);

private:
    void declareQuery(Query &query, DataSource &source, const QString &type);
    DBGrid *makeGrid(const char *name, DataSource *source, int nameWidth, int descriptionWidth);
};
