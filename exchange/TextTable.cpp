#include "TextTable.h"

#include "FileError.h"

#include <algorithm>

namespace {

// The clock is read every few thousand calls: reading it costs more than a cell.
constexpr quint32 callsPerClockRead = 4096;

} // namespace

TableBuilder::TableBuilder(const ReadLimits &limits)
    : m_limits(limits), m_deadline(qint64(limits.maxSeconds) * 1000)
{}

void TableBuilder::checkTime()
{
    if (++m_calls % callsPerClockRead == 0)
        checkDeadline();
}

void TableBuilder::checkDeadline()
{
    if (m_deadline.hasExpired())
        throw FileError(QStringLiteral("файл читается дольше %1 с").arg(m_limits.maxSeconds));
}

void TableBuilder::charge(qint64 cells, qint64 characters)
{
    m_cells += cells;
    m_characters += characters;
    if (m_cells > m_limits.maxCells)
        throw FileError(QStringLiteral("в таблице больше %1 ячеек").arg(m_limits.maxCells));
    if (m_characters > m_limits.maxCharacters)
        throw FileError(
            QStringLiteral("в таблице больше %1 символов текста").arg(m_limits.maxCharacters));
    checkTime();
}

void TableBuilder::setCell(int column, const QString &value)
{
    if (column >= m_limits.maxColumns)
        throw FileError(QStringLiteral("в таблице больше %1 столбцов").arg(m_limits.maxColumns));
    if (value.isEmpty()) {
        if (column < m_row.size())
            m_row[column].clear();
        checkTime();
        return;
    }
    const qsizetype missing = qMax<qsizetype>(0, column + 1 - m_row.size());
    charge(missing, value.size());
    if (missing > 0)
        m_row.resize(column + 1);
    m_row[column] = value;
}

void TableBuilder::markDamaged(const QString &reason)
{
    if (m_damage.isEmpty())
        m_damage = reason;
}

void TableBuilder::endRow(int line)
{
    const bool filled = std::any_of(m_row.cbegin(), m_row.cend(), [](const QString &value) {
        return !value.trimmed().isEmpty();
    });
    if (filled || !m_damage.isEmpty()) {
        if (m_table.rows.size() > m_limits.maxRows)
            throw FileError(QStringLiteral("в таблице больше %1 строк").arg(m_limits.maxRows));
        // A row costs a cell of its own, however empty.
        charge(1, 0);
        if (!m_damage.isEmpty())
            m_table.damaged.insert(int(m_table.rows.size()), m_damage);
        m_table.rows.append(std::move(m_row));
        m_table.lines.append(line);
    }
    m_row = QStringList();
    m_damage.clear();
}

TextTable TableBuilder::finish()
{
    TextTable table = std::move(m_table);
    if (table.rows.isEmpty())
        return table;
    table.header = table.rows.takeFirst();
    table.lines.removeFirst();
    QHash<int, QString> damaged;
    for (auto it = table.damaged.cbegin(); it != table.damaged.cend(); ++it) {
        if (it.key() > 0)
            damaged.insert(it.key() - 1, it.value());
    }
    table.damaged = std::move(damaged);
    return table;
}
