#include "Xlsx.h"

#include "FileError.h"
#include "TempFiles.h"
#include "ZipFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QXmlStreamReader>

namespace {

const QByteArray xmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const QString mainNs = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
const QString relNs =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
// A workbook of one sheet has a dozen parts; thousands mean something else.
constexpr qint64 maxParts = 10000;

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

QByteArray cell(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return "<c/>";
    const int type = value.typeId();
    if (type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::Double)
        return "<c><v>" + value.toString().toUtf8() + "</v></c>";
    return "<c t=\"inlineStr\"><is><t xml:space=\"preserve\">" + escaped(value.toString()) +
           "</t></is></c>";
}

class Reader
{
public:
    Reader(const QString &path, const ReadLimits &limits)
        : m_zip(path, maxParts), m_limits(limits), m_deadline(limits.maxSeconds * 1000)
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
        return readSheet(sheet);
    }

private:
    QByteArray part(const QString &name) const
    {
        const int index = m_zip.indexOf(name);
        if (index < 0)
            throw FileError(QStringLiteral("в книге нет части ") + name);
        return m_zip.readAll(index, m_limits.maxPartBytes);
    }

    // Every few hundred elements the clock is read: a hostile file may be slow to read.
    bool next(QXmlStreamReader &xml)
    {
        if (++m_steps % 512 == 0 && m_deadline.hasExpired())
            throw FileError(QStringLiteral("книга читается слишком долго"));
        xml.readNext();
        if (xml.hasError())
            throw FileError(QStringLiteral("книга повреждена (") + xml.errorString() + ')');
        return !xml.atEnd();
    }

    static QString resolve(const QString &target)
    {
        return target.startsWith('/') ? target.mid(1) : QStringLiteral("xl/") + target;
    }

    // Id -> part, and "type:<type>" -> part.
    QHash<QString, QString> relationships(const QString &name)
    {
        QHash<QString, QString> rels;
        QXmlStreamReader xml(part(name));
        while (next(xml)) {
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
        QXmlStreamReader xml(part("xl/workbook.xml"));
        while (next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("sheet")) {
                const QString id = xml.attributes().value(relNs, "id").toString();
                if (rels.contains(id))
                    return rels.value(id);
            }
        }
        throw FileError(QStringLiteral("в книге нет листов"));
    }

    // The text of an element holding <t> pieces (a shared string or an inline one).
    QString readText(QXmlStreamReader &xml, QLatin1String end)
    {
        QString text;
        bool inText = false;
        while (next(xml)) {
            if (xml.isStartElement())
                inText = xml.name() == QLatin1String("t");
            else if (xml.isEndElement() && xml.name() == end)
                break;
            else if (xml.isEndElement())
                inText = false;
            else if (inText && xml.isCharacters())
                text += xml.text();
        }
        return text;
    }

    void readSharedStrings(const QString &name)
    {
        QXmlStreamReader xml(part(name));
        while (next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("si"))
                m_shared.append(readText(xml, QLatin1String("si")));
        }
    }

    int columnOf(const QString &reference, int fallback) const
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
        column = letters == 0 ? fallback : column - 1;
        if (column >= m_limits.maxColumns)
            throw FileError(QStringLiteral("в книге больше %1 столбцов").arg(m_limits.maxColumns));
        return column;
    }

    QString cellValue(QXmlStreamReader &xml, const QString &type)
    {
        if (type == QLatin1String("inlineStr"))
            return readText(xml, QLatin1String("c"));
        QString value;
        while (next(xml)) {
            if (xml.isEndElement() && xml.name() == QLatin1String("c"))
                break;
            if (xml.isStartElement() && xml.name() == QLatin1String("v"))
                value = xml.readElementText();
        }
        if (type == QLatin1String("s"))
            return m_shared.value(value.toInt());
        return value;
    }

    TextTable readSheet(const QString &name)
    {
        QList<QStringList> lines;
        QStringList line;
        QXmlStreamReader xml(part(name));
        while (next(xml)) {
            if (xml.isStartElement() && xml.name() == QLatin1String("row")) {
                line.clear();
            } else if (xml.isStartElement() && xml.name() == QLatin1String("c")) {
                const auto a = xml.attributes();
                const int column = columnOf(a.value("r").toString(), int(line.size()));
                const QString value = cellValue(xml, a.value("t").toString());
                while (line.size() <= column)
                    line.append(QString());
                line[column] = value;
            } else if (xml.isEndElement() && xml.name() == QLatin1String("row")) {
                if (lines.size() > m_limits.maxRows)
                    throw FileError(
                        QStringLiteral("в книге больше %1 строк").arg(m_limits.maxRows));
                if (!line.join(QString()).trimmed().isEmpty())
                    lines.append(line);
            }
        }
        TextTable table;
        if (!lines.isEmpty())
            table.header = lines.takeFirst();
        table.rows = std::move(lines);
        return table;
    }

    ZipReader m_zip;
    const ReadLimits &m_limits;
    QDeadlineTimer m_deadline;
    qint64 m_steps = 0;
    QStringList m_shared;
};

} // namespace

namespace Xlsx {

Writer::Writer(const QString &path, const QString &sheetName)
    : m_path(path), m_sheetName(sheetName), m_scratch(std::make_unique<PrivateTempDir>()),
      m_sheet(std::make_unique<QFile>(m_scratch->filePath(QStringLiteral("sheet1.xml"))))
{
    if (!m_sheet->open(QIODevice::WriteOnly))
        throw FileError(m_sheet->fileName() + QStringLiteral(": не удаётся создать"));
    m_sheet->write(xmlHead + "<worksheet xmlns=\"" + mainNs.toUtf8() + "\"><sheetData>\n");
}

Writer::~Writer() = default;

void Writer::addRow(const QVariantList &values)
{
    QByteArray row = "<row>";
    for (const QVariant &value : values)
        row += cell(value);
    row += "</row>\n";
    if (m_sheet->write(row) != row.size())
        throw FileError(m_sheet->fileName() + QStringLiteral(": не удаётся записать (") +
                        m_sheet->errorString() + ')');
}

void Writer::commit()
{
    m_sheet->write("</sheetData></worksheet>\n");
    m_sheet->close();
    const QByteArray pkgRels = "http://schemas.openxmlformats.org/package/2006/relationships";
    const QByteArray docType = relNs.toUtf8();
    ZipWriter zip(m_path);
    zip.addData("[Content_Types].xml",
                xmlHead +
                    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                    "<Default Extension=\"rels\" "
                    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                    "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                    "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
                    "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                    "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
                    "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>");
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
                    "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
    zip.addFile("xl/worksheets/sheet1.xml", m_sheet->fileName());
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
