#pragma once

#include "DataSet.h"

class DataSource;

// A dataset over a SQL text. A SELECT over one table is read by key and, with
// `requestLive`, can be changed through the dataset; other SELECTs are read
// whole and read-only. Parameters (":FirmID") take explicit values or, when a
// data source is set, the fields of that source's current record.
class Query : public DataSet
{
    Q_OBJECT
public:
    explicit Query(QObject *parent = nullptr);

    QStringList sql() const { return m_sql; }
    // Changing the text closes the query.
    void setSql(const QStringList &lines);
    void setSqlLine(int index, const QString &line);
    void clearSql() { setSql({}); }
    void addSqlLine(const QString &line);

    bool requestLive() const { return m_requestLive; }
    void setRequestLive(bool live) { m_requestLive = live; }

    DataSource *dataSource() const { return m_dataSource; }
    void setDataSource(DataSource *source);

    void setParam(const QString &name, const QVariant &value);

    // Runs a statement that returns no rows: DELETE, UPDATE, INSERT and the
    // table-definition texts "Create Table" and "Alter Table".
    void execSql();

protected:
    Plan buildPlan() override;

private:
    QString text() const { return m_sql.join('\n'); }
    QVariantMap parameterValues() const;

    QStringList m_sql;
    bool m_requestLive = false;
    DataSource *m_dataSource = nullptr;
    QVariantMap m_params;
};
