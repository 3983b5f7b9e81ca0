#include "FolderStructureChange.h"

#include "EngineError.h"
#include "Field.h"
#include "SqlText.h"
#include "TableFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace FolderStructureChange {
namespace {

const QString tempPrefix = QStringLiteral("TmpBase");
// Lives in the connection's temporary database, never in a table file.
const QString probeTable = QStringLiteral("temp.\"KeptValuesProbe\"");

// A name for the row's own number that no field of the table hides.
QString rowIdAlias(const QList<FieldDef> &fields, const QString &fileName)
{
    for (const char *alias : {"rowid", "_rowid_", "oid"}) {
        if (!fieldNamed(fields, QLatin1String(alias)))
            return QLatin1String(alias);
    }
    throw EngineError(fileName +
                      QStringLiteral(": поля rowid, _rowid_ и oid закрывают номер строки, "
                                     "изменить структуру таблицы нельзя"));
}

// A consistent copy of the table file, made by the engine rather than by
// copying bytes, so that no half-written page or journal is copied along.
void copyTableFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    sqlite3 *source = nullptr, *target = nullptr;
    int rc = sqlite3_open_v2(from.toUtf8().constData(), &source, SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_open_v2(to.toUtf8().constData(), &target,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup *backup = sqlite3_backup_init(target, "main", source, "main");
        rc = backup ? sqlite3_backup_step(backup, -1) : sqlite3_errcode(target);
        sqlite3_backup_finish(backup);
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    const QString why = QString::fromUtf8(sqlite3_errmsg(target ? target : source));
    sqlite3_close(target);
    sqlite3_close(source);
    if (rc != SQLITE_OK)
        throw EngineError(QFileInfo(from).fileName() +
                          QStringLiteral(": не удаётся скопировать (") + why + ')');
}

// The alter, the copying back, the primary key and the indexes of one table
// are one transaction on its file: they succeed together, or the table keeps
// its old structure, key and indexes with every row, also after a crash.
class FolderTableChange : public TableChange
{
public:
    FolderTableChange(const QString &directory, const QString &fileName, int position,
                      bool keepingValues, const std::function<void()> &keepAlive)
        : m_fileName(fileName), m_copyName(tempPrefix + QString::number(position) + ".DB"),
          m_own(directory)
    {
        if (keepingValues)
            copyTableFile(FolderSession::findFileIn(directory, fileName),
                          QDir(directory).filePath(m_copyName));
        m_own.setKeepAlive(keepAlive);
        m_own.tableByFile(fileName);
        if (keepingValues)
            m_own.tableByFile(m_copyName);
        m_transaction = std::make_unique<Session::Transaction>(m_own);
    }

    Session &session() override { return m_own; }

    // Rows are matched by their own number, under a name that no field of the
    // table hides.
    void restoreValues(const QList<FieldDef> &replaced) override
    {
        if (replaced.isEmpty())
            return;
        const TableRef target = m_own.tableByFile(m_fileName);
        const TableRef copy = m_own.tableByFile(m_copyName);
        QStringList columns, assignments;
        QList<Field> converters;
        for (const FieldDef &field : replaced) {
            columns << SqlText::quoted(field.name);
            assignments << SqlText::quoted(field.name) + QStringLiteral(" = ?");
            converters.append(Field(nullptr, field));
        }
        const QString rowId = rowIdAlias(TableFiles::fields(m_own, copy), m_fileName);
        Statement read =
            m_own.prepare(QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1")
                              .arg(rowId, columns.join(QStringLiteral(", ")), copy.qualified()),
                          m_copyName);
        Statement write = m_own.prepare(
            QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                .arg(target.qualified(), assignments.join(QStringLiteral(", ")), rowId),
            m_fileName);
        while (read.step()) {
            for (int i = 0; i < converters.size(); ++i)
                write.bind(i + 1, converters[i].converted(read.value(i + 1)));
            write.bind(int(converters.size()) + 1, read.int64(0));
            write.step();
            write.reset();
        }
    }

    void commit() override { m_transaction->commit(); }

private:
    QString m_fileName;
    QString m_copyName;
    FolderSession m_own;
    std::unique_ptr<Session::Transaction> m_transaction;
};

// A one-column table in the connection's temporary database, declared as the
// new field: a value stored there takes the column's type exactly as it will
// in the altered table.
class Probe
{
public:
    Probe(Session &session, const FieldDef &field) : m_session(session)
    {
        m_session.execute(QStringLiteral("DROP TABLE IF EXISTS ") + probeTable);
        m_session.execute(
            QStringLiteral("CREATE TABLE %1 (v %2)").arg(probeTable, field.declaredType));
    }
    ~Probe()
    {
        try {
            m_session.execute(QStringLiteral("DROP TABLE IF EXISTS ") + probeTable);
        } catch (const EngineError &) {
            // The temporary database goes with the connection anyway.
        }
    }
    Probe(const Probe &) = delete;
    Probe &operator=(const Probe &) = delete;

private:
    Session &m_session;
};

} // namespace

std::unique_ptr<TableChange> start(const FolderSession &session, const QString &fileName,
                                   int position, bool keepingValues,
                                   const std::function<void()> &keepAlive)
{
    return std::make_unique<FolderTableChange>(session.directory(), fileName, position,
                                               keepingValues, keepAlive);
}

void removeCopies(const QString &directory)
{
    const QDir dir(directory);
    for (const QString &name : dir.entryList({tempPrefix + '*'}, QDir::Files | QDir::Hidden)) {
        if (!QFile::remove(dir.filePath(name)))
            return;
    }
}

// Converts every stored value of `from` as the copying back after an alter
// does, stores it in a column declared as `to`, and counts the values that
// do not read back as they were (blank stays blank).
ValueLoss conversionLoss(FolderSession &session, const TableRef &table, const FieldDef &from,
                         const FieldDef &to)
{
    const QString rowId = rowIdAlias(TableFiles::fields(session, table), table.fileName);
    const Probe probe(session, to);
    const Field converter(nullptr, to);
    const QString column = SqlText::quoted(from.name);
    ValueLoss loss;
    {
        Statement read = session.prepare(
            QStringLiteral("SELECT %1, %2 FROM %3").arg(rowId, column, table.qualified()),
            table.fileName);
        Statement write = session.prepare(
            QStringLiteral("INSERT INTO %1 (rowid, v) VALUES (?, ?)").arg(probeTable),
            table.fileName);
        while (read.step()) {
            const QVariant value = read.value(1);
            if (to.isText() && value.toString().size() > to.size)
                ++loss.tooLong;
            try {
                write.bind(2, converter.converted(value));
            } catch (const EngineError &) {
                loss.note(value.toString());
                continue;
            }
            write.bind(1, read.int64(0));
            write.step();
            write.reset();
        }
    }
    Statement changed = session.prepare(
        QStringLiteral("SELECT CAST(t.%1 AS TEXT) FROM %2 AS t JOIN %3 AS p ON p.rowid = t.%4 "
                       "WHERE coalesce(CAST(t.%1 AS BLOB), x'') IS NOT coalesce(CAST(p.v AS "
                       "BLOB), x'')")
            .arg(column, table.qualified(), probeTable, rowId),
        table.fileName);
    while (changed.step())
        loss.note(changed.value(0).toString());
    return loss;
}

} // namespace FolderStructureChange
