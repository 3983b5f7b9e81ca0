// A loadable extension for the stock sqlite3 shell: the catalogue's Russian
// collation and Unicode upper(), so that the shell can also sort, compare and
// rebuild indexes exactly as the program does:
//     sqlite3 -cmd ".load build/storage/libquillon-sqlite" Data/FIRMS.DB
#include "TextRules.h"

#include <sqlite3.h>

extern "C" int sqlite3_extension_init(sqlite3 *db, char **, const sqlite3_api_routines *)
{
    TextRules::install(db);
    return SQLITE_OK;
}
