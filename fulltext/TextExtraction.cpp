#include "TextExtraction.h"

#include <QStringDecoder>
#include <array>

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

// Windows-1251 keeps ASCII as it is and a letter a byte above it: a table of
// the upper half, taken once from the system's converter, decodes a text
// into exactly one character a byte (the converter asks for room for two).
QString decode1251(const QByteArray &bytes)
{
    static const std::array<QChar, 128> upperHalf = [] {
        QByteArray high(128, Qt::Uninitialized);
        for (int i = 0; i < 128; ++i)
            high[i] = char(0x80 + i);
        const QString decoded = QStringDecoder("windows-1251").decode(high);
        std::array<QChar, 128> table;
        for (int i = 0; i < 128; ++i)
            table[size_t(i)] = decoded.size() == 128 ? decoded.at(i) : QChar::ReplacementCharacter;
        return table;
    }();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        *out++ = code < 0x80 ? QChar(code) : upperHalf[code - 0x80];
    }
    return text;
}

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
    return decode1251(bytes);
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
