#include "Export.h"

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

void forEachRow(Session &session, const QString &select,
                const std::function<void(const QStringList &)> &header,
                const std::function<void(Statement &)> &row,
                const std::function<void(int)> &progress)
{
    Statement statement = session.prepare(select);
    QStringList names;
    for (int i = 0; i < statement.columnCount(); ++i)
        names.append(statement.columnName(i));
    header(names);
    int count = 0;
    while (statement.step()) {
        row(statement);
        if (++count % rowsPerReport == 0 && progress)
            progress(count);
    }
}

int writeCsv(Session &session, const QString &select, const QString &path,
             const std::function<void(int)> &progress)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw FileError(cannotCreate(path, file.errorString()));
    // The byte-order mark tells office programs that the text is UTF-8.
    file.write("\xEF\xBB\xBF");
    int count = 0;
    QStringList values;
    forEachRow(
        session, select, [&](const QStringList &names) { file.write(Csv::line(names)); },
        [&](Statement &row) {
            values.resize(row.columnCount());
            for (int i = 0; i < row.columnCount(); ++i)
                values[i] = row.isNull(i) ? QString() : row.value(i).toString();
            file.write(Csv::line(values));
            ++count;
        },
        progress);
    if (!file.commit())
        throw FileError(QDir::toNativeSeparators(path) + QStringLiteral(": не удаётся записать (") +
                        file.errorString() + ')');
    return count;
}

int writeXlsx(Session &session, const QString &select, const QString &path, const QString &title,
              const std::function<void(int)> &progress)
{
    Xlsx::Writer book(path, title);
    int count = 0;
    QVariantList values;
    forEachRow(
        session, select,
        [&](const QStringList &names) { book.addRow(QVariantList(names.begin(), names.end())); },
        [&](Statement &row) {
            values.resize(row.columnCount());
            for (int i = 0; i < row.columnCount(); ++i)
                values[i] = row.isNull(i) ? QVariant() : row.value(i);
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

int rows(Session &session, const QString &select, const QString &path, Format format,
         const QString &title, const std::function<void(int)> &progress)
{
    return format == Format::Xlsx ? writeXlsx(session, select, path, title, progress)
                                  : writeCsv(session, select, path, progress);
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
