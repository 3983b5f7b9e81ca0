#include "NewRecord.h"

#include "PostOrDrop.h"
#include "Table.h"
#include "UData.h"

namespace {

const QString groupField = QStringLiteral("GroupID");

} // namespace

NewRecord::NewRecord(Table *table, DataSource *list, const QString &name, Table *memberships,
                     const QList<DataSet *> &links)
    : m_table(table), m_list(list), m_name(name), m_memberships(memberships), m_links(links)
{}

NewRecord NewRecord::firm()
{
    return {&dm->tblFirms,
            &dm->dsMainFirms,
            QStringLiteral("Новая"),
            &dm->tblGrpFrm,
            {&dm->tblCrFirmFolder, &dm->qFirmFiles}};
}

NewRecord NewRecord::item()
{
    return {&dm->tblItem,
            &dm->dsMainItems,
            QStringLiteral("Новый"),
            &dm->tblGrpItm,
            {&dm->tblCrItemFolder, &dm->qItemFiles, &dm->qFMaker, &dm->qFSaler}};
}

bool NewRecord::isFirm() const
{
    return m_table == &dm->tblFirms;
}

void NewRecord::add(int group) const
{
    m_table->append();
    m_table->fieldByName(QStringLiteral("Name"))->setAsString(m_name);
    m_table->fieldByName(groupField)->setAsInteger(group);
    postOrDrop(*m_table);
    if (group == 0)
        return;
    // The membership follows the new record by its key, as the group
    // assignment dialog writes it.
    const QString key = isFirm() ? QStringLiteral("FirmID") : QStringLiteral("ItemID");
    m_memberships->append();
    m_memberships->fieldByName(key)->setValue(m_table->fieldByName(key)->value());
    m_memberships->fieldByName(groupField)->setAsInteger(group);
    postOrDrop(*m_memberships);
}

QVariantList NewRecord::fillState() const
{
    QVariantList state;
    for (const Field *field : m_table->fields())
        state << field->value();
    for (const DataSet *links : m_links)
        state << links->recordCount();
    QVariantList groups;
    for (m_memberships->first(); !m_memberships->eof(); m_memberships->next())
        groups << m_memberships->fieldByName(groupField)->value();
    state << QVariant(groups);
    return state;
}

void NewRecord::remove() const
{
    dm->removeUnfilled(*m_table);
}
