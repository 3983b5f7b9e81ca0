#include "Xlsx.h"

#include "FileError.h"
#include "TempFiles.h"
#include "WorkbookZip.h"
#include "ZipFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QXmlStreamReader>
#include <climits>

namespace {

const QByteArray xmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const QString mainNs = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
const QString relNs =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

// XML 1.0 allows neither most control characters nor unpaired surrogates.
bool allowedInXml(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

QByteArray escaped(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (allowedInXml(c))
            clean += QString::fromUcs4(&c, 1);
    }
    return clean.toHtmlEscaped().toUtf8();
}

// Style 0 is the plain cell, style 1 the header's bold one; texts with line
// breaks show them (style 2 for body cells, 3 for the header).
constexpr int headerStyle = 1;
constexpr int wrappedStyle = 2;
const QByteArray styles =
    "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
    "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
    "borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"4\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/>"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
    "applyAlignment=\"1\"><alignment vertical=\"top\" wrapText=\"1\"/></xf>"
    "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\" "
    "applyAlignment=\"1\"><alignment vertical=\"top\" wrapText=\"1\"/></xf></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>";

QByteArray cell(const QVariant &value, int style)
{
    if (value.isNull() || !value.isValid())
        return "<c/>";
    const int type = value.typeId();
    if (type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::Double)
        return "<c><v>" + value.toString().toUtf8() + "</v></c>";
    const QString text = value.toString();
    if (text.contains('\n'))
        style += wrappedStyle;
    const QByteArray styled = style > 0 ? " s=\"" + QByteArray::number(style) + '"' : QByteArray();
    return "<c t=\"inlineStr\"" + styled + "><is><t xml:space=\"preserve\">" + escaped(text) +
           "</t></is></c>";
}

// Excel's width unit is about one digit of the standard font; a little room
// beside the text, and no column wider than a screenful of text.
constexpr int minColumnWidth = 8;
constexpr int maxColumnWidth = 60;

int widthOf(const QString &value)
{
    qsizetype longest = 0;
    for (const QStringView line : QStringView(value).split('\n'))
        longest = std::max(longest, line.size());
    return int(std::min<qsizetype>(longest + 2, maxColumnWidth));
}

class Reader
{
public:
    Reader(const QString &path, const ReadLimits &limits)
        : m_builder(limits), m_book(path, m_builder, limits)
    {}

    TextTable run()
    {
        const QHash<QString, QString> rels = relationships("xl/_rels/workbook.xml.rels");
        const QString sheet = firstSheet(rels);
        for (auto it = rels.cbegin(); it != rels.cend(); ++it) {
            if (it.key().startsWith(QStringLiteral("type:")) &&
                it.key().endsWith(QStringLiteral("/sharedStrings")))
                readSharedStrings(it.value());
        }
        readSheet(sheet);
        return m_builder.finish();
    }

private:
    static QString resolve(const QString &target)
    {
        return target.startsWith('/') ? target.mid(1) : QStringLiteral("xl/") + target;
    }

    // Id -> part, and "type:<type>" -> part.
    QHash<QString, QString> relationships(const QString &name)
    {
        QHash<QString, QString> rels;
        QXmlStreamReader xml(m_book.part(name));
        while (m_book.next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("Relationship")) {
                const auto a = xml.attributes();
                const QString target = resolve(a.value("Target").toString());
                rels.insert(a.value("Id").toString(), target);
                rels.insert(QStringLiteral("type:") + a.value("Type").toString(), target);
            }
        }
        return rels;
    }

    QString firstSheet(const QHash<QString, QString> &rels)
    {
        QXmlStreamReader xml(m_book.part("xl/workbook.xml"));
        while (m_book.next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("sheet")) {
                const QString id = xml.attributes().value(relNs, "id").toString();
                if (rels.contains(id))
                    return rels.value(id);
            }
        }
        throw FileError(QStringLiteral("в книге нет листов"));
    }

    // The text of an element holding <t> pieces (a shared string or an inline
    // one); phonetic hints (<rPh>) are not part of it.
    QString readText(QXmlStreamReader &xml)
    {
        QString text;
        int depth = 1;
        while (depth > 0 && m_book.next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("t"))
                text += m_book.elementText(xml);
            else if (xml.isStartElement() && xml.name() == QLatin1String("rPh"))
                m_book.elementText(xml);
            else if (xml.isStartElement())
                ++depth;
            else if (xml.isEndElement()) {
                --depth;
            }
        }
        return text;
    }

    // Every shared text is held once, but counted against the limits here and
    // again at every cell that names it.
    void readSharedStrings(const QString &name)
    {
        QXmlStreamReader xml(m_book.part(name));
        while (m_book.next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("si")) {
                m_shared.append(readText(xml));
                m_builder.charge(1, m_shared.back().size());
            }
        }
    }

    int columnOf(QStringView reference, int fallback) const
    {
        int column = 0;
        int letters = 0;
        for (const QChar c : reference) {
            if (c < 'A' || c > 'Z')
                break;
            column = column * 26 + (c.unicode() - 'A' + 1);
            if (++letters > 3)
                break;
        }
        return letters == 0 ? fallback : column - 1;
    }

    QString sharedString(const QString &index)
    {
        bool number = false;
        const qlonglong at = index.trimmed().toLongLong(&number);
        if (number && at >= 0 && at < m_shared.size())
            return m_shared[at];
        m_builder.markDamaged(
            QStringLiteral("ячейка ссылается на общую строку %1, которой в книге нет").arg(index));
        return {};
    }

    QString cellValue(QXmlStreamReader &xml, QStringView type)
    {
        if (type == QLatin1String("inlineStr"))
            return readText(xml);
        QString value;
        while (m_book.next(xml)) {
            if (xml.isEndElement() && xml.name() == QLatin1String("c"))
                break;
            if (xml.isStartElement() && xml.name() == QLatin1String("v"))
                value = m_book.elementText(xml);
        }
        return type == QLatin1String("s") ? sharedString(value) : value;
    }

    void readSheet(const QString &name)
    {
        QXmlStreamReader xml(m_book.part(name));
        int line = 0;
        int column = 0;
        while (m_book.next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("row")) {
                bool numbered = false;
                const int r = xml.attributes().value("r").toInt(&numbered);
                // A row number past the last one a sheet may have stays there.
                line = numbered && r > line ? r : std::min(line, INT_MAX - 1) + 1;
                column = 0;
            } else if (xml.isStartElement() && xml.name() == QLatin1String("c")) {
                const auto a = xml.attributes();
                column = columnOf(a.value("r"), column);
                const QString type = a.value("t").toString();
                m_builder.setCell(column++, cellValue(xml, type));
            } else if (xml.isEndElement() && xml.name() == QLatin1String("row")) {
                m_builder.endRow(line);
            }
        }
    }

    TableBuilder m_builder;
    WorkbookZip m_book;
    QStringList m_shared;
};

} // namespace

namespace Xlsx {

Writer::Writer(const QString &path, const QString &sheetName)
    : m_path(path), m_sheetName(sheetName), m_scratch(std::make_unique<PrivateTempDir>()),
      m_rows(std::make_unique<QFile>(m_scratch->filePath(QStringLiteral("rows.xml"))))
{
    if (!m_rows->open(QIODevice::WriteOnly))
        throw FileError(m_rows->fileName() + QStringLiteral(": не удаётся создать"));
}

Writer::~Writer() = default;

void Writer::addHeader(const QStringList &titles)
{
    m_frozenHeader = true;
    writeRow(QVariantList(titles.begin(), titles.end()), headerStyle);
}

void Writer::addRow(const QVariantList &values)
{
    writeRow(values, 0);
}

void Writer::writeRow(const QVariantList &values, int style)
{
    QByteArray row = "<row>";
    if (m_widths.size() < values.size())
        m_widths.resize(values.size(), minColumnWidth);
    for (qsizetype i = 0; i < values.size(); ++i) {
        row += cell(values[i], style);
        if (!values[i].isNull())
            m_widths[i] = std::max(m_widths[i], widthOf(values[i].toString()));
    }
    row += "</row>\n";
    if (m_rows->write(row) != row.size())
        throw FileError(m_rows->fileName() + QStringLiteral(": не удаётся записать (") +
                        m_rows->errorString() + ')');
}

// The sheet's head (frozen header, column widths) is known only when every
// row is written: the sheet is put together from the head and the rows.
QString Writer::assembleSheet()
{
    m_rows->close();
    QByteArray head = xmlHead + "<worksheet xmlns=\"" + mainNs.toUtf8() + "\">";
    if (m_frozenHeader)
        head += "<sheetViews><sheetView workbookViewId=\"0\"><pane ySplit=\"1\" "
                "topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"
                "<selection pane=\"bottomLeft\"/></sheetView></sheetViews>";
    if (!m_widths.isEmpty()) {
        head += "<cols>";
        for (qsizetype i = 0; i < m_widths.size(); ++i)
            head += QStringLiteral("<col min=\"%1\" max=\"%1\" width=\"%2\" customWidth=\"1\"/>")
                        .arg(i + 1)
                        .arg(m_widths[i])
                        .toUtf8();
        head += "</cols>";
    }
    QFile sheet(m_scratch->filePath(QStringLiteral("sheet1.xml")));
    QFile rows(m_rows->fileName());
    if (!sheet.open(QIODevice::WriteOnly) || !rows.open(QIODevice::ReadOnly))
        throw FileError(sheet.fileName() + QStringLiteral(": не удаётся создать"));
    bool written = sheet.write(head + "<sheetData>\n") >= 0;
    // Pieces of a few hundred kilobytes: the rows never sit in memory whole.
    while (written && !rows.atEnd())
        written = sheet.write(rows.read(256 * 1024)) >= 0;
    written = written && sheet.write("</sheetData></worksheet>\n") >= 0;
    if (!written || !sheet.flush())
        throw FileError(sheet.fileName() + QStringLiteral(": не удаётся записать (") +
                        sheet.errorString() + ')');
    return sheet.fileName();
}

void Writer::commit()
{
    const QString sheet = assembleSheet();
    const QByteArray pkgRels = "http://schemas.openxmlformats.org/package/2006/relationships";
    const QByteArray docType = relNs.toUtf8();
    const QByteArray typePrefix = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
    ZipWriter zip(m_path);
    zip.addData("[Content_Types].xml",
                xmlHead +
                    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                    "<Default Extension=\"rels\" "
                    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                    "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" +
                    typePrefix +
                    "sheet.main+xml\"/>"
                    "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" +
                    typePrefix +
                    "worksheet+xml\"/>"
                    "<Override PartName=\"/xl/styles.xml\" ContentType=\"" +
                    typePrefix + "styles+xml\"/></Types>");
    zip.addData("_rels/.rels",
                xmlHead + "<Relationships xmlns=\"" + pkgRels +
                    "\"><Relationship Id=\"rId1\" Type=\"" + docType +
                    "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    zip.addData("xl/workbook.xml", xmlHead + "<workbook xmlns=\"" + mainNs.toUtf8() +
                                       "\" xmlns:r=\"" + docType + "\"><sheets><sheet name=\"" +
                                       escaped(m_sheetName.left(31)) +
                                       "\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    zip.addData("xl/_rels/workbook.xml.rels",
                xmlHead + "<Relationships xmlns=\"" + pkgRels +
                    "\"><Relationship Id=\"rId1\" Type=\"" + docType +
                    "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
                    "Type=\"" +
                    docType + "/styles\" Target=\"styles.xml\"/></Relationships>");
    zip.addData("xl/styles.xml", xmlHead + "<styleSheet xmlns=\"" + mainNs.toUtf8() + "\">" +
                                     styles + "</styleSheet>");
    zip.addFile("xl/worksheets/sheet1.xml", sheet);
    zip.commit();
}

TextTable read(const QString &path, const ReadLimits &limits)
{
    const QFileInfo info(path);
    if (info.size() > limits.maxFileBytes)
        throw FileError(QDir::toNativeSeparators(path) +
                        QStringLiteral(": файл слишком велик для импорта"));
    try {
        return Reader(path, limits).run();
    } catch (const FileError &e) {
        // The archive's own messages name the file already.
        const QString shown = QDir::toNativeSeparators(path) + QStringLiteral(": ");
        throw FileError(e.message().startsWith(shown) ? e.message() : shown + e.message());
    }
}

} // namespace Xlsx
