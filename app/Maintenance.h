#pragma once

#include <QStringList>

// Headless maintenance for scripts: `quillon --check` and `quillon --pack`
// run the structure verifier without a window; `--rebuild-index` and
// `--find-in-files` work on the index of attached files; `--extract-server`
// is the extraction process the indexer keeps beside it. Returns the exit status, or
// -1 when the arguments ask for the windowed program.
int runMaintenance(const QStringList &arguments);

// The `--catalogue WHERE` of the command line: the folder or server address
// this run works on, for the window and every command alike; the alias
// configuration is left as it is.
void applyCatalogueOption(const QStringList &arguments);
