#pragma once

class DataSource;
class Query;
class TGroupTree;

// Which tab every handler of the main window and of its group trees works
// on. Set by the tab change and nowhere else.
struct TabContext
{
    int activePage = 0; // 0 "Фирмы", 1 "Элементы"
    TGroupTree *CurrentTree = nullptr;
    DataSource *CurrentGroupSource = nullptr;  // dm->dsGrpFirm or dm->dsGrpItem
    DataSource *CurrentRecordSource = nullptr; // dm->dsFirms or dm->dsItems
    Query *CurrentListQuery = nullptr;         // &dm->qFirms or &dm->qItems
};
