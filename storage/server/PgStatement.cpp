#include "PgStatement.h"

#include "EngineError.h"
#include "ServerSession.h"

#include <libpq-fe.h>

PgStatement::PgStatement(ServerSession &session, ServerSql::Translated text, QString context)
    : m_session(session), m_text(std::move(text)), m_context(std::move(context)),
      m_values(m_text.parameters.size())
{}

void PgStatement::bind(int index, const QVariant &value)
{
    if (index < 1 || index > m_values.size())
        throw EngineError(m_context + QStringLiteral(": в запросе нет параметра номер ") +
                          QString::number(index));
    m_values[index - 1] = value;
}

int PgStatement::parameterIndex(const QString &name) const
{
    return int(m_text.parameters.indexOf(name)) + 1;
}

QString PgStatement::parameterName(int index) const
{
    return m_text.parameters.value(index - 1);
}

void PgStatement::run()
{
    m_result = m_session.run(m_text.text, m_values, m_context);
    m_ran = true;
    m_row = -1;
}

void PgStatement::ensureRun()
{
    if (!m_ran)
        run();
}

bool PgStatement::step()
{
    ensureRun();
    if (m_row < m_result.rows())
        ++m_row;
    return m_row < m_result.rows();
}

void PgStatement::reset()
{
    m_result = PgResult();
    m_ran = false;
    m_row = -1;
    m_values = QVariantList(m_values.size());
}

int PgStatement::columnCount()
{
    ensureRun();
    return m_result.columns();
}

QString PgStatement::columnName(int index)
{
    ensureRun();
    const QString name = QString::fromUtf8(PQfname(m_result.handle(), index));
    const ServerSession::Column column = m_session.columnOf(PQftable(m_result.handle(), index),
                                                            PQftablecol(m_result.handle(), index));
    // A column given another name in the statement keeps that name.
    return column.name.toLower() == name ? column.name : name;
}

QString PgStatement::declaredType(int index)
{
    ensureRun();
    return m_session
        .columnOf(PQftable(m_result.handle(), index), PQftablecol(m_result.handle(), index))
        .declaredType;
}
