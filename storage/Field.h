#pragma once

#include "FieldDef.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

class DataSet;

// One field of a dataset. A data field shows a column of the current record;
// a lookup field shows a value of another dataset found by this record's key.
class Field
{
public:
    Field(DataSet *dataSet, FieldDef def);

    QString fieldName() const { return m_def.name; }
    FieldKind kind() const { return m_def.kind; }
    int size() const { return m_def.size; }
    const FieldDef &definition() const { return m_def; }
    DataSet *dataSet() const { return m_dataSet; }

    int displayWidth() const { return m_displayWidth; }
    void setDisplayWidth(int width) { m_displayWidth = width; }
    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }

    // The text a new record starts with in this field ("0" and the like).
    QString defaultExpression() const { return m_defaultExpression; }
    void setDefaultExpression(const QString &expression) { m_defaultExpression = expression; }

    // Lookup: this field shows `resultField` of the `lookupDataSet` row whose
    // `lookupKeyField` equals this record's `keyField`.
    void setLookup(const QString &keyField, DataSet *lookupDataSet, const QString &lookupKeyField,
                   const QString &resultField);
    bool isLookup() const { return m_lookupDataSet != nullptr; }
    QString keyFieldName() const { return m_keyField; }
    DataSet *lookupDataSet() const { return m_lookupDataSet; }
    QString lookupKeyFieldName() const { return m_lookupKeyField; }
    QString lookupResultFieldName() const { return m_lookupResultField; }

    QVariant value() const;
    bool isNull() const;
    QString asString() const;
    qint64 asInteger() const;
    QByteArray asBytes() const;

    // Stores into the record being edited; the value is converted to the
    // field's kind, a text is cut to the field's size and an empty text is blank.
    void setValue(const QVariant &value);
    void setAsString(const QString &text) { setValue(text); }
    void setAsInteger(qint64 number) { setValue(number); }
    void setBytes(const QByteArray &bytes) { setValue(bytes); }
    void clear() { setValue(QVariant()); }

    // The value as it will be stored: converted, cut, blank for empty text.
    QVariant converted(const QVariant &value) const;

private:
    friend class DataSet;
    DataSet *m_dataSet;
    FieldDef m_def;
    int m_column = -1; // position in the record; -1 for lookup fields
    int m_displayWidth = 0;
    bool m_readOnly = false;
    QString m_defaultExpression;
    QString m_keyField;
    DataSet *m_lookupDataSet = nullptr;
    QString m_lookupKeyField;
    QString m_lookupResultField;
};
