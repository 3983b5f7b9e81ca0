#pragma once

#include "DataSource.h"

#include <QLineEdit>
#include <QPointer>

class DataSet;
class Field;

// An edit box bound to one field of a data source's current record. It shows
// the field's value as the record changes; typing puts the dataset into edit
// and stores the text in the field at once. Esc undoes this box's own change
// since it got the focus; what was typed into the other boxes stays.
class DBEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit DBEdit(QWidget *parent = nullptr);

    void setDataSource(DataSource *source);
    DataSource *dataSource() const { return m_source; }
    void setFieldName(const QString &name);
    QString fieldName() const { return m_fieldName; }
    // The bound field; null while the dataset is closed or has no such field.
    Field *field() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    DataSet *dataSet() const;
    void showValue();
    void followRecord();
    void followRow(int row);
    void rememberEntryValue();
    void undoOwnChange();
    void fieldChanged(const QString &name);
    void storeText(const QString &text);

    QPointer<DataSource> m_source;
    QString m_fieldName;
    QList<QMetaObject::Connection> m_connections;
    bool m_storing = false;
    // The field's value when the box got the focus, or when the record was
    // last shown unchanged: Esc goes back to it.
    QVariant m_valueOnEntry;
};
