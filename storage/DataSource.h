#pragma once

#include <QObject>

class DataSet;

// Joins a dataset to whatever follows it: grids, edit boxes, detail datasets
// and queries whose parameters come from its current record.
class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(QObject *parent = nullptr);

    DataSet *dataSet() const { return m_dataSet; }
    void setDataSet(DataSet *dataSet);

signals:
    // The rows as a whole changed: opened, closed, re-read.
    void dataSetReset();
    // Another record became current.
    void currentMoved();
    // The row at `row` (display position) changed its values.
    void rowChanged(int row);
    // A field of the record being edited changed.
    void fieldChanged(const QString &fieldName);
    void stateChanged();
    // The dataset's current record was posted (its key may be new).
    void recordPosted();
    // Another dataset was joined, or the rows were read again where they
    // stood (another desk changed them) with the same current record:
    // grids and boxes show them anew; details have nothing to follow.
    void dataSetChanged();
    // A row another desk changed moved (DataSet::rowMoved).
    void rowMoved(int from, int to);

private:
    void connectDataSet();
    DataSet *m_dataSet = nullptr;
    QMetaObject::Connection m_connections[9];
};
