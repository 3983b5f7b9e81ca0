#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// The statement behind the search window: a condition on the name, the
// synonyms and the description for each of the three texts the user typed,
// joined by the user's two joiners without parentheses, so that "и" binds
// before "или". A text left blank adds no condition: with the default "или"
// it would otherwise find every record whose other field is filled. Typed
// text never becomes SQL: each pattern travels as a bound value.
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
// "_" keep their wildcard meaning.
QString pattern(const QString &text);

// What the three boxes ask for, in the order name, synonyms, description.
// The first joiner stands between the name and the synonyms rows, the second
// between the synonyms and the description rows; a condition is joined to
// the one before it by the joiner just above its own row.
struct Texts
{
    QString name, sinonyms, description;
    Joiner nameToSinonyms = Or;
    Joiner sinonymsToDescription = Or;
};

struct Statement
{
    QString sql;            // empty when every text is blank: nothing to search for
    QVariantMap parameters; // the patterns, by name
};

Statement build(Scope scope, const Texts &texts);

} // namespace SearchStatement
