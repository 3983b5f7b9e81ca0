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

QString text(Scope scope, Joiner nameToSinonyms, Joiner sinonymsToDescription)
{
    const QString table = scope == Firms ? QStringLiteral("Firms") : QStringLiteral("Items");
    return QStringLiteral("Select * From ") + table +
           QStringLiteral(" Where Upper(Name) like :NamePattern") + joinerText(nameToSinonyms) +
           QStringLiteral("Upper(Sinonyms) like :SinonymsPattern") +
           joinerText(sinonymsToDescription) +
           QStringLiteral("Upper(Description) like :DescriptionPattern");
}

QVariantMap parameters(const QString &name, const QString &sinonyms, const QString &description)
{
    return {{QStringLiteral("NamePattern"), pattern(name)},
            {QStringLiteral("SinonymsPattern"), pattern(sinonyms)},
            {QStringLiteral("DescriptionPattern"), pattern(description)}};
}

} // namespace SearchStatement
