#include "Aliases.h"
#include "Application.h"
#include "Catalogue.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "GroupTree.h"
#include "RecordEditor.h"
#include "RecordingUi.h"
#include "SelectableTree.h"
#include "SettingsStore.h"
#include "UData.h"
#include "UFirm.h"
#include "UMain.h"
#include "UTree.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using TestCatalogue::Place;

class MainWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    std::unique_ptr<TMainForm> m_form;
    QStringList m_errors;

    QString stored(const QString &table, const QString &sql) const
    {
        return m_place->stored(table, sql);
    }

    void run(const QString &sql)
    {
        dm->TMPQuery.setSql({sql});
        dm->TMPQuery.execSql();
    }

    void startWith(const QStringList &firms, const QStringList &firmGroups = {})
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        int id = 0;
        for (const QString &name : firms)
            run(QString("Insert Into Firms (FirmID, Name) Values (%1, '%2')").arg(++id).arg(name));
        id = 0;
        for (const QString &name : firmGroups)
            run(QString(
                    "Insert Into GrFirms (GroupID, UpGroupID, Description) Values (%1, 0, '%2')")
                    .arg(++id)
                    .arg(name));
        run("Insert Into Items (ItemID, Name) Values (1, 'Болт')");
        m_dm->closeDataSets();
        m_dm->openDataSets();
        m_form = std::make_unique<TMainForm>();
        MainForm = m_form.get();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    QString statusText() const { return m_form->statusPanels[1]->text(); }
    QString currentFirm() const { return dm->qFirms.fieldByName("Name")->asString(); }

    // A key as the keyboard sends it: key code and the text it types.
    void key(QWidget *w, Qt::Key code, const QString &text = {},
             Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::sendKeyEvent(QTest::Click, w, code, text, modifiers);
    }

    void type(QWidget *w, const QString &text)
    {
        for (const QChar c : text)
            key(w, Qt::Key_unknown, QString(c));
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        TestCatalogue::pointAliasAt(m_place->location());
        m_ui = RecordingUi();
        Dialogs::setScripted(true);
        m_errors.clear();
        Application::setErrorSink([this](const QString &m) { m_errors << m; });
    }

    void cleanup()
    {
        m_form.reset();
        m_dm.reset();
        m_place.reset();
        Dialogs::setScripted(false);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    }

    void typeToFindKeepsWhatIsTyped_data()
    {
        QTest::addColumn<QString>("typed"); // ⇧ Shift, ⌫ Backspace, ↑ the Up arrow
        QTest::addColumn<QString>("buffer");
        QTest::addColumn<QString>("found");
        const auto row = [](const char *name, const QString &typed, const QString &buffer,
                            const QString &found) {
            QTest::newRow(name) << typed << buffer << found;
        };
        row("letters in any case", "⇧Аб", "Аб", "абажур");
        row("quote marks in names are skipped", "ооо ром", "ооо ром", "ООО «Ромашка»");
        row("a capital in the middle", "ооо ⇧Ромб", "ооо Ромб", "ООО Ромб");
        row("a name that begins with a quote mark", "рома", "рома", "«Ромашка»");
        row("digits", "12", "12", "12345");
        row("Ё is read as Е", "ёлк", "ёлк", "Елка");
        row("Backspace takes the last character back", "журнх⌫", "журн", "Журнал");
        row("no such firm: the list stays", "жуq", "жуq", "Жук");
        row("a key that types nothing empties the buffer", "жур↑", "", "Жук");
    }

    void typeToFindKeepsWhatIsTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QString, buffer);
        QFETCH(QString, found);
        startWith({"Zeta", "абажур", "Абрикос", "Елка", "Жук", "Журнал", "12345", "ООО Ромб",
                   "ООО «Ромашка»", "Роман", "«Ромашка»"});
        DBGrid *list = m_form->DBGrid2;
        list->setFocus();
        for (const QChar c : typed) {
            if (c == u'⇧')
                key(list, Qt::Key_Shift);
            else if (c == u'⌫')
                key(list, Qt::Key_Backspace, "\b");
            else if (c == u'↑')
                key(list, Qt::Key_Up);
            else
                type(list, c);
        }
        QCOMPARE(statusText(), buffer);
        QCOMPARE(currentFirm(), found);
    }

    void theSearchBufferHoldsAtMost255Characters()
    {
        startWith({"Альфа"});
        for (int i = 0; i < 300; ++i)
            type(m_form->DBGrid2, "z");
        QCOMPARE(statusText().size(), 255);
    }

    void theRecordFollowsTheSearchSoThatDeleteTakesTheFoundFirm()
    {
        startWith({"Абажур", "Бор", "Журнал", "Журавль"});
        QTest::mouseClick(
            m_form->DBGrid2->viewport(), Qt::LeftButton, {},
            m_form->DBGrid2->visualRect(m_form->DBGrid2->model()->index(0, 0)).center());
        type(m_form->DBGrid2, "журн");
        QCOMPARE(dm->tblFirms.fieldByName("Name")->asString(), QString("Журнал"));
        QTest::mouseClick(m_form->SpeedButton6, Qt::LeftButton);
        QCOMPARE(m_ui.questions, QStringList({"Удалить 'Журнал' ?"}));
    }

    void switchingTabsEmptiesTheBufferAndKeepsBothLists()
    {
        startWith({"Альфа", "Бета"});
        dm->qFirms.last();
        type(m_form->DBGrid2, "Б");
        m_form->PageControl1->setCurrentIndex(1);
        QCOMPARE(statusText(), QString());
        QCOMPARE(m_form->context.CurrentListQuery, &dm->qItems);
        QCOMPARE(m_form->context.CurrentTree, m_form->TreeGrpItem);
        m_form->PageControl1->setCurrentIndex(0);
        QCOMPARE(currentFirm(), QString("Бета"));
    }

    void addingUnderTheRootCreatesNamedRecords()
    {
        startWith({"Альфа"});
        QString editorCaption;
        QTimer::singleShot(0, [&] {
            QWidget *editor = QApplication::activeModalWidget();
            editorCaption = editor ? editor->windowTitle() : QString();
            if (editor)
                editor->close();
        });
        QTest::mouseClick(m_form->SpeedButton4, Qt::LeftButton);
        QCOMPARE(editorCaption, QString("Новая"));
        QCOMPARE(stored("FIRMS.DB", "select Name || ':' || GroupID from FIRMS where FirmID = 2"),
                 QString("Новая:0"));
        // The editor re-reads the list and keeps it on the firm it stood on.
        QCOMPARE(dm->qFirms.recordCount(), 2);
        QCOMPARE(currentFirm(), QString("Альфа"));
        QCOMPARE(dm->tblFirms.fieldByName("FirmID")->asInteger(), 1);
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
        m_form->PageControl1->setCurrentIndex(1);
        QTimer::singleShot(0, [&] {
            QWidget *editor = QApplication::activeModalWidget();
            editorCaption = editor ? editor->windowTitle() : QString();
            if (editor)
                editor->close();
        });
        QTest::mouseClick(m_form->SpeedButton4, Qt::LeftButton);
        QCOMPARE(editorCaption, QString("Новый"));
        QCOMPARE(stored("ITEMS.DB", "select Name from ITEMS order by ItemID"),
                 QString("Болт\nНовый"));
    }

    // Runs `edit` on the editor "Добавить" opens, then closes it.
    void addWithEditor(const std::function<void(RecordEditor *)> &edit)
    {
        QTimer::singleShot(0, [edit] {
            auto *editor = qobject_cast<RecordEditor *>(QApplication::activeModalWidget());
            if (!editor)
                return;
            edit(editor);
            editor->close();
        });
        QTest::mouseClick(m_form->SpeedButton4, Qt::LeftButton);
    }

    QString firmNames()
    {
        return stored("FIRMS.DB", "select Name from FIRMS order by FirmID").replace('\n', ',');
    }

    void aNewRecordsNameIsReplacedByTypingAndAnUnfilledOneMayGo()
    {
        startWith({"Альфа"});
        QString caption;
        addWithEditor([&](RecordEditor *editor) {
            type(editor->focusWidget(), "Ромашка");
            caption = editor->windowTitle();
        });
        QCOMPARE(caption, QString("Ромашка"));
        QCOMPARE(firmNames(), QString("Альфа,Ромашка"));
        QVERIFY(Dialogs::asked().isEmpty());

        addWithEditor([](RecordEditor *) {}); // left as it was made, and kept ("Нет")
        QCOMPARE(Dialogs::asked(), QStringList({"Запись не заполнена. Удалить её?"}));
        QCOMPARE(firmNames(), QString("Альфа,Ромашка,Новая"));

        Dialogs::answerNextYesNo(true);
        addWithEditor([](RecordEditor *) {});
        QCOMPARE(firmNames(), QString("Альфа,Ромашка,Новая"));
        QCOMPARE(stored("FIRMS.DB", "select max(FirmID) from FIRMS"), QString("3"));
        QCOMPARE(dm->qFirms.recordCount(), 3);
        QCOMPARE(dm->qListFirm.recordCount(), 3);
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
        QCOMPARE(m_ui.questions, QStringList()); // no second question before the removal
    }

    void aRecordAddedUnderAGroupBelongsToIt()
    {
        startWith({"Альфа"}, {"Опт"});
        m_form->TreeGrpFirm->setCurrentItem(m_form->TreeGrpFirm->nodesInOrder().at(1));
        QVERIFY(dm->qFirms.isEmpty());
        int mark = -1;
        addWithEditor([&](RecordEditor *editor) {
            mark = prepareGroupAssignment(editor, GroupOwner::Firm)
                       ->TreeView1->nodesInOrder()
                       .at(1)
                       ->stateIndex();
            type(editor->focusWidget(), "Опт-1");
        });
        QCOMPARE(mark, 3); // the type dialog shows the group ticked
        QCOMPARE(stored("GRPFRM.DB", "select FirmID || ':' || GroupID from GRPFRM"),
                 QString("2:1"));
        QCOMPARE(dm->qFirms.recordCount(), 1);
        QCOMPARE(currentFirm(), QString("Опт-1"));

        // An unfilled one removed takes its membership along.
        Dialogs::answerNextYesNo(true);
        addWithEditor([](RecordEditor *) {});
        QCOMPARE(stored("GRPFRM.DB", "select FirmID || ':' || GroupID from GRPFRM order by 1"),
                 QString("2:1"));
        QCOMPARE(firmNames(), QString("Альфа,Опт-1"));
        QCOMPARE(dm->qFirms.recordCount(), 1);
    }

    void aFailedAddLeavesNothingToPostLater()
    {
        startWith({"Альфа"});
        // Another program holds the firm table for writing.
        dm->Main_sess()->setBusyTimeout(50);
        TestCatalogue::TableHolder holder(*m_place, "FIRMS.DB");
        QVERIFY(holder.holds());
        addWithEditor([](RecordEditor *) { QFAIL("no editor opens on a record not stored"); });
        QCOMPARE(m_errors.size(), 1);
        m_errors.clear();
        holder.release();

        QCOMPARE(dm->tblFirms.state(), DataSetState::Browse);
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
        dm->qFirms.last();
        dm->tblFirms.refresh();
        QCOMPARE(firmNames(), QString("Альфа"));
        QCOMPARE(dm->qFirms.recordCount(), 1);
    }

    void foldersAreAddedThroughThePromptAndTheirPanelHides()
    {
        startWith({});
        QCOMPARE(m_form->SpeedButton2->accessibleName(), QString("Добавить папку"));
        QCOMPARE(m_form->SpeedButton3->accessibleName(), QString("Удалить папку"));
        Dialogs::answerNextPrompt(QString("Склад"));
        QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
        Dialogs::answerNextPrompt(QString());
        QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
        Dialogs::answerNextPrompt(std::nullopt);
        QTest::mouseClick(m_form->SpeedButton2, Qt::LeftButton);
        QCOMPARE(stored("FOLDERS.DB", "select coalesce(Description, 'blank') from FOLDERS order "
                                      "by FolderID"),
                 QString("Склад\nblank"));
        QVERIFY(Dialogs::asked().contains("Введите название новой папки"));

        QTest::mouseClick(m_form->SpeedButton1, Qt::LeftButton);
        QVERIFY(!m_form->Panel1->isVisible());
        QCOMPARE(m_form->ToolButton1->property("picture").toInt(), 0);
        QTest::mouseClick(m_form->ToolButton1, Qt::LeftButton);
        QVERIFY(m_form->Panel1->isVisible());
        QCOMPARE(m_form->ToolButton1->property("picture").toInt(), 5);
    }

    void deletingAFirmAsksAndRereadsTheLookups()
    {
        startWith({"Альфа", "Бета"});
        dm->qFirms.last();
        m_ui.answer = false;
        QTest::mouseClick(m_form->SpeedButton6, Qt::LeftButton);
        QCOMPARE(m_ui.questions, QStringList({"Удалить 'Бета' ?"}));
        QCOMPARE(dm->qFirms.recordCount(), 2);
        m_ui.answer = true;
        QTest::mouseClick(m_form->SpeedButton6, Qt::LeftButton);
        QCOMPARE(dm->qFirms.recordCount(), 1);
        QCOMPARE(dm->qFirms.recNo(), 0);
        QCOMPARE(dm->qListFirm.recordCount(), 1);
        QCOMPARE(stored("FIRMS.DB", "select Name from FIRMS"), QString("Альфа"));
    }

    void theFolderFilterSwitchNarrowsBothLists()
    {
        writeBoolSetting("FolderFilter", true);
        startWith({"Альфа", "Бета"});
        QVERIFY(m_form->CheckBox1->isChecked());
        QCOMPARE(dm->qFirms.recordCount(), 2); // no folder yet: nothing to narrow by
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        run("Insert Into CrFolders (FolderID, FirmID, ItemID) Values (1, 2, 0)");
        dm->tblFolder.refresh();
        QTest::mouseClick(m_form->CheckBox1, Qt::LeftButton);
        QVERIFY(!dm->FolderFilter);
        QCOMPARE(dm->qFirms.recordCount(), 2);
        QTest::mouseClick(m_form->CheckBox1, Qt::LeftButton);
        QVERIFY(dm->FolderFilter);
        QCOMPARE(dm->qFirms.recordCount(), 1);
        QCOMPARE(currentFirm(), QString("Бета"));
        QVERIFY(dm->qItems.isEmpty());
    }

    void deletingTheFolderTheListsStandOnMovesThemOn()
    {
        writeBoolSetting("FolderFilter", true);
        startWith({"Альфа", "Бета"});
        for (const int folder : {1, 2}) {
            run(QString("Insert Into Folders (FolderID, Description) Values (%1, 'Папка')")
                    .arg(folder));
            run(QString("Insert Into CrFolders (FolderID, FirmID, ItemID) Values (%1, %1, 0)")
                    .arg(folder));
        }
        dm->tblFolder.refresh();
        dm->tblFolderAfterScroll(dm->tblFolder);
        QCOMPARE(currentFirm(), QString("Альфа"));
        QCOMPARE(dm->qFirms.recordCount(), 1);
        QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton);
        QCOMPARE(dm->tblFolder.fieldByName("FolderID")->asInteger(), 2);
        QCOMPARE(currentFirm(), QString("Бета"));
        QCOMPARE(dm->qFirms.recordCount(), 1);
        QTest::mouseClick(m_form->SpeedButton3, Qt::LeftButton); // the last folder
        QVERIFY(dm->tblFolder.isEmpty());
        QCOMPARE(dm->qFirms.recordCount(), 2);
        QCOMPARE(dm->qItems.recordCount(), 1);
        QCOMPARE(m_ui.questions.size(), 2);
    }

    void enterOpensTheCurrentRecord()
    {
        startWith({"Альфа", "Бета"});
        dm->qFirms.last();
        QString caption;
        QTimer::singleShot(0, [&] {
            if (QWidget *editor = QApplication::activeModalWidget()) {
                caption = editor->windowTitle();
                editor->close();
            }
        });
        m_form->DBGrid2->setFocus();
        key(m_form->DBGrid2, Qt::Key_Return);
        QCOMPARE(caption, QString("Бета"));
    }

    void aNewFolderWithTheFilterOnShowsItsEmptyMembershipAtOnce()
    {
        writeBoolSetting("FolderFilter", true);
        startWith({"Альфа", "Бета"});
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        run("Insert Into CrFolders (FolderID, FirmID, ItemID) Values (1, 2, 0)");
        dm->tblFolder.refresh();
        dm->tblFolderAfterScroll(dm->tblFolder);
        QCOMPARE(dm->qFirms.recordCount(), 1);
        Dialogs::answerNextPrompt(QString("Офис"));
        m_form->SpeedButton2->click();
        QCOMPARE(dm->tblFolder.fieldByName("Description")->asString(), QString("Офис"));
        QVERIFY(dm->qFirms.isEmpty());
        QVERIFY(dm->qItems.isEmpty());
        // Renaming the folder keeps the lists on it.
        dm->tblFolder.edit();
        dm->tblFolder.fieldByName("Description")->setAsString("Офис 2");
        dm->tblFolder.post();
        QVERIFY(dm->qFirms.isEmpty());
    }

    // Another desk renamed the folder meanwhile: Enter asks, and the grid
    // shows what is stored.
    void aFolderRenamedAtAnotherDeskIsSettledByTheUser()
    {
        startWith({"Альфа"});
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        dm->tblFolder.refresh();
        m_form->grdFolders->setFocus();
        key(m_form->grdFolders, Qt::Key_F2);
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->selectAll();
        TestCatalogue::changeAtAnotherDesk(*m_place, "FOLDERS.DB", {"FolderID", 1},
                                           {{"Description", "Цех"}});
        type(editor, "Офис");
        Dialogs::answerNextChoice(1);
        key(editor, Qt::Key_Return);

        QCOMPARE(Dialogs::lastShown().text, QString("Запись изменена другим пользователем.\n"
                                                    "Другой пользователь изменил: Описание."));
        QCOMPARE(stored("FOLDERS.DB", "select Description from Folders"), QString("Цех"));
        QCOMPARE(dm->tblFolder.state(), DataSetState::Browse);
        QCOMPARE(dm->tblFolder.fieldByName("Description")->asString(), QString("Цех"));
    }

    void windowsComeBackAsTheyWereLeft()
    {
        startWith({"Альфа"});
        QCOMPARE(m_form->size(), QSize(586, 402)); // the designed size the first time
        m_form->setGeometry(40, 60, 700, 500);
        {
            TfrmEditFirm editor(m_form.get());
            QCOMPARE(editor.geometry().center(), m_form->geometry().center());
            editor.show();
            editor.resize(620, 450);
            editor.close();
        }
        m_form->close();
        m_form = std::make_unique<TMainForm>();
        QCOMPARE(m_form->geometry(), QRect(40, 60, 700, 500));
        m_form->show();
        TfrmEditFirm again(m_form.get());
        QCOMPARE(again.size(), QSize(620, 450));
        QCOMPARE(again.geometry().center(), m_form->geometry().center());
    }

    void theExitKeyClosesTheWindowFromAnywhere()
    {
        startWith({"Альфа"});
        m_form->DBGrid2->setFocus();
        QTest::keyClick(m_form->DBGrid2, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!m_form->isVisible());
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_umain.moc"
