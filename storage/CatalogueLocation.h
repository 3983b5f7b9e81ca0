#pragma once

#include <QString>
#include <QStringList>

// Where a catalogue lives, as the alias `Quillon` holds it: a folder of table
// files, or a PostgreSQL database given by a libpq URI
// ("postgresql://host[:port]/dbname?sslmode=..."). A password may be part of
// a URI for one run; it never goes into a file the program writes.
namespace CatalogueLocation {

// True for a server address, false for a folder.
bool isServer(const QString &location);

// What a person typed or a command line gave, made into a location: blanks
// trimmed; a server address kept as written; a folder made absolute ("~"
// is the home folder, a relative path starts at the current folder).
QString fromUserText(const QString &text);

// The location as it may be written to a file or shown: a server address
// without its password (in the user part or as a "password" parameter).
QString withoutPassword(const QString &location);

// The location with a password for this run (replacing any it had);
// a folder is returned as it is.
QString withPassword(const QString &location, const QString &password);

// The location for a person to read in a message: «папка /x/Data» or
// «сервер office.lan:5432, база quillon». Never shows a password.
QString described(const QString &location);

// Why the catalogue at `location` cannot be opened now, in words for a
// person ("папка не найдена"); empty when it can. A server that wants a
// password none was given for throws PasswordNeeded.
QString unreachableCause(const QString &location);

// "Каталог недоступен: <where>. Причина: <cause>."
QString unreachableMessage(const QString &location, const QString &cause);

// Whether a catalogue is already there: a folder holding table files, or a
// server database holding tables.
bool holdsCatalogue(const QString &location);

// The location as one catalogue is known by wherever it is named from: a
// folder's clean absolute path, a server address without its password.
QString identity(const QString &location);

// A few words that tell the catalogue apart in file names: the folder's
// name after its parent's ("Фирмы-Data"), or the server's host and database
// ("office.lan-quillon"). Not unique by itself.
QString shortLabel(const QString &location);

// Makes the folder a new catalogue at `location` goes into, with the folders
// above it; true when it made the catalogue's own folder, which a copy that
// fails takes away again. A server's database is never made: it must exist.
bool makePlaceFor(const QString &location);

// Where this desk keeps the word index of the catalogue's attached files:
// beside the tables of a folder catalogue; for a server catalogue, a folder
// of the user's own data named by the catalogue, made when missing, since
// every desk reads the files at its own pace and the index can be made again
// from the catalogue at any time. Throws FileError when it cannot be made.
QString indexFolder(const QString &location);

// The recently opened catalogues, newest first, without passwords; kept in
// the settings file beside the program's other settings.
QStringList recent();
// Puts `location` (its password removed) at the top of the recent list.
// Throws FileError when the settings cannot be written.
void remember(const QString &location);

} // namespace CatalogueLocation
