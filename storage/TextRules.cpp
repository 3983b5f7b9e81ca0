#include "TextRules.h"

#include <QByteArray>
#include <cstring>
#include <sqlite3.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>

namespace TextRules {
namespace {

// One collator for the program; ICU lets every thread compare with it.
const UCollator *collator()
{
    static const UCollator *const shared = [] {
        UErrorCode status = U_ZERO_ERROR;
        UCollator *opened = ucol_open(collationLocale, &status);
        if (U_FAILURE(status))
            qFatal("ICU has no collation %s: %s", collationLocale, u_errorName(status));
        return opened;
    }();
    return shared;
}

// Texts the collation finds equal keep one order: by their bytes.
int byBytes(const char *a, int lengthA, const char *b, int lengthB)
{
    const int common = std::memcmp(a, b, size_t(std::min(lengthA, lengthB)));
    if (common != 0)
        return common < 0 ? -1 : 1;
    return lengthA < lengthB ? -1 : lengthA > lengthB ? 1 : 0;
}

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
    // Upper case may be longer than the text (ß becomes SS).
    QString result(text.size() + 16, Qt::Uninitialized);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        const int length = u_strToUpper(
            reinterpret_cast<UChar *>(result.data()), int(result.size()),
            reinterpret_cast<const UChar *>(text.constData()), int(text.size()), "ru", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            result.resize(length);
            continue;
        }
        if (U_FAILURE(status))
            return text.toUpper();
        result.resize(length);
        return result;
    }
}

int compareUtf8(const char *a, int lengthA, const char *b, int lengthB)
{
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult order = ucol_strcollUTF8(collator(), a, lengthA, b, lengthB, &status);
    if (U_SUCCESS(status) && order != UCOL_EQUAL)
        return order == UCOL_LESS ? -1 : 1;
    return byBytes(a, lengthA, b, lengthB);
}

int compare(const QString &a, const QString &b)
{
    const QByteArray utf8A = a.toUtf8(), utf8B = b.toUtf8();
    return compareUtf8(utf8A.constData(), int(utf8A.size()), utf8B.constData(), int(utf8B.size()));
}

bool startsWithIgnoringCase(const QString &text, const QString &prefix)
{
    return upper(text.left(prefix.size())) == upper(prefix);
}

QString readingForm(const QString &text)
{
    QString form = upper(text);
    form.replace(QChar(0x0401), QChar(0x0415)); // Ё as Е
    form.removeIf([](QChar c) { return quoteMarks.contains(c); });
    return form;
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
