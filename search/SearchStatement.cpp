#include "SearchStatement.h"

#include "TextRules.h"

namespace SearchStatement {
namespace {

// Everything up to and including the blank counts as blank at either end.
bool isBlank(QChar c)
{
    return c.unicode() <= u' ';
}

QString trimmed(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

QString joinerText(Joiner joiner)
{
    return joiner == And ? QStringLiteral(" and ") : QStringLiteral(" or ");
}

} // namespace

QString pattern(const QString &text)
{
    const QString wrapped = QLatin1Char('%') + trimmed(text) + QLatin1Char('%');
    return TextRules::upper(wrapped).left(maxPatternLength);
}

Statement build(Scope scope, const Texts &texts)
{
    struct Condition
    {
        QString field, parameter, text;
        Joiner joinedBy;
    };
    // The name has no joiner above it; it is never used.
    const Condition conditions[] = {
        {QStringLiteral("Name"), QStringLiteral("NamePattern"), texts.name, Or},
        {QStringLiteral("Sinonyms"), QStringLiteral("SinonymsPattern"), texts.sinonyms,
         texts.nameToSinonyms},
        {QStringLiteral("Description"), QStringLiteral("DescriptionPattern"), texts.description,
         texts.sinonymsToDescription}};
    Statement statement;
    QString where;
    for (const Condition &condition : conditions) {
        if (trimmed(condition.text).isEmpty())
            continue;
        if (!where.isEmpty())
            where += joinerText(condition.joinedBy);
        where += QStringLiteral("Upper(%1) like :%2").arg(condition.field, condition.parameter);
        statement.parameters.insert(condition.parameter, pattern(condition.text));
    }
    if (where.isEmpty())
        return statement;
    const QString table = scope == Firms ? QStringLiteral("Firms") : QStringLiteral("Items");
    statement.sql = QStringLiteral("Select * From ") + table + QStringLiteral(" Where ") + where;
    return statement;
}

} // namespace SearchStatement
