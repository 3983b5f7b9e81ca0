#include "SqliteStatement.h"

#include "EngineError.h"

#include <QByteArray>
#include <cerrno>
#include <sqlite3.h>

namespace {

// A refused value is named for what refused it: a key used already is not a
// rule of the table, and neither is a trigger.
QString constraintCause(int code)
{
    switch (code) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_ROWID:
        return QStringLiteral("такой ключ уже есть в таблице");
    case SQLITE_CONSTRAINT_NOTNULL:
        return QStringLiteral("поле не может быть пустым по правилу таблицы");
    case SQLITE_CONSTRAINT_TRIGGER:
        return QStringLiteral("изменение отклонено триггером таблицы");
    case SQLITE_CONSTRAINT_FOREIGNKEY:
        return QStringLiteral("значение не найдено в связанной таблице");
    default:
        return QStringLiteral("значение отклонено правилом таблицы");
    }
}

// Plain words for the failures a user can do something about; the engine's
// own text follows in brackets for whoever has to dig deeper.
QString plainCause(int code)
{
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("таблица занята другой программой");
    case SQLITE_NOTADB:
        return QStringLiteral("файл не является таблицей базы данных");
    case SQLITE_CORRUPT:
        return QStringLiteral("файл таблицы повреждён");
    case SQLITE_CANTOPEN:
        return QStringLiteral("не удаётся открыть файл таблицы");
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return QStringLiteral("нет права записи в файл таблицы");
    case SQLITE_FULL:
        return QStringLiteral("диск переполнен");
    case SQLITE_IOERR:
        return QStringLiteral("ошибка чтения или записи файла таблицы");
    case SQLITE_CONSTRAINT:
        return constraintCause(code);
    default:
        return {};
    }
}

} // namespace

QString describeSqliteError(int code, const QString &engineMessage)
{
    const QString plain = plainCause(code);
    return plain.isEmpty() ? engineMessage : plain + QStringLiteral(" (") + engineMessage + ')';
}

QString describeSqliteFailure(sqlite3 *db, int code)
{
    // A full disk met while writing a journal or a write-ahead log comes back
    // as a bare I/O error; the system's own reason tells it apart.
    if ((code & 0xFF) == SQLITE_IOERR && sqlite3_system_errno(db) == ENOSPC)
        code = SQLITE_FULL;
    return describeSqliteError(code, QString::fromUtf8(sqlite3_errmsg(db)));
}

void throwSqliteError(sqlite3 *db, int code, const QString &context)
{
    const QString cause = describeSqliteFailure(db, code);
    if (context.isEmpty())
        throw EngineError(cause);
    throw EngineError(context + QStringLiteral(": ") + cause);
}

SqliteStatement::SqliteStatement(sqlite3 *db, sqlite3_stmt *stmt, QString context)
    : m_db(db), m_stmt(stmt), m_context(std::move(context))
{}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

void SqliteStatement::bind(int index, const QVariant &value)
{
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UInt:
        case QMetaType::Bool:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(m_stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                     SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(m_stmt, index, text.constData(), sqlite3_uint64(text.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        }
    }
    if (rc != SQLITE_OK)
        throwSqliteError(m_db, rc, m_context);
}

int SqliteStatement::parameterIndex(const QString &name) const
{
    const QByteArray key = ':' + name.toUtf8();
    return sqlite3_bind_parameter_index(m_stmt, key.constData());
}

int SqliteStatement::parameterCount() const
{
    return sqlite3_bind_parameter_count(m_stmt);
}

QString SqliteStatement::parameterName(int index) const
{
    const char *name = sqlite3_bind_parameter_name(m_stmt, index);
    return name ? QString::fromUtf8(name + 1) : QString();
}

bool SqliteStatement::step()
{
    if (m_writeGuard && sqlite3_get_autocommit(m_db) && !sqlite3_stmt_busy(m_stmt) &&
        sqlite3_column_count(m_stmt) == 0)
        return stepGuarded();
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    throwSqliteError(m_db, rc, m_context);
}

// A write of its own, in a transaction of its own: the guard runs with the
// write lock held, so nothing can change under it before the write is done.
bool SqliteStatement::stepGuarded()
{
    int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throwSqliteError(m_db, rc, m_context);
    try {
        m_writeGuard();
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        // The cause is read before the rollback can replace it.
        const QString cause = describeSqliteFailure(m_db, rc);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw EngineError(m_context.isEmpty() ? cause : m_context + QStringLiteral(": ") + cause);
    }
    return false;
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int SqliteStatement::columnCount()
{
    return sqlite3_column_count(m_stmt);
}

QString SqliteStatement::columnName(int index)
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, index));
}

QString SqliteStatement::declaredType(int index)
{
    const char *type = sqlite3_column_decltype(m_stmt, index);
    return type ? QString::fromUtf8(type) : QString();
}

QVariant SqliteStatement::value(int index) const
{
    switch (sqlite3_column_type(m_stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(sqlite3_column_int64(m_stmt, index));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, index));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, index)),
                              sqlite3_column_bytes(m_stmt, index)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, index)),
                                   sqlite3_column_bytes(m_stmt, index)));
    default:
        return QVariant();
    }
}

qint64 SqliteStatement::int64(int index) const
{
    return sqlite3_column_int64(m_stmt, index);
}

bool SqliteStatement::isNull(int index) const
{
    return sqlite3_column_type(m_stmt, index) == SQLITE_NULL;
}
