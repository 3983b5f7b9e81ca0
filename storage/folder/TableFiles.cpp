#include "TableFiles.h"

#include "EngineError.h"
#include "SqlText.h"
#include "SqliteStatement.h"
#include "TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace TableFiles {
namespace {

QString stemOf(const QString &fileName)
{
    const int dot = int(fileName.indexOf('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

QString columnDefinition(const FieldDef &field)
{
    return SqlText::quoted(field.name) + ' ' + field.declaredType;
}

struct IndexColumn
{
    QString name;
    QString collation;
};

QList<IndexColumn> indexColumnList(FolderSession &session, const TableRef &table,
                                   const QString &index)
{
    Statement info =
        session.prepare(QStringLiteral("PRAGMA %1.index_xinfo(%2)")
                            .arg(SqlText::quoted(table.schema), SqlText::quoted(index)),
                        table.fileName);
    QList<IndexColumn> columns;
    while (info.step()) {
        if (info.value(5).toInt() != 0) // not the rowid that every index carries
            columns.append({info.value(2).toString(), info.value(4).toString()});
    }
    return columns;
}

QStringList indexColumns(FolderSession &session, const TableRef &table, const QString &index,
                         bool *caseInsensitive)
{
    QStringList names;
    for (const IndexColumn &column : indexColumnList(session, table, index)) {
        names << column.name;
        if (caseInsensitive && column.collation == QLatin1String(TextRules::collationName))
            *caseInsensitive = true;
    }
    return names;
}

std::optional<IndexDef> findIndex(FolderSession &session, const TableRef &table,
                                  const QString &name)
{
    for (const IndexDef &index : indexes(session, table)) {
        const QString sqliteName = index.primary ? primaryIndexName : index.name;
        if (sqliteName.compare(name, Qt::CaseInsensitive) == 0)
            return index;
    }
    return std::nullopt;
}

FieldDef existingField(const QList<FieldDef> &fields, const QString &name, const QString &fileName)
{
    if (const auto field = fieldNamed(fields, name))
        return *field;
    throw EngineError(fileName + QStringLiteral(": нет поля ") + name);
}

void dropIndexesOver(FolderSession &session, const TableRef &table, const QString &field)
{
    for (const IndexDef &index : indexes(session, table)) {
        if (!index.fields.contains(field, Qt::CaseInsensitive))
            continue;
        const QString name = index.primary ? primaryIndexName : index.name;
        session.execute(QStringLiteral("DROP INDEX %1.%2")
                            .arg(SqlText::quoted(table.schema), SqlText::quoted(name)),
                        table.fileName);
    }
}

// A field added to a table with rows numbers them in their stored order.
void numberRows(FolderSession &session, const TableRef &table, const QString &field)
{
    QList<qint64> rowids;
    Statement select = session.prepare(
        QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid").arg(table.qualified()),
        table.fileName);
    while (select.step())
        rowids << select.int64(0);
    Statement update = session.prepare(QStringLiteral("UPDATE %1 SET %2 = ? WHERE rowid = ?")
                                           .arg(table.qualified(), SqlText::quoted(field)),
                                       table.fileName);
    qint64 number = 0;
    for (qint64 rowid : rowids) {
        update.bind(1, ++number);
        update.bind(2, rowid);
        update.step();
        update.reset();
    }
    session.execute(QStringLiteral("PRAGMA %1.user_version = %2")
                        .arg(SqlText::quoted(table.schema))
                        .arg(number),
                    table.fileName);
}

// A pragma that describes the table, e.g. table_info or index_list.
Statement describe(FolderSession &session, const TableRef &table, const char *pragma)
{
    return session.prepare(QStringLiteral("PRAGMA %1.%2(%3)")
                               .arg(SqlText::quoted(table.schema), QLatin1String(pragma),
                                    SqlText::quoted(table.table)),
                           table.fileName);
}

} // namespace

QList<FieldDef> fields(FolderSession &session, const TableRef &table)
{
    Statement info = describe(session, table, "table_info");
    QList<FieldDef> result;
    while (info.step())
        result << FieldDef::fromDeclaration(info.value(1).toString(), info.value(2).toString());
    return result;
}

QList<IndexDef> indexes(FolderSession &session, const TableRef &table)
{
    Statement list = describe(session, table, "index_list");
    QList<IndexDef> result;
    QList<std::pair<QString, bool>> names;
    while (list.step())
        names.append({list.value(1).toString(), list.value(2).toInt() != 0});
    for (const auto &[name, unique] : names) {
        IndexDef index;
        index.primary = name.compare(primaryIndexName, Qt::CaseInsensitive) == 0;
        index.name = index.primary ? QString() : name;
        index.unique = unique;
        index.fields = indexColumns(session, table, name, &index.caseInsensitive);
        result << index;
    }
    return result;
}

void addIndex(FolderSession &session, const QString &fileName, const IndexDef &index)
{
    const TableRef table = session.tableByFile(fileName);
    const QString name = index.primary ? primaryIndexName : index.name;
    if (name.isEmpty())
        throw EngineError(fileName + QStringLiteral(": индексу нужно имя"));
    const QList<FieldDef> tableFields = fields(session, table);
    if (const auto existing = findIndex(session, table, name)) {
        if (!index.primary)
            throw EngineError(fileName + QStringLiteral(": индекс ") + name +
                              QStringLiteral(" уже существует"));
        if (existing->fields.join(';').compare(index.fields.join(';'), Qt::CaseInsensitive) == 0)
            return;
        deleteIndex(session, fileName, name);
    }
    QStringList columns;
    for (const QString &fieldName : index.fields) {
        const FieldDef field = existingField(tableFields, fieldName.trimmed(), fileName);
        const bool folded = index.caseInsensitive && field.isText();
        columns << SqlText::quoted(field.name) +
                       (folded ? QStringLiteral(" COLLATE ") + TextRules::collationName
                               : QString());
    }
    const bool unique = index.unique || index.primary;
    session.execute(QStringLiteral("CREATE %1INDEX %2.%3 ON %4 (%5)")
                        .arg(unique ? QStringLiteral("UNIQUE ") : QString(),
                             SqlText::quoted(table.schema), SqlText::quoted(name),
                             SqlText::quoted(table.table), columns.join(QStringLiteral(", "))),
                    fileName);
}

bool hasSameIndex(FolderSession &session, const QString &fileName, const IndexDef &index)
{
    const TableRef table = session.tableByFile(fileName);
    const QString name = index.primary ? primaryIndexName : index.name;
    const auto existing = findIndex(session, table, name);
    if (!existing || existing->unique != (index.unique || index.primary))
        return false;
    const QList<IndexColumn> columns = indexColumnList(session, table, name);
    if (columns.size() != index.fields.size())
        return false;
    const QList<FieldDef> tableFields = fields(session, table);
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].name.compare(index.fields[i].trimmed(), Qt::CaseInsensitive) != 0)
            return false;
        const FieldDef field = existingField(tableFields, columns[i].name, fileName);
        const QString expected = index.caseInsensitive && field.isText()
                                     ? QLatin1String(TextRules::collationName)
                                     : QStringLiteral("BINARY");
        if (columns[i].collation.compare(expected, Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

void deleteIndex(FolderSession &session, const QString &fileName, const QString &indexName)
{
    const TableRef table = session.tableByFile(fileName);
    if (!findIndex(session, table, indexName))
        throw EngineError(fileName + QStringLiteral(": нет индекса ") + indexName);
    session.execute(QStringLiteral("DROP INDEX %1.%2")
                        .arg(SqlText::quoted(table.schema), SqlText::quoted(indexName)),
                    fileName);
}

void createTable(FolderSession &session, const QString &fileName, const QList<FieldDef> &fields)
{
    if (!session.findFile(fileName).isEmpty())
        throw EngineError(fileName + QStringLiteral(": таблица уже существует"));
    const QDir dir(session.directory());
    const QString finalPath = dir.filePath(fileName);
    const QString partialPath = finalPath + QStringLiteral(".creating");
    QFile::remove(partialPath);

    QStringList columns;
    for (const FieldDef &field : fields)
        columns << columnDefinition(field);
    const QString sql =
        QStringLiteral("CREATE TABLE %1 (%2)")
            .arg(SqlText::quoted(stemOf(fileName)), columns.join(QStringLiteral(", ")));

    // The table is built under a passing name and renamed when whole, so a
    // crash never leaves a file that looks like a table but has none.
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(partialPath.toUtf8().constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    // A new file's indexes are in the current order from the start.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(
            db,
            QByteArray("PRAGMA application_id = " + QByteArray::number(TextRules::orderMark))
                .constData(),
            nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        QFile::remove(partialPath);
        throw EngineError(fileName + QStringLiteral(": ") + describeSqliteError(rc, message));
    }
    sqlite3_close(db);
    if (!QFile::rename(partialPath, finalPath)) {
        QFile::remove(partialPath);
        throw EngineError(fileName + QStringLiteral(": не удаётся создать файл таблицы"));
    }
}

void alterTable(FolderSession &session, const QString &fileName, const QList<AlterAction> &actions)
{
    const TableRef table = session.tableByFile(fileName);
    FolderSession::Transaction transaction(session);
    for (const AlterAction &action : actions) {
        if (action.kind == AlterAction::Drop) {
            const FieldDef field =
                existingField(fields(session, table), action.field.name, fileName);
            dropIndexesOver(session, table, field.name);
            session.execute(QStringLiteral("ALTER TABLE %1 DROP COLUMN %2")
                                .arg(table.qualified(), SqlText::quoted(field.name)),
                            fileName);
        } else {
            session.execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2")
                                .arg(table.qualified(), columnDefinition(action.field)),
                            fileName);
            if (action.field.kind == FieldKind::AutoInc)
                numberRows(session, table, action.field.name);
        }
    }
    transaction.commit();
}

int packTable(const QString &directory, const QString &fileName, QString *message)
{
    const QString path = FolderSession::findFileIn(directory, fileName);
    if (path.isEmpty()) {
        if (message)
            *message = fileName + QStringLiteral(": таблица не найдена");
        return SQLITE_CANTOPEN;
    }
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        TextRules::install(db);
        sqlite3_busy_timeout(db, 2000);
        rc = sqlite3_exec(db, "VACUUM", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK && message)
        *message = fileName + QStringLiteral(": ") +
                   describeSqliteError(rc, QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_close(db);
    return rc;
}

qint64 keysHandedOut(FolderSession &session, const TableRef &table)
{
    Statement handedOut =
        session.prepare(QStringLiteral("PRAGMA %1.user_version").arg(SqlText::quoted(table.schema)),
                        table.fileName);
    handedOut.step();
    return handedOut.int64(0);
}

void setKeysHandedOut(FolderSession &session, const TableRef &table, qint64 highest)
{
    session.execute(QStringLiteral("PRAGMA %1.user_version = %2")
                        .arg(SqlText::quoted(table.schema))
                        .arg(highest),
                    table.fileName);
}

qint64 nextAutoIncrement(FolderSession &session, const TableRef &table, const QString &field)
{
    Statement highest = session.prepare(QStringLiteral("SELECT coalesce(max(%1), 0) FROM %2")
                                            .arg(SqlText::quoted(field), table.qualified()),
                                        table.fileName);
    highest.step();
    const qint64 next = std::max(keysHandedOut(session, table), highest.int64(0)) + 1;
    if (next > maxKey)
        throw EngineError(
            table.fileName +
            QStringLiteral(": ключи записей исчерпаны (выдан наибольший, %1)").arg(maxKey));
    setKeysHandedOut(session, table, next);
    return next;
}

void keepAutoIncrementAbove(FolderSession &session, const TableRef &table, qint64 used)
{
    if (keysHandedOut(session, table) < used)
        setKeysHandedOut(session, table, used);
}

} // namespace TableFiles
