#include "TextRules.h"

#include <QChar>
#include <optional>
#include <sqlite3.h>

namespace TextRules {
namespace {

// Decodes one UTF-8 sequence at `p` (bounded by `end`) and advances `p`.
// Malformed bytes decode as themselves so that ordering stays total.
char32_t nextCodePoint(const unsigned char *&p, const unsigned char *end)
{
    const unsigned char c = *p++;
    if (c < 0x80)
        return c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    char32_t cp = c & (0x3F >> extra);
    if (extra == 0 || end - p < extra)
        return c;
    for (; extra > 0; --extra)
        cp = (cp << 6) | (*p++ & 0x3F);
    return cp;
}

char32_t lowerOf(char32_t cp)
{
    if (cp < 0x80)
        return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return QChar::toLower(cp);
}

// The primary weight ignores case and puts Ё with Е, as Russian dictionaries do.
char32_t primaryWeight(char32_t cp)
{
    const char32_t lower = lowerOf(cp);
    return lower == 0x0451 ? 0x0435 : lower;
}

// Lower case first, then Ё after Е; used only when the primary weights tie.
int secondaryWeight(char32_t cp)
{
    const char32_t lower = lowerOf(cp);
    const int caseWeight = lower == cp ? 0 : 1;
    const int yoWeight = lower == 0x0451 ? 2 : 0;
    return caseWeight + yoWeight;
}

template <typename ReaderA, typename ReaderB> int compareSequences(ReaderA nextA, ReaderB nextB)
{
    int tieBreak = 0;
    for (;;) {
        const auto a = nextA();
        const auto b = nextB();
        if (!a || !b)
            return a ? 1 : b ? -1 : tieBreak;
        const char32_t pa = primaryWeight(*a), pb = primaryWeight(*b);
        if (pa != pb)
            return pa < pb ? -1 : 1;
        if (tieBreak == 0) {
            const int sa = secondaryWeight(*a), sb = secondaryWeight(*b);
            tieBreak = sa != sb ? (sa < sb ? -1 : 1) : (*a < *b ? -1 : *a > *b ? 1 : 0);
        }
    }
}

struct Utf8Reader
{
    const unsigned char *p, *end;
    std::optional<char32_t> operator()()
    {
        if (p >= end)
            return std::nullopt;
        return nextCodePoint(p, end);
    }
};

struct QStringReader
{
    const QString &s;
    qsizetype i = 0;
    std::optional<char32_t> operator()()
    {
        if (i >= s.size())
            return std::nullopt;
        const QChar c = s.at(i++);
        if (c.isHighSurrogate() && i < s.size() && s.at(i).isLowSurrogate())
            return QChar::surrogateToUcs4(c, s.at(i++));
        return c.unicode();
    }
};

int sqliteCollate(void *, int lengthA, const void *a, int lengthB, const void *b)
{
    return compareUtf8(static_cast<const char *>(a), lengthA, static_cast<const char *>(b),
                       lengthB);
}

void sqliteUpper(sqlite3_context *context, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const int bytes = sqlite3_value_bytes(argv[0]);
    const QByteArray folded = upper(QString::fromUtf8(text, bytes)).toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

} // namespace

QString upper(const QString &text)
{
    return text.toUpper();
}

int compareUtf8(const char *a, int lengthA, const char *b, int lengthB)
{
    const auto *ua = reinterpret_cast<const unsigned char *>(a);
    const auto *ub = reinterpret_cast<const unsigned char *>(b);
    return compareSequences(Utf8Reader{ua, ua + lengthA}, Utf8Reader{ub, ub + lengthB});
}

int compare(const QString &a, const QString &b)
{
    return compareSequences(QStringReader{a}, QStringReader{b});
}

bool startsWithIgnoringCase(const QString &text, const QString &prefix)
{
    return upper(text.left(prefix.size())) == upper(prefix);
}

void install(sqlite3 *db)
{
    sqlite3_create_collation(db, collationName, SQLITE_UTF8, nullptr, sqliteCollate);
    // A pure function: harmless wherever a table's definition names it, so
    // such a definition is read even with definitions untrusted.
    sqlite3_create_function(db, "upper", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                            nullptr, sqliteUpper, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA case_sensitive_like = ON", nullptr, nullptr, nullptr);
}

} // namespace TextRules
