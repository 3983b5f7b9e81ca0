#pragma once

#include "DataSource.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>

class DataSet;
class Field;

// A column as a window declares it. A column without a field is painted by
// the window itself (an icon beside each row, for instance).
struct GridColumn
{
    QString fieldName;
    QString title;
    int width = 64;
    Qt::Alignment titleAlignment = Qt::AlignCenter;
    bool readOnly = false;
    bool visible = true;
};

// The rows of a data source's dataset as an item model. Rows are asked of the
// dataset only when a view asks for them, so a list of any length costs what
// is on screen. The vertical header carries the row indicator: the current
// record, and whether it is being edited or inserted.
class DataGridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Sets a lookup column's value by the key of the chosen lookup row.
    static constexpr int LookupKeyRole = Qt::UserRole + 1;

    explicit DataGridModel(QObject *parent = nullptr);

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    DataSet *dataSet() const;

    void setColumns(const QList<GridColumn> &columns);
    const QList<GridColumn> &columns() const { return m_columns; }
    // The dataset field shown in `column`; null for a painted column or a
    // closed dataset.
    Field *field(int column) const;

    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool isReadOnly() const { return m_readOnly; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void attach();
    void resetRows();
    void updateRow(int row);
    void placeMovedRow(int from, int to);
    void updateIndicator();
    QVariant indicator(int row) const;
    bool isEditable(int column) const;
    void storeKey(const Field *lookup, const QVariant &key);
    void reportReadFailure(const QString &message) const;

    QPointer<DataSource> m_source;
    QList<GridColumn> m_columns;
    bool m_readOnly = false;
    // The row count as last announced: the dataset may already hold one row
    // more or less while it is about to announce the change.
    int m_rowCount = 0;
    int m_indicatorRow = -1;
    QList<QMetaObject::Connection> m_connections;
    // A read failed (the catalogue's server went away) and was reported:
    // the cells stay blank without another report until a read succeeds.
    mutable bool m_readFailing = false;
};
