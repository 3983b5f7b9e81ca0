#include "RowCache.h"

std::span<const qint64> RowCache::pageKeys(const std::vector<qint64> &keys, int page)
{
    const size_t from = size_t(page) * pageSize;
    const size_t to = std::min(keys.size(), from + pageSize);
    return std::span<const qint64>(keys).subspan(from, to - from);
}

const Record *RowCache::find(qint64 rowid) const
{
    const auto it = m_records.find(rowid);
    return it == m_records.end() ? nullptr : &it->second;
}

void RowCache::store(const std::vector<qint64> &asked, const QHash<qint64, Record> &byRowid,
                     int columnCount)
{
    while (!m_reads.empty() && m_kept + asked.size() > maxRows) {
        for (const qint64 rowid : m_reads.front())
            m_records.erase(rowid);
        m_kept -= m_reads.front().size();
        m_reads.pop_front();
    }
    for (const qint64 rowid : asked) {
        m_records.insert_or_assign(rowid,
                                   byRowid.value(rowid, Record{rowid, QList<QVariant>(columnCount),
                                                               QList<bool>(columnCount, false)}));
    }
    m_reads.push_back(asked);
    m_kept += asked.size();
}

void RowCache::clear()
{
    m_records.clear();
    m_reads.clear();
    m_kept = 0;
}

QString LookupCache::entry(const QString &keyField, const QString &resultField, const QVariant &key)
{
    // Keys of every kind compare as their text: 7 and "7" find the same row.
    return keyField.toLower() + QChar(0x1f) + resultField.toLower() + QChar(0x1f) + key.toString();
}

std::optional<QVariant> LookupCache::find(const QString &keyField, const QString &resultField,
                                          const QVariant &key) const
{
    const auto it = m_results.constFind(entry(keyField, resultField, key));
    if (it == m_results.constEnd())
        return std::nullopt;
    return *it;
}

void LookupCache::store(const QString &keyField, const QString &resultField, const QVariant &key,
                        const QVariant &result)
{
    if (m_results.size() >= maxEntries)
        m_results.clear();
    m_results.insert(entry(keyField, resultField, key), result);
}
