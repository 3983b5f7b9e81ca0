#pragma once

#include "Query.h"
#include "Session.h"
#include "Table.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// Test support: a private data directory with catalogue tables made by the
// engine's own table-definition texts, and a look at the files through the
// stock sqlite3 shell.
namespace TestCatalogue {

// The create statement for `fileName` with fields given as {name, type} pairs,
// in the line layout the structure verifier uses.
QString createStatement(const QString &fileName, const QList<std::pair<QString, QString>> &fields);

// Creates the catalogue's firm, item, folder, group, relation and file tables
// with their primary keys and indexes.
void createCatalogue(Session &session);

// A table dataset and a query dataset on a session, not yet open.
std::unique_ptr<Table> openTable(Session &session, const QString &file);
std::unique_ptr<Query> openQuery(Session &session, const QStringList &sql, bool live = false);

// A fresh start for a data module: the alias points at `dataDirectory`, an
// empty folder made now if need be, and no settings are stored.
void pointAliasAt(const QString &dataDirectory);

// Runs the sqlite3 shell on one table file and returns what it printed.
QString shell(const QString &file, const QString &sql);

} // namespace TestCatalogue
