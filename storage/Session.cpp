#include "Session.h"

#include "SqlText.h"
#include "folder/FolderSession.h"
#include "server/ServerSession.h"

QString TableRef::qualified() const
{
    return SqlText::quoted(schema) + '.' + SqlText::quoted(table);
}

Session::~Session() = default;

bool Session::isServerLocation(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://")) ||
           location.startsWith(QLatin1String("postgres://"));
}

std::unique_ptr<Session> Session::open(const QString &location, bool createFolder)
{
    if (isServerLocation(location))
        return std::make_unique<ServerSession>(location);
    return FolderSession::open(location, createFolder);
}

void Session::execute(const QString &sql, const QString &context)
{
    Statement statement = prepare(sql, context);
    while (statement.step()) {
    }
}

TableRef Session::tableByName(const QString &name)
{
    return tableByFile(name.contains('.') ? name : name + QStringLiteral(".DB"));
}

Session::Transaction::Transaction(Session &session) : m_session(session)
{
    m_nested = session.inTransaction();
    session.beginTransaction(m_nested);
}

Session::Transaction::~Transaction()
{
    if (!m_done)
        m_session.rollbackTransaction(m_nested);
}

void Session::Transaction::commit()
{
    m_session.commitTransaction(m_nested);
    m_done = true;
}
