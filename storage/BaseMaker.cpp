#include "BaseMaker.h"

#include "Aliases.h"
#include "EngineError.h"
#include "Field.h"
#include "KeptValues.h"
#include "Query.h"
#include "Session.h"
#include "StorageUi.h"
#include "TableFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

namespace BaseMaker {
namespace {

const QString tempPrefix = QStringLiteral("TmpBase");
constexpr int maxDirectoryLength = 255;

QString quotedName(const QString &name)
{
    return '"' + name + '"';
}

QString fieldLine(const TableSpec &table, const FieldSpec &field)
{
    const QString type = field.type == QLatin1String("String")
                             ? QStringLiteral(" CHAR(") + field.size + ')'
                             : ' ' + field.type;
    return quotedName(table.name) + '.' + quotedName(field.name) + type;
}

// The declared type names that the comparison knows, and the kind each means.
std::optional<FieldKind> kindOfTypeName(const QString &type)
{
    static const QList<std::pair<QString, FieldKind>> known = {
        {"String", FieldKind::String},    {"SmallInt", FieldKind::SmallInt},
        {"Integer", FieldKind::Integer},  {"Boolean", FieldKind::Boolean},
        {"Date", FieldKind::Date},        {"Time", FieldKind::Time},
        {"AutoInc", FieldKind::AutoInc},  {"Blob(0,0)", FieldKind::Memo},
        {"Blob(0,5)", FieldKind::Graphic}};
    for (const auto &[name, kind] : known) {
        if (name == type)
            return kind;
    }
    return std::nullopt;
}

bool kindAgrees(const FieldDef &existing, const QString &declaredType)
{
    // A column whose declared type means nothing (left by a mistaken
    // description) is compared too, so that a correct description mends it.
    static const QList<FieldKind> compared = {
        FieldKind::String,  FieldKind::SmallInt, FieldKind::Integer, FieldKind::Boolean,
        FieldKind::Date,    FieldKind::Time,     FieldKind::AutoInc, FieldKind::Memo,
        FieldKind::Graphic, FieldKind::Unknown};
    if (!compared.contains(existing.kind))
        return true; // other kinds only have to be there
    return kindOfTypeName(declaredType) == existing.kind;
}

// Marks what differs between a table and its declaration, and refuses a
// declaration that would lose any of the table's values. Changes nothing.
void compareTable(Session &session, const QString &source, TableSpec &table)
{
    if (session.findFile(table.name).isEmpty()) {
        table.status = TableStatus::New;
        refuseUnknownIndexFields(source, table);
        return;
    }
    const QList<FieldDef> existing = TableFiles::fields(session, session.tableByFile(table.name));
    for (FieldSpec &field : table.fields) {
        const auto found = std::find_if(existing.begin(), existing.end(),
                                        [&](const FieldDef &f) { return f.name == field.name; });
        const auto sameButCase =
            std::find_if(existing.begin(), existing.end(), [&](const FieldDef &f) {
                return f.name.compare(field.name, Qt::CaseInsensitive) == 0;
            });
        if (found == existing.end() && sameButCase != existing.end()) {
            // The engine's field names ignore case, so a field spelt otherwise
            // cannot stand beside the old one: it replaces it, values kept.
            field.changed = true;
        } else if (found == existing.end()) {
            field.missing = field.changed = true;
        } else {
            // Only a text declaration has a size to compare; a text field
            // declared with another type differs in kind already.
            field.changed = !kindAgrees(*found, field.type) ||
                            (found->isText() && field.type == QLatin1String("String") &&
                             field.size.toInt() != found->size);
        }
        if (field.changed)
            table.status = TableStatus::True;
    }
    refuseLosses(session, source, table, existing);
}

void runStatement(Session &session, const QStringList &lines)
{
    Query query;
    query.setSession(&session);
    query.setSql(lines);
    query.execSql();
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

// Puts the values of the replaced fields back, row by row, from the copy.
void copyValuesBack(Session &session, const TableSpec &table, const QString &copyName)
{
    QList<FieldSpec> replaced;
    for (const FieldSpec &field : table.fields) {
        if (field.changed && !field.missing)
            replaced << field;
    }
    if (replaced.isEmpty())
        return;
    const TableRef target = session.tableByFile(table.name);
    const TableRef copy = session.tableByFile(copyName);
    QStringList columns, assignments;
    QList<Field> converters;
    for (const FieldSpec &field : replaced) {
        columns << quotedName(field.name);
        assignments << quotedName(field.name) + QStringLiteral(" = ?");
        converters.append(Field(nullptr, declaredField(field)));
    }
    // Rows are matched by their own number, under a name that no field of
    // the table hides.
    const QString rowId = rowIdAlias(TableFiles::fields(session, copy), table.name);
    Statement read =
        session.prepare(QStringLiteral("SELECT %1, %2 FROM %3 ORDER BY %1")
                            .arg(rowId, columns.join(QStringLiteral(", ")), copy.qualified()),
                        copyName);
    Statement write = session.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                                          .arg(target.qualified(), assignments.join(", "), rowId),
                                      table.name);
    while (read.step()) {
        for (int i = 0; i < converters.size(); ++i)
            write.bind(i + 1, converters[i].converted(read.value(i + 1)));
        write.bind(int(converters.size()) + 1, read.int64(0));
        write.step();
        write.reset();
    }
}

void removeTemporaryCopies(const QString &directory)
{
    const QDir dir(directory);
    for (const QString &name : dir.entryList({tempPrefix + '*'}, QDir::Files | QDir::Hidden)) {
        if (!QFile::remove(dir.filePath(name)))
            return;
    }
}

IndexDef primaryKey(const TableSpec &table)
{
    IndexDef primary;
    primary.primary = primary.unique = true;
    primary.fields = keyFields(table);
    return primary;
}

QList<IndexDef> secondaryIndexes(const TableSpec &table)
{
    QList<IndexDef> indexes;
    for (const QString &line : table.indexes) {
        IndexDef index;
        index.name = indexName(line);
        index.fields = indexFields(line);
        index.caseInsensitive = true;
        indexes << index;
    }
    return indexes;
}

// The declared key and indexes the table does not have just so. Declaring
// the others again would change nothing but the bytes of the file.
QList<IndexDef> indexesToMake(Session &session, const TableSpec &table)
{
    QList<IndexDef> wanted;
    const IndexDef primary = primaryKey(table);
    if (!primary.fields.isEmpty() && !TableFiles::hasSameIndex(session, table.name, primary))
        wanted << primary;
    for (const IndexDef &index : secondaryIndexes(table)) {
        if (!TableFiles::hasSameIndex(session, table.name, index))
            wanted << index;
    }
    return wanted;
}

void makeIndexes(Session &session, const TableSpec &table, const QList<IndexDef> &indexes)
{
    for (const IndexDef &index : indexes) {
        // An index of that name but of another shape goes first; a failure to
        // remove it is told with its cause, not as "already exists" later.
        if (!index.primary && TableFiles::hasIndex(session, table.name, index.name))
            TableFiles::deleteIndex(session, table.name, index.name);
        TableFiles::addIndex(session, table.name, index);
    }
}

// The alter, the copying back, the primary key and the indexes of one table
// are one transaction on its file: they succeed together, or the table keeps
// its old structure, key and indexes with every row, also after a crash. A
// table that needs nothing is not written at all.
void changeTable(const QString &directory, const TableSpec &table, int position, StorageUi &ui)
{
    const bool altering = table.status == TableStatus::True;
    const QString copyName = tempPrefix + QString::number(position) + QStringLiteral(".DB");
    if (altering)
        copyTableFile(Session::findFileIn(directory, table.name),
                      QDir(directory).filePath(copyName));
    Session own(directory);
    own.setKeepAlive([&ui] { ui.keepAlive(); });
    own.tableByFile(table.name);
    if (altering)
        own.tableByFile(copyName);
    else if (indexesToMake(own, table).isEmpty())
        return;
    Session::Transaction transaction(own);
    if (altering) {
        runStatement(own, alterStatement(table));
        copyValuesBack(own, table, copyName);
    }
    makeIndexes(own, table, indexesToMake(own, table));
    transaction.commit();
}

void packOne(const QString &directory, const TableSpec &table, StorageUi &ui)
{
    QString why;
    if (TableFiles::packTable(directory, table.name, &why) != 0)
        ui.message(QStringLiteral("Ошибка сжатия ") + why); // why begins with the table's name
}

void checkTable(Session &session, const TableSpec &table, int position, bool packAfterCheck,
                StorageUi &ui)
{
    const QString directory = session.directory();
    if (table.status == TableStatus::New)
        runStatement(session, createStatement(table));
    changeTable(directory, table, position, ui);
    removeTemporaryCopies(directory);
    if (packAfterCheck) {
        session.detachAll();
        packOne(directory, table, ui);
    }
}

} // namespace

QStringList createStatement(const TableSpec &table)
{
    QStringList lines{QStringLiteral("Create Table ") + quotedName(table.name) +
                      QStringLiteral(" (")};
    for (const FieldSpec &field : table.fields) {
        if (lines.size() > 1)
            lines << QStringLiteral(", ");
        lines << fieldLine(table, field);
    }
    lines << QStringLiteral(")");
    return lines;
}

QStringList alterStatement(const TableSpec &table)
{
    QStringList lines{QStringLiteral("Alter Table ") + quotedName(table.name) + ' '};
    bool contributed = false;
    for (const FieldSpec &field : table.fields) {
        if (!field.missing && !field.changed)
            continue;
        if (contributed)
            lines << QStringLiteral(",");
        if (!field.missing)
            lines << QStringLiteral(" Drop ") + quotedName(table.name) + '.' +
                         quotedName(field.name) + QStringLiteral(", ");
        lines << QStringLiteral(" ADD ") << fieldLine(table, field);
        contributed = true;
    }
    return lines;
}

QString findDescriptionFile(const QString &name)
{
    if (QFileInfo::exists(name))
        return name;
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (QFileInfo::exists(beside))
        return beside;
    const QString builtIn = QStringLiteral(":/quillon/") + QFileInfo(name).fileName();
    return QFileInfo::exists(builtIn) ? builtIn : QString();
}

int PackTable(const QString &directory, const QString &tableName)
{
    return TableFiles::packTable(directory, tableName);
}

bool VerifyBase(const QString &descriptionFile, const QString &aliasName, bool packAfterCheck,
                bool packOnly, StorageUi &ui)
{
    const QString directory = Aliases().directory(aliasName).left(maxDirectoryLength);
    return verifyDirectory(descriptionFile, directory, packAfterCheck, packOnly, ui);
}

bool verifyDirectory(const QString &descriptionFile, const QString &directory, bool packAfterCheck,
                     bool packOnly, StorageUi &ui)
{
    ui.setTableCaption(QStringLiteral(" "));
    const QString path = findDescriptionFile(descriptionFile);
    if (path.isEmpty()) {
        ui.message(QStringLiteral("File Not Found - ") + descriptionFile);
        return false;
    }
    const Description description = readDescription(path);
    QList<TableSpec> tables = description.tables;
    if (!QFileInfo::exists(directory) && !QDir().mkdir(directory))
        throw EngineError(directory + QStringLiteral(": не удаётся создать каталог данных"));
    Session session(directory);
    session.setKeepAlive([&ui] { ui.keepAlive(); });
    if (!packOnly) {
        for (TableSpec &table : tables)
            compareTable(session, description.source, table);
    }
    ui.startProgress(int(tables.size()));
    for (int n = 0; n < tables.size(); ++n) {
        ui.setTableCaption(tables[n].caption);
        if (packOnly) {
            session.detachAll();
            packOne(directory, tables[n], ui);
        } else {
            checkTable(session, tables[n], n, packAfterCheck, ui);
        }
        ui.stepProgress();
    }
    return true;
}

} // namespace BaseMaker
