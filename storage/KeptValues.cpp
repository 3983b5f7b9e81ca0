#include "KeptValues.h"

#include "EngineError.h"
#include "Field.h"
#include "Session.h"

namespace BaseMaker {
namespace {

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
        const ValueLoss loss = session.conversionLoss(ref, from, to);
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
        const QString column = session.dialect().name(name);
        columns << column;
        present << column + QStringLiteral(" IS NOT NULL");
        shown << QStringLiteral("coalesce(CAST(%1 AS TEXT), '')").arg(column);
    }
    if (key.isEmpty())
        return;
    const TableRef ref = session.tableByFile(table.name);
    for (const IndexDef &index : session.indexes(ref)) {
        if (index.primary &&
            index.fields.join(';').compare(key.join(';'), Qt::CaseInsensitive) == 0)
            return;
    }
    Statement repeats = session.prepare(
        QStringLiteral(
            "SELECT count(*), %1 FROM %2 WHERE %3 GROUP BY %4 HAVING count(*) > 1 ORDER BY %4")
            .arg(shown.join(QStringLiteral(" || ';' || ")), ref.qualified(),
                 present.join(QStringLiteral(" AND ")), columns.join(QStringLiteral(", "))),
        table.name);
    ValueLoss loss;
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

FieldDef declaredField(const FieldSpec &field)
{
    const QString type = field.type == QLatin1String("String")
                             ? QStringLiteral("CHAR(") + field.size + ')'
                             : field.type;
    return FieldDef::fromDeclaration(field.name, type);
}

} // namespace BaseMaker
