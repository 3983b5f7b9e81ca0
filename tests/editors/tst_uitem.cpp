#include "Catalogue.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "RecordingUi.h"
#include "UData.h"
#include "UFirm.h"
#include "UFirmItemList.h"
#include "UItem.h"
#include "WindowTest.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// Runs `action` on the next modal window to come up (an editor opened from a
// handler runs its own modal loop).
template <typename Window> void whenShown(const std::function<void(Window *)> &action)
{
    QTimer::singleShot(0, [action] {
        if (auto *window = qobject_cast<Window *>(QApplication::activeModalWidget()))
            action(window);
    });
}

} // namespace

class ItemEditorTest : public WindowTest
{
    Q_OBJECT

    std::unique_ptr<TfrmEditItem> m_editor;

    // Firms "Альфа" (1) and "Бета" (2) unless told otherwise, items "Болт"
    // (1) and "Гайка" (2), and the relation rows given.
    void startWith(const QStringList &relations, const QStringList &firms = {"Альфа", "Бета"})
    {
        openCatalogue([&] {
            for (int i = 0; i < firms.size(); ++i)
                run(QString("Insert Into Firms (FirmID, Name) Values (%1, '%2')")
                        .arg(i + 1)
                        .arg(firms[i]));
            run("Insert Into Items (ItemID, Name) Values (1, 'Болт')");
            run("Insert Into Items (ItemID, Name) Values (2, 'Гайка')");
            for (const QString &row : relations)
                run("Insert Into CrFirms (FirmID, ItemID, Type) Values (" + row + ")");
        });
    }

    void openEditor()
    {
        m_editor = std::make_unique<TfrmEditItem>();
        m_editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    }

    QString relations()
    {
        return stored("CRFIRMS.DB",
                      "select FirmID || Type || ItemID from CRFIRMS order by Type, FirmID")
            .replace('\n', ' ');
    }

private slots:
    void init() { startTest(); }

    void cleanup()
    {
        m_editor.reset();
        endTest();
    }

    void eachGridStoresItsOwnRowsWithTheirRelation()
    {
        startWith({});
        openEditor();
        QCOMPARE(m_editor->windowTitle(), QString("Болт"));
        // A seller row chosen but not yet stored...
        m_editor->DBGridEh2->setFocus();
        QTest::keyClick(m_editor->DBGridEh2, Qt::Key_Insert);
        dm->qFSaler.fieldByName("FirmID")->setAsInteger(1);
        // ... stays pending while Enter in the maker grid stores the maker's.
        m_editor->DBGridEh1->setFocus();
        QCOMPARE(relations(), QString("1s1")); // leaving the seller grid stored its row
        QTest::keyClick(m_editor->DBGridEh1, Qt::Key_Insert);
        dm->qFMaker.fieldByName("FirmID")->setAsInteger(2);
        dm->qFMaker.fieldByName("Type")->setAsString("s"); // whatever the user did
        dm->qFMaker.fieldByName("ItemID")->setAsInteger(7);
        QTest::keyClick(m_editor->DBGridEh2, Qt::Key_Insert);
        dm->qFSaler.fieldByName("FirmID")->setAsInteger(2);
        QTest::keyClick(m_editor->DBGridEh1, Qt::Key_Return);
        QCOMPARE(relations(), QString("2m1 1s1"));
        QCOMPARE(dm->qFSaler.state(), DataSetState::Insert);
        QCOMPARE(
            m_editor->DBGridEh1->gridModel()->data(m_editor->DBGridEh1->gridModel()->index(0, 0)),
            QVariant("Бета"));
        m_editor->close();
        QCOMPARE(relations(), QString("2m1 1s1 2s1"));
    }

    void aNewRowWithNothingChosenIsNeverStored_data()
    {
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("otherField");
        QTest::newRow("makers") << "DBGridEh1"
                                << "CRFIRMS"
                                << "Type";
        QTest::newRow("sellers") << "DBGridEh2"
                                 << "CRFIRMS"
                                 << "Type";
        QTest::newRow("folders") << "DBGridEh3"
                                 << "CRFOLDERS"
                                 << "FirmID";
    }

    void aNewRowWithNothingChosenIsNeverStored()
    {
        QFETCH(QString, grid);
        QFETCH(QString, table);
        QFETCH(QString, otherField);
        startWith({});
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        dm->tblFolder.refresh();
        openEditor();
        auto *rows = m_editor->findChild<DBGrid *>(grid);
        rows->setFocus();
        QTest::keyClick(rows, Qt::Key_Insert);
        QTest::keyClick(rows, Qt::Key_Return);
        QCOMPARE(rows->dataSet()->state(), DataSetState::Browse);
        // A row with something else in it but no firm or folder: dropped on closing.
        QTest::keyClick(rows, Qt::Key_Insert);
        rows->dataSet()->fieldByName(otherField)->setAsString("1");
        m_editor->close();
        QVERIFY(!m_editor->isVisible());
        QCOMPARE(stored(table + ".DB", "select count(*) from " + table), QString("0"));
    }

    // Another desk changes or deletes the row being chosen anew in a grid:
    // Enter asks, and what the user takes is what is stored.
    void aRowAnotherDeskChangedOrDeletedIsSettledByTheUser_data()
    {
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value"); // the grid's rows, the other desk's among them
        QTest::addColumn<bool>("deleted");  // else changed to 3
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("message"); // after "Запись ..."
        QTest::addColumn<QString>("expected");
        const QString changed = "изменена другим пользователем.\nДругой пользователь изменил: ";
        const QString deleted =
            "удалена другим пользователем.\nСохранить введённое как новую запись?";
        QTest::newRow("maker, mine saved") << "DBGridEh1"
                                           << "CRFIRMS.DB"
                                           << "Type"
                                           << "m" << false << 0 << changed + "Фирма."
                                           << "2";
        QTest::newRow("maker, theirs kept") << "DBGridEh1"
                                            << "CRFIRMS.DB"
                                            << "Type"
                                            << "m" << false << 1 << changed + "Фирма."
                                            << "3";
        QTest::newRow("maker deleted") << "DBGridEh1"
                                       << "CRFIRMS.DB"
                                       << "Type"
                                       << "m" << true << 0 << deleted << "2";
        QTest::newRow("seller, mine saved") << "DBGridEh2"
                                            << "CRFIRMS.DB"
                                            << "Type"
                                            << "s" << false << 0 << changed + "Фирма."
                                            << "2";
        QTest::newRow("folder, theirs kept") << "DBGridEh3"
                                             << "CRFOLDERS.DB"
                                             << "ItemID"
                                             << "1" << false << 1 << changed + "Папка."
                                             << "3";
        QTest::newRow("folder deleted") << "DBGridEh3"
                                        << "CRFOLDERS.DB"
                                        << "ItemID"
                                        << "1" << true << 0 << deleted << "2";
    }

    void aRowAnotherDeskChangedOrDeletedIsSettledByTheUser()
    {
        QFETCH(QString, grid);
        QFETCH(QString, file);
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(bool, deleted);
        QFETCH(int, choice);
        QFETCH(QString, message);
        QFETCH(QString, expected);
        startWith({"1, 1, 'm'", "1, 1, 's'"}, {"Альфа", "Бета", "Гамма"});
        for (const QString folder : {"1, 'Склад'", "2, 'Офис'", "3, 'Цех'"})
            run("Insert Into Folders (FolderID, Description) Values (" + folder + ")");
        run("Insert Into CrFolders (FolderID, ItemID) Values (1, 1)");
        m_dm->closeDataSets();
        m_dm->openDataSets();
        openEditor();
        auto *rows = m_editor->findChild<DBGrid *>(grid);
        const bool folders = file == "CRFOLDERS.DB";
        const QString chosen = folders ? "FolderID" : "FirmID";
        rows->setFocus();
        QTest::keyClick(rows, Qt::Key_F2);
        auto *list = qobject_cast<QComboBox *>(QApplication::focusWidget());
        QVERIFY(list);
        const QVariant row = field == "Type" ? QVariant(value) : QVariant(value.toInt());
        TestCatalogue::changeAtAnotherDesk(*m_place, file, {field, row},
                                           deleted
                                               ? QList<std::pair<QString, QVariant>>{}
                                               : QList<std::pair<QString, QVariant>>{{chosen, 3}});
        QTest::sendKeyEvent(QTest::Click, list, Qt::Key_unknown, folders ? "о" : "б",
                            Qt::NoModifier);
        Dialogs::answerNextChoice(choice);
        QTest::keyClick(list, Qt::Key_Return);

        QCOMPARE(Dialogs::lastShown().text, "Запись " + message);
        QCOMPARE(stored(file, "select " + chosen + " from " + file.section('.', 0, 0) + " where " +
                                  field + " = '" + value + "'"),
                 expected);
        QCOMPARE(rows->dataSet()->state(), DataSetState::Browse);
        QCOMPARE(rows->dataSet()->fieldByName(chosen)->asString(), expected);
        m_editor->close();
        QVERIFY(!m_editor->isVisible());
    }

    void aMakerIsFoundInTheDropDownByItsFirstLetters()
    {
        startWith({}, {"Гамма", "Бета", "Бетон", "Альфа"});
        openEditor();
        DBGrid *makers = m_editor->DBGridEh1;
        makers->setFocus();
        QTest::keyClick(makers, Qt::Key_Insert);
        QTest::keyClick(makers, Qt::Key_F2);
        auto *list = qobject_cast<QComboBox *>(QApplication::focusWidget());
        QVERIFY(list);
        // In the lists' order, not the order of the keys.
        QCOMPARE(list->itemText(0), QString("Альфа"));
        for (const QString letter : {"б", "е", "т", "о"})
            QTest::sendKeyEvent(QTest::Click, list, Qt::Key_unknown, letter, Qt::NoModifier);
        QCOMPARE(list->currentText(), QString("Бетон"));
        QTest::keyClick(list, Qt::Key_Backspace);
        QCOMPARE(list->currentText(), QString("Бета"));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(relations(), QString("2m1"));
    }

    void gridsWithNothingToChooseRefuseEntry()
    {
        startWith({}, {});
        openEditor();
        m_editor->DBEdit1->setFocus();
        m_editor->DBGridEh1->setFocus();
        m_editor->DBGridEh3->setFocus();
        QCOMPARE(Dialogs::asked(),
                 QStringList({"Не определено ни одной фирмы", "Не определено ни одной папки"}));
        QVERIFY(m_editor->DBGridEh1->isReadOnly());
        QVERIFY(m_editor->DBGridEh3->isReadOnly());
        // With no rows the open buttons do nothing.
        QTest::mouseClick(m_editor->bFMaketOpen, Qt::LeftButton);
        QTest::mouseClick(m_editor->bFSalerOpen, Qt::LeftButton);
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
    }

    void aSellerRenamedInItsFirmEditorShowsAtOnce()
    {
        startWith({"1, 1, 's'"});
        openEditor();
        bool itemsEnabled = true;
        whenShown<TfrmEditFirm>([&](TfrmEditFirm *firm) {
            itemsEnabled = firm->cmdItems->isEnabled();
            firm->DBEdit1->selectAll();
            QTest::keyClicks(firm->DBEdit1, "Omega");
            firm->close();
        });
        QTest::mouseClick(m_editor->bFSalerOpen, Qt::LeftButton);
        QVERIFY(!itemsEnabled);
        QCOMPARE(
            m_editor->DBGridEh2->gridModel()->data(m_editor->DBGridEh2->gridModel()->index(0, 0)),
            QVariant("Omega"));
        QCOMPARE(stored("FIRMS.DB", "select Name from FIRMS where FirmID = 1"), QString("Omega"));
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
        QCOMPARE(dm->tblFirms.fieldByName("FirmID")->asInteger(),
                 dm->qFirms.fieldByName("FirmID")->asInteger());
    }

    // Firm editor, items list, item editor, firm editor again: each level
    // restores what it changed, and every list shows the changed names.
    void nestedOpeningsRestoreEveryLink()
    {
        startWith({"2, 1, 'm'", "2, 1, 's'", "2, 2, 'm'", "2, 99, 's'"});
        dm->qFirms.locate("FirmID", 2);
        TfrmEditFirm firm;
        int made = -1, sold = -1;
        QString renamed;
        whenShown<TfrmListItem>([&](TfrmListItem *list) {
            made = list->qMake.recordCount();
            sold = list->qSale.recordCount();
            list->DBGrid1->setFocus();
            list->qMake.locate("ItemID", 1);
            whenShown<TfrmEditItem>([&](TfrmEditItem *item) {
                item->DBEdit1->selectAll();
                QTest::keyClicks(item->DBEdit1, "Bolt");
                whenShown<TfrmEditFirm>([&](TfrmEditFirm *inner) {
                    QVERIFY(!inner->cmdItems->isEnabled());
                    inner->DBEdit2->setFocus();
                    QTest::keyClicks(inner->DBEdit2, "also");
                    inner->close();
                });
                QTest::mouseClick(item->bFMaketOpen, Qt::LeftButton);
                item->close();
            });
            list->DBGrid1DblClick(list->DBGrid1);
            renamed = list->qMake.fieldByName("Name")->asString();
            list->close();
        });
        QTest::mouseClick(firm.cmdItems, Qt::LeftButton);
        QCOMPARE(made, 2);
        QCOMPARE(sold, 1); // the row naming no item is not listed
        QCOMPARE(renamed, QString("Bolt"));
        QCOMPARE(stored("FIRMS.DB", "select Sinonyms from FIRMS where FirmID = 2"),
                 QString("also"));
        QCOMPARE(dm->tblItem.masterSource(), &dm->dsMainItems);
        QCOMPARE(dm->tblItem.filter(), QString());
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
        QCOMPARE(dm->tblFirms.fieldByName("FirmID")->asInteger(), 2);
        firm.close();
        QCOMPARE(dm->qFirms.fieldByName("FirmID")->asInteger(), 2);
        QCOMPARE(dm->qItems.fieldByName("Name")->asString(), QString("Bolt"));
    }
};

QTEST_MAIN(ItemEditorTest)
#include "tst_uitem.moc"
