#pragma once

#include <QString>

// The file index from the command line: `--rebuild-index` throws the index
// away and makes it again from Files.DB; `--find-in-files TEXT` brings it up
// to date and prints, for every file holding the words, its owner, its
// description and the words in their place. Both return the exit status.
int rebuildFileIndex();
int findInFiles(const QString &text);
