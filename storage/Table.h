#pragma once

#include "DataSet.h"

class DataSource;

// A dataset over one table file, in the order of an index, optionally
// limited to the rows of a master's current record and by a filter text.
class Table : public DataSet
{
    Q_OBJECT
public:
    explicit Table(QObject *parent = nullptr);

    QString tableName() const { return m_tableName; }
    void setTableName(const QString &fileName);

    // Order: the fields of a named index, or a list of fields ("FirmID;Name");
    // neither gives the primary order.
    void setIndexName(const QString &name);
    void setIndexFieldNames(const QString &fields);

    // The master link: the rows whose index fields equal the master fields of
    // the master's current record.
    DataSource *masterSource() const { return m_masterSource; }
    void setMasterSource(DataSource *source);
    void setMasterFields(const QString &fields);

    // Filter texts of the form "Field=number" (or "Field='text'").
    QString filter() const { return m_filter; }
    void setFilter(const QString &filter);
    bool filtered() const { return m_filtered; }
    void setFiltered(bool filtered);

    // Definitions of the table on disk, whether the dataset is open or not.
    QList<FieldDef> fieldDefs();
    QList<IndexDef> indexDefs();
    // Index upkeep on a closed table.
    void addIndex(const QString &name, const QString &fields, bool primary, bool unique,
                  bool caseInsensitive);
    void deleteIndex(const QString &name);

protected:
    Plan buildPlan() override;
    void assignLinkedFields() override;

private:
    QStringList orderFields(const TableRef &table);
    QString filterCondition(QVariantMap &parameters) const;
    QString masterCondition(const QStringList &order, QVariantMap &parameters) const;
    void requireClosed() const;

    QString m_tableName;
    QString m_indexName;
    QString m_indexFieldNames;
    DataSource *m_masterSource = nullptr;
    QString m_masterFields;
    QString m_filter;
    bool m_filtered = false;
    QStringList m_linkFields; // detail fields that follow the master
    struct Order
    {
        TableRef base;
        QStringList fields;
    } m_order; // the table and its order, read when the dataset opens
};
