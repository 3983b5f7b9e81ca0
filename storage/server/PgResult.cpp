#include "PgResult.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QtEndian>
#include <cmath>
#include <libpq-fe.h>

namespace {

// Type numbers of the server's built-in types (pg_type.oid).
enum TypeOid : Oid
{
    BoolOid = 16,
    ByteaOid = 17,
    CharOid = 18,
    NameOid = 19,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    TextOid = 25,
    OidOid = 26,
    TidOid = 27,
    Float4Oid = 700,
    Float8Oid = 701,
    BpcharOid = 1042,
    VarcharOid = 1043,
    DateOid = 1082,
    TimeOid = 1083,
    TimestampOid = 1114,
    NumericOid = 1700,
};

template <typename T> T bigEndian(const char *bytes)
{
    return qFromBigEndian<T>(reinterpret_cast<const uchar *>(bytes));
}

// The binary form of numeric: digit groups of four decimal digits.
QVariant numeric(const char *bytes, int length)
{
    if (length < 8)
        return {};
    const int groups = bigEndian<qint16>(bytes);
    const int weight = bigEndian<qint16>(bytes + 2);
    const quint16 sign = bigEndian<quint16>(bytes + 4);
    const int scale = bigEndian<qint16>(bytes + 6);
    if (sign == 0xC000 || length < 8 + 2 * groups)
        return {}; // not a number
    double value = 0;
    for (int i = 0; i < groups; ++i)
        value += bigEndian<qint16>(bytes + 8 + 2 * i) * std::pow(10000.0, weight - i);
    if (sign == 0x4000)
        value = -value;
    if (scale == 0 && std::abs(value) < 9.0e15)
        return QVariant(qint64(std::llround(value)));
    return QVariant(value);
}

QVariant decode(Oid type, const char *bytes, int length)
{
    switch (type) {
    case BoolOid:
        return QVariant(qint64(bytes[0] != 0));
    case Int2Oid:
        return QVariant(qint64(bigEndian<qint16>(bytes)));
    case Int4Oid:
        return QVariant(qint64(bigEndian<qint32>(bytes)));
    case OidOid:
        return QVariant(qint64(bigEndian<quint32>(bytes)));
    case Int8Oid:
        return QVariant(bigEndian<qint64>(bytes));
    case TidOid:
        return QVariant(tupleNumber(bigEndian<quint32>(bytes), bigEndian<quint16>(bytes + 4)));
    case Float4Oid:
        return QVariant(double(qFromBigEndian<float>(reinterpret_cast<const uchar *>(bytes))));
    case Float8Oid:
        return QVariant(qFromBigEndian<double>(reinterpret_cast<const uchar *>(bytes)));
    case NumericOid:
        return numeric(bytes, length);
    case ByteaOid:
        return QVariant(QByteArray(bytes, length));
    case DateOid:
        return QVariant(QDate(2000, 1, 1).addDays(bigEndian<qint32>(bytes)).toString(Qt::ISODate));
    case TimeOid:
        return QVariant(QTime::fromMSecsSinceStartOfDay(int(bigEndian<qint64>(bytes) / 1000))
                            .toString(Qt::ISODate));
    case TimestampOid: {
        const qint64 micro = bigEndian<qint64>(bytes);
        const QDateTime epoch(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
        return QVariant(epoch.addMSecs(micro / 1000).toString(Qt::ISODate));
    }
    default:
        // Texts of every kind (text, varchar, char, name, json, ...) come as UTF-8.
        return QVariant(QString::fromUtf8(bytes, length));
    }
}

} // namespace

qint64 tupleNumber(quint32 block, quint16 offset)
{
    return (qint64(block) << 16) | offset;
}

QString tupleText(qint64 number)
{
    return QStringLiteral("(%1,%2)").arg(number >> 16).arg(number & 0xFFFF);
}

PgResult::PgResult(PgResult &&other) noexcept : m_result(std::exchange(other.m_result, nullptr)) {}

PgResult &PgResult::operator=(PgResult &&other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

PgResult::~PgResult()
{
    PQclear(m_result);
}

int PgResult::rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

int PgResult::columns() const
{
    return m_result ? PQnfields(m_result) : 0;
}

bool PgResult::isBlank(int row, int column) const
{
    return PQgetisnull(m_result, row, column) != 0;
}

QVariant PgResult::value(int row, int column) const
{
    if (isBlank(row, column))
        return {};
    return decode(PQftype(m_result, column), PQgetvalue(m_result, row, column),
                  PQgetlength(m_result, row, column));
}

qint64 PgResult::int64(int row, int column) const
{
    return value(row, column).toLongLong();
}
