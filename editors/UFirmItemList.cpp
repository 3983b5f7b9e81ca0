#include "UFirmItemList.h"

#include "Application.h"
#include "DBGrid.h"
#include "EditorParts.h"
#include "UData.h"
#include "UItem.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

TfrmListItem::TfrmListItem(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmListItem"));
    setWindowTitle(QStringLiteral("Список элементов"));
    declareQuery(qMake, dsMake, QStringLiteral("m"));
    declareQuery(qSale, dsSale, QStringLiteral("s"));

    DBGrid1 = makeGrid("DBGrid1", &dsMake, 166, 167);
    DBGrid2 = makeGrid("DBGrid2", &dsSale, 171, 159);
    Label1 = EditorParts::buddyLabel(this, QStringLiteral("Производимые"), DBGrid1);
    Label2 = EditorParts::buddyLabel(this, QStringLiteral("Продаваемые"), DBGrid2);
    Button1 = new QPushButton(QStringLiteral("Закрыть"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &QDialog::close);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 4, 6, 6);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(DBGrid1, 1, 0);
    grid->addWidget(Button1, 1, 1, Qt::AlignTop);
    grid->addWidget(Label2, 2, 0);
    grid->addWidget(DBGrid2, 3, 0);
    EditorParts::setUpWindow(this, 472, 283);
    setFixedSize(size());
    Application::guarded([this] {
        qMake.open();
        qSale.open();
    });
}

TfrmListItem::~TfrmListItem() = default;

void TfrmListItem::declareQuery(Query &query, DataSource &source, const QString &type)
{
    query.setSession(dm->Main_sess());
    query.setSql({QStringLiteral("SELECT Items.Name, Items.Description, Items.ItemID"),
                  QStringLiteral("FROM Crfirms, Items"),
                  QStringLiteral("WHERE  Crfirms.Type = '%1' ").arg(type),
                  QStringLiteral("And  Crfirms.ItemID = Items.ItemID"),
                  QStringLiteral("And Crfirms.FirmID=:FirmID")});
    query.setDataSource(&dm->dsFirms);
    source.setDataSet(&query);
}

DBGrid *TfrmListItem::makeGrid(const char *name, DataSource *source, int nameWidth,
                               int descriptionWidth)
{
    auto *grid = new DBGrid(this);
    grid->setObjectName(QString::fromLatin1(name));
    grid->setDataSource(source);
    grid->setColumns(
        {{QStringLiteral("Name"), QStringLiteral("Название"), nameWidth},
         {QStringLiteral("Description"), QStringLiteral("Описание"), descriptionWidth}});
    grid->setReadOnly(true);
    connect(grid, &DBGrid::dblClicked, this, [this, grid] { DBGrid1DblClick(grid); });
    return grid;
}

void TfrmListItem::DBGrid1DblClick(DBGrid *grid)
{
    DataSet &rows = *grid->dataSet();
    if (rows.isEmpty())
        return;
    editItemByKey(this, int(rows.fieldByName(QStringLiteral("ItemID"))->asInteger()));
    for (Query *list : {&qMake, &qSale}) {
        list->close();
        list->open();
    }
}
