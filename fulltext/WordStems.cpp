#include "WordStems.h"

#include <QChar>
#include <QHash>
#include <algorithm>
#include <libstemmer.h>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <vector>

struct WordStems::Stemmers
{
    sb_stemmer *russian = sb_stemmer_new("russian", "UTF_8");
    sb_stemmer *english = sb_stemmer_new("english", "UTF_8");
    ~Stemmers()
    {
        sb_stemmer_delete(russian);
        sb_stemmer_delete(english);
    }
};

namespace {

// A longer "word" (in UTF-8 bytes: 64 Cyrillic letters) is a code or a run
// of junk: kept as it is, unstemmed.
constexpr qsizetype longestStemmedWord = 128;

// What a character is to the index, after folding.
enum class Sort : quint8
{
    None,     // between words
    Digit,    // 0-9
    Latin,    // a-z
    Cyrillic, // the Cyrillic block
    Letter,   // a letter of another script
    Number    // another digit or numeral
};

struct Folded
{
    char32_t c;
    Sort sort;
};

// Lower case, Ё read as Е (it is written Е as often as not). The letters
// of price lists, ASCII and Russian, are told apart without a table look-up.
Folded fold(char32_t c)
{
    if (c < 0x80) {
        if (c >= u'a' && c <= u'z')
            return {c, Sort::Latin};
        if (c >= u'A' && c <= u'Z')
            return {c + (u'a' - u'A'), Sort::Latin};
        return {c, c >= u'0' && c <= u'9' ? Sort::Digit : Sort::None};
    }
    if (c >= 0x0430 && c <= 0x044f)
        return {c, Sort::Cyrillic};
    if (c >= 0x0410 && c <= 0x042f)
        return {c + 0x20, Sort::Cyrillic};
    if (c == 0x0401 || c == 0x0451)
        return {0x0435, Sort::Cyrillic};
    if (!QChar::isLetterOrNumber(c))
        return {c, Sort::None};
    const char32_t lower = QChar::toLower(c);
    if (lower >= 0x0400 && lower <= 0x04ff)
        return {lower, Sort::Cyrillic};
    return {lower, QChar::isLetter(lower) ? Sort::Letter : Sort::Number};
}

// What the letters of a word tell about the way it is stemmed.
struct WordSorts
{
    bool cyrillic = false;
    bool latin = false;
    bool lettersOnly = true;

    void add(Sort sort)
    {
        cyrillic = cyrillic || sort == Sort::Cyrillic;
        latin = latin || sort == Sort::Latin;
        lettersOnly = lettersOnly && sort != Sort::Digit && sort != Sort::Number;
    }
    // A word of both alphabets ("М8x40") or with digits is a code: kept whole.
    bool stemmed() const { return lettersOnly && (cyrillic != latin); }
};

// Decodes one UTF-8 character at `at`; returns it and its length in bytes.
// Bytes that are no UTF-8 count as one character that is no letter.
std::pair<char32_t, int> decodeAt(const unsigned char *text, int length, int at)
{
    const unsigned char lead = text[at];
    int size = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xe  ? 3
               : (lead >> 3) == 0x1e ? 4
                                     : 0;
    if (size == 0 || at + size > length)
        return {0xfffd, 1};
    char32_t c = size == 1 ? lead : lead & (0x7f >> size);
    for (int i = 1; i < size; ++i) {
        if ((text[at + i] & 0xc0) != 0x80)
            return {0xfffd, 1};
        c = (c << 6) | (text[at + i] & 0x3f);
    }
    return {c, size};
}

// The FTS5 side: one tokenizer object per index connection, with its own
// stemmers (they keep state between calls and are not shared).
struct Tokenizer
{
    WordStems stems;
    // Price lists repeat their words: a snippet of a search re-reads every
    // matching document, and most of its words were stemmed a moment ago.
    QHash<QByteArray, QByteArray> recent;
    static constexpr qsizetype recentLimit = 50000;

    QByteArray stem(const std::string &folded, const WordSorts &sorts)
    {
        // Looked up in place: a copy of the word is made only to remember it.
        const auto known =
            recent.constFind(QByteArray::fromRawData(folded.data(), qsizetype(folded.size())));
        if (known != recent.constEnd())
            return *known;
        if (recent.size() >= recentLimit)
            recent.clear();
        const QByteArray word(folded.data(), qsizetype(folded.size()));
        return *recent.insert(
            word, stems.stemFolded(word, sorts.cyrillic, sorts.latin, sorts.lettersOnly));
    }
};

int createTokenizer(void *, const char **, int, Fts5Tokenizer **out)
{
    *out = reinterpret_cast<Fts5Tokenizer *>(new Tokenizer);
    return SQLITE_OK;
}

void deleteTokenizer(Fts5Tokenizer *tokenizer)
{
    delete reinterpret_cast<Tokenizer *>(tokenizer);
}

// Appends a character to UTF-8 text.
template <typename Bytes> void appendUtf8(Bytes &out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xc0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out.push_back(char(0xe0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(char(0x80 | (c & 0x3f)));
    } else {
        out.push_back(char(0xf0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3f)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(char(0x80 | (c & 0x3f)));
    }
}

// The character at `at`: ASCII, most of a price list, without the decoder.
inline std::pair<char32_t, int> characterAt(const unsigned char *text, int length, int at)
{
    if (text[at] < 0x80)
        return {text[at], 1};
    return decodeAt(text, length, at);
}

// Cuts the text into words as it goes, folding each character once: the
// snippets of a search read documents again through here.
int tokenize(Fts5Tokenizer *tokenizer, void *context, int, const char *text, int length,
             int (*token)(void *, int, const char *, int, int, int))
{
    auto *self = reinterpret_cast<Tokenizer *>(tokenizer);
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    std::string folded; // keeps its room from word to word
    int at = 0;
    while (at < length) {
        auto [c, size] = characterAt(bytes, length, at);
        Folded f = fold(c);
        if (f.sort == Sort::None) {
            at += size;
            continue;
        }
        const int start = at;
        folded.clear();
        WordSorts sorts;
        while (f.sort != Sort::None) {
            sorts.add(f.sort);
            appendUtf8(folded, f.c);
            at += size;
            if (at >= length)
                break;
            std::tie(c, size) = characterAt(bytes, length, at);
            f = fold(c);
        }
        int rc;
        if (sorts.stemmed()) {
            const QByteArray stem = self->stem(folded, sorts);
            rc = token(context, 0, stem.constData(), int(stem.size()), start, at);
        } else {
            // Numbers and codes, half of a price list, are their own stems.
            rc = token(context, 0, folded.data(), int(folded.size()), start, at);
        }
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

fts5_api *fts5Of(sqlite3 *db)
{
    fts5_api *api = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "select fts5(?1)", -1, &statement, nullptr) != SQLITE_OK)
        return nullptr;
    sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    return api;
}

// The words around the first match of a document, the matched ones in
// «»: read from the stored text up to the match and a few words past it,
// never the whole document (the built-in snippet weighs every match of
// every fragment, which costs seconds on a long price list).
constexpr int snippetWordsBefore = 4;
constexpr int snippetWordsAfter = 8;

struct SnippetWords
{
    int from = 0;
    int to = 0;
    int index = 0;
    std::vector<std::pair<int, int>> spans; // bytes of the words from `from` to `to`
};

int collectSnippetWord(void *context, int flags, const char *, int, int start, int end)
{
    auto *words = static_cast<SnippetWords *>(context);
    if (flags & FTS5_TOKEN_COLOCATED)
        return SQLITE_OK;
    const int index = words->index++;
    if (index >= words->from)
        words->spans.emplace_back(start, end);
    return index >= words->to ? SQLITE_DONE : SQLITE_OK;
}

void snippetFunction(const Fts5ExtensionApi *api, Fts5Context *fts, sqlite3_context *result, int,
                     sqlite3_value **)
{
    int count = 0;
    const char *text = nullptr;
    int length = 0;
    if (api->xInstCount(fts, &count) != SQLITE_OK || count == 0 ||
        api->xColumnText(fts, 0, &text, &length) != SQLITE_OK || !text) {
        sqlite3_result_text(result, "", 0, SQLITE_STATIC);
        return;
    }
    std::vector<int> matched;
    for (int i = 0; i < count; ++i) {
        int phrase = 0, column = 0, offset = 0;
        if (api->xInst(fts, i, &phrase, &column, &offset) == SQLITE_OK && column == 0)
            matched.push_back(offset);
    }
    std::sort(matched.begin(), matched.end());
    if (matched.empty()) {
        sqlite3_result_text(result, "", 0, SQLITE_STATIC);
        return;
    }
    SnippetWords words;
    words.from = std::max(0, matched.front() - snippetWordsBefore);
    words.to = matched.front() + snippetWordsAfter;
    api->xTokenize(fts, text, length, &words, collectSnippetWord);
    if (words.spans.empty()) {
        sqlite3_result_text(result, "", 0, SQLITE_STATIC);
        return;
    }
    QByteArray snippet = words.from > 0 ? "…" : "";
    int at = words.spans.front().first;
    for (size_t i = 0; i < words.spans.size(); ++i) {
        const auto [start, end] = words.spans[i];
        snippet.append(text + at, start - at);
        const bool hit = std::binary_search(matched.begin(), matched.end(), words.from + int(i));
        if (hit)
            snippet += "«";
        snippet.append(text + start, end - start);
        if (hit)
            snippet += "»";
        at = end;
    }
    if (words.index > words.to)
        snippet += "…";
    sqlite3_result_text(result, snippet.constData(), int(snippet.size()), SQLITE_TRANSIENT);
}

} // namespace

bool registerSnippetFunction(sqlite3 *db)
{
    fts5_api *api = fts5Of(db);
    return api && api->xCreateFunction(api, snippetFunctionName, nullptr, snippetFunction,
                                       nullptr) == SQLITE_OK;
}

WordStems::WordStems() : m_stemmers(new Stemmers) {}

WordStems::~WordStems()
{
    delete m_stemmers;
}

QByteArray WordStems::stem(const QString &word)
{
    QByteArray folded;
    WordSorts sorts;
    for (char32_t c : word.toUcs4()) {
        const Folded f = fold(c);
        sorts.add(f.sort);
        appendUtf8(folded, f.c);
    }
    return stemFolded(folded, sorts.cyrillic, sorts.latin, sorts.lettersOnly);
}

QByteArray WordStems::stemFolded(const QByteArray &folded, bool cyrillic, bool latin,
                                 bool lettersOnly)
{
    sb_stemmer *stemmer = cyrillic ? m_stemmers->russian : latin ? m_stemmers->english : nullptr;
    const WordSorts sorts{cyrillic, latin, lettersOnly};
    if (!stemmer || !sorts.stemmed() || folded.size() > longestStemmedWord)
        return folded;
    const sb_symbol *stemmed = sb_stemmer_stem(
        stemmer, reinterpret_cast<const sb_symbol *>(folded.constData()), int(folded.size()));
    if (!stemmed)
        return folded;
    return QByteArray(reinterpret_cast<const char *>(stemmed), sb_stemmer_length(stemmer));
}

bool registerStemTokenizer(sqlite3 *db)
{
    fts5_api *api = fts5Of(db);
    if (!api)
        return false;
    static fts5_tokenizer calls = {createTokenizer, deleteTokenizer, tokenize};
    return api->xCreateTokenizer(api, stemTokenizerName, nullptr, &calls, nullptr) == SQLITE_OK;
}

QStringList stemsOf(const QString &text)
{
    QStringList stems;
    const QByteArray utf8 = text.toUtf8();
    Tokenizer tokenizer;
    auto collect = [](void *list, int, const char *stem, int size, int, int) {
        static_cast<QStringList *>(list)->append(QString::fromUtf8(stem, size));
        return SQLITE_OK;
    };
    tokenize(reinterpret_cast<Fts5Tokenizer *>(&tokenizer), &stems, 0, utf8.constData(),
             int(utf8.size()), collect);
    return stems;
}
