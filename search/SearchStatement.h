#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// The statement behind the search window: three conditions, on the name, the
// synonyms and the description, always all present and joined by the user's
// two joiners without parentheses, so that "и" binds before "или". Typed text
// never becomes SQL: each pattern travels as a bound value.
namespace SearchStatement {

enum Scope
{
    Firms = 0,
    Items = 1
};

enum Joiner
{
    And = 0, // "и"
    Or = 1   // "или"
};

// The longest pattern, counted with its two "%"; a longer text loses its end
// (and with it the closing "%").
inline constexpr int maxPatternLength = 255;

// The pattern a typed text is sought with: blanks and control characters
// trimmed from both ends, "%" put around it, upper-cased with Cyrillic folded
// as in the statement's Upper(), cut to 255 characters. The user's "%" and
// "_" keep their wildcard meaning; an empty text gives "%%", which holds for
// every non-blank field.
QString pattern(const QString &text);

// The statement's text; its patterns are the parameters below.
QString text(Scope scope, Joiner nameToSinonyms, Joiner sinonymsToDescription);

// The bound values of the three patterns.
QVariantMap parameters(const QString &name, const QString &sinonyms, const QString &description);

} // namespace SearchStatement
