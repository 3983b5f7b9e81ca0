#pragma once

#include <QByteArray>
#include <QString>

// What an extraction made of one file. The numbers are stored in the index.
enum class ExtractStatus
{
    Text = 0,        // the text is in `text`
    Unsupported = 2, // a kind of file we read no text from
    Damaged = 3,     // a kind we read, but this file could not be read
    TooLarge = 4,    // the file, its text, a part inside it or its memory passed a limit
    Locked = 5       // the file is protected by a password
};

struct Extraction
{
    ExtractStatus status = ExtractStatus::Unsupported;
    QString text;
    QString reason; // why there is no text, in the words a user reads
};

// The kinds of file whose text we read, told by their first bytes.
enum class DocumentKind
{
    Pdf,
    Zip, // XLSX, DOCX, ODS, ODT: XML inside a zip
    Xls,
    Html,
    PlainText,
    Other
};

DocumentKind detectKind(const QByteArray &bytes);

// Reads the text of a file from its bytes. Text over `maxText` characters,
// or a zip part larger than the limits in ZipText, gives TooLarge. Runs only
// in the extraction process: the libraries it uses read untrusted files.
Extraction extractText(const QByteArray &bytes, qint64 maxText);

// The readers of each kind, in their own units.
Extraction pdfText(const QByteArray &bytes, qint64 maxText);
Extraction zipDocumentText(const QByteArray &bytes, qint64 maxText);
Extraction xlsText(const QByteArray &bytes, qint64 maxText);
Extraction plainText(const QByteArray &bytes, qint64 maxText);
Extraction htmlText(const QByteArray &bytes, qint64 maxText);

// Text from a file's bytes: UTF-8 or UTF-16 after a byte-order mark, UTF-8
// when the bytes are valid UTF-8, else Windows-1251.
QString decodeText(const QByteArray &bytes);

// A text within its limit, or TooLarge.
Extraction limitedText(QString text, qint64 maxText);

// The answers without text, with their reasons.
Extraction damaged(const QString &why);
Extraction tooLarge(const QString &why);
