#include "SelectableTree.h"

#include <QAccessible>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

namespace {

// The marks as the state pictures show them, depth-first: "." unmarked,
// "~" partly marked, "x" marked, "-" no picture.
QString picturesOf(const TCustomSelectableTree &tree)
{
    QString result;
    for (const TSelectableNode *node : tree.nodesInOrder())
        result += QStringLiteral("-?.~x").at(qBound(-1, node->stateIndex(), 3) + 1);
    return result;
}

} // namespace

class SelectableTreeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TSelectableTree> m_tree;
    TSelectableNode *m_all, *m_wholesale, *m_big, *m_small, *m_tiny, *m_raw;
    QList<TSelectableNode *> m_changed;

    // Все { Опт { Крупный { Малый }, Мелкий }, Сырьё }
    void build()
    {
        m_tree = std::make_unique<TSelectableTree>();
        m_tree->resize(300, 300);
        m_all = m_tree->addNode(nullptr, "Все");
        m_wholesale = m_tree->addNode(m_all, "Опт");
        m_big = m_tree->addNode(m_wholesale, "Крупный");
        m_tiny = m_tree->addNode(m_big, "Малый");
        m_small = m_tree->addNode(m_wholesale, "Мелкий");
        m_raw = m_tree->addNode(m_all, "Сырьё");
        m_tree->setMultiSelect(true);
        m_tree->expandAll();
        m_tree->OnChangeSelection = [this](TSelectableNode *sender) { m_changed << sender; };
        m_tree->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_tree.get()));
    }

    void press(TSelectableNode *node, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(m_tree->viewport(), button, {}, m_tree->stateImageRect(node).center());
        QTest::mouseRelease(m_tree->viewport(), button, {}, m_tree->stateImageRect(node).center());
    }

    QPoint onText(const TSelectableNode *node) const
    {
        const QRect cell = m_tree->visualItemRect(node);
        return QPoint(m_tree->stateImageRect(node).right() + 8, cell.center().y());
    }

    // The built-in menu as it pops up: items enabled for the current marks.
    QList<bool> menuEnabled()
    {
        m_tree->UpdateMenuItems();
        return {m_tree->SelectAllMenuItem->isEnabled(), m_tree->UnSelectAllMenuItem->isEnabled(),
                m_tree->InvertSelectionMenuItem->isEnabled()};
    }

private slots:
    void init() { m_changed.clear(); }
    void cleanup() { m_tree.reset(); }

    void newNodesAreUnmarkedAndHideThePicturesUntilMultiSelect()
    {
        TSelectableTree tree;
        TSelectableNode *top = tree.addNode(nullptr, "Все");
        tree.addNode(top, "Опт");
        QCOMPARE(picturesOf(tree), QString("--"));
        QVERIFY(tree.stateImageRect(top).isEmpty());
        QVERIFY(!tree.DefaultPopup() && !tree.popupMenu());
        tree.setMultiSelect(true);
        QCOMPARE(picturesOf(tree), QString(".."));
        QCOMPARE(tree.stateImages().size(), 4);
        QVERIFY(!tree.stateImages().at(1).isNull());
    }

    void markingALeafLiftsItsAncestorsToPartlyOrFully()
    {
        build();
        m_tree->SetCheckState(m_tiny, 1); // a leaf is never partly marked
        QCOMPARE(m_tiny->CheckState(), quint8(2));
        QCOMPARE(picturesOf(*m_tree), QString("~~xx.."));
        QCOMPARE(m_changed, QList<TSelectableNode *>({m_tiny}));

        m_tree->SetCheckState(m_tiny, 2); // unchanged: nothing fires
        QCOMPARE(m_changed.size(), 1);

        m_tree->SetCheckState(m_small, 2);
        QCOMPARE(picturesOf(*m_tree), QString("~xxxx."));
        m_tree->SetCheckState(m_raw, 2);
        QCOMPARE(picturesOf(*m_tree), QString("xxxxxx"));

        // Marking or unmarking a parent takes its whole subtree along.
        m_tree->SetCheckState(m_wholesale, 0);
        QCOMPARE(picturesOf(*m_tree), QString("~....x"));
        m_tree->SetCheckState(m_wholesale, 2);
        QCOMPARE(picturesOf(*m_tree), QString("xxxxxx"));

        // Partly marking a parent leaves it to its leaves.
        m_tree->SetCheckState(m_tiny, 0);
        m_changed.clear();
        m_tree->SetCheckState(m_big, 1);
        QCOMPARE(picturesOf(*m_tree), QString("~~..xx"));
        QCOMPARE(m_tree->GetCheckState(m_big), quint8(0));
    }

    void aPressOnTheMarkTogglesTheSubtreeAndNothingElseDoes()
    {
        build();
        m_tree->SetCheckState(m_tiny, 2);
        QCOMPARE(picturesOf(*m_tree), QString("~~xx.."));
        press(m_wholesale); // the grey box marks everything below
        QCOMPARE(picturesOf(*m_tree), QString("~xxxx."));
        press(m_wholesale); // the black tick unmarks it all
        QCOMPARE(picturesOf(*m_tree), QString("......"));
        QCOMPARE(m_tree->currentItem(), m_wholesale);

        // A press on the text selects; a second one (on the selected node) does
        // not mark either, and a press on the mark of the selected node
        // never starts editing its text.
        QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {}, onText(m_raw));
        QCOMPARE(m_tree->currentItem(), m_raw);
        QCOMPARE(picturesOf(*m_tree), QString("......"));
        press(m_raw);
        QTest::qWait(QApplication::doubleClickInterval() + 100);
        const auto *editor = m_tree->findChild<QLineEdit *>();
        QVERIFY(!editor || !editor->isVisible());
        QCOMPARE(picturesOf(*m_tree), QString("~....x"));

        // A double click on the mark is two presses and leaves the node open.
        const QPoint mark = m_tree->stateImageRect(m_big).center();
        QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {}, mark);
        QTest::mouseDClick(m_tree->viewport(), Qt::LeftButton, {}, mark);
        QTest::mouseRelease(m_tree->viewport(), Qt::LeftButton, {}, mark);
        QVERIFY(m_big->isExpanded());
        QCOMPARE(picturesOf(*m_tree), QString("~....x"));

        // Any button marks; the right one selects only when asked to.
        QCOMPARE(m_tree->currentItem(), m_big);
        press(m_small, Qt::RightButton);
        QCOMPARE(picturesOf(*m_tree), QString("~~..xx"));
        QCOMPARE(m_tree->currentItem(), m_big);
        m_tree->setRightClickSelect(true);
        press(m_small, Qt::RightButton);
        QCOMPARE(m_tree->currentItem(), m_small);
    }

    void spaceMarksTheCurrentNodeFromTheKeyboard()
    {
        build();
        m_tree->setFocus();
        m_tree->setCurrentItem(m_wholesale);
        QTest::keyClick(m_tree.get(), Qt::Key_Space);
        QCOMPARE(picturesOf(*m_tree), QString("~xxxx."));
        QTest::keyClick(m_tree.get(), Qt::Key_Down);
        QTest::keyClick(m_tree.get(), Qt::Key_Down);
        QCOMPARE(m_tree->currentItem(), m_tiny);
        QTest::keyClick(m_tree.get(), Qt::Key_Space);
        QCOMPARE(picturesOf(*m_tree), QString("~~..x."));
        QVERIFY(!m_tree->findChild<QLineEdit *>());
    }

    void allNoneAndInversionFollowTheLeaves()
    {
        build();
        m_tree->SelectAll();
        QCOMPARE(picturesOf(*m_tree), QString("xxxxxx"));
        m_tree->UnSelectAll();
        QCOMPARE(picturesOf(*m_tree), QString("......"));
        m_tree->SetCheckState(m_tiny, 2);
        m_tree->InvertSelection();
        QCOMPARE(picturesOf(*m_tree), QString("~~..xx"));
        m_tree->InvertSelection();
        QCOMPARE(picturesOf(*m_tree), QString("~~xx.."));
    }

    void theBuiltInMenuEnablesWhatCanChange()
    {
        build();
        QCOMPARE(menuEnabled(), QList<bool>({true, false, true}));
        m_tree->SetCheckState(m_small, 2);
        QCOMPARE(menuEnabled(), QList<bool>({true, true, true}));
        m_tree->SelectAll();
        QCOMPARE(menuEnabled(), QList<bool>({false, true, true}));

        // Its items run the operations they name.
        m_tree->UnSelectAllMenuItem->trigger();
        QCOMPARE(picturesOf(*m_tree), QString("......"));
        menuEnabled();
        m_tree->SelectAllMenuItem->trigger();
        QCOMPARE(picturesOf(*m_tree), QString("xxxxxx"));
        menuEnabled();
        m_tree->InvertSelectionMenuItem->trigger();
        QCOMPARE(picturesOf(*m_tree), QString("......"));
        QCOMPARE(m_tree->builtInMenu()->actions().at(2)->isSeparator(), true);
    }

    void theDefaultPopupAttachesTheMenuForGood()
    {
        build();
        const QPoint at = onText(m_raw);
        QContextMenuEvent request(QContextMenuEvent::Mouse, at,
                                  m_tree->viewport()->mapToGlobal(at));
        QApplication::sendEvent(m_tree->viewport(), &request);
        QVERIFY(!m_tree->builtInMenu()->isVisible());

        m_tree->setDefaultPopup(true);
        m_tree->setDefaultPopup(false); // switching off keeps the menu attached
        QCOMPARE(m_tree->popupMenu(), m_tree->builtInMenu());
        m_tree->SelectAll();
        QApplication::sendEvent(m_tree->viewport(), &request);
        QTRY_VERIFY(m_tree->builtInMenu()->isVisible());
        QVERIFY(!m_tree->SelectAllMenuItem->isEnabled());
        m_tree->builtInMenu()->close();
    }

    void switchingMultiSelectOffHidesTheMarksAndKeepsThem()
    {
        build();
        m_tree->SetCheckState(m_tiny, 2);
        m_tree->setMultiSelect(false);
        QCOMPARE(picturesOf(*m_tree), QString("------"));
        QVERIFY(!m_tiny->data(0, Qt::CheckStateRole).isValid());
        const QPoint wherePictureWas = onText(m_small) - QPoint(18, 0);
        QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {}, wherePictureWas);
        m_tree->setCurrentItem(m_raw);
        QTest::keyClick(m_tree.get(), Qt::Key_Space);
        QCOMPARE(m_tree->GetCheckState(m_small), quint8(0));
        QCOMPARE(m_tree->GetCheckState(m_raw), quint8(0));

        // The host's own state pictures give way to the marks and come back.
        const QList<QIcon> hosts = {QIcon(), QIcon()};
        m_tree->setStateImages(hosts);
        m_tree->setMultiSelect(true);
        QCOMPARE(picturesOf(*m_tree), QString("~~xx.."));
        QCOMPARE(m_tree->stateImages().size(), 4);
        m_tree->setMultiSelect(false);
        QCOMPARE(m_tree->stateImages().size(), 2);
    }

    void screenReadersHearTheMarkAndMarkingThroughItFollowsTheRules()
    {
        build();
        m_tree->SetCheckState(m_tiny, 2);
        QCOMPARE(m_wholesale->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(m_tiny->checkState(0), Qt::Checked);
        QVERIFY(m_tiny->flags() & Qt::ItemIsUserCheckable);

        QAccessibleInterface *view = QAccessible::queryAccessibleInterface(m_tree.get());
        QVERIFY(view);
        bool heard = false;
        for (int i = 0; i < view->childCount() && !heard; ++i) {
            QAccessibleInterface *cell = view->child(i);
            heard = cell && cell->text(QAccessible::Name) == "Малый" && cell->state().checked;
        }
        QVERIFY(heard);

        // A check state set from outside marks the subtree as a press would.
        m_wholesale->setCheckState(0, Qt::Checked);
        QCOMPARE(picturesOf(*m_tree), QString("~xxxx."));
        m_wholesale->setCheckState(0, Qt::Unchecked);
        QCOMPARE(picturesOf(*m_tree), QString("......"));
    }
};

QTEST_MAIN(SelectableTreeTest)
#include "tst_selectabletree.moc"
