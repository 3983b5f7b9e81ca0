#pragma once

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

// Writes the rows of `select` with a header line of field names: CSV in UTF-8
// with a byte-order mark and ';' between values, or a workbook. The file
// appears whole or not at all. `progress` gets the rows written so far.
// Returns the number of rows.
int rows(Session &session, const QString &select, const QString &path, Format format,
         const QString &title, const std::function<void(int)> &progress = {});

// A firm as an address-book card (vCard 3.0) from its fields by name: Name,
// Address, Phones, Email, WWW.
QByteArray vCard(const std::function<QString(const QString &)> &field);

} // namespace Export
