#pragma once

#include "BaseDescription.h"

class Session;
class StorageUi;

// The structure verifier: brings the table files into line with the
// description file of the catalogue's tables (base.ini), keeping every value.
namespace BaseMaker {

// The lines of the statements that create a table and alter one.
QStringList createStatement(const TableSpec &table);
QStringList alterStatement(const TableSpec &table);

// Where the description file is: the current directory first, then beside the
// program, then the copy built into the program. Empty when none exists.
QString findDescriptionFile(const QString &name);

// Checks (or, with packOnly, packs) every table of the description against the
// catalogue of `aliasName`. False only when the description file does not
// exist. Failures other than a refused pack throw.
bool VerifyBase(const QString &descriptionFile, const QString &aliasName, bool packAfterCheck,
                bool packOnly, StorageUi &ui);
// The same on a catalogue given directly: a data directory (made when
// missing, one level) or a server's URI.
bool verifyCatalogue(const QString &descriptionFile, const QString &location, bool packAfterCheck,
                     bool packOnly, StorageUi &ui);

// Packs one table; 0 on success, else the engine's error code.
int PackTable(Session &session, const QString &tableName);

} // namespace BaseMaker
