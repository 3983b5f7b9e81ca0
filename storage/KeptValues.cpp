#include "KeptValues.h"

#include "EngineError.h"
#include "Field.h"
#include "Session.h"
#include "SqlText.h"
#include "TableFiles.h"

namespace BaseMaker {
namespace {

// Lives in the connection's temporary database, never in a table file.
const QString probeTable = QStringLiteral("temp.\"KeptValuesProbe\"");
constexpr int exampleLength = 60;

// The Russian noun that goes with a count: 1 значение, 3 значения, 5 значений.
QString counted(qint64 count, const char *one, const char *few, const char *many)
{
    const qint64 tens = count % 100, ones = count % 10;
    const char *word = (tens >= 11 && tens <= 14) ? many
                       : ones == 1                ? one
                       : (ones >= 2 && ones <= 4) ? few
                                                  : many;
    return QString::number(count) + ' ' + QString::fromUtf8(word);
}

QString example(const QString &text)
{
    return text.size() > exampleLength ? text.left(exampleLength) + QStringLiteral("…") : text;
}

std::optional<FieldDef> fieldNamed(const QList<FieldDef> &fields, const QString &name)
{
    for (const FieldDef &field : fields) {
        if (field.name.compare(name, Qt::CaseInsensitive) == 0)
            return field;
    }
    return std::nullopt;
}

struct Loss
{
    qint64 count = 0;
    qint64 tooLong = 0; // of them, texts longer than the new size
    QString example;

    void note(const QString &value)
    {
        if (count++ == 0)
            example = value;
    }
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

// Converts every stored value of `from` as the copying back after an alter
// does, stores it in a column declared as `to`, and counts the values that
// do not read back as they were (blank stays blank).
Loss lossOf(Session &session, const TableRef &table, const QString &rowId, const FieldDef &from,
            const FieldDef &to)
{
    const Probe probe(session, to);
    const Field converter(nullptr, to);
    const QString column = SqlText::quoted(from.name);
    Loss loss;
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

[[noreturn]] void refuseField(const QString &source, const QString &table, const FieldSpec &field,
                              const QString &why)
{
    throw descriptionError(source, field.line,
                           QStringLiteral("%1: поле %2: %3").arg(table, field.name, why));
}

void refuseLostValues(Session &session, const QString &source, const TableSpec &table,
                      const QList<FieldDef> &existing)
{
    const TableRef ref = session.tableByFile(table.name);
    for (const FieldSpec &field : table.fields) {
        if (!field.changed || field.missing)
            continue;
        if (existing.size() == 1)
            refuseField(source, table.name, field,
                        QStringLiteral("единственное поле таблицы нельзя заменить"));
        const FieldDef from = *fieldNamed(existing, field.name);
        const FieldDef to = declaredField(field);
        const Loss loss = lossOf(session, ref, rowIdAlias(existing, table.name), from, to);
        if (loss.count == 0)
            continue;
        const QString what =
            loss.tooLong == loss.count
                ? QStringLiteral("длиннее %1 символов").arg(to.size)
                : QStringLiteral("нельзя перевести в тип %1 без потерь").arg(field.type);
        refuseField(source, table.name, field,
                    QStringLiteral("%1 %2, например '%3'")
                        .arg(counted(loss.count, "значение", "значения", "значений"), what,
                             example(loss.example)));
    }
}

// The primary key is declared again at every check. Moved to fields whose
// values repeat, its unique index could not be built.
void refuseRepeatedKey(Session &session, const QString &source, const TableSpec &table,
                       const QList<FieldDef> &existing)
{
    const QStringList key = keyFields(table);
    QStringList columns, present, shown;
    for (const QString &name : key) {
        // A field added to the key is blank in every row, or numbered.
        if (!fieldNamed(existing, name))
            return;
        const QString column = SqlText::quoted(name);
        columns << column;
        present << column + QStringLiteral(" IS NOT NULL");
        shown << QStringLiteral("coalesce(CAST(%1 AS TEXT), '')").arg(column);
    }
    if (key.isEmpty())
        return;
    const TableRef ref = session.tableByFile(table.name);
    for (const IndexDef &index : TableFiles::indexes(session, ref)) {
        if (index.primary &&
            index.fields.join(';').compare(key.join(';'), Qt::CaseInsensitive) == 0)
            return;
    }
    Statement repeats = session.prepare(
        QStringLiteral("SELECT count(*), %1 FROM %2 WHERE %3 GROUP BY %4 HAVING count(*) > 1")
            .arg(shown.join(QStringLiteral(" || ';' || ")), ref.qualified(),
                 present.join(QStringLiteral(" AND ")), columns.join(QStringLiteral(", "))),
        table.name);
    Loss loss;
    while (repeats.step()) {
        const qint64 rows = repeats.int64(0);
        loss.note(repeats.value(1).toString());
        loss.count += rows - 1;
    }
    if (loss.count == 0)
        return;
    const FieldSpec &first =
        *std::find_if(table.fields.begin(), table.fields.end(),
                      [&](const FieldSpec &f) { return f.name == key.first(); });
    throw descriptionError(
        source, first.line,
        QStringLiteral("%1: ключ %2: %3 с повторяющимся значением, например '%4'")
            .arg(table.name, key.join(';'), counted(loss.count, "строка", "строки", "строк"),
                 example(loss.example)));
}

void refuseIndexFieldsOutside(const QString &source, const TableSpec &table,
                              const QList<FieldDef> &existing)
{
    for (int i = 0; i < table.indexes.size(); ++i) {
        for (const QString &name : indexFields(table.indexes[i])) {
            const bool declared =
                std::any_of(table.fields.begin(), table.fields.end(), [&](const FieldSpec &f) {
                    return f.name.compare(name, Qt::CaseInsensitive) == 0;
                });
            if (!declared && !fieldNamed(existing, name))
                throw descriptionError(source, table.indexLines[i],
                                       QStringLiteral("%1: в индексе %2 поле %3, которого нет")
                                           .arg(table.name, indexName(table.indexes[i]), name));
        }
    }
}

} // namespace

void refuseLosses(Session &session, const QString &source, const TableSpec &table,
                  const QList<FieldDef> &existing)
{
    refuseIndexFieldsOutside(source, table, existing);
    refuseLostValues(session, source, table, existing);
    refuseRepeatedKey(session, source, table, existing);
}

void refuseUnknownIndexFields(const QString &source, const TableSpec &table)
{
    refuseIndexFieldsOutside(source, table, {});
}

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

FieldDef declaredField(const FieldSpec &field)
{
    const QString type = field.type == QLatin1String("String")
                             ? QStringLiteral("CHAR(") + field.size + ')'
                             : field.type;
    return FieldDef::fromDeclaration(field.name, type);
}

} // namespace BaseMaker
