#pragma once

#include <QString>
#include <QVariantList>

class DataSet;
class DataSource;
class Table;

// What "Добавить" makes on a tab: a firm "Новая" or an item "Новый", stored at
// once and made a member of the group selected in the tree, so that the list
// under that group keeps showing it.
class NewRecord
{
public:
    static NewRecord firm();
    static NewRecord item();

    Table &table() const { return *m_table; }
    DataSource *list() const { return m_list; }
    bool isFirm() const;

    // Appends and posts the record (in its table, unlinked from the list by
    // the caller) and its membership of `group` (none for the root, 0). A
    // failed post leaves nothing pending behind: the next move of the table
    // must not post a half-made record again.
    void add(int group) const;

    // The record as the user left it: its fields and the rows linked to it.
    // Equal before and after the editor means the user filled in nothing.
    QVariantList fillState() const;

    // Removes the record just added, with every row linked to it, without a
    // question: the user has just answered one.
    void remove() const;

private:
    NewRecord(Table *table, DataSource *list, const QString &name, Table *memberships,
              const QList<DataSet *> &links);

    Table *m_table;
    DataSource *m_list;
    QString m_name;
    Table *m_memberships;
    QList<DataSet *> m_links; // folders, attached files, makers and sellers
};
