#include "Csv.h"

#include "FileError.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace {

bool needsQuotes(const QString &value)
{
    if (value.isEmpty())
        return false;
    return value.contains(';') || value.contains('"') || value.contains('\n') ||
           value.contains('\r') || value.front().isSpace() || value.back().isSpace();
}

QChar separatorOf(const QString &text)
{
    const qsizetype end = text.indexOf('\n');
    const QString first = end < 0 ? text : text.left(end);
    QChar best = ';';
    qsizetype most = 0;
    for (const QChar candidate : {QChar(';'), QChar(','), QChar('\t')}) {
        const qsizetype count = first.count(candidate);
        if (count > most) {
            most = count;
            best = candidate;
        }
    }
    return best;
}

// Reads the lines value by value; a quoted value may hold separators, doubled
// quotes and line breaks.
class Parser
{
public:
    Parser(const QString &text, const ReadLimits &limits)
        : m_text(text), m_separator(separatorOf(text)), m_limits(limits)
    {}

    TextTable run()
    {
        QList<QStringList> lines;
        while (m_pos < m_text.size()) {
            if (lines.size() > m_limits.maxRows)
                throw FileError(QStringLiteral("в файле больше %1 строк").arg(m_limits.maxRows));
            QStringList values = readLine();
            if (!(values.size() == 1 && values.front().isEmpty()))
                lines.append(std::move(values));
        }
        TextTable table;
        if (!lines.isEmpty())
            table.header = lines.takeFirst();
        table.rows = std::move(lines);
        return table;
    }

private:
    QStringList readLine()
    {
        QStringList values;
        for (;;) {
            values.append(readValue());
            if (values.size() > m_limits.maxColumns)
                throw FileError(
                    QStringLiteral("в строке больше %1 столбцов").arg(m_limits.maxColumns));
            if (m_pos >= m_text.size())
                return values;
            const QChar c = m_text[m_pos++];
            if (c == '\r' && m_pos < m_text.size() && m_text[m_pos] == '\n')
                ++m_pos;
            if (c != m_separator)
                return values;
        }
    }

    QString readValue()
    {
        if (m_pos < m_text.size() && m_text[m_pos] == '"')
            return readQuoted();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != m_separator && m_text[m_pos] != '\n' &&
               m_text[m_pos] != '\r')
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

    QString readQuoted()
    {
        QString value;
        ++m_pos;
        while (m_pos < m_text.size()) {
            const QChar c = m_text[m_pos++];
            if (c != '"') {
                value += c;
            } else if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                value += '"';
                ++m_pos;
            } else {
                break;
            }
        }
        // Text after the closing quote belongs to the same value, as office programs read it.
        return value + readValue();
    }

    const QString &m_text;
    const QChar m_separator;
    const ReadLimits &m_limits;
    qsizetype m_pos = 0;
};

} // namespace

namespace Csv {

QByteArray line(const QStringList &values)
{
    QString text;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            text += ';';
        if (needsQuotes(values[i]))
            text += '"' + QString(values[i]).replace('"', QStringLiteral("\"\"")) + '"';
        else
            text += values[i];
    }
    return text.toUtf8() + "\r\n";
}

QString decode(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder cyrillic("windows-1251");
    return cyrillic(bytes);
}

TextTable parse(const QString &text, const ReadLimits &limits)
{
    return Parser(text, limits).run();
}

TextTable read(const QString &path, const ReadLimits &limits)
{
    QFile file(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(cannotRead(path, file.errorString()));
    if (file.size() > limits.maxFileBytes)
        throw FileError(shown + QStringLiteral(": файл слишком велик для импорта"));
    try {
        return parse(decode(file.read(limits.maxFileBytes)), limits);
    } catch (const FileError &e) {
        throw FileError(shown + QStringLiteral(": ") + e.message());
    }
}

} // namespace Csv
