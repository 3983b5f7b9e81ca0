#include "TextExtraction.h"

#include <QSet>
#include <QXmlStreamReader>
#include <memory>
#include <zip.h>

namespace {

// Limits against zip bombs: a part of an office document is XML of a few
// megabytes; a part that claims more, or packs tighter than any XML does,
// is not read at all, and what is read stops at the limit whatever the
// archive claims.
constexpr zip_uint64_t maxPartSize = 64 * 1024 * 1024;
constexpr zip_uint64_t maxTotalSize = 256 * 1024 * 1024;
constexpr zip_uint64_t maxRatio = 200;
constexpr zip_uint64_t ratioCheckedFrom = 1024 * 1024;

struct ZipCloser
{
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ZipCloser>;

struct PartFile
{
    zip_file_t *file;
    ~PartFile()
    {
        if (file)
            zip_fclose(file);
    }
};

// Why a part gave no text: the answer for the whole file.
struct PartFault
{
    Extraction answer;
};

class ZipParts
{
public:
    explicit ZipParts(const QByteArray &bytes) : m_bytes(bytes)
    {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t *source =
            zip_source_buffer_create(m_bytes.constData(), zip_uint64_t(m_bytes.size()), 0, &error);
        if (source) {
            m_archive.reset(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
            if (!m_archive)
                zip_source_free(source);
        }
        zip_error_fini(&error);
    }

    bool isOpen() const { return bool(m_archive); }

    bool has(const char *name) const { return zip_name_locate(m_archive.get(), name, 0) >= 0; }

    QStringList names(const QString &prefix) const
    {
        QStringList found;
        const zip_int64_t count = zip_get_num_entries(m_archive.get(), 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const QString name = QString::fromUtf8(zip_get_name(m_archive.get(), i, 0));
            if (name.startsWith(prefix) && name.endsWith(QStringLiteral(".xml")))
                found << name;
        }
        return found;
    }

    // The bytes of one part; nullopt when it is absent. A part that does not
    // open, is encrypted or fails its checksum throws PartFault.
    std::optional<QByteArray> read(const QString &name)
    {
        const QByteArray utf8 = name.toUtf8();
        zip_stat_t stat;
        if (zip_stat(m_archive.get(), utf8.constData(), 0, &stat) != 0)
            return std::nullopt;
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            throw PartFault{damaged(QStringLiteral("часть %1 зашифрована").arg(name))};
        checkLimits(stat, name);
        PartFile part{zip_fopen_index(m_archive.get(), stat.index, 0)};
        if (!part.file)
            throw PartFault{damaged(QStringLiteral("часть %1 не открывается").arg(name))};
        QByteArray bytes;
        char buffer[65536];
        zip_int64_t got;
        while ((got = zip_fread(part.file, buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, got);
            m_total += zip_uint64_t(got);
            if (zip_uint64_t(bytes.size()) > maxPartSize || m_total > maxTotalSize)
                throw PartFault{overLimits(name)};
        }
        if (got < 0)
            throw PartFault{damaged(QStringLiteral("часть %1 не читается").arg(name))};
        return bytes;
    }

private:
    static Extraction overLimits(const QString &name)
    {
        return tooLarge(QStringLiteral("часть %1 больше допустимого").arg(name));
    }

    void checkLimits(const zip_stat_t &stat, const QString &name) const
    {
        const bool sized = (stat.valid & ZIP_STAT_SIZE) && (stat.valid & ZIP_STAT_COMP_SIZE);
        if (!sized)
            return; // the read itself stops at the limit
        const bool bomb = stat.size > maxPartSize ||
                          (stat.size > ratioCheckedFrom &&
                           stat.size / std::max<zip_uint64_t>(stat.comp_size, 1) > maxRatio);
        if (bomb)
            throw PartFault{overLimits(name)};
    }

    QByteArray m_bytes;
    Archive m_archive;
    zip_uint64_t m_total = 0;
};

// Elements after which the words of an office document stop: paragraphs,
// line breaks, table cells and rows of the three XML vocabularies.
const QSet<QStringView> &wordBreaks()
{
    static const QSet<QStringView> breaks = {u"p",  u"h",          u"br",         u"tab",
                                             u"tr", u"row",        u"si",         u"c",
                                             u"s",  u"table-cell", u"line-break", u"cr"};
    return breaks;
}

// The characters of an XML part. A spreadsheet cell that holds the number of
// a shared string (t="s") gives no text of its own: the strings are read
// from their own part.
// False when the XML is not well formed.
bool appendXmlText(const QByteArray &xml, QString &text)
{
    QXmlStreamReader reader(xml);
    bool sharedStringCell = false;
    bool skipping = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (reader.name() == u"c")
                sharedStringCell = reader.attributes().value(QStringLiteral("t")) == u"s";
            else if (reader.name() == u"v")
                skipping = sharedStringCell;
            break;
        case QXmlStreamReader::EndElement:
            if (reader.name() == u"v")
                skipping = false;
            if (wordBreaks().contains(reader.name()))
                text += u' ';
            break;
        case QXmlStreamReader::Characters:
            if (!skipping)
                text += reader.text();
            break;
        default:
            break;
        }
    }
    return !reader.hasError();
}

QStringList documentParts(const ZipParts &zip)
{
    if (zip.has("word/document.xml"))
        return {QStringLiteral("word/document.xml")};
    if (zip.has("xl/workbook.xml"))
        return QStringList{QStringLiteral("xl/sharedStrings.xml")} +
               zip.names(QStringLiteral("xl/worksheets/"));
    if (zip.has("content.xml"))
        return {QStringLiteral("content.xml")};
    return {};
}

} // namespace

Extraction zipDocumentText(const QByteArray &bytes, qint64 maxText)
{
    ZipParts zip(bytes);
    if (!zip.isOpen())
        return damaged(QStringLiteral("не читается как zip-архив"));
    const QStringList parts = documentParts(zip);
    if (parts.isEmpty())
        return {ExtractStatus::Unsupported, {}, QStringLiteral("архив, но не документ")};
    QString text;
    try {
        for (const QString &name : parts) {
            // A workbook of numbers only has no shared strings: a part may be absent.
            const std::optional<QByteArray> xml = zip.read(name);
            if (xml && !appendXmlText(*xml, text))
                return damaged(QStringLiteral("часть %1 не является правильным XML").arg(name));
            if (text.size() > maxText)
                break;
        }
    } catch (const PartFault &fault) {
        return fault.answer;
    }
    return limitedText(text, maxText);
}
