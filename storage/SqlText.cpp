#include "SqlText.h"

#include "EngineError.h"

#include <QRegularExpression>

namespace SqlText {
namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == '_' || c == '$';
}

// Walks a SQL text at nesting depth 0, outside quotes, and reports the
// positions of the words it meets there.
template <typename OnWord> void forEachTopLevelWord(const QString &sql, OnWord onWord)
{
    int depth = 0;
    for (qsizetype i = 0; i < sql.size();) {
        const QChar c = sql.at(i);
        if (c == '\'' || c == '"' || c == '[') {
            const QChar close = c == '[' ? QChar(']') : c;
            const qsizetype end = sql.indexOf(close, i + 1);
            i = end < 0 ? sql.size() : end + 1;
        } else if (c == '(') {
            ++depth, ++i;
        } else if (c == ')') {
            --depth, ++i;
        } else if (isWordChar(c)) {
            qsizetype j = i;
            while (j < sql.size() && isWordChar(sql.at(j)))
                ++j;
            if (depth == 0)
                onWord(sql.mid(i, j - i).toUpper(), i, j);
            i = j;
        } else {
            if (depth == 0 && c == ',')
                onWord(QStringLiteral(","), i, i + 1);
            ++i;
        }
    }
}

struct Clause
{
    QString keyword;
    qsizetype start; // position of the keyword
    qsizetype body;  // position after it
};

QList<Clause> topLevelClauses(const QString &sql, bool *complex)
{
    static const QStringList clauseWords = {QStringLiteral("SELECT"), QStringLiteral("FROM"),
                                            QStringLiteral("WHERE"), QStringLiteral("ORDER")};
    static const QStringList complexWords = {
        QStringLiteral("GROUP"),  QStringLiteral("HAVING"),   QStringLiteral("UNION"),
        QStringLiteral("JOIN"),   QStringLiteral("DISTINCT"), QStringLiteral("LIMIT"),
        QStringLiteral("EXCEPT"), QStringLiteral("INTERSECT")};
    QList<Clause> clauses;
    forEachTopLevelWord(sql, [&](const QString &word, qsizetype start, qsizetype end) {
        if (complexWords.contains(word))
            *complex = true;
        if (!clauseWords.contains(word))
            return;
        qsizetype body = end;
        if (word == QLatin1String("ORDER")) {
            static const QRegularExpression by(QStringLiteral("^\\s+BY\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
            const auto m = by.match(QStringView(sql).mid(end));
            if (!m.hasMatch())
                return;
            body = end + m.capturedEnd();
        }
        clauses.append({word, start, body});
    });
    return clauses;
}

QStringList splitTopLevel(const QString &text, QChar separator)
{
    QStringList parts;
    int depth = 0;
    bool quoted = false;
    QChar quote;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            quoted = c != quote;
        } else if (c == '\'' || c == '"') {
            quoted = true;
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == separator && depth == 0) {
            parts << text.mid(from, i - from);
            from = i + 1;
        }
    }
    parts << text.mid(from);
    return parts;
}

bool hasAggregate(const QString &selectList)
{
    static const QRegularExpression aggregate(
        QStringLiteral("\\b(count|sum|min|max|avg|total|group_concat)\\s*\\("),
        QRegularExpression::CaseInsensitiveOption);
    return aggregate.match(selectList).hasMatch();
}

void readTable(SelectShape &shape)
{
    const QString from = shape.from.trimmed();
    if (from.contains(',') || from.contains('(')) {
        shape.singleTable = false;
        return;
    }
    const QStringList words =
        from.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty() || words.size() > 3) {
        shape.singleTable = false;
        return;
    }
    shape.table = words.first();
    shape.table.remove('"');
    if (words.size() >= 2)
        shape.alias = words.last();
}

// The small reader of the table-definition dialect.
class DefinitionReader
{
public:
    explicit DefinitionReader(const QString &sql) : m_sql(sql) {}

    Definition read()
    {
        Definition def;
        const QString verb = word();
        if (verb != QLatin1String("CREATE") && verb != QLatin1String("ALTER"))
            return def;
        if (word() != QLatin1String("TABLE"))
            return def;
        def.fileName = name();
        if (verb == QLatin1String("CREATE")) {
            def.kind = Definition::Create;
            readCreate(def);
        } else {
            def.kind = Definition::Alter;
            readAlter(def);
        }
        return def;
    }

private:
    void readCreate(Definition &def)
    {
        expect('(');
        for (;;) {
            const QString field = fieldName();
            def.fields << FieldDef::fromDeclaration(field, typeText());
            const QChar next = take();
            if (next == ')')
                break;
            if (next != ',')
                fail(QStringLiteral("ожидалась запятая или скобка"));
        }
        skipSpace();
        if (m_pos < m_sql.size())
            fail(QStringLiteral("лишний текст после определения"));
    }

    void readAlter(Definition &def)
    {
        for (;;) {
            skipSpace();
            if (m_pos >= m_sql.size())
                break;
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            const QString action = word();
            if (action == QLatin1String("ADD")) {
                const QString field = fieldName();
                def.actions.append(
                    {AlterAction::Add, FieldDef::fromDeclaration(field, typeText())});
            } else if (action == QLatin1String("DROP")) {
                FieldDef dropped;
                dropped.name = fieldName();
                def.actions.append({AlterAction::Drop, dropped});
            } else {
                fail(QStringLiteral("ожидалось ADD или DROP"));
            }
        }
        if (def.actions.isEmpty())
            fail(QStringLiteral("нет изменений"));
    }

    // "TABLE.DB"."Field" or "Field": the last part names the field.
    QString fieldName()
    {
        QString result = name();
        skipSpace();
        while (peek() == '.') {
            ++m_pos;
            result = name();
            skipSpace();
        }
        if (result.isEmpty())
            fail(QStringLiteral("ожидалось имя поля"));
        return result;
    }

    // The type runs to the next comma or closing bracket outside brackets.
    QString typeText()
    {
        skipSpace();
        const qsizetype start = m_pos;
        int depth = 0;
        for (; m_pos < m_sql.size(); ++m_pos) {
            const QChar c = m_sql.at(m_pos);
            if (c == '(')
                ++depth;
            else if (c == ')' && depth-- == 0)
                break;
            else if (c == ',' && depth == 0)
                break;
        }
        const QString type = m_sql.mid(start, m_pos - start).simplified();
        if (type.isEmpty())
            fail(QStringLiteral("не указан тип поля"));
        return type;
    }

    QString name()
    {
        skipSpace();
        if (peek() == '"') {
            const qsizetype end = m_sql.indexOf('"', m_pos + 1);
            if (end < 0)
                fail(QStringLiteral("незакрытая кавычка"));
            const QString result = m_sql.mid(m_pos + 1, end - m_pos - 1);
            m_pos = end + 1;
            return result;
        }
        const qsizetype start = m_pos;
        while (m_pos < m_sql.size() && isWordChar(m_sql.at(m_pos)))
            ++m_pos;
        return m_sql.mid(start, m_pos - start);
    }

    QString word()
    {
        skipSpace();
        const qsizetype start = m_pos;
        while (m_pos < m_sql.size() && isWordChar(m_sql.at(m_pos)))
            ++m_pos;
        return m_sql.mid(start, m_pos - start).toUpper();
    }

    void expect(QChar c)
    {
        if (take() != c)
            fail(QStringLiteral("ожидался символ ") + c);
    }

    QChar take()
    {
        skipSpace();
        return m_pos < m_sql.size() ? m_sql.at(m_pos++) : QChar();
    }

    QChar peek() const { return m_pos < m_sql.size() ? m_sql.at(m_pos) : QChar(); }

    void skipSpace()
    {
        while (m_pos < m_sql.size() && m_sql.at(m_pos).isSpace())
            ++m_pos;
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw EngineError(QStringLiteral("Ошибка в определении таблицы (") + what +
                          QStringLiteral("): ") + m_sql.simplified());
    }

    const QString &m_sql;
    qsizetype m_pos = 0;
};

// One token of a SQL text, as far as finding table names needs: words,
// quoted names, literals and single punctuation marks. Blanks and comments
// are skipped.
struct Token
{
    enum Kind
    {
        Word,
        QuotedName,
        Literal,
        Mark
    } kind;
    qsizetype start;
    qsizetype end;
};

qsizetype endOfQuoted(const QString &sql, qsizetype start, QChar close)
{
    for (qsizetype i = start + 1; i < sql.size(); ++i) {
        if (sql.at(i) != close)
            continue;
        // A doubled quote stands for itself inside the quotes.
        if (close != ']' && i + 1 < sql.size() && sql.at(i + 1) == close) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return sql.size();
}

QList<Token> tokenize(const QString &sql)
{
    QList<Token> tokens;
    for (qsizetype i = 0; i < sql.size();) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < sql.size() ? sql.at(i + 1) : QChar();
        if (c.isSpace()) {
            ++i;
        } else if (c == '-' && next == '-') {
            const qsizetype end = sql.indexOf('\n', i);
            i = end < 0 ? sql.size() : end + 1;
        } else if (c == '/' && next == '*') {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? sql.size() : end + 2;
        } else if (c == '\'') {
            const qsizetype end = endOfQuoted(sql, i, c);
            tokens.append({Token::Literal, i, end});
            i = end;
        } else if (c == '"' || c == '`' || c == '[') {
            const qsizetype end = endOfQuoted(sql, i, c == '[' ? QChar(']') : c);
            tokens.append({Token::QuotedName, i, end});
            i = end;
        } else if (isWordChar(c)) {
            qsizetype end = i;
            while (end < sql.size() && isWordChar(sql.at(end)))
                ++end;
            tokens.append({Token::Word, i, end});
            i = end;
        } else {
            tokens.append({Token::Mark, i, i + 1});
            ++i;
        }
    }
    return tokens;
}

// The name a token stands for: a word as written, a quoted name without its quotes.
QString nameOf(const QString &sql, const Token &token)
{
    const QString text = sql.mid(token.start, token.end - token.start);
    if (token.kind != Token::QuotedName || text.size() < 2)
        return text;
    const QChar close = text.back();
    QString inner = text.mid(1, text.size() - 2);
    if (close != ']')
        inner.replace(QString(2, close), QString(close));
    return inner;
}

bool isMark(const QString &sql, const QList<Token> &tokens, qsizetype index, QChar mark)
{
    return index < tokens.size() && tokens[index].kind == Token::Mark &&
           sql.at(tokens[index].start) == mark;
}

// Where a statement may name a table, and where each name stands.
class TableNames
{
public:
    explicit TableNames(const QString &sql) : m_sql(sql), m_tokens(tokenize(sql)) {}

    // Positions (into the token list) of the tokens that name a table.
    QList<qsizetype> find()
    {
        QList<qsizetype> found;
        for (qsizetype i = 0; i < m_tokens.size(); ++i) {
            const Token &token = m_tokens[i];
            if (token.kind == Token::Mark) {
                mark(m_sql.at(token.start));
                continue;
            }
            const bool expected = std::exchange(m_expectTable, false);
            if (token.kind == Token::Literal)
                continue;
            if (expected && token.kind == Token::Word && m_afterUpdate &&
                word(token) == QLatin1String("OR")) {
                ++i; // UPDATE OR IGNORE ...: the table comes after the conflict clause
                m_expectTable = true;
                continue;
            }
            if (expected) {
                // A name before "(" is a table-valued function, except after
                // INTO, where the bracket holds the column list.
                const bool function = !m_afterInto && isMark(m_sql, m_tokens, i + 1, '(');
                if (!isMark(m_sql, m_tokens, i + 1, '.') && !function)
                    found.append(i);
                continue;
            }
            if (token.kind == Token::Word)
                keyword(word(token));
        }
        return found;
    }

    const QList<Token> &tokens() const { return m_tokens; }

private:
    QString word(const Token &token) const
    {
        return m_sql.mid(token.start, token.end - token.start).toUpper();
    }

    void mark(QChar c)
    {
        m_expectTable = false;
        if (c == '(') {
            m_inFromList.append(false);
        } else if (c == ')') {
            if (m_inFromList.size() > 1)
                m_inFromList.removeLast();
        } else if (c == ',' && m_inFromList.last()) {
            m_expectTable = true;
        }
    }

    void keyword(const QString &word)
    {
        static const QStringList fromListEnds = {
            QStringLiteral("WHERE"),     QStringLiteral("GROUP"),  QStringLiteral("ORDER"),
            QStringLiteral("LIMIT"),     QStringLiteral("HAVING"), QStringLiteral("WINDOW"),
            QStringLiteral("UNION"),     QStringLiteral("EXCEPT"), QStringLiteral("INTERSECT"),
            QStringLiteral("RETURNING"), QStringLiteral("SET"),    QStringLiteral("VALUES"),
            QStringLiteral("SELECT")};
        if (word == QLatin1String("FROM") || word == QLatin1String("JOIN")) {
            m_inFromList.last() = true;
            m_expectTable = true;
            m_afterUpdate = m_afterInto = false;
        } else if (word == QLatin1String("INTO") || word == QLatin1String("UPDATE")) {
            m_expectTable = true;
            m_afterUpdate = word == QLatin1String("UPDATE");
            m_afterInto = word == QLatin1String("INTO");
        } else if (fromListEnds.contains(word)) {
            m_inFromList.last() = false;
        }
    }

    const QString &m_sql;
    QList<Token> m_tokens;
    QList<bool> m_inFromList{false}; // one entry per bracket level
    bool m_expectTable = false;
    bool m_afterUpdate = false;
    bool m_afterInto = false;
};

} // namespace

QString quoted(const QString &identifier)
{
    QString q = identifier;
    q.replace('"', QStringLiteral("\"\""));
    return '"' + q + '"';
}

SelectShape parseSelect(const QString &sql)
{
    SelectShape shape;
    bool complex = false;
    const QList<Clause> clauses = topLevelClauses(sql, &complex);
    auto bodyOf = [&](int i) {
        const qsizetype end = i + 1 < clauses.size() ? clauses[i + 1].start : sql.size();
        return sql.mid(clauses[i].body, end - clauses[i].body).trimmed();
    };
    for (int i = 0; i < clauses.size(); ++i) {
        const QString &keyword = clauses[i].keyword;
        if (keyword == QLatin1String("SELECT"))
            shape.selectList = bodyOf(i);
        else if (keyword == QLatin1String("FROM"))
            shape.from = bodyOf(i);
        else if (keyword == QLatin1String("WHERE"))
            shape.where = bodyOf(i);
        else {
            shape.orderBy = bodyOf(i);
            shape.orderClauseStart = clauses[i].start;
        }
    }
    shape.singleTable = !complex && !shape.from.isEmpty() && !hasAggregate(shape.selectList);
    if (shape.singleTable)
        readTable(shape);
    return shape;
}

QString collatedOrderBy(const QString &orderBy)
{
    static const QRegularExpression direction(QStringLiteral("\\s+(ASC|DESC)\\s*$"),
                                              QRegularExpression::CaseInsensitiveOption);
    QStringList terms;
    for (QString term : splitTopLevel(orderBy, ',')) {
        term = term.trimmed();
        if (term.contains(QLatin1String("collate"), Qt::CaseInsensitive)) {
            terms << term;
            continue;
        }
        const auto m = direction.match(term);
        const QString expression = m.hasMatch() ? term.left(m.capturedStart()) : term;
        terms << expression + QStringLiteral(" COLLATE RU") +
                     (m.hasMatch() ? ' ' + m.captured(1) : QString());
    }
    return terms.join(QStringLiteral(", "));
}

QString leadingOrderColumn(const QString &orderBy)
{
    static const QRegularExpression firstTerm(
        QStringLiteral("^\\s*(?:\\w+\\.)?\"?(\\w+)\"?\\s*(?:ASC\\s*)?(?:,|$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = firstTerm.match(orderBy);
    return m.hasMatch() ? m.captured(1) : QString();
}

Definition parseDefinition(const QString &sql)
{
    return DefinitionReader(sql).read();
}

QString qualifyTables(const QString &sql,
                      const std::function<QString(const QString &name)> &schemaOf)
{
    TableNames names(sql);
    const QList<qsizetype> found = names.find();
    QString result = sql;
    // From the end, so that the positions still to come stay true.
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const Token &token = names.tokens()[*it];
        const QString schema = schemaOf(nameOf(sql, token));
        if (!schema.isEmpty())
            result.insert(token.start, quoted(schema) + '.');
    }
    return result;
}

QStringList tokens(const QString &sql)
{
    QStringList result;
    for (const Token &token : tokenize(sql)) {
        switch (token.kind) {
        case Token::QuotedName:
            // A name means the same quoted or not.
            result << nameOf(sql, token).toUpper();
            break;
        case Token::Literal:
            result << sql.mid(token.start, token.end - token.start);
            break;
        default:
            result << sql.mid(token.start, token.end - token.start).toUpper();
        }
    }
    return result;
}

bool isSelect(const QString &sql)
{
    static const QRegularExpression select(QStringLiteral("^\\s*select\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    return select.match(sql).hasMatch();
}

} // namespace SqlText
