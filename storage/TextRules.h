#pragma once

#include <QString>

struct sqlite3;

// The catalogue's text rules, shared by both kinds of catalogue and their
// callers: upper-casing that folds Cyrillic as well as Latin letters, and the
// Russian alphabetical order in which letter case does not split a list.
//
// The order is ICU's Russian collation with Latin letters before Cyrillic
// (the locale below), texts that it finds equal ordered by their UTF-8 bytes:
// exactly the order of a PostgreSQL ICU collation of that locale, so that a
// folder and a server list the same rows in the same order.
namespace TextRules {

// Name of the collation that orders text the Russian way on a folder.
inline constexpr const char *collationName = "RU";
// The ICU locale of that order.
inline constexpr const char *collationLocale = "ru-u-kr-latn-cyrl";
// Marks a table file whose indexes are built in this order (PRAGMA
// application_id); files of earlier versions had another order.
inline constexpr int orderMark = 0x51554931;
// A character after every other in this order: a text followed by it comes
// after every text that begins with that text.
inline constexpr char16_t highestCharacter = 0xFFFF;

// Upper-cases every letter that has an upper-case form (Cyrillic, Latin and the rest).
QString upper(const QString &text);

// Three-way comparison in the catalogue's order.
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
