#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What a table file holds besides what the program itself creates in it: the
// table named after the file with plain columns, and plain indexes over them.
// Anything else (triggers, views, other tables, rules and computed values in
// the table's definition, a table without row numbers, keys past the integer
// range) came from elsewhere: a folder or a backup copied from another
// machine. The check reads each file through a connection of its own that
// runs nothing of the file and reads no definition longer than a table's
// can be.
namespace ForeignObjects {

struct Finding
{
    QString fileName; // the table file, as the description names it
    QString what;     // in words: "триггер «wipe»"
    // The file's definitions cannot be read within the check's limits: its
    // rows cannot be read safely either.
    bool blocking = false;
};

// The findings in the table file `fileName` of `directory`; none when the
// file is missing or damaged (opening it says so).
QList<Finding> inFile(const QString &directory, const QString &fileName);
QList<Finding> inCatalogue(const QString &directory, const QStringList &tableFiles);

// One line a finding: "FIRMS.DB: триггер «wipe»".
QString listed(const QList<Finding> &findings);

// Writes every file with findings again as the program would have written
// it: the same columns and rows, indexes of the program's kind, nothing else.
// Each file is replaced whole or not at all; a failure throws with its cause
// and leaves that file as it was.
void remove(const QString &directory, const QList<Finding> &findings);

} // namespace ForeignObjects
