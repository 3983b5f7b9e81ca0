#pragma once

#include "EngineError.h"

#include <QList>
#include <QString>
#include <QStringList>

// The description file of the catalogue's tables (base.ini): table blocks with
// their fields laid out by columns, primary-key marks and secondary indexes.
namespace BaseMaker {

struct FieldSpec
{
    QString name;
    QString type;
    QString size;
    QString key;
    bool missing = false;
    bool changed = false;
    int line = 0; // in the description file, for messages
};

enum class TableStatus
{
    False,
    True,
    New
};

struct TableSpec
{
    QString name;
    QString caption;
    TableStatus status = TableStatus::False;
    QList<FieldSpec> fields;
    QStringList indexes; // "Name=Field;Field" lines as written
    QList<int> indexLines;
    int line = 0;
};

// The description as read, with the name its messages give the file.
struct Description
{
    QString source;
    QList<TableSpec> tables;
};

// Reads the description, already decoded, line by line, and checks it as a
// whole: every mistake is refused with an error naming `source`, the line and
// the cause, before any table is touched.
QList<TableSpec> parseDescription(const QStringList &lines,
                                  const QString &source = QStringLiteral("base.ini"));
// Reads a description file in the Windows Cyrillic code page.
Description readDescription(const QString &path);

// An error about line `line` of the description `source`.
EngineError descriptionError(const QString &source, int line, const QString &why);

// The field names of an index line, in order.
QStringList indexFields(const QString &indexLine);
QString indexName(const QString &indexLine);

// The names of the fields that make up the primary key, in declaration order.
QStringList keyFields(const TableSpec &table);

} // namespace BaseMaker
