#include "TextExtraction.h"

#include <memory>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

namespace {

// Poppler reports every flaw of a damaged file on stderr; the indexer logs
// one line per skipped file instead.
void quietPoppler(const std::string &, void *) {}

} // namespace

Extraction pdfText(const QByteArray &bytes, qint64 maxText)
{
    poppler::set_debug_error_function(quietPoppler, nullptr);
    std::vector<char> data(bytes.begin(), bytes.end());
    const std::unique_ptr<poppler::document> document(
        poppler::document::load_from_raw_data(data.data(), int(data.size())));
    if (!document)
        return damaged(QStringLiteral("не читается как PDF"));
    // Asked first: a locked document has no pages to count yet.
    if (document->is_locked())
        return {ExtractStatus::Locked, {}, QStringLiteral("файл защищён паролем")};
    // Poppler rebuilds what it can of a damaged file; one without a page is no PDF.
    if (document->pages() == 0)
        return damaged(QStringLiteral("в PDF нет ни одной страницы"));
    QString text;
    for (int i = 0; i < document->pages(); ++i) {
        const std::unique_ptr<poppler::page> page(document->create_page(i));
        if (!page)
            continue;
        const poppler::byte_array utf8 = page->text().to_utf8();
        text += QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
        text += u'\n';
        if (text.size() > maxText)
            break;
    }
    return limitedText(text, maxText);
}
