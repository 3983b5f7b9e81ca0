#include "TextExtraction.h"

#include <QStringDecoder>

namespace {

// Bytes that only binary files hold; a text file of ours never has them.
bool looksBinary(const QByteArray &head)
{
    return head.contains('\0');
}

bool startsWithHtml(const QByteArray &head)
{
    const QByteArray lower = head.trimmed().toLower();
    return lower.startsWith("<!doctype html") || lower.startsWith("<html") ||
           (lower.startsWith("<") && lower.contains("<html"));
}

// A character takes at least one byte in every encoding we read: a file of
// more bytes than four times the limit cannot hold a text within it in UTF-8,
// and is refused before a character of it is decoded.
constexpr qint64 mostBytesPerCharacter = 4;

} // namespace

DocumentKind detectKind(const QByteArray &bytes)
{
    // A PDF may carry a few bytes of junk before its header; readers allow 1 KB.
    const QByteArray head = bytes.left(1024);
    if (head.contains("%PDF-"))
        return DocumentKind::Pdf;
    if (bytes.startsWith("PK\x03\x04"))
        return DocumentKind::Zip;
    if (bytes.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")))
        return DocumentKind::Xls;
    if (bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff"))
        return startsWithHtml(decodeText(head).toUtf8()) ? DocumentKind::Html
                                                         : DocumentKind::PlainText;
    if (looksBinary(head))
        return DocumentKind::Other;
    const QByteArray withoutBom = bytes.startsWith("\xef\xbb\xbf") ? head.mid(3) : head;
    return startsWithHtml(withoutBom) ? DocumentKind::Html : DocumentKind::PlainText;
}

QString decodeText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xff\xfe"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xfe\xff"))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    if (bytes.startsWith("\xef\xbb\xbf"))
        return QString::fromUtf8(bytes.mid(3));
    {
        // The failed attempt is let go before the second decoding: for a large
        // file both texts at once could pass the memory limit.
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString text = utf8.decode(bytes);
        if (!utf8.hasError())
            return text;
    }
    // Not UTF-8: the other encoding a Russian office writes plain text in.
    return QStringDecoder("windows-1251").decode(bytes);
}

Extraction limitedText(QString text, qint64 maxText)
{
    if (text.size() > maxText)
        return tooLarge(QStringLiteral("текст длиннее %1 символов").arg(maxText));
    return {ExtractStatus::Text, std::move(text), {}};
}

Extraction damaged(const QString &why)
{
    return {ExtractStatus::Damaged, {}, QStringLiteral("файл повреждён: ") + why};
}

Extraction tooLarge(const QString &why)
{
    return {ExtractStatus::TooLarge, {}, QStringLiteral("файл слишком велик: ") + why};
}

Extraction plainText(const QByteArray &bytes, qint64 maxText)
{
    if (bytes.size() > maxText * mostBytesPerCharacter)
        return tooLarge(QStringLiteral("текст длиннее %1 символов").arg(maxText));
    return limitedText(decodeText(bytes), maxText);
}

Extraction extractText(const QByteArray &bytes, qint64 maxText)
{
    switch (detectKind(bytes)) {
    case DocumentKind::Pdf:
        return pdfText(bytes, maxText);
    case DocumentKind::Zip:
        return zipDocumentText(bytes, maxText);
    case DocumentKind::Xls:
        return xlsText(bytes, maxText);
    case DocumentKind::Html:
        return htmlText(bytes, maxText);
    case DocumentKind::PlainText:
        return plainText(bytes, maxText);
    case DocumentKind::Other:
        break;
    }
    return {ExtractStatus::Unsupported, {}, QStringLiteral("вид файла не поддерживается")};
}
