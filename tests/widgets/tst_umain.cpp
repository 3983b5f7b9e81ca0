#include "Aliases.h"
#include "Application.h"
#include "Catalogue.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "GroupTree.h"
#include "RecordingUi.h"
#include "SettingsStore.h"
#include "UData.h"
#include "UMain.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
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

    void startWith(const QStringList &firms)
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        int id = 0;
        for (const QString &name : firms)
            run(QString("Insert Into Firms (FirmID, Name) Values (%1, '%2')").arg(++id).arg(name));
        run("Insert Into Items (ItemID, Name) Values (1, 'Болт')");
        m_dm->closeDataSets();
        m_dm->openDataSets();
        m_form = std::make_unique<TMainForm>();
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

    void incrementalSearchFollowsTheTypedLetters()
    {
        startWith({"Zeta", "абажур", "Абрикос", "Бор", "Жук", "Журнал"});
        DBGrid *list = m_form->DBGrid2;
        list->setFocus();
        key(list, Qt::Key_Shift);
        type(list, "А");
        type(list, "б");
        QCOMPARE(statusText(), QString("Аб"));
        QCOMPARE(currentFirm(), QString("абажур"));
        type(list, "р");
        QCOMPARE(currentFirm(), QString("Абрикос"));
        type(list, "1"); // a digit keeps the buffer and adds nothing
        QCOMPARE(statusText(), QString("Абр"));
        key(list, Qt::Key_Space, " "); // a blank empties it
        QCOMPARE(statusText(), QString());
        // Letters on keys a Western keyboard does not have keep the buffer too.
        type(list, "ж");
        type(list, "у");
        type(list, "р");
        QCOMPARE(statusText(), QString("жур"));
        QCOMPARE(currentFirm(), QString("Журнал"));
        type(list, "Zq"); // no firm: the list stays where it is
        QCOMPARE(currentFirm(), QString("Журнал"));
        key(list, Qt::Key_Up);
        QCOMPARE(statusText(), QString());
        QCOMPARE(currentFirm(), QString("Жук"));
        key(list, Qt::Key_Home);
        for (int i = 0; i < 300; ++i)
            type(list, "z");
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
