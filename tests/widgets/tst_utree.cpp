#include "Application.h"
#include "Catalogue.h"
#include "Dialogs.h"
#include "GroupTree.h"
#include "RecordingUi.h"
#include "SelectableTree.h"
#include "UData.h"
#include "UMain.h"
#include "UTree.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using TestCatalogue::Place;

namespace {

// Firm types, sorted in the tree as
//   Все { Опт { Крупный { Малый }, Мелкий }, Сырьё { Лёд } }
// with a group under a missing parent that the tree never shows. Альфа is a
// member of the leaf Малый, of the hidden group, and of Сырьё directly (a
// group that later received a subgroup); Бета of Мелкий.
const QStringList catalogue = {
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (1, 0, 'Сырьё')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (2, 0, 'Опт')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (3, 2, 'Крупный')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (4, 2, 'Мелкий')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (5, 3, 'Малый')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (8, 99, 'Сирота')",
    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (9, 1, 'Лёд')",
    "Insert Into Firms (FirmID, Name) Values (1, 'Альфа')",
    "Insert Into Firms (FirmID, Name) Values (2, 'Бета')",
    "Insert Into GrpFrm (FirmID, GroupID) Values (1, 5)",
    "Insert Into GrpFrm (FirmID, GroupID) Values (1, 8)",
    "Insert Into GrpFrm (FirmID, GroupID) Values (1, 1)",
    "Insert Into GrpFrm (FirmID, GroupID) Values (2, 4)",
    "Insert Into GrItems (GroupID, UpGroupID, Description) Values (10, 0, 'Крепёж')",
    "Insert Into Items (ItemID, Name) Values (1, 'Болт')"};

// Marks depth-first: "." unmarked, "~" partly marked, "x" marked.
QString marksOf(const TCustomSelectableTree &tree)
{
    QString result;
    for (const TSelectableNode *node : tree.nodesInOrder())
        result += QStringLiteral("?.~x").at(qBound(0, node->stateIndex(), 3));
    return result;
}

} // namespace

class GroupAssignmentTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    std::unique_ptr<TMainForm> m_form;
    std::unique_ptr<QWidget> m_editor;
    QStringList m_errors;

    QString firmMemberships() const
    {
        return m_place
            ->stored("GRPFRM.DB",
                     "select FirmID || ':' || GroupID from GRPFRM order by FirmID, GroupID")
            .split('\n', Qt::SkipEmptyParts)
            .join(' ');
    }

    void start(const QStringList &extra = {})
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        for (const QString &sql : catalogue + extra) {
            dm->TMPQuery.setSql({sql});
            dm->TMPQuery.execSql();
        }
        m_dm->closeDataSets();
        m_dm->openDataSets();
        m_form = std::make_unique<TMainForm>();
        MainForm = m_form.get();
        m_editor = std::make_unique<QWidget>();
        m_editor->show();
    }

    std::unique_ptr<TfrmTree> prepared(GroupOwner owner = GroupOwner::Firm)
    {
        auto dialog = prepareGroupAssignment(m_editor.get(), owner);
        dialog->show();
        return dialog;
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        TestCatalogue::pointAliasAt(m_place->location());
        Dialogs::setScripted(true);
        m_errors.clear();
        Application::setErrorSink([this](const QString &m) { m_errors << m; });
    }

    void cleanup()
    {
        m_editor.reset();
        m_form.reset();
        m_dm.reset();
        m_place.reset();
        Dialogs::setScripted(false);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    }

    void theDialogCopiesTheTreeAndMarksTheRecordsGroups()
    {
        start();
        auto dialog = prepared();
        QCOMPARE(dialog->windowTitle(), QString("Типы фирм"));
        QCOMPARE(dialog->parentWidget(), m_editor.get());
        QCOMPARE(dialog->KeyFieldName, QString("FirmID"));
        QCOMPARE(dialog->KeyValue, 1);
        QCOMPARE(dialog->SourceTree, m_form->TreeGrpFirm);
        QCOMPARE(dialog->dsTree.dataSet(), &dm->tblGrpFrm);

        QStringList texts;
        for (const TSelectableNode *node : dialog->TreeView1->nodesInOrder()) {
            texts << node->text(0);
            QVERIFY(node->childCount() == 0 || node->isExpanded());
        }
        QCOMPARE(texts, QStringList({"Все", "Опт", "Крупный", "Малый", "Мелкий", "Сырьё", "Лёд"}));
        // Малый is marked and so is Крупный, its only leaf's parent; Сырьё,
        // assigned directly before Лёд existed, shows what Лёд shows.
        QCOMPARE(marksOf(*dialog->TreeView1), QString("~~xx..."));
        QVERIFY(dialog->TreeView1->MultiSelect() && !dialog->TreeView1->DefaultPopup());
        QVERIFY(dialog->TreeView1->rightClickSelect());
        QCOMPARE(dialog->TreeView1->accessibleName(), QString("Типы фирм"));
        QCOMPARE(dialog->size(), QSize(342, 349));
    }

    void savingStoresARowForEveryMarkedOrPartlyMarkedGroup()
    {
        start();
        auto dialog = prepared();
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        // Опт and Крупный are added, Сырьё loses its direct row, the hidden
        // group and the other firm's rows stay.
        QCOMPARE(firmMemberships(), QString("1:2 1:3 1:5 1:8 2:4"));
        QCOMPARE(dm->tblGrpFrm.state(), DataSetState::Browse);

        // Unmarking the only marked leaf takes its ancestors' rows along.
        dialog = prepared();
        dialog->TreeView1->SetCheckState(dialog->TreeView1->nodesInOrder().at(3), 0);
        dialog->TreeView1->SetCheckState(dialog->TreeView1->nodesInOrder().at(6), 2);
        dialog->Button1Click();
        QCOMPARE(firmMemberships(), QString("1:1 1:8 1:9 2:4"));
    }

    void cancelAndTheCloseBoxWriteNothing()
    {
        start();
        const QString before = firmMemberships();
        auto dialog = prepared();
        dialog->TreeView1->SelectAll();
        QTest::mouseClick(dialog->Button2, Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible());

        dialog = prepared();
        dialog->TreeView1->UnSelectAll();
        dialog->close();
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(firmMemberships(), before);
    }

    void anEngineErrorKeepsTheDialogOpenWithItsMarks()
    {
        start();
        auto dialog = prepared();
        dialog->TreeView1->SelectAll();

        // Another program holds the membership table for writing.
        dm->Main_sess()->setBusyTimeout(50);
        TestCatalogue::TableHolder holder(*m_place, "GRPFRM.DB");
        QVERIFY(holder.holds());

        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QCOMPARE(m_errors.size(), 1);
        const QString error = m_errors.takeFirst();
        QVERIFY2(error.contains("занята"), qPrintable(error));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(marksOf(*dialog->TreeView1), QString("xxxxxxx"));
        QCOMPARE(dm->tblGrpFrm.state(), DataSetState::Browse);

        holder.release();
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(firmMemberships(), QString("1:1 1:2 1:3 1:4 1:5 1:8 1:9 2:4"));
    }

    void anItemsTypesAreSavedInItsOwnTable()
    {
        start();
        auto dialog = prepared(GroupOwner::Item);
        QCOMPARE(dialog->windowTitle(), QString("Типы элементов"));
        QCOMPARE(dialog->KeyFieldName, QString("ItemID"));
        QCOMPARE(dialog->dsTree.dataSet(), &dm->tblGrpItm);
        QCOMPARE(marksOf(*dialog->TreeView1), QString(".."));
        dialog->TreeView1->setFocus();
        dialog->TreeView1->setCurrentItem(dialog->TreeView1->nodesInOrder().at(1));
        QTest::keyClick(dialog->TreeView1, Qt::Key_F2); // the copies are not renamed
        QVERIFY(!dialog->TreeView1->findChild<QLineEdit *>());
        QTest::keyClick(dialog->TreeView1, Qt::Key_Space);
        QTest::keyClick(dialog->TreeView1, Qt::Key_Return); // Enter saves
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(m_place->stored("GRPITM.DB", "select ItemID || ':' || GroupID from GRPITM"),
                 QString("1:10"));
    }

    void theEditorShowsTheDialogModallyAndItIsGoneAfterwards()
    {
        start();
        QString caption;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<TfrmTree *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            caption = dialog->windowTitle();
            dialog->TreeView1->SetCheckState(dialog->TreeView1->nodesInOrder().at(4), 2);
            dialog->Button1->click();
        });
        // Should the dialog fail to appear, nothing would close the loop.
        QTimer::singleShot(5000, this, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        showGroupAssignment(m_editor.get(), GroupOwner::Firm);
        QCOMPARE(caption, QString("Типы фирм"));
        QVERIFY(m_editor->findChildren<TfrmTree *>().isEmpty());
        QCOMPARE(firmMemberships(), QString("1:2 1:3 1:4 1:5 1:8 2:4"));
    }
};

QTEST_MAIN(GroupAssignmentTest)
#include "tst_utree.moc"
