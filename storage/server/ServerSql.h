#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

// The catalogue's SQL texts as the server reads them. The texts are written
// for the folder kind's engine; the differences that matter are mended here
// and nowhere else:
//  - parameters ":Name" and "?" become "$1", "$2", ... (a name used twice is
//    one parameter);
//  - "COLLATE RU" goes: every text column of a server catalogue is declared
//    in the catalogue's collation already;
//  - "like" gets "ESCAPE ''", so that a backslash is a plain character as it
//    is on the folder kind;
//  - "INSERT OR IGNORE" becomes "INSERT ... ON CONFLICT DO NOTHING";
//  - every ORDER BY term puts blanks first (last when descending), as the
//    smallest value, where the server would put them last;
//  - names in double quotes are folded to lower case, as the server folds
//    names written without quotes (every name of a server catalogue is in
//    lower case).
namespace ServerSql {

struct Translated
{
    QString text;
    // The name of each parameter in order ("" for "?"), $1 first.
    QStringList parameters;
};

Translated translate(const QString &sql);

// A text of the server's dialect with its values ($1...) written in as
// literals, as psql would run it.
QString withValues(const QString &sql, const QVariantList &values);

// The table a statement is about, for error messages: its name in the
// description (FIRMS.DB), or empty.
QString tableOf(const QString &sql);

} // namespace ServerSql
