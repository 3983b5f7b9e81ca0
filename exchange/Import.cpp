#include "Import.h"

#include "EngineError.h"
#include "Session.h"
#include "Sheets.h"
#include "TextRules.h"

#include <QElapsedTimer>
#include <QMultiMap>
#include <QSet>
#include <QTextBoundaryFinder>
#include <algorithm>

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
    for (const FieldDef &field : session.fields(table)) {
        if (field.isText())
            fields.append({field.name, field.size});
    }
    return fields;
}

QMap<QString, int> guessMapping(Target target, const QStringList &header,
                                const QList<TextField> &fields)
{
    QStringList names;
    for (const TextField &field : fields)
        names.append(field.name);
    QMap<QString, int> mapping;
    for (int column = 0; column < header.size(); ++column) {
        const QString field = Columns::fieldOfHeader(target, header[column], names);
        if (!field.isEmpty() && !mapping.contains(field))
            mapping.insert(field, column);
    }
    return mapping;
}

QString cutToSize(const QString &text, int size)
{
    if (text.size() <= size)
        return text;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    characters.setPosition(size);
    if (!characters.isAtBoundary())
        characters.toPreviousBoundary();
    return text.left(std::max<qsizetype>(0, characters.position()));
}

Known readKnown(Session &session, Target target)
{
    return {textFields(session, target), existingNames(session, tablesOf(target)),
            std::make_shared<Columns::Memberships>(session, target)};
}

Plan plan(Session &session, const TextTable &table, const Options &options)
{
    return plan(readKnown(session, options.target), table, options);
}

namespace {

// Why a row is not read at all, or empty when it is.
QString refusalOf(const TextTable &table, int row, const QString &name)
{
    if (const auto damage = table.damaged.constFind(row); damage != table.damaged.cend())
        return damage.value();
    if (name.isEmpty())
        return QStringLiteral("пустое название");
    // A header again (files put one after another): no record is named so.
    QStringList values = table.rows[row];
    while (!values.isEmpty() && values.back().trimmed().isEmpty())
        values.removeLast();
    QStringList header = table.header;
    while (!header.isEmpty() && header.back().trimmed().isEmpty())
        header.removeLast();
    if (values.size() == header.size() &&
        std::equal(values.cbegin(), values.cend(), header.cbegin(),
                   [](const QString &a, const QString &b) {
                       return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
                   }))
        return QStringLiteral("строка повторяет заголовок");
    return {};
}

// The groups and folders a row's lists name; names of none are gathered.
void resolveMemberships(const Known &known, const TextTable &table, const Options &options, int row,
                        Plan &result)
{
    if (!known.memberships)
        return;
    const QString types = cell(table, row, options.mapping.value(Columns::types, -1));
    const QString folders = cell(table, row, options.mapping.value(Columns::folders, -1));
    const Columns::Memberships::Named groups = known.memberships->groupsNamed(types);
    const Columns::Memberships::Named named = known.memberships->foldersNamed(folders);
    if (!groups.keys.isEmpty())
        result.groupsOf.insert(row, groups.keys);
    if (!named.keys.isEmpty())
        result.foldersOf.insert(row, named.keys);
    for (const QString &name : groups.unknown + named.unknown) {
        if (!result.unknownNames.contains(name))
            result.unknownNames.append(name);
    }
}

} // namespace

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
        const QString name = cutToSize(cell(table, row, nameColumn), nameSize);
        const int line = table.lines.value(row, row + 2);
        if (const QString refusal = refusalOf(table, row, name); !refusal.isEmpty()) {
            result.actions.append(Plan::Action::Refuse);
            result.refused.append({line, refusal});
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
        resolveMemberships(known, table, options, row, result);
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
    Writer(Session &session, const TextTable &table, const Options &options, const Plan &plan)
        : m_session(session), m_table(table), m_options(options), m_plan(plan),
          m_tables(tablesOf(options.target)), m_fields(textFields(session, options.target)),
          m_withFolders(options.folderId > 0 || !plan.foldersOf.isEmpty()),
          m_withGroups(options.groupId > 0 || !plan.groupsOf.isEmpty())
    {
        // Every file is attached before the transaction begins.
        m_base = session.tableByName(m_tables.table);
        if (m_withFolders)
            session.tableByName(QStringLiteral("CrFolders"));
        if (m_withGroups)
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
        // A firm's folder row has ItemID 0, an item's a blank FirmID; a row
        // already there is not written again. The record's own index finds
        // it: "+" keeps the engine off the folder's index, which would read
        // every member of the folder at each row of the import.
        const bool firms = m_options.target == Target::Firms;
        if (m_withFolders)
            m_folder = m_session.prepare(
                firms ? QStringLiteral("INSERT INTO CrFolders (FolderID, FirmID, ItemID) "
                                       "SELECT ?, ?, 0 WHERE NOT EXISTS (SELECT 1 FROM CrFolders "
                                       "WHERE +FolderID = ? AND FirmID = ?)")
                      : QStringLiteral("INSERT INTO CrFolders (FolderID, ItemID) "
                                       "SELECT ?, ? WHERE NOT EXISTS (SELECT 1 FROM CrFolders "
                                       "WHERE +FolderID = ? AND ItemID = ? AND FirmID IS NULL)"));
        if (m_withGroups)
            m_group = m_session.prepare(
                QStringLiteral("INSERT OR IGNORE INTO %1 (%2, GroupID) VALUES (?, ?)")
                    .arg(m_tables.membership, m_tables.key));
    }

    void add(int row)
    {
        // Taken at the first new record: an import that adds none hands out no key.
        if (m_nextKey == 0)
            m_nextKey = m_session.nextAutoIncrement(m_base, m_tables.key);
        const qint64 key = m_nextKey++;
        m_added.insert(row, key);
        m_insert.bind(1, key);
        m_insert.bind(2, m_options.groupId);
        for (int i = 0; i < m_fields.size(); ++i)
            m_insert.bind(i + 3, value(row, m_fields[i]));
        runOnce(m_insert);
        if (m_options.folderId > 0)
            addToFolder(key, m_options.folderId);
        if (m_options.groupId > 0)
            addToGroup(key, m_options.groupId);
        addListed(row, key);
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
        addListed(row, key);
    }

    // The highest key handed out, so that no key is given twice after deletes.
    void finish()
    {
        if (!m_added.isEmpty())
            m_session.keepAutoIncrementAbove(m_base, m_tables.key, m_nextKey - 1);
    }

    QList<qint64> addedKeys() const { return m_added.values(); }

private:
    QVariant value(int row, const TextField &field) const
    {
        const QString text = cell(m_table, row, m_options.mapping.value(field.name, -1));
        return text.isEmpty() ? QVariant() : QVariant(cutToSize(text, field.size));
    }

    void addToFolder(qint64 key, int folder)
    {
        // The values to insert, then the same for the check that it is not there.
        for (const int at : {1, 3}) {
            m_folder.bind(at, folder);
            m_folder.bind(at + 1, key);
        }
        runOnce(m_folder);
    }

    void addToGroup(qint64 key, int group)
    {
        m_group.bind(1, key);
        m_group.bind(2, group);
        runOnce(m_group);
    }

    // The groups and folders the row's own lists name.
    void addListed(int row, qint64 key)
    {
        for (const int group : m_plan.groupsOf.value(row))
            addToGroup(key, group);
        for (const int folder : m_plan.foldersOf.value(row))
            addToFolder(key, folder);
    }

    static void runOnce(Statement &statement)
    {
        statement.step();
        statement.reset();
    }

    Session &m_session;
    const TextTable &m_table;
    const Options &m_options;
    const Plan &m_plan;
    const TargetTables m_tables;
    const QList<TextField> m_fields;
    const bool m_withFolders;
    const bool m_withGroups;
    TableRef m_base;
    Statement m_insert, m_update, m_folder, m_group;
    qint64 m_nextKey = 0;
    QMap<int, qint64> m_added; // row -> key
};

} // namespace

QList<qint64> run(Session &session, const TextTable &table, const Options &options, Plan &plan,
                  const std::function<bool(double)> &progress)
{
    Writer writer(session, table, options, plan);
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

TextTable readFile(const QString &path, const ReadLimits &limits)
{
    return Sheets::read(path, limits);
}

} // namespace Import
