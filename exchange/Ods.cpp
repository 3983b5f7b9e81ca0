#include "Ods.h"

#include "FileError.h"
#include "WorkbookZip.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <algorithm>
#include <climits>

namespace {

const QString tableNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString textNs = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");

class Reader
{
public:
    Reader(const QString &path, const ReadLimits &limits)
        : m_builder(limits), m_book(path, m_builder, limits)
    {}

    TextTable run()
    {
        if (m_book.has(QStringLiteral("META-INF/manifest.xml")) &&
            m_book.part(QStringLiteral("META-INF/manifest.xml")).contains("encryption-data"))
            throw FileError(QStringLiteral("книга защищена паролем"));
        QXmlStreamReader xml(m_book.part(QStringLiteral("content.xml")));
        while (m_book.next(xml)) {
            if (isTable(xml, "table")) {
                readTable(xml);
                return m_builder.finish();
            }
        }
        throw FileError(QStringLiteral("в книге нет листов"));
    }

private:
    static bool isTable(const QXmlStreamReader &xml, const char *name)
    {
        return xml.isStartElement() && xml.namespaceUri() == tableNs &&
               xml.name() == QLatin1String(name);
    }

    // How many times a row, cell or space stands for itself (1 when not said),
    // bounded so that no count overflows: past a million a sheet is refused anyway.
    static int repeats(const QXmlStreamReader &xml, const QString &ns, const char *attribute)
    {
        const qint64 n = xml.attributes().value(ns, QLatin1String(attribute)).toLongLong();
        return int(std::clamp<qint64>(n, 1, 1 << 24));
    }

    void readTable(QXmlStreamReader &xml)
    {
        qint64 line = 0;
        while (m_book.next(xml)) {
            if (xml.isEndElement() && xml.namespaceUri() == tableNs &&
                xml.name() == QLatin1String("table"))
                return;
            if (isTable(xml, "table-row"))
                line = readRow(xml, line);
        }
    }

    // Returns the sheet's row number of the row's last repetition.
    qint64 readRow(QXmlStreamReader &xml, qint64 line)
    {
        const int times = repeats(xml, tableNs, "number-rows-repeated");
        QList<std::pair<int, QString>> cells; // column -> value, the filled ones only
        int column = 0;
        while (m_book.next(xml)) {
            if (xml.isEndElement() && xml.name() == QLatin1String("table-row"))
                break;
            if (isTable(xml, "table-cell") || isTable(xml, "covered-table-cell")) {
                const int span = repeats(xml, tableNs, "number-columns-repeated");
                const QString value = cellText(xml);
                for (int i = 0; i < span && !value.isEmpty(); ++i) {
                    if (column + i >= m_builder.maxColumns())
                        throw FileError(QStringLiteral("в таблице больше %1 столбцов")
                                            .arg(m_builder.maxColumns()));
                    cells.append({column + i, value});
                }
                column = std::min(column + span, m_builder.maxColumns());
            }
        }
        // Rows repeated without a filled cell (a sheet's edge) are skipped at once.
        const int kept = cells.isEmpty() ? 1 : times;
        for (int i = 0; i < kept; ++i) {
            for (const auto &[at, value] : cells)
                m_builder.setCell(at, value);
            m_builder.endRow(int(std::min<qint64>(line + i + 1, INT_MAX)));
        }
        return line + times;
    }

    // The cell's paragraphs, a line each, with their spaces, tabs and breaks.
    QString cellText(QXmlStreamReader &xml)
    {
        QString text;
        int paragraphs = 0;
        int depth = 1;
        while (depth > 0 && m_book.next(xml)) {
            if (xml.isStartElement()) {
                ++depth;
                if (xml.namespaceUri() != textNs)
                    continue;
                if (xml.name() == QLatin1String("p") && paragraphs++ > 0)
                    text += '\n';
                else if (xml.name() == QLatin1String("s"))
                    text += QString(std::min(repeats(xml, textNs, "c"), 1000), ' ');
                else if (xml.name() == QLatin1String("tab"))
                    text += '\t';
                else if (xml.name() == QLatin1String("line-break"))
                    text += '\n';
            } else if (xml.isEndElement()) {
                --depth;
            } else if (xml.isCharacters()) {
                text += xml.text();
            }
        }
        return text;
    }

    TableBuilder m_builder;
    WorkbookZip m_book;
};

} // namespace

namespace Ods {

TextTable read(const QString &path, const ReadLimits &limits)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (QFileInfo(path).size() > limits.maxFileBytes)
        throw FileError(shown + QStringLiteral(": файл слишком велик для импорта"));
    try {
        return Reader(path, limits).run();
    } catch (const FileError &e) {
        throw FileError(shown + QStringLiteral(": ") + e.message());
    }
}

} // namespace Ods
