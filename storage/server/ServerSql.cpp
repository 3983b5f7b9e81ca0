#include "ServerSql.h"

#include <QHash>
#include <QRegularExpression>

namespace ServerSql {
namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == '_' || c == '$';
}

bool isNameStart(QChar c)
{
    return c.isLetter() || c == '_';
}

// Words that end an ORDER BY list.
bool endsOrder(const QString &word)
{
    static const QStringList words = {"LIMIT", "OFFSET", "UNION", "EXCEPT", "INTERSECT", "FOR"};
    return words.contains(word);
}

// Words that end the pattern of a "like" when they follow it.
bool endsPattern(const QString &word)
{
    static const QStringList words = {"AND",   "OR",   "ESCAPE", "ORDER", "GROUP", "LIMIT",
                                      "UNION", "THEN", "WHEN",   "ELSE",  "END",   "HAVING"};
    return words.contains(word);
}

class Translator
{
public:
    explicit Translator(const QString &sql) : m_in(sql) {}

    Translated run()
    {
        QString text = m_in;
        static const QRegularExpression orIgnore(
            QStringLiteral("^\\s*INSERT\\s+OR\\s+IGNORE\\s+INTO\\b"),
            QRegularExpression::CaseInsensitiveOption);
        const auto ignore = orIgnore.match(text);
        if (ignore.hasMatch())
            m_in = QStringLiteral("INSERT INTO") + text.mid(ignore.capturedEnd());
        while (m_pos < m_in.size())
            step();
        endPattern();
        endOrderTerm();
        if (ignore.hasMatch())
            m_out += QStringLiteral(" ON CONFLICT DO NOTHING");
        return {m_out, m_names};
    }

private:
    void step()
    {
        const QChar c = m_in.at(m_pos);
        if (c == '\'') {
            token(literal());
        } else if (c == '"') {
            token(quotedName());
        } else if (c == ':' && m_pos + 1 < m_in.size() && isNameStart(m_in.at(m_pos + 1)) &&
                   (m_pos == 0 || m_in.at(m_pos - 1) != ':')) {
            token(namedParameter());
        } else if (c == '?') {
            token(numberedParameter());
        } else if (isWordChar(c)) {
            word();
        } else if (c == '(') {
            token(QStringLiteral("("));
            ++m_pos;
            ++m_depth;
        } else if (c == ')' || c == ',' || c == ';') {
            if (m_patternOpen && m_operandSeen && m_depth <= m_patternDepth)
                endPattern();
            if (m_ordering && m_depth <= m_orderDepth) {
                endOrderTerm();
                m_ordering = c == ',' && m_depth == m_orderDepth;
            }
            m_depth -= c == ')' ? 1 : 0;
            m_out += c;
            ++m_pos;
        } else if (c.isSpace()) {
            m_out += c;
            ++m_pos;
        } else {
            token(QString(c));
            ++m_pos;
        }
    }

    // Text that belongs to an expression (a pattern's operand among them).
    void token(const QString &text)
    {
        if (m_patternOpen)
            m_operandSeen = true;
        if (m_ordering)
            m_termSeen = true;
        m_out += text;
    }

    void word()
    {
        const qsizetype start = m_pos;
        while (m_pos < m_in.size() && isWordChar(m_in.at(m_pos)))
            ++m_pos;
        const QString text = m_in.mid(start, m_pos - start);
        const QString upper = text.toUpper();
        // A blob literal X'00FF' is the server's '\x00FF'::bytea.
        if (upper == QLatin1String("X") && m_pos < m_in.size() && m_in.at(m_pos) == '\'') {
            token(QStringLiteral("'\\x") + literal().mid(1) + QStringLiteral("::bytea"));
            return;
        }
        if (m_patternOpen && m_operandSeen && m_depth == m_patternDepth && endsPattern(upper)) {
            if (upper == QLatin1String("ESCAPE"))
                m_patternOpen = false;
            endPattern();
        }
        if (upper == QLatin1String("COLLATE") && collationIsRu())
            return;
        if (m_ordering && m_depth == m_orderDepth && endsOrder(upper)) {
            endOrderTerm();
            m_ordering = false;
        }
        noteOrderWord(upper);
        if (m_patternOpen)
            m_operandSeen = true;
        m_out += text;
        if (upper == QLatin1String("LIKE")) {
            m_patternOpen = true;
            m_operandSeen = false;
            m_patternDepth = m_depth;
        }
    }

    // ORDER BY terms, whose blanks come first as the smallest value.
    void noteOrderWord(const QString &upper)
    {
        if (m_orderNext && upper == QLatin1String("BY")) {
            m_orderNext = false;
            m_ordering = true;
            m_orderDepth = m_depth;
            m_termSeen = m_termDescending = m_termNulls = false;
            return;
        }
        m_orderNext = upper == QLatin1String("ORDER");
        if (!m_ordering || m_depth != m_orderDepth)
            return;
        m_termSeen = true;
        if (upper == QLatin1String("DESC"))
            m_termDescending = true;
        if (upper == QLatin1String("NULLS"))
            m_termNulls = true;
    }

    void endOrderTerm()
    {
        if (!m_ordering || !m_termSeen || m_termNulls)
            return;
        if (!m_out.isEmpty() && !m_out.back().isSpace())
            m_out += ' ';
        m_out += m_termDescending ? QStringLiteral("NULLS LAST ") : QStringLiteral("NULLS FIRST ");
        m_termSeen = m_termDescending = m_termNulls = false;
    }

    // After COLLATE: "RU" (quoted or not) is dropped together with it.
    bool collationIsRu()
    {
        static const QRegularExpression ru(QStringLiteral("^\\s*(\"RU\"|RU)(?![\\w$])"),
                                           QRegularExpression::CaseInsensitiveOption);
        const auto m = ru.match(QStringView(m_in).mid(m_pos));
        if (!m.hasMatch())
            return false;
        m_pos += m.capturedEnd();
        return true;
    }

    void endPattern()
    {
        if (!m_patternOpen)
            return;
        m_patternOpen = false;
        if (!m_out.isEmpty() && !m_out.back().isSpace())
            m_out += ' ';
        m_out += QStringLiteral("ESCAPE '' ");
    }

    QString literal()
    {
        const qsizetype start = m_pos++;
        while (m_pos < m_in.size()) {
            if (m_in.at(m_pos) == '\'') {
                if (m_pos + 1 < m_in.size() && m_in.at(m_pos + 1) == '\'') {
                    m_pos += 2;
                    continue;
                }
                ++m_pos;
                break;
            }
            ++m_pos;
        }
        return m_in.mid(start, m_pos - start);
    }

    QString quotedName()
    {
        const qsizetype start = m_pos++;
        while (m_pos < m_in.size()) {
            if (m_in.at(m_pos) == '"') {
                if (m_pos + 1 < m_in.size() && m_in.at(m_pos + 1) == '"') {
                    m_pos += 2;
                    continue;
                }
                ++m_pos;
                break;
            }
            ++m_pos;
        }
        return m_in.mid(start, m_pos - start).toLower();
    }

    QString namedParameter()
    {
        const qsizetype start = ++m_pos;
        while (m_pos < m_in.size() && (m_in.at(m_pos).isLetterOrNumber() || m_in.at(m_pos) == '_'))
            ++m_pos;
        const QString name = m_in.mid(start, m_pos - start);
        const qsizetype known = m_names.indexOf(name);
        if (known >= 0)
            return '$' + QString::number(known + 1);
        m_names << name;
        return '$' + QString::number(m_names.size());
    }

    QString numberedParameter()
    {
        const qsizetype start = ++m_pos;
        while (m_pos < m_in.size() && m_in.at(m_pos).isDigit())
            ++m_pos;
        const int number =
            start == m_pos ? int(m_names.size()) + 1 : m_in.mid(start, m_pos - start).toInt();
        while (m_names.size() < number)
            m_names << QString();
        return '$' + QString::number(number);
    }

    QString m_in;
    qsizetype m_pos = 0;
    QString m_out;
    QStringList m_names;
    int m_depth = 0;
    bool m_patternOpen = false; // a "like" whose pattern has not ended yet
    bool m_operandSeen = false;
    int m_patternDepth = 0;
    bool m_orderNext = false; // the last word was ORDER
    bool m_ordering = false;  // within an ORDER BY list
    int m_orderDepth = 0;
    bool m_termSeen = false, m_termDescending = false, m_termNulls = false;
};

} // namespace

Translated translate(const QString &sql)
{
    return Translator(sql).run();
}

QString withValues(const QString &sql, const QVariantList &values)
{
    QString result;
    for (qsizetype i = 0; i < sql.size();) {
        const QChar c = sql.at(i);
        if (c == '\'') {
            const qsizetype end = sql.indexOf('\'', i + 1);
            const qsizetype next = end < 0 ? sql.size() : end + 1;
            result += sql.mid(i, next - i);
            i = next;
        } else if (c == '$' && i + 1 < sql.size() && sql.at(i + 1).isDigit()) {
            qsizetype j = i + 1;
            while (j < sql.size() && sql.at(j).isDigit())
                ++j;
            const QVariant value = values.value(sql.mid(i + 1, j - i - 1).toInt() - 1);
            if (!value.isValid() || value.isNull())
                result += QStringLiteral("NULL");
            else if (value.typeId() == QMetaType::QByteArray)
                result += QStringLiteral("'\\x%1'::bytea")
                              .arg(QString::fromLatin1(value.toByteArray().toHex()));
            else
                result += '\'' + value.toString().replace('\'', QStringLiteral("''")) + '\'';
            i = j;
        } else {
            result += c;
            ++i;
        }
    }
    return result;
}

QString tableOf(const QString &sql)
{
    static const QRegularExpression re(
        QStringLiteral("\\b(?:from|into|update|table)\\s+([^\\s(,]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(sql);
    if (!m.hasMatch())
        return {};
    QString name = m.captured(1);
    name.remove('"');
    name = name.section('.', -1);
    if (name.compare(QLatin1String("DB"), Qt::CaseInsensitive) == 0)
        name = m.captured(1).remove('"').section('.', -2, -2);
    return name.toUpper() + QStringLiteral(".DB");
}

} // namespace ServerSql
