#include "Session.h"

#include "CatalogueLocation.h"
#include "EngineError.h"
#include "SqlText.h"
#include "folder/FolderSession.h"
#include "server/ServerSession.h"

QString TableRef::qualified() const
{
    return SqlText::quoted(schema) + '.' + SqlText::quoted(table);
}

Session::~Session() = default;

std::unique_ptr<Session> Session::open(const QString &location, bool createFolder)
{
    if (CatalogueLocation::isServer(location))
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

bool Session::hasIndex(const QString &fileName, const QString &indexName)
{
    const QList<IndexDef> all = indexes(tableByFile(fileName));
    return std::any_of(all.cbegin(), all.cend(), [&](const IndexDef &index) {
        return !index.primary && index.name.compare(indexName, Qt::CaseInsensitive) == 0;
    });
}

void Session::requireWritable() const
{
    if (isReadOnly())
        throw EngineError(m_readOnlyReason);
}

Session::Transaction::Transaction(Session &session) : m_session(session)
{
    m_nested = session.inTransaction();
    if (!m_nested)
        session.requireWritable();
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
