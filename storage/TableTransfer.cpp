#include "TableTransfer.h"

#include "Session.h"

#include <QStringList>

namespace {

// Rows read at a time from a table with a key: attached files make rows of
// megabytes, and a page is held in memory whole.
constexpr int rowsPerPage = 64;

// The auto-increment field rows are read in the order of, page by page;
// empty when the table has none (such tables hold short rows only).
QString pagingKey(const QList<FieldDef> &fields)
{
    for (const FieldDef &field : fields) {
        if (field.kind == FieldKind::AutoInc)
            return field.name;
    }
    return {};
}

class RowCopier
{
public:
    RowCopier(Session &source, Session &target, const QString &table, const QList<FieldDef> &fields)
        : m_source(source), m_key(pagingKey(fields))
    {
        QStringList names, values;
        for (int i = 0; i < fields.size(); ++i) {
            names << fields[i].name;
            values << QStringLiteral(":v%1").arg(i);
        }
        m_columns = names.join(',');
        m_table = table;
        m_insert = target.prepare(QStringLiteral("Insert Into %1 (%2) Values (%3)")
                                      .arg(table, m_columns, values.join(',')));
        m_count = int(fields.size());
    }

    qint64 copyAll(const std::function<void()> &keepAlive)
    {
        if (m_key.isEmpty())
            return copy(
                m_source.prepare(QStringLiteral("Select %1 From %2").arg(m_columns, m_table)));
        qint64 copied = 0;
        qint64 last = -1;
        for (;;) {
            Statement page = m_source.prepare(
                QStringLiteral("Select %1 From %2 Where %3 > :last Order By %3 Limit %4")
                    .arg(m_columns, m_table, m_key)
                    .arg(rowsPerPage));
            page.bind(1, last);
            const qint64 rows = copy(std::move(page), &last);
            copied += rows;
            if (keepAlive)
                keepAlive();
            if (rows < rowsPerPage)
                return copied;
        }
    }

private:
    // Copies the rows of `rows`; `lastKey` hears the paging key of the last.
    qint64 copy(Statement rows, qint64 *lastKey = nullptr)
    {
        const int keyColumn = lastKey ? keyColumnOf(rows) : -1;
        qint64 count = 0;
        while (rows.step()) {
            for (int i = 0; i < m_count; ++i)
                m_insert.bind(i + 1, rows.value(i));
            m_insert.step();
            m_insert.reset();
            if (lastKey)
                *lastKey = rows.int64(keyColumn);
            ++count;
        }
        return count;
    }

    int keyColumnOf(Statement &rows) const
    {
        for (int i = 0; i < rows.columnCount(); ++i) {
            if (rows.columnName(i).compare(m_key, Qt::CaseInsensitive) == 0)
                return i;
        }
        return 0;
    }

    Session &m_source;
    QString m_key;
    QString m_table;
    QString m_columns;
    int m_count = 0;
    Statement m_insert;
};

} // namespace

namespace TableTransfer {

qint64 copyRows(Session &source, Session &target, const QString &fileName,
                const std::function<void()> &keepAlive)
{
    // Prepared first: on a folder the transaction covers the tables already reached.
    RowCopier copier(source, target, fileName.section('.', 0, 0),
                     source.fields(source.tableByFile(fileName)));
    Session::Transaction transaction(target);
    const qint64 rows = copier.copyAll(keepAlive);
    transaction.commit();
    return rows;
}

void carryKeysHandedOut(Session &source, Session &target, const QString &fileName)
{
    const TableRef from = source.tableByFile(fileName);
    const TableRef to = target.tableByFile(fileName);
    for (const FieldDef &field : source.fields(from)) {
        if (field.kind == FieldKind::AutoInc)
            target.keepAutoIncrementAbove(to, field.name, source.keysHandedOut(from, field.name));
    }
}

qint64 copyTable(Session &source, Session &target, const QString &fileName,
                 const std::function<void()> &keepAlive)
{
    const TableRef from = source.tableByFile(fileName);
    target.createTable(fileName, source.fields(from));
    const qint64 rows = copyRows(source, target, fileName, keepAlive);
    // The key and indexes are made once every row is in: faster than keeping
    // them up to date row by row.
    for (const IndexDef &index : source.indexes(from))
        target.addIndex(fileName, index);
    carryKeysHandedOut(source, target, fileName);
    return rows;
}

} // namespace TableTransfer
