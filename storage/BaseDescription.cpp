#include "BaseDescription.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

namespace BaseMaker {
namespace {

const QString tableMarker = QStringLiteral("Table:");
const QString separatorMarker = QStringLiteral("-----------");
const QString indexesMarker = QStringLiteral("[Indexes]");

// The type names a field line may give. Each one has a column kind that the
// verifier can compare later; a typo would otherwise become the column's
// declared type and stay so.
const QStringList knownTypes = {"String", "SmallInt", "Integer",   "Boolean",   "Date",
                                "Time",   "AutoInc",  "Blob(0,0)", "Blob(0,5)", "Blob(0,2)"};

// Names by which SQLite reaches a row's own number: a field of that name
// would hide it from the statements that copy values during an alter.
const QStringList rowIdNames = {"rowid", "oid", "_rowid_"};

// The description is a short text file; anything far larger is not one.
constexpr qint64 maxDescriptionSize = 1 << 20;

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

bool isDecimal(const QString &text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

bool hasUnsafeCharacter(const QString &name)
{
    // Quotes would end the quoted name in a statement; ";" separates the
    // fields of a key or an index.
    return std::any_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() < ' ' || c.unicode() == 0x7F || c == '"' || c == '\'' || c == '`' ||
               c == ';' || c == '[' || c == ']';
    });
}

// One description, read line by line, remembering what it has seen so that
// a name given twice is reported with the line of its first use.
class Reader
{
public:
    explicit Reader(QString source) : m_source(std::move(source)) {}

    QList<TableSpec> read(const QStringList &lines);

private:
    enum class State
    {
        Outside,
        Header,
        Fields,
        Indexes
    };

    [[noreturn]] void refuse(const QString &why) const
    {
        throw descriptionError(m_source, m_line, why);
    }

    void readLine(const QString &line);
    void startTable(const QString &line);
    void endTable() const;
    void readFieldLine(const QString &line);
    void checkColumns(const QString &line, const QString &field) const;
    void checkFieldName(const QString &name) const;
    void checkType(const FieldSpec &field) const;
    void readIndexLine(const QString &line);
    void checkTableName(const QString &name) const;

    QString m_source;
    State m_state = State::Outside;
    QList<TableSpec> m_tables;
    QHash<QString, int> m_tableLines; // upper-case name -> line
    QHash<QString, int> m_fieldLines; // of the current table, lower-case name -> line
    int m_line = 0;
};

QList<TableSpec> Reader::read(const QStringList &lines)
{
    for (const QString &raw : lines) {
        ++m_line;
        readLine(trimmedLine(raw));
    }
    endTable();
    return m_tables;
}

void Reader::readLine(const QString &line)
{
    if (line.contains(tableMarker)) {
        endTable();
        startTable(line);
        return;
    }
    const bool isSeparator = line.contains(separatorMarker);
    const bool isIndexes = line.contains(indexesMarker);
    switch (m_state) {
    case State::Outside:
        if (isSeparator || isIndexes)
            refuse(QStringLiteral("описание должно начинаться строкой Table:"));
        break;
    case State::Header:
        if (isIndexes)
            endTable(); // refuses a block whose separator is missing
        if (isSeparator)
            m_state = State::Fields;
        break;
    case State::Fields:
        if (isIndexes)
            m_state = State::Indexes;
        else if (!line.isEmpty())
            readFieldLine(line);
        break;
    case State::Indexes:
        if (!line.isEmpty())
            readIndexLine(line);
        break;
    }
}

void Reader::startTable(const QString &line)
{
    TableSpec table;
    table.name = latinUpper(line.mid(6, 30).trimmed());
    const qsizetype slash = line.indexOf('/');
    table.caption = slash >= 0 ? line.mid(slash + 1, 30).trimmed() : line.left(30);
    table.line = m_line;
    checkTableName(table.name);
    if (const int first = m_tableLines.value(table.name); first > 0)
        refuse(QStringLiteral("таблица %1 уже описана в строке %2").arg(table.name).arg(first));
    m_tableLines.insert(table.name, m_line);
    m_fieldLines.clear();
    m_tables << table;
    m_state = State::Header;
}

// A table block is whole once the next one starts or the file ends.
void Reader::endTable() const
{
    if (m_tables.isEmpty())
        return;
    const TableSpec &table = m_tables.last();
    if (m_state == State::Header)
        throw descriptionError(
            m_source, table.line,
            QStringLiteral("у таблицы %1 нет строки из дефисов").arg(table.name));
    if (table.fields.isEmpty())
        throw descriptionError(m_source, table.line,
                               QStringLiteral("у таблицы %1 нет ни одного поля").arg(table.name));
}

// A table is one file in the data folder, named with the extension .DB. Names
// that would reach outside the folder, take a name the verifier or the engine
// keeps for itself, or cannot name a table inside its file are refused.
void Reader::checkTableName(const QString &name) const
{
    static const QRegularExpression plainName(QStringLiteral("^[\\w-]+\\.DB$"),
                                              QRegularExpression::UseUnicodePropertiesOption);
    const QString stem = name.left(name.indexOf('.')).toUpper();
    const bool reserved = stem.startsWith(QLatin1String("TMPBASE")) ||
                          stem.startsWith(QLatin1String("SQLITE_")) ||
                          stem == QLatin1String("MAIN") || stem == QLatin1String("TEMP");
    if (!plainName.match(name).hasMatch() || reserved)
        refuse(QStringLiteral("имя таблицы '%1' не годится: нужно имя файла вида ИМЯ.DB из букв, "
                              "цифр, '_' и '-', не начинающееся с TmpBase или sqlite_")
                   .arg(name));
}

void Reader::readFieldLine(const QString &line)
{
    TableSpec &table = m_tables.last();
    FieldSpec field;
    field.name = line.mid(0, 41).trimmed();
    field.type = line.mid(41, 10).trimmed();
    field.size = line.mid(52, 5).trimmed();
    field.key = line.mid(61, 1);
    field.line = m_line;
    if (field.name.isEmpty() || field.type.isEmpty())
        refuse(QStringLiteral("в таблице %1 у поля нет имени или типа").arg(table.name));
    checkColumns(line, field.name);
    checkFieldName(field.name);
    checkType(field);
    const QString folded = field.name.toLower();
    if (const int first = m_fieldLines.value(folded); first > 0)
        refuse(QStringLiteral("поле %1 таблицы %2 уже описано в строке %3")
                   .arg(field.name, table.name)
                   .arg(first));
    m_fieldLines.insert(folded, m_line);
    table.fields << field;
}

// The columns between the type, the size and the key mark stay blank: text
// there means a type, a size or a key mark that slipped out of its columns,
// and reading the columns as they stand would change the field silently.
void Reader::checkColumns(const QString &line, const QString &field) const
{
    if (!isBlank(line.mid(51, 1)))
        refuse(QStringLiteral("у поля %1 в столбце 52 не пробел: тип (столбцы 42-51) или размер "
                              "(столбцы 53-57) сдвинут")
                   .arg(field));
    if (!isBlank(line.mid(57, 4)))
        refuse(QStringLiteral("у поля %1 размер не умещается в столбцы 53-57").arg(field));
    if (!isBlank(line.mid(62)))
        refuse(QStringLiteral("у поля %1 текст после столбца 62: знак ключа сдвинут").arg(field));
}

void Reader::checkFieldName(const QString &name) const
{
    if (rowIdNames.contains(name, Qt::CaseInsensitive))
        refuse(QStringLiteral("имя поля %1 занято: так SQLite называет номер строки").arg(name));
    if (hasUnsafeCharacter(name))
        refuse(QStringLiteral("в имени поля '%1' недопустимый знак (кавычка, ';', скобка или "
                              "управляющий символ)")
                   .arg(name));
}

void Reader::checkType(const FieldSpec &field) const
{
    if (!knownTypes.contains(field.type))
        refuse(QStringLiteral("у поля %1 неизвестный тип '%2'; известны %3")
                   .arg(field.name, field.type, knownTypes.join(QStringLiteral(", "))));
    // Sizes are read for every field, so a size column holding text is a
    // mistake whatever the type.
    if (field.type == QLatin1String("String") || !field.size.isEmpty()) {
        if (!isDecimal(field.size) || field.size.toInt() == 0)
            refuse(QStringLiteral("у поля %1 размер '%2' не целое число от 1 до 99999")
                       .arg(field.name, field.size));
    }
}

void Reader::readIndexLine(const QString &line)
{
    TableSpec &table = m_tables.last();
    const QString name = indexName(line);
    if (!line.contains('=') || name.isEmpty())
        refuse(QStringLiteral("строка индекса без имени и знака '='"));
    const QString stem = table.name.left(table.name.indexOf('.'));
    if (name.compare(QStringLiteral("Primary"), Qt::CaseInsensitive) == 0 ||
        name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive) ||
        name.compare(stem, Qt::CaseInsensitive) == 0)
        refuse(QStringLiteral("имя индекса %1 занято первичным ключом, таблицей или SQLite")
                   .arg(name));
    if (indexFields(line).isEmpty())
        refuse(QStringLiteral("у индекса %1 нет полей").arg(name));
    table.indexes << line;
    table.indexLines << m_line;
}

} // namespace

EngineError descriptionError(const QString &source, int line, const QString &why)
{
    return EngineError(QStringLiteral("%1, строка %2: %3").arg(source).arg(line).arg(why));
}

QString indexName(const QString &indexLine)
{
    return indexLine.left(indexLine.indexOf('=')).trimmed();
}

QStringList indexFields(const QString &indexLine)
{
    QStringList fields;
    const QString list = indexLine.mid(indexLine.indexOf('=') + 1);
    for (const QString &field : list.split(';', Qt::SkipEmptyParts)) {
        if (!field.trimmed().isEmpty())
            fields << field.trimmed();
    }
    return fields;
}

QStringList keyFields(const TableSpec &table)
{
    QStringList fields;
    for (const FieldSpec &field : table.fields) {
        if (field.key == QLatin1String("*"))
            fields << field.name;
    }
    return fields;
}

QList<TableSpec> parseDescription(const QStringList &lines, const QString &source)
{
    return Reader(source).read(lines);
}

Description readDescription(const QString &path)
{
    // The copy built into the program is named as the file it stands for.
    const QString source = path.startsWith(QLatin1String(":/")) ? QFileInfo(path).fileName() : path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(source + QStringLiteral(": не удаётся прочитать файл"));
    if (file.size() > maxDescriptionSize)
        throw EngineError(source + QStringLiteral(": файл больше 1 МБ, это не описание таблиц"));
    QStringDecoder decode("windows-1251");
    const QString text = decode(file.readAll());
    return {source, parseDescription(text.split('\n'), source)};
}

} // namespace BaseMaker
