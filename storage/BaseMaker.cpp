#include "BaseMaker.h"

#include "Aliases.h"
#include "EngineError.h"
#include "Field.h"
#include "Query.h"
#include "Session.h"
#include "StorageUi.h"
#include "TableFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <sqlite3.h>

namespace BaseMaker {
namespace {

const QString tableMarker = QStringLiteral("Table:");
const QString separatorMarker = QStringLiteral("-----------");
const QString indexesMarker = QStringLiteral("[Indexes]");
const QString tempPrefix = QStringLiteral("TmpBase");
constexpr int maxDirectoryLength = 255;

// Blanks and control characters both go from the ends of a line.
QString trimmedLine(const QString &line)
{
    qsizetype start = 0, end = line.size();
    while (start < end && line.at(start).unicode() <= ' ')
        ++start;
    while (end > start && line.at(end - 1).unicode() <= ' ')
        --end;
    return line.mid(start, end - start);
}

QString latinUpper(QString text)
{
    for (QChar &c : text) {
        if (c >= 'a' && c <= 'z')
            c = QChar(c.unicode() - 32);
    }
    return text;
}

[[noreturn]] void malformed(int lineNumber, const QString &why)
{
    throw EngineError(
        QStringLiteral("Ошибка в описании таблиц, строка %1: %2").arg(lineNumber).arg(why));
}

bool isDecimal(const QString &text)
{
    bool ok = false;
    text.toInt(&ok);
    return ok && !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

FieldSpec readFieldLine(const QString &line, int lineNumber, const QString &table)
{
    FieldSpec field;
    field.name = line.mid(0, 41).trimmed();
    field.type = line.mid(41, 10).trimmed();
    field.size = line.mid(52, 5).trimmed();
    field.key = line.mid(61, 1);
    if (field.name.isEmpty() || field.type.isEmpty())
        malformed(lineNumber, QStringLiteral("в таблице %1 у поля нет имени или типа").arg(table));
    // A text field's size goes into the statements as it stands: a size that is
    // not a number is refused now, before any table is touched.
    if (field.type == QLatin1String("String") && !isDecimal(field.size))
        malformed(lineNumber, QStringLiteral("размер поля %1 таблицы %2 не число: '%3'")
                                  .arg(field.name, table, field.size));
    return field;
}

TableSpec readTableLine(const QString &line)
{
    TableSpec table;
    table.name = latinUpper(line.mid(6, 30).trimmed());
    const qsizetype slash = line.indexOf('/');
    table.caption = slash >= 0 ? line.mid(slash + 1, 30).trimmed() : line.left(30);
    return table;
}

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
    static const QList<FieldKind> compared = {
        FieldKind::String,  FieldKind::SmallInt, FieldKind::Integer,
        FieldKind::Boolean, FieldKind::Date,     FieldKind::Time,
        FieldKind::AutoInc, FieldKind::Memo,     FieldKind::Graphic};
    if (!compared.contains(existing.kind))
        return true; // other kinds only have to be there
    return kindOfTypeName(declaredType) == existing.kind;
}

void compareTable(Session &session, TableSpec &table)
{
    if (session.findFile(table.name).isEmpty()) {
        table.status = TableStatus::New;
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
            field.changed = !kindAgrees(*found, field.type);
            // Sizes compare between texts only: a text declared as a number has no size.
            if (found->isText() && !field.changed) {
                if (!isDecimal(field.size))
                    throw EngineError(QStringLiteral("%1: размер поля %2 не число: '%3'")
                                          .arg(table.name, field.name, field.size));
                field.changed = field.changed || field.size.toInt() != found->size;
            }
        }
        if (field.changed)
            table.status = TableStatus::True;
    }
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

FieldDef declaredField(const FieldSpec &field)
{
    const QString type = field.type == QLatin1String("String")
                             ? QStringLiteral("CHAR(") + field.size + ')'
                             : field.type;
    return FieldDef::fromDeclaration(field.name, type);
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
    Statement read = session.prepare(QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid")
                                         .arg(columns.join(QStringLiteral(", ")), copy.qualified()),
                                     copyName);
    Statement write = session.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                          .arg(target.qualified(), assignments.join(", ")),
                                      table.name);
    while (read.step()) {
        for (int i = 0; i < converters.size(); ++i)
            write.bind(i + 1, converters[i].converted(read.value(i + 1)));
        write.bind(int(converters.size()) + 1, read.int64(0));
        write.step();
        write.reset();
    }
}

// The alter and the copying back are one transaction on the table file: after
// any interruption the table has every row, in its old structure or its new one.
void alterTable(const QString &directory, const TableSpec &table, int position, StorageUi &ui)
{
    const QString copyName = tempPrefix + QString::number(position) + QStringLiteral(".DB");
    copyTableFile(Session::findFileIn(directory, table.name), QDir(directory).filePath(copyName));
    Session own(directory);
    own.setKeepAlive([&ui] { ui.keepAlive(); });
    own.tableByFile(table.name);
    own.tableByFile(copyName);
    Session::Transaction transaction(own);
    runStatement(own, alterStatement(table));
    copyValuesBack(own, table, copyName);
    transaction.commit();
}

void removeTemporaryCopies(const QString &directory)
{
    const QDir dir(directory);
    for (const QString &name : dir.entryList({tempPrefix + '*'}, QDir::Files | QDir::Hidden)) {
        if (!QFile::remove(dir.filePath(name)))
            return;
    }
}

void declarePrimaryKey(Session &session, const TableSpec &table)
{
    IndexDef primary;
    primary.primary = primary.unique = true;
    for (const FieldSpec &field : table.fields) {
        if (field.key == QLatin1String("*"))
            primary.fields << field.name;
    }
    if (!primary.fields.isEmpty())
        TableFiles::addIndex(session, table.name, primary);
}

void rebuildIndexes(Session &session, const TableSpec &table)
{
    for (const QString &line : table.indexes) {
        const qsizetype equals = line.indexOf('=');
        IndexDef index;
        index.name = line.left(equals).trimmed();
        index.fields = line.mid(equals + 1).trimmed().split(';', Qt::SkipEmptyParts);
        index.caseInsensitive = true;
        try {
            TableFiles::deleteIndex(session, table.name, index.name);
        } catch (const EngineError &) {
            // An index that is not there yet is simply created.
        }
        TableFiles::addIndex(session, table.name, index);
    }
}

void packOne(const QString &directory, const TableSpec &table, StorageUi &ui)
{
    if (PackTable(directory, table.name) != 0)
        ui.message(QStringLiteral("Ошибка сжатия ") + table.name);
}

void checkTable(Session &session, const TableSpec &table, int position, bool packAfterCheck,
                StorageUi &ui)
{
    const QString directory = session.directory();
    if (table.status == TableStatus::New) {
        runStatement(session, createStatement(table));
    } else if (table.status == TableStatus::True) {
        alterTable(directory, table, position, ui);
    }
    removeTemporaryCopies(directory);
    declarePrimaryKey(session, table);
    rebuildIndexes(session, table);
    if (packAfterCheck) {
        session.detachAll();
        packOne(directory, table, ui);
    }
}

} // namespace

QList<TableSpec> parseDescription(const QStringList &lines)
{
    enum class State
    {
        Outside,
        Header,
        Fields,
        Indexes
    } state = State::Outside;
    QList<TableSpec> tables;
    int lineNumber = 0;
    for (const QString &raw : lines) {
        ++lineNumber;
        const QString line = trimmedLine(raw);
        const bool isTable = line.contains(tableMarker);
        if (isTable) {
            if (state == State::Header)
                malformed(
                    lineNumber - 1,
                    QStringLiteral("у таблицы %1 нет строки из дефисов").arg(tables.last().name));
            tables << readTableLine(line);
            state = State::Header;
            continue;
        }
        const bool isSeparator = line.contains(separatorMarker);
        const bool isIndexes = line.contains(indexesMarker);
        switch (state) {
        case State::Outside:
            if (isSeparator || isIndexes)
                malformed(lineNumber, QStringLiteral("описание должно начинаться строкой Table:"));
            break;
        case State::Header:
            if (isIndexes)
                malformed(
                    lineNumber,
                    QStringLiteral("у таблицы %1 нет строки из дефисов").arg(tables.last().name));
            if (isSeparator)
                state = State::Fields;
            break;
        case State::Fields:
            if (isIndexes)
                state = State::Indexes;
            else if (!line.isEmpty())
                tables.last().fields << readFieldLine(line, lineNumber, tables.last().name);
            break;
        case State::Indexes:
            if (line.isEmpty())
                break;
            if (!line.contains('=') || line.indexOf('=') == 0)
                malformed(lineNumber, QStringLiteral("строка индекса без знака '='"));
            tables.last().indexes << line;
            break;
        }
    }
    if (state == State::Header)
        malformed(lineNumber,
                  QStringLiteral("у таблицы %1 нет строки из дефисов").arg(tables.last().name));
    return tables;
}

QList<TableSpec> readDescription(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(path + QStringLiteral(": не удаётся прочитать файл"));
    QStringDecoder decode("windows-1251");
    const QString text = decode(file.readAll());
    return parseDescription(text.split('\n'));
}

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
    QList<TableSpec> tables = readDescription(path);
    if (!QFileInfo::exists(directory) && !QDir().mkdir(directory))
        throw EngineError(directory + QStringLiteral(": не удаётся создать каталог данных"));
    Session session(directory);
    session.setKeepAlive([&ui] { ui.keepAlive(); });
    if (!packOnly) {
        for (TableSpec &table : tables)
            compareTable(session, table);
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
