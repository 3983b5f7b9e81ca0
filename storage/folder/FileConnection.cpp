#include "FileConnection.h"

#include "EngineError.h"
#include "SqliteStatement.h"
#include "TextRules.h"

#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

FileConnection::FileConnection(const QString &path, int flags, int maxValueBytes)
    : m_context(QFileInfo(path).fileName())
{
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString cause =
            describeSqliteError(rc, m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString());
        sqlite3_close_v2(m_db);
        throw EngineError(m_context + QStringLiteral(": ") + cause);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 2000);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    if (maxValueBytes > 0) {
        sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, maxValueBytes);
        sqlite3_limit(m_db, SQLITE_LIMIT_SQL_LENGTH, maxValueBytes);
    }
    TextRules::install(m_db);
}

FileConnection::~FileConnection()
{
    sqlite3_close_v2(m_db);
}

Statement FileConnection::prepare(const QString &sql) const
{
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt *stmt = nullptr;
    const int rc = sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &stmt, nullptr);
    if (rc != SQLITE_OK)
        throwSqliteError(m_db, rc, m_context);
    return Statement(std::make_unique<SqliteStatement>(m_db, stmt, m_context));
}

void FileConnection::execute(const QString &sql) const
{
    Statement statement = prepare(sql);
    while (statement.step()) {
    }
}

QVariant FileConnection::value(const QString &sql) const
{
    Statement statement = prepare(sql);
    return statement.step() ? statement.value(0) : QVariant();
}
