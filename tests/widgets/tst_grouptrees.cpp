#include "Aliases.h"
#include "Application.h"
#include "Catalogue.h"
#include "Dialogs.h"
#include "RecordingUi.h"
#include "SettingsStore.h"
#include "UData.h"
#include "UGroupTrees.h"

#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

using TestCatalogue::Place;

namespace {

// Firm types as a user might have left them, with rows the tree must never
// show: a cycle, a row under a missing parent, and a hand-made row with the
// root's key. Б has a smaller key than б, so the table's order is not the tree's.
const QStringList firmGroups = {
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (1, 0, 'Сырьё')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (2, 0, 'Опт')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (3, 2, 'Б')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (4, 2, 'б')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (5, 3, 'Мелкий')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (6, 7, 'Круг')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (7, 6, 'Круг')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (8, 99, 'Сирота')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (0, 0, 'Петля')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (9, 1, 'Лёд')",
    "Insert Into Firms (FirmID, Name) Values (1, 'Альфа')",
    "Insert Into Firms (FirmID, Name) Values (2, 'Бета')",
    "Insert Into GrpFrm (FirmID, GroupID) Values (1, 9)",
    "Insert Into GrItems (GroupID, UpGroupID, Description) Values (10, 0, 'Крепёж')",
    "Insert Into Items (ItemID, Name) Values (1, 'Болт')",
    "Insert Into GrpItm (ItemID, GroupID) Values (1, 10)"};

QStringList texts(const QList<QTreeWidgetItem *> &nodes)
{
    QStringList result;
    for (const QTreeWidgetItem *node : nodes)
        result << node->text(0);
    return result;
}

QStringList childTexts(const QTreeWidgetItem *node)
{
    QStringList result;
    for (int i = 0; i < node->childCount(); ++i)
        result << node->child(i)->text(0);
    return result;
}

} // namespace

class GroupTreesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    TabContext m_context;
    std::unique_ptr<QWidget> m_window;
    TGroupTree *m_firmTree = nullptr;
    TGroupTree *m_itemTree = nullptr;
    TGroupTrees *m_trees = nullptr;
    QStringList m_errors;

    QString stored(const QString &table, const QString &sql) const
    {
        return m_place->stored(table, sql);
    }

    QString groupRows() const
    {
        return stored("GRFIRMS.DB",
                      "select GroupID, UpGroupID, Description from GRFIRMS order by GroupID");
    }

    // The data module over the rows given, then the window's start: both
    // trees loaded and sorted, the firm page active.
    void start(const QStringList &statements = {})
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        for (const QString &sql : statements) {
            dm->TMPQuery.setSql({sql});
            dm->TMPQuery.execSql();
        }
        m_dm->closeDataSets();
        m_dm->openDataSets();
        m_window = std::make_unique<QWidget>();
        m_window->resize(620, 320);
        m_firmTree = new TGroupTree(m_window.get());
        m_itemTree = new TGroupTree(m_window.get());
        m_firmTree->setObjectName("TreeGrpFirm");
        m_itemTree->setObjectName("TreeGrpItem");
        m_firmTree->setGeometry(0, 0, 300, 300);
        m_itemTree->setGeometry(310, 0, 300, 300);
        m_trees = new TGroupTrees(m_window.get(), m_context, m_firmTree, m_itemTree);
        m_trees->LoadGroupTree(m_firmTree, &dm->tblGrpFirm);
        m_firmTree->sortAll();
        m_trees->LoadGroupTree(m_itemTree, &dm->tblGrpItem);
        m_itemTree->sortAll();
        showPage(0);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    // What the main window's tab change sets.
    void showPage(int page)
    {
        m_context.activePage = page;
        m_context.CurrentTree = page == 0 ? m_firmTree : m_itemTree;
        m_context.CurrentGroupSource = page == 0 ? &dm->dsGrpFirm : &dm->dsGrpItem;
        m_context.CurrentRecordSource = page == 0 ? &dm->dsFirms : &dm->dsItems;
        m_context.CurrentListQuery = page == 0 ? &dm->qFirms : &dm->qItems;
    }

    QTreeWidgetItem *node(const QString &text) const
    {
        for (QTreeWidgetItem *n : m_firmTree->nodesInOrder())
            if (n->text(0) == text)
                return n;
        return nullptr;
    }

    QTreeWidgetItem *select(const QString &text)
    {
        QTreeWidgetItem *n = node(text);
        m_firmTree->setCurrentItem(n);
        return n;
    }

    static QPoint onLabel(const QTreeWidget *tree, const QTreeWidgetItem *n)
    {
        const QRect r = tree->visualItemRect(n);
        return QPoint(r.left() + 3, r.center().y());
    }

    static QPoint onBlank(const QTreeWidget *tree, const QTreeWidgetItem *n)
    {
        const QRect r = tree->visualItemRect(n);
        return QPoint(r.right() - 3, r.center().y());
    }

    // The cursor at `pos` while the selected node is dragged.
    Qt::CursorShape cursorOver(const QPoint &pos)
    {
        m_trees->TreeGrpDragOver(m_firmTree, pos.x(), pos.y());
        return m_firmTree->dragCursor();
    }

    QLineEdit *startEdit()
    {
        QTest::keyClick(m_firmTree, Qt::Key_F2);
        auto *editor = m_firmTree->findChild<QLineEdit *>();
        if (editor && editor->isVisible())
            editor->selectAll();
        return editor && editor->isVisible() ? editor : nullptr;
    }

    static void type(QWidget *w, const QString &text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        TestCatalogue::pointAliasAt(m_place->location());
        Dialogs::setScripted(false);
        Dialogs::setScripted(true);
        m_errors.clear();
        Application::setErrorSink([this](const QString &message) { m_errors << message; });
    }

    void cleanup()
    {
        m_window.reset();
        m_context = TabContext();
        m_dm.reset();
        m_place.reset();
    }

    void emptyTablesGiveALoneRootSelectedAndUnfilteredLists()
    {
        start();
        for (TGroupTree *tree : {m_firmTree, m_itemTree}) {
            QCOMPARE(texts(tree->nodesInOrder()), QStringList({"Все"}));
            QCOMPARE(TGroupTree::nodeTag(tree->topLevelItem(0)), 0);
            QVERIFY(tree->topLevelItem(0)->isExpanded());
            QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
        }
        QVERIFY(dm->GroupFirmFilter.isEmpty());
        QCOMPARE(dm->qFirms.sql().at(1), QString());
        QVERIFY(!dm->tblGrpFirm.filtered() && !dm->tblGrpItem.filtered());
        QVERIFY(m_firmTree->indentation() == 19 && !m_trees->TimerScrollUp->isActive());
        QCOMPARE(m_trees->TimerScrollDown->interval(), 100);

        m_trees->N4Click(); // the lone root: nothing to delete, nothing said
        QCOMPARE(m_firmTree->topLevelItemCount(), 1);
        QVERIFY(Dialogs::asked().isEmpty());
    }

    void loadingShowsOnlyGroupsJoinedToTheRootInLocaleOrder()
    {
        start(firmGroups);
        const QList<QTreeWidgetItem *> nodes = m_firmTree->nodesInOrder();
        QCOMPARE(texts(nodes), QStringList({"Все", "Опт", "б", "Б", "Мелкий", "Сырьё", "Лёд"}));
        QList<int> tags;
        for (const QTreeWidgetItem *n : nodes)
            tags << TGroupTree::nodeTag(n);
        QCOMPARE(tags, QList<int>({0, 2, 4, 3, 5, 1, 9}));
        QVERIFY(nodes[0]->isExpanded() && !nodes[1]->isExpanded());
        QCOMPARE(m_firmTree->topLevelItemCount(), 1);
        QVERIFY(!dm->tblGrpFirm.filtered());
        QCOMPARE(dm->tblGrpFirm.recordCount(), 10);
        QCOMPARE(texts(m_itemTree->nodesInOrder()), QStringList({"Все", "Крепёж"}));
    }

    void selectionSetsTheGroupConditionOfTheActivePage()
    {
        start(firmGroups);
        select("Лёд");
        QCOMPARE(dm->GroupFirmFilter,
                 QString("FirmID in (Select FirmID From GrpFrm Where GroupID=9)"));
        QCOMPARE(dm->qFirms.sql().at(1),
                 QString(" Where FirmID in (Select FirmID From GrpFrm Where GroupID=9)"));
        QCOMPARE(dm->qFirms.recordCount(), 1);

        // A click anywhere applies the selected node again; a right click
        // selects nothing and opens the menu for the node already selected.
        dm->GroupFirmFilter.clear();
        QTest::mouseClick(m_firmTree->viewport(), Qt::LeftButton, {}, QPoint(5, 290));
        QCOMPARE(dm->GroupFirmFilter,
                 QString("FirmID in (Select FirmID From GrpFrm Where GroupID=9)"));
        const QPoint other = onLabel(m_firmTree, node("Опт"));
        QTest::mouseClick(m_firmTree->viewport(), Qt::RightButton, {}, other);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, other,
                               m_firmTree->viewport()->mapToGlobal(other));
        QApplication::sendEvent(m_firmTree->viewport(), &menu);
        QCOMPARE(m_firmTree->currentItem(), node("Лёд"));
        QTRY_VERIFY(m_trees->PopupMenu1->isVisible());
        m_trees->PopupMenu1->close();

        showPage(1);
        m_itemTree->setCurrentItem(m_itemTree->topLevelItem(0)->child(0));
        QCOMPARE(dm->qItems.sql().at(1),
                 QString(" Where ItemID in (Select ItemID From GrpItm Where GroupID=10)"));
        QCOMPARE(dm->qItems.recordCount(), 1);
        m_itemTree->setCurrentItem(m_itemTree->topLevelItem(0));
        QVERIFY(dm->GroupItemFilter.isEmpty());
        QCOMPARE(dm->qFirms.recordCount(), 1); // the other page keeps its group
    }

    void additionsWriteTheRowFirstAndSortTheNewNodeIn()
    {
        start(firmGroups);
        const QString before = groupRows();
        m_trees->N1Click(); // on the root
        QCOMPARE(Dialogs::asked(), QStringList({"Нельзя добавлять элементы на этот уровень"}));
        QCOMPARE(groupRows(), before);

        m_trees->N2->trigger();
        m_trees->N2Click();
        QCOMPARE(childTexts(m_firmTree->topLevelItem(0)),
                 QStringList({"Новый", "Новый", "Опт", "Сырьё"}));
        const int first = TGroupTree::nodeTag(m_firmTree->topLevelItem(0)->child(0));
        const int second = TGroupTree::nodeTag(m_firmTree->topLevelItem(0)->child(1));
        QCOMPARE(stored("GRFIRMS.DB", "select GroupID || ':' || UpGroupID from GRFIRMS where "
                                      "Description = 'Новый' order by GroupID"),
                 QString("%1:0\n%2:0").arg(qMin(first, second)).arg(qMax(first, second)));
        QVERIFY(first != second);
        QCOMPARE(m_firmTree->currentItem(), m_firmTree->topLevelItem(0)); // not selected

        select("б");
        m_trees->N1Click();
        QCOMPARE(childTexts(node("Опт")), QStringList({"б", "Б", "Новый"}));
        QCOMPARE(
            stored("GRFIRMS.DB",
                   "select count(*) from GRFIRMS where Description = 'Новый' and UpGroupID = 2"),
            QString("1"));
        QCOMPARE(m_firmTree->currentItem(), node("б"));
        QVERIFY(m_errors.isEmpty());
    }

    void deletionRefusesParentsAndUsedGroupsThenAsks()
    {
        start(firmGroups);
        const QString before = groupRows();
        select("Опт");
        m_trees->N4Click();
        select("Лёд"); // Альфа belongs to it
        m_trees->N4Click();
        select("Мелкий");
        m_trees->N4Click(); // answered Cancel
        QCOMPARE(Dialogs::asked(),
                 QStringList({"Невозможно удалить. Имеются подчиненные узлы.",
                              "Невозможно удалить. Имеются фирмы этого типа.", "Удалить ?"}));
        QCOMPARE(groupRows(), before);
        QVERIFY(node("Мелкий"));

        Dialogs::answerNextConfirm(true);
        m_trees->N4->trigger();
        QVERIFY(!node("Мелкий"));
        QCOMPARE(stored("GRFIRMS.DB", "select count(*) from GRFIRMS where GroupID = 5"),
                 QString("0"));
        // The tree selected the parent of the last child, and its group applies.
        QCOMPARE(m_firmTree->currentItem(), node("Б"));
        QVERIFY(m_firmTree->currentItem()->isSelected());
        QCOMPARE(dm->GroupFirmFilter,
                 QString("FirmID in (Select FirmID From GrpFrm Where GroupID=3)"));
    }

    void renameStoresTheTextAndResortsTheNode()
    {
        start(firmGroups);
        select("Сырьё");
        QLineEdit *editor = startEdit();
        QVERIFY(editor);
        type(editor, "Агенты");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(childTexts(m_firmTree->topLevelItem(0)), QStringList({"Агенты", "Опт"}));
        QCOMPARE(stored("GRFIRMS.DB", "select Description from GRFIRMS where GroupID = 1"),
                 QString("Агенты"));

        const QString before = groupRows();
        editor = startEdit();
        QVERIFY(editor);
        type(editor, "Яма");
        QTest::keyClick(editor, Qt::Key_Escape);
        QCOMPARE(node("Агенты")->text(0), QString("Агенты"));

        m_firmTree->setCurrentItem(m_firmTree->topLevelItem(0));
        QVERIFY(!startEdit()); // the root is never renamed
        QCOMPARE(groupRows(), before);
    }

    // Another desk renamed the group meanwhile: the rename asks, and the
    // tree shows what is stored, on either page.
    void aGroupRenamedAtAnotherDeskIsSettledByTheUser_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("expected");
        QTest::newRow("firm types, mine saved") << 0 << 0 << "Агенты";
        QTest::newRow("item types, theirs kept") << 1 << 1 << "Материалы";
    }

    void aGroupRenamedAtAnotherDeskIsSettledByTheUser()
    {
        QFETCH(int, page);
        QFETCH(int, choice);
        QFETCH(QString, expected);
        start({firmGroups.first(),
               "Insert Into GrItems (GroupID, UpGroupID, Description) Values (1, 0, 'Сырьё')"});
        showPage(page);
        TGroupTree *tree = m_context.CurrentTree;
        const QString file = page == 0 ? "GRFIRMS.DB" : "GRITEMS.DB";
        TestCatalogue::changeAtAnotherDesk(*m_place, file, {"GroupID", 1},
                                           {{"Description", "Материалы"}});
        QTreeWidgetItem *group = tree->topLevelItem(0)->child(0);
        tree->setCurrentItem(group);
        QTest::keyClick(tree, Qt::Key_F2);
        auto *editor = tree->findChild<QLineEdit *>();
        QVERIFY(editor && editor->isVisible());
        editor->selectAll();
        type(editor, "Агенты");
        Dialogs::answerNextChoice(choice);
        QTest::keyClick(editor, Qt::Key_Return);

        QTRY_COMPARE(Dialogs::lastShown().text, QString("Запись изменена другим пользователем.\n"
                                                        "Другой пользователь изменил: Описание."));
        QCOMPARE(stored(file, "select Description from " + file.section('.', 0, 0)), expected);
        QTRY_COMPARE(group->text(0), expected);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    }

    void aRenameTheEngineRefusesLeavesTreeAndOtherRowsAlone()
    {
        start(firmGroups);
        dm->TMPQuery.setSql({"Delete From GrFirms Where GroupID=1"});
        dm->TMPQuery.execSql();
        select("Сырьё");
        const QString before = groupRows();
        QLineEdit *editor = startEdit();
        QVERIFY(editor);
        type(editor, "Агенты");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(m_errors.size(), 1);
        QCOMPARE(node("Сырьё")->text(0), QString("Сырьё"));
        QCOMPARE(groupRows(), before);
    }

    void dragCursorsTellValidTargets()
    {
        start(firmGroups);
        m_firmTree->expandAll();
        select("Б"); // has a subgroup
        QCOMPARE(cursorOver(onLabel(m_firmTree, node("Опт"))), TGroupTree::noDropCursor);
        QCOMPARE(cursorOver(onLabel(m_firmTree, node("Б"))), TGroupTree::noDropCursor);
        QCOMPARE(cursorOver(onLabel(m_firmTree, node("Мелкий"))), TGroupTree::noDropCursor);
        QCOMPARE(cursorOver(onBlank(m_firmTree, node("Сырьё"))), TGroupTree::noDropCursor);
        QCOMPARE(cursorOver(onLabel(m_firmTree, node("Сырьё"))), TGroupTree::multiDragCursor);
        const QPoint raw = onLabel(m_firmTree, node("Сырьё"));
        m_trees->TreeGrpDragOver(m_itemTree, raw.x(), raw.y()); // a drag from the other tree
        QCOMPARE(m_firmTree->dragCursor(), TGroupTree::noDropCursor);

        const QString before = groupRows();
        for (const char *invalid : {"Опт", "Б", "Мелкий"}) {
            const QPoint p = onLabel(m_firmTree, node(invalid));
            m_trees->TreeGrpDragDrop(m_firmTree, p.x(), p.y());
        }
        QVERIFY(Dialogs::asked().isEmpty());
        QCOMPARE(groupRows(), before);

        select("б");
        QCOMPARE(cursorOver(onLabel(m_firmTree, node("Все"))), TGroupTree::singleDragCursor);
        select("Все");
        QCOMPARE(cursorOver(onLabel(m_firmTree, node("Сырьё"))), TGroupTree::noDropCursor);
    }

    void aMoveAsksThenChangesOnlyTheParentKey()
    {
        start(firmGroups);
        m_firmTree->expandAll();
        select("Опт");
        const QString filter = dm->GroupFirmFilter;
        const QPoint target = onLabel(m_firmTree, node("Сырьё"));
        m_trees->TreeGrpDragDrop(m_firmTree, target.x(), target.y()); // answered No
        QCOMPARE(Dialogs::asked(),
                 QStringList({"Вы действительно хотите переместить\n\r\"Опт\" из\n\r\"Все\" "
                              "в\n\r\"Сырьё\" ?"}));
        QCOMPARE(node("Опт")->parent(), m_firmTree->topLevelItem(0));

        const QString before = groupRows();
        Dialogs::answerNextYesNo(true);
        m_trees->TreeGrpDragDrop(m_firmTree, target.x(), target.y());
        QCOMPARE(groupRows(), QString(before).replace("2|0|Опт", "2|1|Опт"));
        QCOMPARE(childTexts(node("Сырьё")), QStringList({"Опт", "Лёд"})); // first, not sorted in
        QCOMPARE(childTexts(node("Опт")), QStringList({"б", "Б"}));
        QVERIFY(node("Сырьё")->isExpanded() && node("Опт")->isExpanded());
        QCOMPARE(m_firmTree->currentItem(), node("Опт"));
        QCOMPARE(dm->GroupFirmFilter, filter);
    }

    void dragOverTheScrollBarRunsOneTimerUntilTheDragEnds()
    {
        start(firmGroups);
        m_firmTree->setFixedHeight(60);
        m_firmTree->expandAll();
        QScrollBar *bar = m_firmTree->verticalScrollBar();
        QTRY_VERIFY(bar->isVisible());
        const int right = m_firmTree->viewport()->width() + 2;
        const int height = m_firmTree->viewport()->height();
        QTimer *up = m_trees->TimerScrollUp;
        QTimer *down = m_trees->TimerScrollDown;
        m_trees->TreeGrpDragOver(m_firmTree, right, height / 2);
        QVERIFY(down->isActive() && !up->isActive());
        m_trees->TreeGrpDragOver(m_firmTree, right, height / 2 - 1);
        QVERIFY(up->isActive() && !down->isActive());
        m_trees->TreeGrpDragOver(m_firmTree, right - 4, height / 2 - 1);
        QVERIFY(!up->isActive() && !down->isActive());

        // A drag over the lower end of the scroll bar, as the tree's filter on
        // the bar sees it (outside a real drag Qt delivers no drag events).
        QMimeData payload;
        payload.setData("application/x-quillon-group-node", "2");
        QDragMoveEvent move(QPoint(bar->width() / 2, bar->height() - 3), Qt::MoveAction, &payload,
                            Qt::LeftButton, Qt::NoModifier);
        static_cast<QObject *>(m_firmTree)->eventFilter(bar, &move);
        QVERIFY(down->isActive() && !up->isActive());
        m_trees->TreeGrpEndDrag();
        QVERIFY(!up->isActive() && !down->isActive());
    }

    void timersBringTheNodeFourPositionsAwayToTheTop()
    {
        start(firmGroups);
        m_firmTree->collapseAll();
        m_firmTree->topLevelItem(0)->setExpanded(true);
        // One row in view, so that any node can stand at the top.
        const int row = m_firmTree->visualItemRect(m_firmTree->topLevelItem(0)).height();
        m_firmTree->setFixedHeight(row + 2 * m_firmTree->frameWidth());
        QTRY_COMPARE(m_firmTree->viewport()->height(), row);

        m_trees->TimerScrollDownTimer(); // position 4, inside the collapsed Опт
        QCOMPARE(m_firmTree->topNode(), node("Мелкий"));
        m_trees->TimerScrollDownTimer(); // 4 + 4 is past the end: the last node
        QCOMPARE(m_firmTree->topNode(), node("Лёд"));
        m_trees->TimerScrollUpTimer();
        QCOMPARE(m_firmTree->topNode(), node("б"));
        m_trees->TimerScrollUpTimer(); // fewer than four above: the root
        QCOMPARE(m_firmTree->topNode(), m_firmTree->topLevelItem(0));
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    GroupTreesTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_grouptrees.moc"
