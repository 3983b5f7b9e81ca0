#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

// Words as the file index sees them: letters and digits between anything
// else, lower case, Ё read as Е, Russian and English words cut to their stems
// so that "болты" and "болтов" are both "болт".
class WordStems
{
public:
    WordStems();
    ~WordStems();
    WordStems(const WordStems &) = delete;
    WordStems &operator=(const WordStems &) = delete;

    // The stem of one word (already a run of letters and digits).
    QByteArray stem(const QString &word);
    // The same for a word already folded to lower case and written in UTF-8,
    // with what its letters are: the tokenizer's fast path.
    QByteArray stemFolded(const QByteArray &folded, bool cyrillic, bool latin, bool lettersOnly);

private:
    struct Stemmers;
    Stemmers *m_stemmers;
};

// The name under which the index's tokenizer is registered.
inline constexpr const char *stemTokenizerName = "quillon_stems";

// Registers the tokenizer on a connection; false when the SQLite library
// has no full-text search.
bool registerStemTokenizer(sqlite3 *db);

// The name of the index's snippet function: the words around a document's
// first match, read without going through the whole document.
inline constexpr const char *snippetFunctionName = "quillon_snippet";
bool registerSnippetFunction(sqlite3 *db);

// The stems of a text, as the index stores them (for tests and diagnostics).
QStringList stemsOf(const QString &text);
