#pragma once

#include <QString>

struct sqlite3;

// The catalogue's text rules, shared by the engine and its callers:
// upper-casing that folds Cyrillic as well as Latin letters, and the Russian
// alphabetical order in which letter case does not split a list.
namespace TextRules {

// Name of the collation that orders text the Russian way.
inline constexpr const char *collationName = "RU";

// Upper-cases every letter that has an upper-case form (Cyrillic, Latin and the rest).
QString upper(const QString &text);

// Three-way comparison in the catalogue's order: letters compare without regard
// to case first (Ё beside Е), then lower case before upper case, then code points.
int compare(const QString &a, const QString &b);
int compareUtf8(const char *a, int lengthA, const char *b, int lengthB);

// True when `text` begins with `prefix`, letter case ignored.
bool startsWithIgnoringCase(const QString &text, const QString &prefix);

// The marks a name may be quoted with ('ООО «Ромашка»'); a person looking
// for the name types it without them.
inline const QString quoteMarks = QStringLiteral("\"'`«»„“”‘’");

// A text as a person reads it when looking for it: upper case, Ё as Е, quote
// marks left out. "ооо ром" and 'ООО «Ромашка»' begin alike in this form.
QString readingForm(const QString &text);

// Registers the collation and the Unicode `upper` on a connection.
void install(sqlite3 *db);

} // namespace TextRules
