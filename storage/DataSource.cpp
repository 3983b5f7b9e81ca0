#include "DataSource.h"

#include "DataSet.h"

DataSource::DataSource(QObject *parent) : QObject(parent) {}

void DataSource::setDataSet(DataSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    for (auto &connection : m_connections)
        disconnect(connection);
    m_dataSet = dataSet;
    if (m_dataSet)
        connectDataSet();
    emit dataSetChanged();
    emit dataSetReset();
}

void DataSource::connectDataSet()
{
    m_connections[0] = connect(m_dataSet, &DataSet::reset, this, &DataSource::dataSetReset);
    m_connections[1] = connect(m_dataSet, &DataSet::scrolled, this, &DataSource::currentMoved);
    m_connections[2] = connect(m_dataSet, &DataSet::rowChanged, this, &DataSource::rowChanged);
    m_connections[3] = connect(m_dataSet, &DataSet::fieldChanged, this, &DataSource::fieldChanged);
    m_connections[4] = connect(m_dataSet, &DataSet::stateChanged, this, &DataSource::stateChanged);
    m_connections[5] = connect(m_dataSet, &DataSet::posted, this, &DataSource::recordPosted);
    m_connections[6] = connect(m_dataSet, &QObject::destroyed, this, [this] {
        m_dataSet = nullptr;
        emit dataSetChanged();
    });
    m_connections[7] = connect(m_dataSet, &DataSet::rowsReread, this, &DataSource::dataSetChanged);
    m_connections[8] = connect(m_dataSet, &DataSet::rowMoved, this, &DataSource::rowMoved);
}
