#pragma once

#include "Statement.h"

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

// A statement of the folder kind: one prepared SQLite statement, finalized
// with its handle so that no read transaction outlives the work that needed it.
class SqliteStatement : public StatementImpl
{
public:
    // `context` names the table file that error messages blame.
    SqliteStatement(sqlite3 *db, sqlite3_stmt *stmt, QString context);
    ~SqliteStatement() override;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    void bind(int index, const QVariant &value) override;
    int parameterIndex(const QString &name) const override;
    int parameterCount() const override;
    QString parameterName(int index) const override;

    bool step() override;
    void reset() override;

    // Called once the write lock is held, before a statement that writes
    // runs on its own (outside a transaction); it may throw to refuse.
    void setWriteGuard(std::function<void()> guard) { m_writeGuard = std::move(guard); }

    int columnCount() override;
    QString columnName(int index) override;
    QString declaredType(int index) override;
    QVariant value(int index) const override;
    qint64 int64(int index) const override;
    bool isNull(int index) const override;

private:
    bool stepGuarded();

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    QString m_context;
    std::function<void()> m_writeGuard;
};

// The engine's error for a failed SQLite call, naming the table file involved.
[[noreturn]] void throwSqliteError(sqlite3 *db, int code, const QString &context);
QString describeSqliteError(int code, const QString &engineMessage);
// The last failure of `db` (which returned `code`) in the same words.
QString describeSqliteFailure(sqlite3 *db, int code);
