#pragma once

#include "FileTextIndex.h"

#include <QHash>

class FileIndexer;

// The records of one scope whose attached files hold every word of a text:
// for each record the best-matching file and the words in their place.
class FileMatches
{
public:
    enum Owner
    {
        Firm = 0,
        Item = 1
    };

    void find(const FileIndexer &indexer, const QString &text, Owner owner);
    void clear() { m_byOwner.clear(); }
    bool isEmpty() const { return m_byOwner.isEmpty(); }

    // " or FirmID in (...)" (or ItemID): added after the designed condition
    // it ORs the found records in, since "or" binds last. Empty when none.
    QString condition() const;
    // "«price.pdf»: …болты М8…" for a record, empty when none of its files matched.
    QString describe(qint64 ownerKey) const;

private:
    Owner m_owner = Firm;
    QHash<qint64, FileHit> m_byOwner;
};
