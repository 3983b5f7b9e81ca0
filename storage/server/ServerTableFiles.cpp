#include "EngineError.h"
#include "FolderSession.h"
#include "ServerSession.h"
#include "ServerText.h"
#include "TableTransfer.h"

// What a server catalogue does with its tables as wholes: tells whether its
// database has any, removes one, and writes them as table files for a backup.

using namespace ServerText;

bool ServerSession::holdsTables()
{
    const PgResult found = run(
        QStringLiteral("SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
                       "ON n.oid = c.relnamespace WHERE n.nspname = $1 AND c.relkind IN ('r', 'p') "
                       "AND c.relname <> $2"),
        {schema, QLatin1String(rowMovesName)});
    return found.int64(0, 0) > 0;
}

void ServerSession::dropTable(const QString &fileName)
{
    requireWritable();
    run(QStringLiteral("DROP TABLE IF EXISTS ") + tableName(fileName), {}, fileName);
    forgetStructure();
}

// Every table is read in one transaction that sees the database as it stood
// when it began, whatever other desks save meanwhile.
void ServerSession::writeTableFiles(const QStringList &tables, const QString &folder,
                                    const std::function<void(double)> &progress)
{
    run(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"));
    try {
        FolderSession files(folder);
        for (int i = 0; i < tables.size(); ++i) {
            if (!hasTable(tables[i]))
                throw EngineError(tables[i] + QStringLiteral(": таблица не найдена в каталоге"));
            TableTransfer::copyTable(*this, files, tables[i], [this] {
                if (m_keepAlive)
                    m_keepAlive();
            });
            if (progress)
                progress(double(i + 1) / tables.size());
        }
        run(QStringLiteral("COMMIT"));
    } catch (...) {
        rollbackTransaction(false);
        throw;
    }
}
