// Following other desks' changes row by row: a changed row is read alone and
// put where the list's order puts it, the rest of the list left as it is, so
// that a change costs a few rows read whatever the length of the list.
#include "DataSet.h"

#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

// More rows than this at once are followed by reading the keys again: each
// row costs a few short reads, the key list one long one.
constexpr int maxRowsFollowed = 50;
// Each look at the order reads the row with this many rows of the list,
// evenly spaced, put in order by the engine itself: a million rows place a
// row in five looks of a few rows each, in the engine's own collation.
constexpr int probeWidth = 16;

} // namespace

bool DataSet::conditionReads(const QString &stem) const
{
    return active() && !m_plan.where.isEmpty() &&
           m_plan.where.contains(
               QRegularExpression(QStringLiteral("\\b%1\\b").arg(QRegularExpression::escape(stem)),
                                  QRegularExpression::CaseInsensitiveOption));
}

void DataSet::followRowsElsewhere(const QList<qint64> &identities)
{
    if (!active() || identities.isEmpty())
        return;
    // A list read whole (a join) has no keys to place a row among.
    if (!m_plan.keyed || identities.size() > maxRowsFollowed) {
        followChangesElsewhere();
        return;
    }
    if (m_state != DataSetState::Browse) {
        if (m_state == DataSetState::Edit && identities.contains(m_buffer.rowid))
            followChangesElsewhere(); // marks the record being edited
        if (m_followLater.isEmpty())
            connect(this, &DataSet::stateChanged, this, &DataSet::followLater,
                    Qt::SingleShotConnection);
        m_followLater += identities;
        return;
    }
    m_lookups.clear();
    for (const qint64 rowid : identities)
        followRow(rowid);
}

// The rows that changed while a record was edited, once it is posted or
// cancelled; after the post's own work is done.
void DataSet::followLater()
{
    QTimer::singleShot(0, this, [this] {
        if (m_state == DataSetState::Browse)
            followRowsElsewhere(std::exchange(m_followLater, {}));
        else if (!m_followLater.isEmpty())
            connect(this, &DataSet::stateChanged, this, &DataSet::followLater,
                    Qt::SingleShotConnection);
    });
}

void DataSet::followRow(qint64 rowid)
{
    const bool wasEmpty = isEmpty();
    const qint64 current = wasEmpty ? 0 : m_keys[size_t(m_current)];
    const auto found = std::find(m_keys.begin(), m_keys.end(), rowid);
    const int from = found == m_keys.end() ? -1 : int(found - m_keys.begin());
    const int to = placeInOrder(rowid, from);
    m_rows.forget(rowid);
    if (from < 0 && to < 0)
        return;
    if (from >= 0)
        m_keys.erase(m_keys.begin() + from);
    if (to >= 0)
        m_keys.insert(m_keys.begin() + to, rowid);

    const bool currentWent = !wasEmpty && rowid == current && to < 0;
    if (wasEmpty) {
        m_current = 0;
    } else if (currentWent) {
        // The row above becomes current, as a view's cursor goes there
        // when its row is removed.
        m_current = isEmpty() ? -1 : std::clamp(from - 1, 0, recordCount() - 1);
    } else if (rowid == current) {
        m_current = to;
    } else {
        if (from >= 0 && from < m_current)
            --m_current;
        if (to >= 0 && to <= m_current)
            ++m_current;
    }
    m_eof = isEmpty();
    emit rowMoved(from, to);
    if (to >= 0)
        emit rowChanged(to);
    // A new current record: what follows the dataset follows it.
    if (wasEmpty || currentWent)
        setCurrent(m_current);
}

// Where the row stands in the list's order among the others (leaving out the
// key at `leftOut`, the row's old place), or -1 when the list's condition
// leaves it out or its table no longer holds it.
int DataSet::placeInOrder(qint64 rowid, int leftOut) const
{
    const auto keyAt = [&](int i) {
        return m_keys[size_t(leftOut >= 0 && i >= leftOut ? i + 1 : i)];
    };
    int low = 0, high = int(m_keys.size()) - (leftOut >= 0 ? 1 : 0);
    for (;;) {
        const int span = high - low;
        const int count = std::min(span, probeWidth - 1);
        std::vector<qint64> probe{rowid};
        QHash<qint64, int> positions;
        for (int j = 0; j < count; ++j) {
            const int i = low + int(qint64(j) * span / count);
            probe.push_back(keyAt(i));
            positions.insert(keyAt(i), i);
        }
        Statement statement = m_session->prepare(
            DataSetSql::keysAmong(m_session->dialect(), m_plan, probe), m_plan.base.fileName);
        DataSetSql::bindParameters(statement, m_plan.parameters);
        bool found = false;
        int before = -1, after = -1;
        while (statement.step()) {
            const qint64 key = statement.int64(0);
            const int i = positions.value(key, -1);
            if (key == rowid)
                found = true;
            else if (i >= 0 && !found)
                before = i;
            else if (i >= 0 && after < 0)
                after = i;
        }
        if (!found)
            return -1;
        const int newLow = before >= 0 ? before + 1 : low;
        const int newHigh = after >= 0 ? after : high;
        // Every row between was looked at, or the rows looked at are gone
        // (deleted elsewhere, their notices still to come).
        if (count == span || newHigh - newLow >= span)
            return newLow;
        low = newLow;
        high = newHigh;
    }
}
