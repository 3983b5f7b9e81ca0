#include "Import.h"

#include "Csv.h"
#include "EngineError.h"
#include "Session.h"
#include "SqlText.h"
#include "TableFiles.h"
#include "TextRules.h"
#include "Xlsx.h"

#include <QElapsedTimer>
#include <QMultiMap>
#include <QSet>

namespace {

struct TargetTables
{
    QString table;      // as SQL names it
    QString key;        // its auto-increment key
    QString membership; // group membership table
};

TargetTables tablesOf(Import::Target target)
{
    if (target == Import::Target::Firms)
        return {QStringLiteral("Firms"), QStringLiteral("FirmID"), QStringLiteral("GrpFrm")};
    return {QStringLiteral("Items"), QStringLiteral("ItemID"), QStringLiteral("GrpItm")};
}

// The Russian caption of each field, as the windows show it.
const QList<std::pair<QString, QString>> fieldCaptions = {
    {QStringLiteral("Name"), QStringLiteral("Название")},
    {QStringLiteral("Sinonyms"), QStringLiteral("Синонимы")},
    {QStringLiteral("Description"), QStringLiteral("Описание")},
    {QStringLiteral("Address"), QStringLiteral("Адрес")},
    {QStringLiteral("Email"), QStringLiteral("E-mail")},
    {QStringLiteral("WWW"), QStringLiteral("Сайт")},
    {QStringLiteral("Phones"), QStringLiteral("Телефоны")}};

// Column headers a spreadsheet may carry instead of field names, upper-cased.
QHash<QString, QString> headerWords()
{
    QHash<QString, QString> words = {{QStringLiteral("НАИМЕНОВАНИЕ"), QStringLiteral("Name")},
                                     {QStringLiteral("ЭЛЕКТРОННАЯ ПОЧТА"), QStringLiteral("Email")},
                                     {QStringLiteral("ТЕЛЕФОН"), QStringLiteral("Phones")}};
    for (const auto &[field, caption] : fieldCaptions)
        words.insert(TextRules::upper(caption), field);
    return words;
}

QString cell(const TextTable &table, int row, int column)
{
    return column >= 0 ? table.rows[row].value(column).trimmed() : QString();
}

// Names are compared as the lists find them: letter case ignored.
QString nameKey(const QString &name)
{
    return TextRules::upper(name);
}

QHash<QString, qint64> existingNames(Session &session, const TargetTables &tables)
{
    QHash<QString, qint64> names;
    Statement rows = session.prepare(
        QStringLiteral("SELECT %1, Name FROM %2 ORDER BY %1").arg(tables.key, tables.table));
    while (rows.step()) {
        if (!rows.isNull(1))
            names.insert(nameKey(rows.value(1).toString()), rows.int64(0));
    }
    return names;
}

// Rows are written in steps; the clock between two reports stays under the
// time a person notices.
constexpr qint64 reportEveryMs = 40;

} // namespace

namespace Import {

QList<TextField> textFields(Session &session, Target target)
{
    const TableRef table = session.tableByName(tablesOf(target).table);
    QList<TextField> fields;
    for (const FieldDef &field : TableFiles::fields(session, table)) {
        if (field.isText())
            fields.append({field.name, field.size});
    }
    return fields;
}

QString captionOf(const QString &field)
{
    for (const auto &[name, caption] : fieldCaptions) {
        if (name == field)
            return caption;
    }
    return field;
}

QMap<QString, int> guessMapping(const QStringList &header, const QList<TextField> &fields)
{
    static const QHash<QString, QString> words = headerWords();
    QMap<QString, int> mapping;
    for (int column = 0; column < header.size(); ++column) {
        const QString title = header[column].trimmed();
        const QString byCaption = words.value(TextRules::upper(title));
        for (const TextField &field : fields) {
            if ((field.name.compare(title, Qt::CaseInsensitive) == 0 || field.name == byCaption) &&
                !mapping.contains(field.name))
                mapping.insert(field.name, column);
        }
    }
    return mapping;
}

Known readKnown(Session &session, Target target)
{
    return {textFields(session, target), existingNames(session, tablesOf(target))};
}

Plan plan(Session &session, const TextTable &table, const Options &options)
{
    return plan(readKnown(session, options.target), table, options);
}

Plan plan(const Known &known, const TextTable &table, const Options &options)
{
    const QList<TextField> &fields = known.fields;
    QHash<QString, qint64> names = known.names;
    const int nameColumn = options.mapping.value(QStringLiteral("Name"), -1);
    // A name is compared as it will be stored: cut to its field.
    int nameSize = 0;
    for (const TextField &field : fields) {
        if (field.name == QStringLiteral("Name"))
            nameSize = field.size;
    }
    Plan result;
    result.actions.reserve(table.rows.size());
    for (int row = 0; row < table.rows.size(); ++row) {
        const QString name = cell(table, row, nameColumn).left(nameSize);
        // The header is line 1 of the file.
        const int line = row + 2;
        if (name.isEmpty()) {
            result.actions.append(Plan::Action::Refuse);
            result.refused.append({line, QStringLiteral("пустое название")});
            continue;
        }
        const auto found = names.constFind(nameKey(name));
        if (found != names.cend()) {
            ++result.existing;
            result.actions.append(options.updateExisting ? Plan::Action::Update
                                                         : Plan::Action::Skip);
            // A name given twice in the file updates the record the first line adds.
            if (options.updateExisting)
                result.updateKey.insert(row, found.value());
            if (!options.updateExisting)
                continue;
        } else {
            ++result.added;
            result.actions.append(Plan::Action::Add);
            names.insert(nameKey(name), -1 - row);
        }
        for (const TextField &field : fields) {
            if (cell(table, row, options.mapping.value(field.name, -1)).size() > field.size)
                ++result.cutValues;
        }
    }
    return result;
}

namespace {

// The statements of one import, prepared once and run for every row.
class Writer
{
public:
    Writer(Session &session, const TextTable &table, const Options &options)
        : m_session(session), m_table(table), m_options(options),
          m_tables(tablesOf(options.target)), m_fields(textFields(session, options.target))
    {
        // Every file is attached before the transaction begins.
        m_base = session.tableByName(m_tables.table);
        if (options.folderId > 0)
            session.tableByName(QStringLiteral("CrFolders"));
        if (options.groupId > 0)
            session.tableByName(m_tables.membership);
    }

    void prepare()
    {
        QStringList names{m_tables.key, QStringLiteral("GroupID")};
        QStringList updates;
        for (const TextField &field : m_fields) {
            names.append(field.name);
            updates.append(QStringLiteral("%1 = coalesce(?, %1)").arg(field.name));
        }
        m_insert = m_session.prepare(
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(m_tables.table, names.join(','), QStringList(names.size(), "?").join(',')));
        m_update = m_session.prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                                         .arg(m_tables.table, updates.join(','), m_tables.key));
        if (m_options.folderId > 0)
            m_folder = m_session.prepare(QStringLiteral(
                "INSERT INTO CrFolders (FolderID, FirmID, ItemID) VALUES (?, ?, ?)"));
        if (m_options.groupId > 0)
            m_group = m_session.prepare(
                QStringLiteral("INSERT OR IGNORE INTO %1 (%2, GroupID) VALUES (?, ?)")
                    .arg(m_tables.membership, m_tables.key));
    }

    void add(int row)
    {
        // Taken at the first new record: an import that adds none hands out no key.
        if (m_nextKey == 0)
            m_nextKey = TableFiles::nextAutoIncrement(m_session, m_base, m_tables.key);
        const qint64 key = m_nextKey++;
        m_added.insert(row, key);
        m_insert.bind(1, key);
        m_insert.bind(2, m_options.groupId);
        for (int i = 0; i < m_fields.size(); ++i)
            m_insert.bind(i + 3, value(row, m_fields[i]));
        runOnce(m_insert);
        if (m_options.folderId > 0) {
            const bool firm = m_options.target == Target::Firms;
            m_folder.bind(1, m_options.folderId);
            m_folder.bind(2, firm ? QVariant(key) : QVariant());
            m_folder.bind(3, firm ? QVariant(0) : QVariant(key));
            runOnce(m_folder);
        }
        if (m_options.groupId > 0) {
            m_group.bind(1, key);
            m_group.bind(2, m_options.groupId);
            runOnce(m_group);
        }
    }

    // An empty cell leaves the stored value as it is.
    void update(int row, qint64 key)
    {
        if (key < 0)
            key = m_added.value(int(-1 - key));
        for (int i = 0; i < m_fields.size(); ++i)
            m_update.bind(i + 1, value(row, m_fields[i]));
        m_update.bind(int(m_fields.size()) + 1, key);
        runOnce(m_update);
    }

    // The highest key handed out, so that no key is given twice after deletes.
    void finish()
    {
        if (!m_added.isEmpty())
            m_session.execute(QStringLiteral("PRAGMA %1.user_version = %2")
                                  .arg(SqlText::quoted(m_base.schema))
                                  .arg(m_nextKey - 1));
    }

    QList<qint64> addedKeys() const { return m_added.values(); }

private:
    QVariant value(int row, const TextField &field) const
    {
        const QString text = cell(m_table, row, m_options.mapping.value(field.name, -1));
        return text.isEmpty() ? QVariant() : QVariant(text.left(field.size));
    }

    static void runOnce(Statement &statement)
    {
        statement.step();
        statement.reset();
    }

    Session &m_session;
    const TextTable &m_table;
    const Options &m_options;
    const TargetTables m_tables;
    const QList<TextField> m_fields;
    TableRef m_base;
    Statement m_insert{nullptr, nullptr, {}}, m_update{nullptr, nullptr, {}},
        m_folder{nullptr, nullptr, {}}, m_group{nullptr, nullptr, {}};
    qint64 m_nextKey = 0;
    QMap<int, qint64> m_added; // row -> key
};

} // namespace

QList<qint64> run(Session &session, const TextTable &table, const Options &options, Plan &plan,
                  const std::function<bool(double)> &progress)
{
    Writer writer(session, table, options);
    Session::Transaction transaction(session);
    // Another import may have added names since the plan was made: planned
    // again under the write lock, the second of two imports adds nothing the
    // first one added.
    plan = Import::plan(session, table, options);
    writer.prepare();
    QElapsedTimer sinceReport;
    sinceReport.start();
    for (int row = 0; row < plan.actions.size(); ++row) {
        if (plan.actions[row] == Plan::Action::Add)
            writer.add(row);
        else if (plan.actions[row] == Plan::Action::Update)
            writer.update(row, plan.updateKey.value(row));
        if (progress && sinceReport.elapsed() >= reportEveryMs) {
            if (!progress(double(row) / double(plan.actions.size())))
                Abort();
            sinceReport.restart();
        }
    }
    writer.finish();
    transaction.commit();
    return writer.addedKeys();
}

QList<std::pair<int, QString>> folders(Session &session)
{
    QList<std::pair<int, QString>> list;
    Statement rows = session.prepare(
        QStringLiteral("SELECT FolderID, Description FROM Folders ORDER BY FolderID"));
    while (rows.step())
        list.append({int(rows.int64(0)), rows.value(1).toString()});
    return list;
}

QList<std::pair<int, QString>> groups(Session &session, Target target)
{
    const QString table =
        target == Target::Firms ? QStringLiteral("GrFirms") : QStringLiteral("GrItems");
    // parent -> (key, name); values() gives the latest inserted first, hence DESC.
    QMultiMap<int, std::pair<int, QString>> children;
    Statement rows = session.prepare(
        QStringLiteral("SELECT GroupID, UpGroupID, Description FROM %1 ORDER BY Description "
                       "COLLATE RU DESC")
            .arg(table));
    while (rows.step())
        children.insert(int(rows.int64(1)), {int(rows.int64(0)), rows.value(2).toString()});
    QList<std::pair<int, QString>> list;
    // Depth first from the root; a group whose parent is missing is never reached,
    // and a key seen once is not followed again.
    QSet<int> seen{0};
    std::function<void(int, int)> walk = [&](int parent, int depth) {
        for (const auto &[key, name] : children.values(parent)) {
            if (seen.contains(key))
                continue;
            seen.insert(key);
            list.append({key, QString(depth * 4, ' ') + name});
            walk(key, depth + 1);
        }
    };
    walk(0, 0);
    return list;
}

TextTable readFile(const QString &path)
{
    return path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive) ? Xlsx::read(path)
                                                                       : Csv::read(path);
}

} // namespace Import
