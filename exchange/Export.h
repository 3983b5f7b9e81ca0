#pragma once

#include "Columns.h"

#include <QString>
#include <QStringList>
#include <functional>

class Session;

// The firm and item lists written out for office programs and address books.
namespace Export {

enum class Format
{
    Csv,
    Xlsx
};

// The format a file name asks for: ".xlsx" gives a workbook, anything else CSV.
Format formatOf(const QString &path);

// The statement that reads every field of a list's rows in the list's order.
// `listSql` is the list's own text; `whole` drops its conditions.
QString selectFor(const QStringList &listSql, bool whole);

// Writes the rows of `select` (a list's statement over every field) as a user
// reads them in the editors: a header of the editors' labels, the text
// fields, the record's types and folders as lists, no internal keys. CSV in
// UTF-8 with a byte-order mark and ';' between values, or a workbook with a
// bold frozen header and columns sized to their texts. The file appears
// whole or not at all. `progress` gets the rows written so far. Returns the
// number of rows.
int rows(Session &session, ListTarget target, const QString &select, const QString &path,
         Format format, const std::function<void(int)> &progress = {});

// A firm as an address-book card (vCard 3.0) from its fields by name: Name,
// Address, Phones, Email, WWW.
QByteArray vCard(const std::function<QString(const QString &)> &field);

} // namespace Export
