#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

// Row versions on a folder catalogue. A table file keeps no version with its
// rows (the designed tables keep exactly their designed fields), so a row's
// version is a digest of everything it holds, blobs included: any change by
// any desk changes it, and a post compares it with the one it read.
namespace RowVersion {

// The SQL function's name, registered on every connection that posts rows.
inline constexpr char functionName[] = "quillon_row_version";

void install(sqlite3 *db);
// The version of a row of these columns, reached as `alias` when given.
QString expression(const QString &alias, const QStringList &columns);

} // namespace RowVersion
