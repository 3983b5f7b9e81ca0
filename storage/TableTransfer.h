#pragma once

#include <QString>
#include <functional>

class Session;

// A table carried from one catalogue to another, of either kind: what a
// backup of a server catalogue, a restore into one and a copy between kinds
// have in common.
namespace TableTransfer {

// Makes the table `fileName` in `target`, which must not hold it yet, as
// `source` holds it: the same fields, every row with its keys, then the same
// key and indexes, and the key counters carried over, so that the copy goes
// on handing out keys where the original stood. Returns the rows copied.
// `keepAlive` is called between pages of rows.
qint64 copyTable(Session &source, Session &target, const QString &fileName,
                 const std::function<void()> &keepAlive = {});

// Copies every row of the table `fileName` of `source` with its keys into
// the table of that name in `target`, which has the same fields, in one
// transaction; rows are read a page at a time. Returns the rows copied.
qint64 copyRows(Session &source, Session &target, const QString &fileName,
                const std::function<void()> &keepAlive = {});

// The copy goes on handing out keys from where the original stood.
void carryKeysHandedOut(Session &source, Session &target, const QString &fileName);

} // namespace TableTransfer
