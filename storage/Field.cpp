#include "Field.h"

#include "DataSet.h"
#include "EngineError.h"

#include <QDate>
#include <QTime>

Field::Field(DataSet *dataSet, FieldDef def) : m_dataSet(dataSet), m_def(std::move(def)) {}

void Field::setLookup(const QString &keyField, DataSet *lookupDataSet,
                      const QString &lookupKeyField, const QString &resultField)
{
    m_keyField = keyField;
    m_lookupDataSet = lookupDataSet;
    m_lookupKeyField = lookupKeyField;
    m_lookupResultField = resultField;
}

QVariant Field::value() const
{
    return m_dataSet->currentValue(this);
}

bool Field::isNull() const
{
    const QVariant v = value();
    return !v.isValid() || v.isNull();
}

QString Field::asString() const
{
    const QVariant v = value();
    if (!v.isValid() || v.isNull())
        return {};
    if (m_def.kind == FieldKind::Boolean)
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return v.toString();
}

qint64 Field::asInteger() const
{
    return value().toLongLong();
}

QByteArray Field::asBytes() const
{
    const QVariant v = value();
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
}

void Field::setValue(const QVariant &value)
{
    m_dataSet->setCurrentValue(this, value);
}

namespace {

bool isBlank(const QVariant &value)
{
    return !value.isValid() || value.isNull() ||
           (value.typeId() == QMetaType::QString && value.toString().isEmpty());
}

[[noreturn]] void notConvertible(const QVariant &value, const QString &field)
{
    throw EngineError(QStringLiteral("'") + value.toString() +
                      QStringLiteral("' не является допустимым значением поля ") + field);
}

QVariant toInteger(const QVariant &value, const QString &field, FieldKind kind)
{
    bool ok = false;
    const qint64 number = value.typeId() == QMetaType::QString
                              ? value.toString().trimmed().toLongLong(&ok)
                              : value.toLongLong(&ok);
    if (!ok)
        notConvertible(value, field);
    const qint64 limit = kind == FieldKind::SmallInt ? 32767 : 2147483647;
    if (number > limit || number < -limit - 1)
        notConvertible(value, field);
    return QVariant(number);
}

QVariant toBoolean(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        return QVariant(qint64(text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
                               text == QLatin1String("1")));
    }
    return QVariant(qint64(value.toBool()));
}

} // namespace

QVariant Field::converted(const QVariant &value) const
{
    if (isBlank(value))
        return QVariant();
    switch (m_def.kind) {
    case FieldKind::String: {
        const QString text = value.toString();
        return m_def.size > 0 && text.size() > m_def.size ? QVariant(text.left(m_def.size))
                                                          : QVariant(text);
    }
    case FieldKind::SmallInt:
    case FieldKind::Integer:
    case FieldKind::AutoInc:
        return toInteger(value, m_def.name, m_def.kind);
    case FieldKind::Boolean:
        return toBoolean(value);
    case FieldKind::Float: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok)
            notConvertible(value, m_def.name);
        return QVariant(number);
    }
    case FieldKind::Date:
        return value.typeId() == QMetaType::QDate ? QVariant(value.toDate().toString(Qt::ISODate))
                                                  : QVariant(value.toString());
    case FieldKind::Time:
        return value.typeId() == QMetaType::QTime ? QVariant(value.toTime().toString(Qt::ISODate))
                                                  : QVariant(value.toString());
    case FieldKind::Graphic:
    case FieldKind::Binary:
        return QVariant(value.typeId() == QMetaType::QByteArray ? value.toByteArray()
                                                                : value.toString().toUtf8());
    default:
        return value;
    }
}
