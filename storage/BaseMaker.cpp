#include "BaseMaker.h"

#include "Aliases.h"
#include "EngineError.h"
#include "KeptValues.h"
#include "Query.h"
#include "Session.h"
#include "StorageUi.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace BaseMaker {
namespace {

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
    if (!session.hasTable(table.name)) {
        table.status = TableStatus::New;
        refuseUnknownIndexFields(source, table);
        return;
    }
    const QList<FieldDef> existing = session.fields(session.tableByFile(table.name));
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
// the others again would change nothing but the bytes of the table.
QList<IndexDef> indexesToMake(Session &session, const TableSpec &table)
{
    QList<IndexDef> wanted;
    const IndexDef primary = primaryKey(table);
    if (!primary.fields.isEmpty() && !session.hasSameIndex(table.name, primary))
        wanted << primary;
    for (const IndexDef &index : secondaryIndexes(table)) {
        if (!session.hasSameIndex(table.name, index))
            wanted << index;
    }
    return wanted;
}

void makeIndexes(Session &session, const TableSpec &table, const QList<IndexDef> &indexes)
{
    for (const IndexDef &index : indexes) {
        // An index of that name but of another shape goes first; a failure to
        // remove it is told with its cause, not as "already exists" later.
        if (!index.primary && session.hasIndex(table.name, index.name))
            session.deleteIndex(table.name, index.name);
        session.addIndex(table.name, index);
    }
}

// The alter, the copying back, the primary key and the indexes of one table
// succeed together, or the table keeps its old structure, key and indexes
// with every row, also after a crash. A table that needs nothing is not
// written at all.
void changeTable(Session &session, const TableSpec &table, int position)
{
    const bool altering = table.status == TableStatus::True;
    if (!altering && indexesToMake(session, table).isEmpty())
        return;
    QList<FieldDef> replaced;
    QStringList kept;
    for (const FieldSpec &field : table.fields) {
        if (altering && field.changed && !field.missing) {
            replaced << declaredField(field);
            kept << field.name;
        }
    }
    const std::unique_ptr<TableChange> change =
        session.startTableChange(table.name, position, kept);
    Session &own = change->session();
    if (altering) {
        runStatement(own, alterStatement(table));
        change->restoreValues(replaced);
    }
    makeIndexes(own, table, indexesToMake(own, table));
    change->commit();
}

void packOne(Session &session, const TableSpec &table, StorageUi &ui)
{
    const qint64 before = session.storedSize(table.name);
    QString why;
    if (session.packTable(table.name, &why) != 0)
        ui.message(QStringLiteral("Ошибка сжатия ") + why); // why begins with the table's name
    else
        ui.tablePacked(table.name, before, session.storedSize(table.name));
}

void checkTable(Session &session, const TableSpec &table, int position, bool packAfterCheck,
                StorageUi &ui)
{
    if (table.status == TableStatus::New)
        runStatement(session, createStatement(table));
    changeTable(session, table, position);
    if (table.status != TableStatus::False)
        ui.tableChanged(table.name, table.status == TableStatus::New);
    session.removeChangeLeftovers();
    if (packAfterCheck)
        packOne(session, table, ui);
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

int PackTable(Session &session, const QString &tableName)
{
    return session.packTable(tableName);
}

bool VerifyBase(const QString &descriptionFile, const QString &aliasName, bool packAfterCheck,
                bool packOnly, StorageUi &ui)
{
    const QString location = Aliases().directory(aliasName).left(maxDirectoryLength);
    return verifyCatalogue(descriptionFile, location, packAfterCheck, packOnly, ui);
}

bool verifyCatalogue(const QString &descriptionFile, const QString &location, bool packAfterCheck,
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
    const std::unique_ptr<Session> session = Session::open(location, true);
    const auto oneAtATime = session->lockForMaintenance(Session::IfHeld::Wait);
    session->setKeepAlive([&ui] { ui.keepAlive(); });
    if (!packOnly) {
        for (TableSpec &table : tables)
            compareTable(*session, description.source, table);
    }
    ui.startProgress(int(tables.size()));
    for (int n = 0; n < tables.size(); ++n) {
        ui.setTableCaption(tables[n].caption);
        if (packOnly)
            packOne(*session, tables[n], ui);
        else
            checkTable(*session, tables[n], n, packAfterCheck, ui);
        ui.stepProgress();
    }
    return true;
}

} // namespace BaseMaker
