#pragma once

#include <QString>
#include <QVariant>
#include <functional>

struct sqlite3;
struct sqlite3_stmt;

// One prepared SQLite statement, finalized when it goes out of scope so that
// no read transaction outlives the work that needed it.
class Statement
{
public:
    // `context` names the table file that error messages blame.
    Statement(sqlite3 *db, sqlite3_stmt *stmt, QString context);
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    ~Statement();

    void bind(int index, const QVariant &value); // 1-based, as SQLite counts
    void bindNamed(const QString &name, const QVariant &value);
    int parameterCount() const;
    QString parameterName(int index) const; // without the leading ':'

    bool step(); // true while a row is there; throws when the engine fails
    void reset();

    // Called once the write lock is held, before a statement that writes
    // runs on its own (outside a transaction); it may throw to refuse.
    void setWriteGuard(std::function<void()> guard) { m_writeGuard = std::move(guard); }

    int columnCount() const;
    QString columnName(int index) const;
    QString declaredType(int index) const;
    QVariant value(int index) const;
    qint64 int64(int index) const;
    bool isNull(int index) const;

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
