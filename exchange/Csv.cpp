#include "Csv.h"

#include "FileError.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <optional>

namespace {

const QByteArray utf8Bom = "\xEF\xBB\xBF";
constexpr char16_t byteOrderMark = 0xFEFF;

bool needsQuotes(const QString &value)
{
    if (value.isEmpty())
        return false;
    return value.contains(';') || value.contains('"') || value.contains('\n') ||
           value.contains('\r') || value.front().isSpace() || value.back().isSpace();
}

bool startsFormula(QChar c)
{
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// Apostrophes followed by a character that starts a formula: the neutralised form.
bool looksNeutralised(const QString &value)
{
    qsizetype i = 0;
    while (i < value.size() && value[i] == '\'')
        ++i;
    return i > 0 && i < value.size() && startsFormula(value[i]);
}

// How many multi-byte UTF-8 sequences the bytes hold, and how many bytes break the encoding.
struct Utf8Evidence
{
    qint64 sequences = 0;
    qint64 breaks = 0;
};

int sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

Utf8Evidence utf8Evidence(const QByteArray &bytes)
{
    Utf8Evidence evidence;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        if (data[i] < 0x80) {
            ++i;
            continue;
        }
        const int length = sequenceLength(data[i]);
        int continued = 1;
        while (length > 0 && continued < length && i + continued < size &&
               (data[i + continued] & 0xC0) == 0x80)
            ++continued;
        if (length > 0 && continued == length) {
            ++evidence.sequences;
            i += length;
        } else {
            ++evidence.breaks;
            ++i;
        }
    }
    return evidence;
}

// UTF-16 without a byte-order mark: text of the Latin and Cyrillic letters
// has a zero in nearly every other byte, always on the same side.
// The high byte of a Latin character is 0, of a Cyrillic one 4: in UTF-16
// nearly every high byte is one of them, and some are 0 (line ends at least).
// In any 8-bit text 0 and 4 are control characters that never come.
std::optional<QStringDecoder::Encoding> utf16Without(const QByteArray &bytes)
{
    const qsizetype sample = std::min<qsizetype>(bytes.size(), 4096) & ~qsizetype(1);
    if (sample < 4)
        return std::nullopt;
    qsizetype high[2] = {0, 0}, zeros[2] = {0, 0};
    for (qsizetype i = 0; i < sample; ++i) {
        high[i % 2] += bytes[i] == 0 || bytes[i] == 4;
        zeros[i % 2] += bytes[i] == 0;
    }
    const qsizetype pairs = sample / 2;
    for (const int side : {1, 0}) {
        if (high[side] * 10 >= pairs * 9 && zeros[side] > 0 && zeros[1 - side] * 20 < pairs)
            return side == 1 ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE;
    }
    return std::nullopt;
}

Csv::Decoded decodeWhole(const QByteArray &bytes, QStringDecoder::Encoding encoding)
{
    QStringDecoder decoder(encoding);
    Csv::Decoded decoded{QString(decoder(bytes)), {}};
    if (decoder.hasError()) {
        // The decoder put a replacement character where it failed.
        const QStringList lines = decoded.text.split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].contains(QChar::ReplacementCharacter))
                decoded.badLines.insert(int(i + 1));
        }
    }
    return decoded;
}

// UTF-8 line by line: a line feed never stands inside a UTF-8 sequence, so
// one bad byte spoils its own line only.
Csv::Decoded decodeUtf8Lines(const QByteArray &bytes)
{
    QStringDecoder whole(QStringDecoder::Utf8);
    Csv::Decoded decoded{QString(whole(bytes)), {}};
    if (!whole.hasError())
        return decoded;
    decoded.text.clear();
    qsizetype start = 0;
    int line = 1;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QStringDecoder utf8(QStringDecoder::Utf8);
        decoded.text += QString(utf8(QByteArrayView(bytes).sliced(start, end - start)));
        if (utf8.hasError())
            decoded.badLines.insert(line);
        if (end < bytes.size())
            decoded.text += '\n';
        start = end + 1;
        ++line;
    }
    return decoded;
}

QChar separatorOf(QStringView firstLine)
{
    QChar best = ';';
    qsizetype most = 0;
    for (const QChar candidate : {QChar(';'), QChar(','), QChar('\t')}) {
        qsizetype count = 0;
        bool quoted = false;
        for (const QChar c : firstLine) {
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && c == candidate)
                ++count;
        }
        if (count > most) {
            most = count;
            best = candidate;
        }
    }
    return best;
}

// Reads the rows value by value; a quoted value may hold separators, doubled
// quotes and line breaks. Lines are counted as the file has them, so that a
// message names the line a text editor shows.
class Parser
{
public:
    Parser(const Csv::Decoded &decoded, const ReadLimits &limits)
        : m_text(decoded.text), m_badLines(decoded.badLines), m_builder(limits)
    {}

    TextTable run()
    {
        m_separator = separatorOf(QStringView(m_text).left(lineEnd(0)));
        takeSeparatorLine();
        while (m_pos < m_text.size()) {
            const int first = m_line;
            readRow();
            for (int line = first; line <= m_line; ++line) {
                if (m_badLines.contains(line))
                    m_builder.markDamaged(QStringLiteral("в строке %1 есть байты, которые не "
                                                         "читаются в кодировке файла")
                                              .arg(line));
            }
            m_builder.endRow(first);
            if (m_pos < m_text.size())
                takeLineBreak();
        }
        return m_builder.finish();
    }

private:
    qsizetype lineEnd(qsizetype from) const
    {
        qsizetype end = from;
        while (end < m_text.size() && m_text[end] != '\n' && m_text[end] != '\r')
            ++end;
        return end;
    }

    // Excel writes "sep=;" as a first line to name its separator.
    void takeSeparatorLine()
    {
        const qsizetype end = lineEnd(0);
        const QStringView first = QStringView(m_text).left(end);
        if (first.size() == 5 && first.startsWith(QLatin1String("sep="))) {
            m_separator = first[4];
            m_pos = end;
            takeLineBreak();
        }
    }

    void takeLineBreak()
    {
        const QChar c = m_text[m_pos++];
        if (c == '\r' && m_pos < m_text.size() && m_text[m_pos] == '\n')
            ++m_pos;
        ++m_line;
    }

    void readRow()
    {
        int column = 0;
        for (;;) {
            const QString value = readValue();
            if (value.contains(QChar(0)))
                m_builder.markDamaged(QStringLiteral("в значении есть нулевой символ (NUL)"));
            m_builder.setCell(column++, Csv::restored(value));
            if (m_pos >= m_text.size() || m_text[m_pos] != m_separator)
                return;
            ++m_pos;
        }
    }

    QString readValue()
    {
        // A byte-order mark inside the file (files put one after another)
        // belongs to no value.
        while (m_pos < m_text.size() && m_text[m_pos] == QChar(byteOrderMark))
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
            if (std::optional<QString> quoted = readQuoted())
                return *quoted + readPlain();
            m_builder.markDamaged(QStringLiteral("кавычка в строке %1 не закрыта").arg(m_line));
            // The rest of the line is read as it stands; the next line begins a new row.
            const qsizetype end = lineEnd(m_pos);
            const QString rest = m_text.mid(m_pos, end - m_pos);
            m_pos = end;
            return rest;
        }
        return readPlain();
    }

    QString readPlain()
    {
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != m_separator && m_text[m_pos] != '\n' &&
               m_text[m_pos] != '\r')
            ++m_pos;
        m_builder.checkTime();
        return m_text.mid(start, m_pos - start);
    }

    // The value between quotes, or nothing when the closing quote never comes
    // (the position and line are then as before the opening quote).
    std::optional<QString> readQuoted()
    {
        const qsizetype start = m_pos;
        const int startLine = m_line;
        QString value;
        ++m_pos;
        while (m_pos < m_text.size()) {
            const QChar c = m_text[m_pos++];
            if (c == '"') {
                if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                    value += '"';
                    ++m_pos;
                    continue;
                }
                return value;
            }
            if (c == '\n' || (c == '\r' && (m_pos >= m_text.size() || m_text[m_pos] != '\n')))
                ++m_line;
            value += c;
        }
        m_pos = start;
        m_line = startLine;
        return std::nullopt;
    }

    const QString &m_text;
    const QSet<int> &m_badLines;
    TableBuilder m_builder;
    QChar m_separator = ';';
    qsizetype m_pos = 0;
    int m_line = 1;
};

} // namespace

namespace Csv {

QString neutralised(const QString &value)
{
    if (!value.isEmpty() && (startsFormula(value.front()) || looksNeutralised(value)))
        return '\'' + value;
    return value;
}

QString restored(const QString &value)
{
    return looksNeutralised(value) ? value.mid(1) : value;
}

QByteArray line(const QStringList &values)
{
    QString text;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            text += ';';
        const QString value = neutralised(values[i]);
        if (needsQuotes(value))
            text += '"' + QString(value).replace('"', QStringLiteral("\"\"")) + '"';
        else
            text += value;
    }
    return text.toUtf8() + "\r\n";
}

Decoded decode(const QByteArray &bytes)
{
    if (bytes.startsWith(utf8Bom))
        return decodeUtf8Lines(bytes.mid(utf8Bom.size()));
    if (bytes.startsWith("\xFF\xFE"))
        return decodeWhole(bytes.mid(2), QStringDecoder::Utf16LE);
    if (bytes.startsWith("\xFE\xFF"))
        return decodeWhole(bytes.mid(2), QStringDecoder::Utf16BE);
    if (const auto utf16 = utf16Without(bytes))
        return decodeWhole(bytes, *utf16);
    const Utf8Evidence evidence = utf8Evidence(bytes);
    if (evidence.breaks == 0 || evidence.sequences > evidence.breaks)
        return decodeUtf8Lines(bytes);
    QStringDecoder cyrillic("windows-1251");
    return {QString(cyrillic(bytes)), {}};
}

bool looksLikeText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF") || utf16Without(bytes))
        return true;
    const qsizetype sample = std::min<qsizetype>(bytes.size(), 64 * 1024);
    qsizetype controls = 0;
    for (qsizetype i = 0; i < sample; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        controls += c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f';
    }
    // A stray NUL or two is a damaged value; a binary file is full of them.
    return controls <= 8 || controls * 100 <= sample;
}

TextTable parse(const Decoded &decoded, const ReadLimits &limits)
{
    return Parser(decoded, limits).run();
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
