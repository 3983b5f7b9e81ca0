#pragma once

#include <QVariant>

struct pg_result;

// One result of the server, cleared with its handle. Values arrive in the
// server's binary form and are read into Qt's types as the folder kind gives
// them: integers and booleans as qint64, texts as QString, blobs as
// QByteArray, dates and times as ISO text, blanks as an invalid QVariant.
class PgResult
{
public:
    PgResult() = default;
    explicit PgResult(pg_result *result) : m_result(result) {}
    PgResult(PgResult &&other) noexcept;
    PgResult &operator=(PgResult &&other) noexcept;
    PgResult(const PgResult &) = delete;
    PgResult &operator=(const PgResult &) = delete;
    ~PgResult();

    bool isNull() const { return m_result == nullptr; }
    pg_result *handle() const { return m_result; }

    int rows() const;
    int columns() const;
    QVariant value(int row, int column) const;
    qint64 int64(int row, int column) const;
    bool isBlank(int row, int column) const;

private:
    pg_result *m_result = nullptr;
};

// A row identity of the server's own kind (a tuple's place, "ctid") as one
// whole number, and back as the text the server reads.
qint64 tupleNumber(quint32 block, quint16 offset);
QString tupleText(qint64 number);
