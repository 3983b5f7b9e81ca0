#include "DataGridModel.h"

#include "Application.h"
#include "DataSet.h"
#include "DataSource.h"
#include "EngineError.h"
#include "Field.h"

#include <QTimer>

DataGridModel::DataGridModel(QObject *parent) : QAbstractTableModel(parent) {}

void DataGridModel::setDataSource(DataSource *source)
{
    for (const auto &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_source = source;
    if (m_source)
        attach();
    resetRows();
}

void DataGridModel::attach()
{
    m_connections << connect(m_source, &DataSource::dataSetReset, this, &DataGridModel::resetRows)
                  << connect(m_source, &DataSource::dataSetChanged, this, &DataGridModel::resetRows)
                  << connect(m_source, &DataSource::rowChanged, this, &DataGridModel::updateRow)
                  << connect(m_source, &DataSource::rowMoved, this, &DataGridModel::placeMovedRow)
                  << connect(m_source, &DataSource::currentMoved, this,
                             &DataGridModel::updateIndicator)
                  << connect(m_source, &DataSource::stateChanged, this,
                             &DataGridModel::updateIndicator)
                  << connect(m_source, &QObject::destroyed, this, [this] { resetRows(); });
}

DataSet *DataGridModel::dataSet() const
{
    return m_source ? m_source->dataSet() : nullptr;
}

void DataGridModel::setColumns(const QList<GridColumn> &columns)
{
    beginResetModel();
    m_columns = columns;
    endResetModel();
}

Field *DataGridModel::field(int column) const
{
    DataSet *data = dataSet();
    if (!data || column < 0 || column >= m_columns.size() || m_columns[column].fieldName.isEmpty())
        return nullptr;
    return data->findField(m_columns[column].fieldName);
}

void DataGridModel::resetRows()
{
    beginResetModel();
    DataSet *data = dataSet();
    m_rowCount = data ? data->displayRowCount() : 0;
    m_indicatorRow = data ? data->recNo() : -1;
    endResetModel();
}

void DataGridModel::updateRow(int row)
{
    if (row >= 0 && row < m_rowCount && !m_columns.isEmpty())
        emit dataChanged(index(row, 0), index(row, int(m_columns.size()) - 1));
}

// A row another desk changed came, went or moved: the view keeps its
// selection and scroll position on the rows it shows, as with any model.
void DataGridModel::placeMovedRow(int from, int to)
{
    if (from < 0) {
        beginInsertRows({}, to, to);
        ++m_rowCount;
        endInsertRows();
    } else if (to < 0) {
        beginRemoveRows({}, from, from);
        --m_rowCount;
        endRemoveRows();
    } else if (from != to) {
        // Qt names the place by the row it goes before, counted before the move.
        beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
        endMoveRows();
    }
    updateIndicator();
}

void DataGridModel::updateIndicator()
{
    DataSet *data = dataSet();
    const int current = data ? data->recNo() : -1;
    for (const int row : {m_indicatorRow, current}) {
        if (row >= 0 && row < m_rowCount)
            emit headerDataChanged(Qt::Vertical, row, row);
    }
    m_indicatorRow = current;
}

int DataGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int DataGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant DataGridModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const Field *shown = field(index.column());
    if (!shown || index.row() >= m_rowCount)
        return {};
    // Asked while the view paints: a failure is told once, after the paint.
    try {
        QVariant value = dataSet()->displayValue(index.row(), shown);
        m_readFailing = false;
        return value;
    } catch (const EngineError &e) {
        reportReadFailure(e.message());
        return {};
    }
}

void DataGridModel::reportReadFailure(const QString &message) const
{
    if (m_readFailing)
        return;
    m_readFailing = true;
    QTimer::singleShot(0, this, [message] { Application::showError(message); });
}

bool DataGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    Field *edited = field(index.column());
    if (!edited || !(flags(index) & Qt::ItemIsEditable) || index.row() != dataSet()->recNo())
        return false;
    if (role == LookupKeyRole && edited->isLookup()) {
        storeKey(edited, value);
        return true;
    }
    if (role != Qt::EditRole)
        return false;
    // An editor closed without a change leaves the record as it was, so that
    // a new row nobody typed into is still dropped when the grid is left.
    const QVariant stored = edited->isLookup() ? value : edited->converted(value);
    if (stored.toString() == data(index, Qt::EditRole).toString())
        return true;
    dataSet()->edit();
    edited->setValue(value);
    return true;
}

void DataGridModel::storeKey(const Field *lookup, const QVariant &key)
{
    Field *keyField = dataSet()->fieldByName(lookup->keyFieldName());
    if (keyField->value() == key && !key.isNull())
        return;
    dataSet()->edit();
    keyField->setValue(key);
}

bool DataGridModel::isEditable(int column) const
{
    const Field *edited = field(column);
    return !m_readOnly && edited && !m_columns[column].readOnly && !edited->isReadOnly() &&
           dataSet()->canModify();
}

Qt::ItemFlags DataGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (isEditable(index.column()))
        result |= Qt::ItemIsEditable;
    return result;
}

QVariant DataGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole ? indicator(section) : QVariant();
    if (section < 0 || section >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns[section].title;
    if (role == Qt::TextAlignmentRole)
        return int(m_columns[section].titleAlignment | Qt::AlignVCenter);
    return {};
}

QVariant DataGridModel::indicator(int row) const
{
    const DataSet *data = dataSet();
    if (!data || row != data->recNo())
        return QString();
    switch (data->state()) {
    case DataSetState::Insert:
        return QStringLiteral("*");
    case DataSetState::Edit:
        return QStringLiteral("I");
    default:
        return QStringLiteral("\u25B6");
    }
}
