#pragma once

#include "PgResult.h"
#include "ServerSql.h"
#include "Statement.h"

class ServerSession;

// A statement of the server kind. The text is translated once; the server
// sees it when the statement runs (at its first step, or when its columns are
// asked for), with the values bound so far, and the whole result is kept
// until the statement is reset or given up.
class PgStatement : public StatementImpl
{
public:
    PgStatement(ServerSession &session, ServerSql::Translated text, QString context);

    void bind(int index, const QVariant &value) override;
    int parameterIndex(const QString &name) const override;
    int parameterCount() const override { return int(m_text.parameters.size()); }
    QString parameterName(int index) const override;

    bool step() override;
    void reset() override;

    int columnCount() override;
    QString columnName(int index) override;
    QString declaredType(int index) override;
    QVariant value(int index) const override { return m_result.value(m_row, index); }
    qint64 int64(int index) const override { return m_result.int64(m_row, index); }
    bool isNull(int index) const override { return m_result.isBlank(m_row, index); }

private:
    void run();
    void ensureRun();

    ServerSession &m_session;
    ServerSql::Translated m_text;
    QString m_context;
    QVariantList m_values;
    PgResult m_result;
    bool m_ran = false;
    int m_row = -1;
};
