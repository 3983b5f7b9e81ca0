#pragma once

#include <QHash>
#include <QList>
#include <QVariant>
#include <deque>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

// One record as read from a table: its row id and a value per column. Blob
// columns are read only when asked for, so a page of rows stays small.
struct Record
{
    qint64 rowid = 0;
    QList<QVariant> values;
    QList<bool> pending; // blob not read yet
};

// The rows of a keyed list that have been read, a page at a time, kept by
// their key so that a row another desk added or removed above them leaves
// them where they are; the rows read longest ago are given up first, so that
// scrolling a list of a million rows keeps only a few screens in memory.
class RowCache
{
public:
    // Rows are read by key in pages of this size: a few screens of a grid,
    // small enough that a page costs well under a millisecond.
    static constexpr int pageSize = 200;

    static int pageOf(int row) { return row / pageSize; }
    // The row identities of one page.
    static std::span<const qint64> pageKeys(const std::vector<qint64> &keys, int page);

    // The cached record of a row, or nullptr when it is not read yet.
    const Record *find(qint64 rowid) const;
    // Keeps the rows just read for `asked`; rows missing from `byRowid`
    // (deleted by another program meanwhile) show blank.
    void store(const std::vector<qint64> &asked, const QHash<qint64, Record> &byRowid,
               int columnCount);
    void forget(qint64 rowid) { m_records.erase(rowid); }
    void clear();

private:
    // At most this many rows stay cached (fifty pages).
    static constexpr size_t maxRows = 50 * pageSize;

    // Node-based: a record found stays where it is while others are stored.
    std::unordered_map<qint64, Record> m_records;
    std::deque<std::vector<qint64>> m_reads; // the keys of each read, oldest first
    size_t m_kept = 0;                       // keys in m_reads
};

// Results of lookups by key, kept while the looked-up rows stay as they are:
// a grid column that shows a looked-up name asks for it on every paint.
class LookupCache
{
public:
    std::optional<QVariant> find(const QString &keyField, const QString &resultField,
                                 const QVariant &key) const;
    void store(const QString &keyField, const QString &resultField, const QVariant &key,
               const QVariant &result);
    void clear() { m_results.clear(); }

private:
    static QString entry(const QString &keyField, const QString &resultField, const QVariant &key);
    // Bounded: a lookup over every firm of a large catalogue must not grow without end.
    static constexpr int maxEntries = 20000;
    QHash<QString, QVariant> m_results;
};
