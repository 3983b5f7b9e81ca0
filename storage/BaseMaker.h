#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Session;
class StorageUi;

// The structure verifier: reads the description file of the catalogue's
// tables (base.ini) and brings the table files into line with it.
namespace BaseMaker {

struct FieldSpec
{
    QString name;
    QString type;
    QString size;
    QString key;
    bool missing = false;
    bool changed = false;
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
};

// Reads the description, already decoded, line by line. Throws an engine
// error naming the line when the file is malformed, before anything is done.
QList<TableSpec> parseDescription(const QStringList &lines);
// Reads a description file in the Windows Cyrillic code page.
QList<TableSpec> readDescription(const QString &path);

// The lines of the statements that create a table and alter one.
QStringList createStatement(const TableSpec &table);
QStringList alterStatement(const TableSpec &table);

// Where the description file is: the current directory first, then beside the
// program, then the copy built into the program. Empty when none exists.
QString findDescriptionFile(const QString &name);

// Checks (or, with packOnly, packs) every table of the description against the
// data directory of `aliasName`. False only when the description file does not
// exist. Failures other than a refused pack throw.
bool VerifyBase(const QString &descriptionFile, const QString &aliasName, bool packAfterCheck,
                bool packOnly, StorageUi &ui);
// The same on a data directory given directly.
bool verifyDirectory(const QString &descriptionFile, const QString &directory, bool packAfterCheck,
                     bool packOnly, StorageUi &ui);

// Packs one table file; 0 on success, else the engine's error code.
int PackTable(const QString &directory, const QString &tableName);

} // namespace BaseMaker
