#include "Export.h"

#include "Columns.h"
#include "Csv.h"
#include "FileError.h"
#include "Session.h"
#include "SqlText.h"
#include "Xlsx.h"

#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

// Rows between progress reports: a few milliseconds of work.
constexpr int rowsPerReport = 2000;

// The columns of an export and where each finds its value.
class Layout
{
public:
    Layout(Session &session, ListTarget target, Statement &statement)
        : m_target(target), m_memberships(session, target)
    {
        m_memberships.readMembers(session);
        const bool firms = target == ListTarget::Firms;
        const TableRef table =
            session.tableByName(firms ? QStringLiteral("Firms") : QStringLiteral("Items"));
        QStringList textFields;
        for (const FieldDef &field : session.fields(table)) {
            if (field.isText())
                textFields.append(field.name);
        }
        QHash<QString, int> byName;
        for (int i = 0; i < statement.columnCount(); ++i)
            byName.insert(statement.columnName(i).toUpper(), i);
        m_key = byName.value(firms ? QStringLiteral("FIRMID") : QStringLiteral("ITEMID"), -1);
        for (const QString &column : Columns::exchanged(textFields)) {
            const bool membership = column == Columns::types || column == Columns::folders;
            // The lists need the record's key; a statement without it gives fields alone.
            if (membership ? m_key >= 0 : byName.contains(column.toUpper())) {
                m_columns.append(column);
                m_index.append(byName.value(column.toUpper(), -1));
            }
        }
    }

    QStringList header() const
    {
        QStringList titles;
        for (const QString &column : m_columns)
            titles.append(Columns::caption(m_target, column));
        return titles;
    }

    // Nulls stay nulls: an empty cell, not an empty text.
    QVariantList values(Statement &row) const
    {
        QVariantList values;
        values.reserve(m_columns.size());
        for (qsizetype i = 0; i < m_columns.size(); ++i) {
            if (m_columns[i] == Columns::types)
                values.append(nonEmpty(m_memberships.typesOf(row.int64(m_key))));
            else if (m_columns[i] == Columns::folders)
                values.append(nonEmpty(m_memberships.foldersOf(row.int64(m_key))));
            else
                values.append(row.isNull(m_index[i]) ? QVariant()
                                                     : QVariant(row.value(m_index[i]).toString()));
        }
        return values;
    }

private:
    static QVariant nonEmpty(const QString &text)
    {
        return text.isEmpty() ? QVariant() : QVariant(text);
    }

    ListTarget m_target;
    Columns::Memberships m_memberships;
    QStringList m_columns;
    QList<int> m_index;
    int m_key = -1;
};

void forEachRow(Session &session, ListTarget target, const QString &select,
                const std::function<void(const QStringList &)> &header,
                const std::function<void(const QVariantList &)> &row,
                const std::function<void(int)> &progress)
{
    Statement statement = session.prepare(select);
    const Layout layout(session, target, statement);
    header(layout.header());
    int count = 0;
    while (statement.step()) {
        row(layout.values(statement));
        if (++count % rowsPerReport == 0 && progress)
            progress(count);
    }
}

int writeCsv(Session &session, ListTarget target, const QString &select, const QString &path,
             const std::function<void(int)> &progress)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(cannotCreate(path, file.errorString()));
    // The byte-order mark tells office programs that the text is UTF-8.
    file.write("\xEF\xBB\xBF");
    int count = 0;
    QStringList texts;
    forEachRow(
        session, target, select, [&](const QStringList &names) { file.write(Csv::line(names)); },
        [&](const QVariantList &values) {
            texts.resize(values.size());
            for (qsizetype i = 0; i < values.size(); ++i)
                texts[i] = values[i].toString();
            file.write(Csv::line(texts));
            ++count;
        },
        progress);
    if (!file.commit())
        throw FileError(QDir::toNativeSeparators(path) + QStringLiteral(": не удаётся записать (") +
                        file.errorString() + ')');
    return count;
}

int writeXlsx(Session &session, ListTarget target, const QString &select, const QString &path,
              const std::function<void(int)> &progress)
{
    Xlsx::Writer book(path, target == ListTarget::Firms ? QStringLiteral("Фирмы")
                                                        : QStringLiteral("Элементы"));
    int count = 0;
    forEachRow(
        session, target, select, [&](const QStringList &names) { book.addHeader(names); },
        [&](const QVariantList &values) {
            book.addRow(values);
            ++count;
        },
        progress);
    book.commit();
    return count;
}

// vCard text values escape backslash, comma, semicolon and line breaks.
QString cardText(const QString &value)
{
    QString text = value;
    text.replace('\\', QStringLiteral("\\\\"))
        .replace(',', QStringLiteral("\\,"))
        .replace(';', QStringLiteral("\\;"))
        .replace(QStringLiteral("\r\n"), QStringLiteral("\\n"))
        .replace('\n', QStringLiteral("\\n"));
    return text;
}

// Lines longer than 75 bytes are folded, never inside a character.
QByteArray folded(const QString &line)
{
    QByteArray out;
    int lineBytes = 0;
    for (const char32_t c : line.toUcs4()) {
        const QByteArray bytes = QString::fromUcs4(&c, 1).toUtf8();
        if (lineBytes + bytes.size() > 75) {
            out += "\r\n ";
            lineBytes = 1;
        }
        out += bytes;
        lineBytes += int(bytes.size());
    }
    return out + "\r\n";
}

} // namespace

namespace Export {

Format formatOf(const QString &path)
{
    return path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive) ? Format::Xlsx : Format::Csv;
}

QString selectFor(const QStringList &listSql, bool whole)
{
    const SqlText::SelectShape shape = SqlText::parseSelect(listSql.join('\n'));
    QString select = QStringLiteral("SELECT * FROM ") + shape.from;
    if (!whole && !shape.where.trimmed().isEmpty())
        select += QStringLiteral(" WHERE ") + shape.where;
    if (!shape.orderBy.isEmpty())
        select += QStringLiteral(" ORDER BY ") + SqlText::collatedOrderBy(shape.orderBy);
    return select;
}

int rows(Session &session, ListTarget target, const QString &select, const QString &path,
         Format format, const std::function<void(int)> &progress)
{
    return format == Format::Xlsx ? writeXlsx(session, target, select, path, progress)
                                  : writeCsv(session, target, select, path, progress);
}

QByteArray vCard(const std::function<QString(const QString &)> &field)
{
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    const QString name = cardText(field(QStringLiteral("Name")));
    card += folded(QStringLiteral("FN:") + name);
    card += folded(QStringLiteral("N:") + name + QStringLiteral(";;;;"));
    card += folded(QStringLiteral("ORG:") + name);
    const QList<std::pair<QString, QString>> optional = {
        {QStringLiteral("Address"), QStringLiteral("ADR;TYPE=WORK:;;%1;;;;")},
        {QStringLiteral("Phones"), QStringLiteral("TEL;TYPE=WORK:%1")},
        {QStringLiteral("Email"), QStringLiteral("EMAIL;TYPE=INTERNET:%1")},
        {QStringLiteral("WWW"), QStringLiteral("URL:%1")}};
    for (const auto &[fieldName, pattern] : optional) {
        const QString value = field(fieldName).trimmed();
        if (!value.isEmpty())
            card += folded(pattern.arg(cardText(value)));
    }
    return card + "END:VCARD\r\n";
}

} // namespace Export
