#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class Session;
class StorageUi;

// A whole catalogue copied from where it lives to another place, a folder or
// a server, and proved equal before the copy is called done.
namespace CatalogueCopy {

// What a table holds, told in a few bytes: its row count and a checksum of
// its rows that is the same whatever order they are read in and whichever
// kind of catalogue holds them.
struct TableSum
{
    qint64 rows = 0;
    QByteArray sha256; // hexadecimal

    bool operator==(const TableSum &) const = default;
};

// The sum of the table called `table` ("FIRMS"): each row is written in one
// form (its fields by lower-case name, each value with its kind), hashed, and
// the sorted row hashes hashed again.
TableSum sumOf(Session &session, const QString &table);

// Tells each table as it is reached and its rows once copied.
using Report = std::function<void(const QString &table, qint64 rows)>;

// Copies every table of `tables` ("FIRMS.DB", ...) from the catalogue at
// `from` into the one at `to`, which must hold no catalogue yet: the tables
// are made from the description, the rows copied with their keys, the key
// counters carried over so that no key is handed out twice; then every table
// of both is summed and compared. A target that holds a catalogue is refused
// before anything is written; a copy that fails or differs throws with the
// cause and the tables it made are removed again.
void copy(const QString &from, const QString &to, const QString &descriptionFile,
          const QStringList &tables, StorageUi &ui, const Report &report = {});

} // namespace CatalogueCopy
