#include "TestDocuments.h"

#include "SPacker.h"
#include "UData.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <zip.h>

namespace TestDocuments {

namespace {

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

} // namespace

QByteArray zip(const QList<std::pair<QString, QByteArray>> &entries)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("doc.zip");
    int error = 0;
    zip_t *archive = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto &[name, bytes] : entries) {
        zip_source_t *source =
            zip_source_buffer(archive, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
    }
    zip_close(archive);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QByteArray pdf(const QString &text)
{
    // Fifty lines a page, as a printed price list has them.
    constexpr int linesPerPage = 50;
    const QStringList lines = text.split(u'\n');
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        QPainter painter(&writer);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
        for (qsizetype from = 0; from < lines.size(); from += linesPerPage) {
            if (from > 0)
                writer.newPage();
            painter.drawText(QRect(0, 0, writer.width(), writer.height()), Qt::TextWordWrap,
                             lines.mid(from, linesPerPage).join(u'\n'));
        }
    }
    return buffer.data();
}

QByteArray docx(const QString &text)
{
    // A word split over two runs, as word processors write it after an edit.
    const qsizetype half = text.size() / 2;
    return zip({{"[Content_Types].xml", "<Types/>"},
                {"word/document.xml",
                 "<?xml version=\"1.0\"?><w:document xmlns:w=\"urn:w\"><w:body><w:p><w:r><w:t>" +
                     escaped(text.left(half)) + "</w:t></w:r><w:r><w:t>" + escaped(text.mid(half)) +
                     "</w:t></w:r></w:p></w:body></w:document>"}});
}

QByteArray xlsx(const QString &text)
{
    return zip({{"xl/workbook.xml", "<workbook/>"},
                {"xl/sharedStrings.xml", "<sst><si><t>" + escaped(text) + "</t></si></sst>"},
                {"xl/worksheets/sheet1.xml",
                 "<worksheet><sheetData><row><c t=\"s\"><v>0</v></c><c><v>4217</v></c></row>"
                 "</sheetData></worksheet>"}});
}

QByteArray odt(const QString &text)
{
    return zip(
        {{"mimetype", "application/vnd.oasis.opendocument.text"},
         {"content.xml", "<office:document-content xmlns:office=\"o\" xmlns:text=\"t\">"
                         "<office:body><text:p>" +
                             escaped(text) + "</text:p></office:body></office:document-content>"}});
}

QByteArray ods(const QString &text)
{
    return zip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                {"content.xml", "<office:document-content xmlns:office=\"o\" xmlns:table=\"t\" "
                                "xmlns:text=\"x\"><table:table><table:table-row><table:table-cell>"
                                "<text:p>" +
                                    escaped(text) +
                                    "</text:p></table:table-cell></table:table-row></table:table>"
                                    "</office:document-content>"}});
}

QByteArray lockedPdf()
{
    QFile file(QStringLiteral(QUILLON_FIXTURES "/locked.pdf"));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QByteArray brokenXmlDocx()
{
    return zip({{"word/document.xml", "<w:document xmlns:w=\"urn:w\"><w:body><w:p><w:t>Болты</w:t>"
                                      "</w:p><w:p><w:t>Гайки</w"}});
}

QByteArray encryptedDocx()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("doc.zip");
    int error = 0;
    zip_t *archive = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    static const QByteArray xml = "<w:document xmlns:w=\"urn:w\"><w:t>Болты</w:t></w:document>";
    zip_source_t *source = zip_source_buffer(archive, xml.constData(), zip_uint64_t(xml.size()), 0);
    const zip_int64_t index = zip_file_add(archive, "word/document.xml", source, 0);
    zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_AES_256, "secret");
    zip_close(archive);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QByteArray packed(const QByteArray &bytes)
{
    TStreamPacker packer;
    packer.Method = clMax;
    packer.InputStream()->write(bytes);
    packer.Execute();
    return packer.OutputStream()->data();
}

QByteArray xls()
{
    QFile file(QStringLiteral(QUILLON_FIXTURES "/price.xls"));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QByteArray csvUtf8(const QString &text)
{
    return "Артикул;Наименование\n1;" + text.toUtf8() + "\n";
}

QByteArray csvUtf16(const QString &text)
{
    const QString csv = QStringLiteral("Артикул;Наименование\r\n1;") + text + "\r\n";
    return QByteArray("\xff\xfe") + QStringEncoder(QStringEncoder::Utf16LE).encode(csv);
}

QByteArray csv1251(const QString &text)
{
    return QStringEncoder("windows-1251").encode(QStringLiteral("Артикул;Наименование\n1;") + text);
}

QByteArray html(const QString &text)
{
    return "<!DOCTYPE html><html><head><style>p{color:red}</style></head><body><table><tr><td>" +
           escaped(text) + "</td><td>&laquo;цена&raquo;</td></tr></table></body></html>";
}

QByteArray zipBomb(qint64 size)
{
    return zip(
        {{"xl/workbook.xml", "<workbook/>"}, {"xl/sharedStrings.xml", QByteArray(size, ' ')}});
}

QByteArray damagedPdf()
{
    QByteArray bytes = pdf(QStringLiteral("болты"));
    // The header stays; the body is overwritten with junk.
    for (qsizetype i = 20; i < bytes.size(); i += 3)
        bytes[i] = char(i * 7);
    return bytes;
}

qint64 attach(Query &files, const QString &ownerField, qint64 ownerKey, const QString &description,
              const QByteArray &bytes)
{
    dm->FileAppendAllowed = true;
    files.append();
    files.fieldByName(ownerField)->setAsInteger(ownerKey);
    files.fieldByName("Description")->setAsString(description);
    files.fieldByName("FileName")->setAsString(description.left(13));
    files.fieldByName("File")->setBytes(packed(bytes));
    files.post();
    dm->FileAppendAllowed = false;
    return files.fieldByName("FileID")->asInteger();
}

} // namespace TestDocuments
