#include "RowCache.h"

std::span<const qint64> RowCache::pageKeys(const std::vector<qint64> &keys, int page)
{
    const size_t from = size_t(page) * pageSize;
    const size_t to = std::min(keys.size(), from + pageSize);
    return std::span<const qint64>(keys).subspan(from, to - from);
}

const Record *RowCache::find(int row)
{
    const int page = pageOf(row);
    const auto it = m_pages.constFind(page);
    if (it == m_pages.constEnd())
        return nullptr;
    return &it->at(row % pageSize);
}

void RowCache::store(int page, const std::vector<qint64> &keys,
                     const QHash<qint64, Record> &byRowid, int columnCount)
{
    QList<Record> rows;
    const size_t from = size_t(page) * pageSize;
    const size_t to = std::min(keys.size(), from + pageSize);
    for (size_t i = from; i < to; ++i) {
        rows << byRowid.value(keys[i], Record{keys[i], QList<QVariant>(columnCount),
                                              QList<bool>(columnCount, false)});
    }
    if (m_pages.size() >= maxPages && !m_use.isEmpty())
        m_pages.remove(m_use.takeFirst());
    m_pages.insert(page, rows);
    m_use.removeAll(page);
    m_use.append(page);
}

void RowCache::clear()
{
    m_pages.clear();
    m_use.clear();
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
