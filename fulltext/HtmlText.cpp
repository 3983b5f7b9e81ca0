#include "TextExtraction.h"

#include <QHash>

namespace {

// The named entities price lists use; others are left as written.
const QHash<QString, QChar> &namedEntities()
{
    static const QHash<QString, QChar> entities = {
        {QStringLiteral("amp"), u'&'},   {QStringLiteral("lt"), u'<'},
        {QStringLiteral("gt"), u'>'},    {QStringLiteral("quot"), u'"'},
        {QStringLiteral("apos"), u'\''}, {QStringLiteral("nbsp"), QChar(0x00a0)},
        {QStringLiteral("laquo"), u'«'}, {QStringLiteral("raquo"), u'»'},
        {QStringLiteral("mdash"), u'—'}, {QStringLiteral("ndash"), u'–'},
        {QStringLiteral("copy"), u'©'}};
    return entities;
}

// The longest entity we read, "&#x10ffff;" and the names above alike.
constexpr qsizetype longestEntity = 10;

// The character an entity at `from` ("&...;") stands for, and its length.
// The ';' is looked for within the length of an entity only: a page of a
// million '&' is read in one pass.
std::pair<QString, qsizetype> decodeEntity(const QString &html, qsizetype from)
{
    const QStringView ahead = QStringView(html).mid(from, longestEntity + 1);
    const qsizetype end = ahead.indexOf(u';');
    if (end < 0)
        return {QStringLiteral("&"), 1};
    const QString name = ahead.mid(1, end - 1).toString();
    bool ok = false;
    char32_t code = 0;
    if (name.startsWith(u"#x") || name.startsWith(u"#X"))
        code = name.mid(2).toUInt(&ok, 16);
    else if (name.startsWith(u'#'))
        code = name.mid(1).toUInt(&ok, 10);
    if (ok && code > 0 && code <= 0x10ffff)
        return {QString::fromUcs4(&code, 1), end + 1};
    const auto named = namedEntities().constFind(name);
    if (named != namedEntities().constEnd())
        return {QString(*named), end + 1};
    return {QStringLiteral("&"), 1};
}

// Where the element whose contents are no text (a script, a style) ends.
qsizetype skipRawElement(const QString &html, qsizetype tagEnd, const QString &name)
{
    const qsizetype close = html.indexOf(QStringLiteral("</") + name, tagEnd, Qt::CaseInsensitive);
    if (close < 0)
        return html.size();
    const qsizetype end = html.indexOf(u'>', close);
    return end < 0 ? html.size() : end + 1;
}

QString tagName(const QString &html, qsizetype from)
{
    qsizetype i = from + 1;
    while (i < html.size() && (html[i].isLetterOrNumber() || html[i] == u'!'))
        ++i;
    return html.mid(from + 1, i - from - 1).toLower();
}

// Skips the tag at `from`; returns where the text goes on.
qsizetype skipTag(const QString &html, qsizetype from)
{
    if (html.mid(from, 4) == QStringLiteral("<!--")) {
        const qsizetype end = html.indexOf(QStringLiteral("-->"), from + 4);
        return end < 0 ? html.size() : end + 3;
    }
    const qsizetype end = html.indexOf(u'>', from);
    if (end < 0)
        return html.size();
    const QString name = tagName(html, from);
    if (name == u"script" || name == u"style")
        return skipRawElement(html, end + 1, name);
    return end + 1;
}

} // namespace

Extraction htmlText(const QByteArray &bytes, qint64 maxText)
{
    const QString html = decodeText(bytes);
    QString text;
    text.reserve(html.size() / 2);
    qsizetype i = 0;
    while (i < html.size()) {
        const QChar c = html[i];
        if (c == u'<') {
            // A tag separates words: "<td>болт</td><td>гайка</td>" is two.
            i = skipTag(html, i);
            text += u' ';
        } else if (c == u'&') {
            const auto [decoded, length] = decodeEntity(html, i);
            text += decoded;
            i += length;
        } else {
            text += c;
            ++i;
        }
    }
    return limitedText(text.simplified(), maxText);
}
