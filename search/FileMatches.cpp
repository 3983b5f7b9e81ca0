#include "FileMatches.h"

#include "FileIndexer.h"

void FileMatches::find(const FileIndexer &indexer, const QString &text, Owner owner)
{
    m_owner = owner;
    m_byOwner.clear();
    // Hits come best first: the first file of a record is the one shown.
    for (const FileHit &hit : indexer.search(text)) {
        const qint64 key = owner == Firm ? hit.file.firmId : hit.file.itemId;
        if (key != 0 && !m_byOwner.contains(key))
            m_byOwner.insert(key, hit);
    }
}

QString FileMatches::condition() const
{
    if (m_byOwner.isEmpty())
        return {};
    QStringList keys;
    for (auto it = m_byOwner.cbegin(); it != m_byOwner.cend(); ++it)
        keys << QString::number(it.key());
    const QString field = m_owner == Firm ? QStringLiteral("FirmID") : QStringLiteral("ItemID");
    return QStringLiteral(" or ") + field + QStringLiteral(" in (") + keys.join(u',') + u')';
}

QString FileMatches::describe(qint64 ownerKey) const
{
    const auto hit = m_byOwner.constFind(ownerKey);
    if (hit == m_byOwner.constEnd())
        return {};
    return u'«' + hit->file.description + QStringLiteral("»: ") + hit->snippet;
}
