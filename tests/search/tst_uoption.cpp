#include "Catalogue.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "RadioGroup.h"
#include "RecordingUi.h"
#include "SettingsStore.h"
#include "UData.h"
#include "UFind.h"
#include "UOption.h"
#include "USplash.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

QString storedSettings()
{
    QFile file(RegistryKey::defaultFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Looks at the program while the verifier is at work: what the user sees
// when each table is reached.
class WatchingUi : public RecordingUi
{
public:
    std::function<void()> atTable;
    void setTableCaption(const QString &caption) override
    {
        RecordingUi::setTableCaption(caption);
        if (atTable && !caption.trimmed().isEmpty())
            atTable();
    }
};

} // namespace

class OptionWindowTest : public QObject
{
    Q_OBJECT

    WindowFixture m_fixture;
    QStringList &m_errors = m_fixture.errors;
    WatchingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    std::unique_ptr<TSplashForm> m_splash;

    static void run(const QString &sql) { WindowFixture::run(sql); }

    void start()
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
    }

private slots:
    void init()
    {
        m_fixture.setUp();
        m_ui.atTable = nullptr;
        m_splash = std::make_unique<TSplashForm>();
        SplashForm = m_splash.get();
        start();
    }

    void cleanup()
    {
        m_dm.reset();
        SplashForm = nullptr;
        m_splash.reset();
        m_fixture.tearDown();
    }

    void nothingStoredShowsTheDefaultsAndOkStoresAllThree()
    {
        TfrmOption options;
        QVERIFY(options.CheckBox1->isChecked());
        QVERIFY(!options.CheckBox2->isChecked());
        QVERIFY(!options.CheckBox3->isChecked());
        QTest::mouseClick(options.Button1, Qt::LeftButton);
        QCOMPARE(options.result(), int(QDialog::Accepted));
        QCOMPARE(storedSettings(),
                 QString("[Quillon]\nCheckOnLoad=\"1\"\nPackOnCheck=\"0\"\nFolderFilter=\"0\"\n"));
    }

    void theBoxesShowTheRunsValuesAndTheNextStartReadsWhatOkStored()
    {
        dm->FolderFilter = true; // as the main window's box sets it for the run
        TfrmOption options;
        QVERIFY(options.CheckBox3->isChecked());
        QTest::mouseClick(options.CheckBox1, Qt::LeftButton);
        QTest::mouseClick(options.CheckBox2, Qt::LeftButton);
        QTest::mouseClick(options.Button1, Qt::LeftButton);
        // Stored only: the run goes on with what it read at start-up.
        QVERIFY(dm->CheckOnLoad && !dm->PackOnCheck);
        start();
        QVERIFY(!dm->CheckOnLoad && dm->PackOnCheck && dm->FolderFilter);
        TfrmOption again;
        QVERIFY(!again.CheckBox1->isChecked() && again.CheckBox2->isChecked() &&
                again.CheckBox3->isChecked());
    }

    void cancelStoresNothingAndEscapeIsNoCancel()
    {
        TfrmOption options;
        options.show();
        QVERIFY(QTest::qWaitForWindowExposed(&options));
        QTest::mouseClick(options.CheckBox2, Qt::LeftButton);
        QTest::keyClick(&options, Qt::Key_Escape);
        QVERIFY(options.isVisible());
        QTest::mouseClick(options.Button2, Qt::LeftButton);
        QVERIFY(!options.isVisible());
        QCOMPARE(options.result(), int(QDialog::Rejected));
        QCOMPARE(storedSettings(), QString());
    }

    void aCheckClosesEverythingShowsTheSplashAndReopensOnFirstRecords()
    {
        run("Insert Into Firms (FirmID, Name) Values (1, 'Альфа')");
        run("Insert Into Firms (FirmID, Name) Values (2, 'Бета')");
        run("Insert Into Folders (FolderID, Description) Values (1, 'Склад')");
        dm->closeDataSets();
        dm->openDataSets();
        dm->qFirms.last();
        // A field that the description declares and the table lacks: only a check brings it back.
        Session &session = *dm->Main_sess();
        session.execute("ALTER TABLE " + session.tableByFile("ITEMS.DB").qualified() +
                        " DROP COLUMN " + session.dialect().name("GroupID"));
        TfrmOption options;
        options.show();
        int tables = 0;
        m_ui.atTable = [&] {
            ++tables;
            QVERIFY(SplashForm->isVisible());
            QCOMPARE(SplashForm->lblInit->text(), QString("Проверка данных"));
            QVERIFY(SplashForm->Progress->isVisible());
            for (DataSource *source : dm->dataSources())
                QVERIFY2(!source->dataSet()->active(), qPrintable(source->objectName()));
            QVERIFY(options.running() && !options.isEnabled());
            options.CheckBase(true, false); // no second run starts meanwhile
        };
        QTest::mouseClick(options.Button4, Qt::LeftButton); // "Сжать": packs, alters nothing
        QVERIFY(!m_fixture.place->storedColumns("ITEMS.DB").contains("GroupID"));
        QVERIFY2(Dialogs::asked().constLast().startsWith("Сжатие закончено. Сжато таблиц: 10, "),
                 qPrintable(Dialogs::asked().constLast()));
        QTest::mouseClick(options.Button3, Qt::LeftButton); // "Проверить"
        QVERIFY(m_fixture.place->storedColumns("ITEMS.DB").contains("GroupID"));
        QCOMPARE(
            Dialogs::asked().constLast(),
            QString("Проверка закончена. Проверено таблиц: 10. Изменена структура: ITEMS.DB."));
        QCOMPARE(tables, 20);
        QVERIFY(m_errors.isEmpty());
        QVERIFY(!SplashForm->isVisible());
        QVERIFY(options.isEnabled() && options.isVisible());
        for (DataSource *source : dm->dataSources())
            QVERIFY2(source->dataSet()->active(), qPrintable(source->objectName()));
        // The lists stand where they stood.
        QCOMPARE(dm->qFirms.fieldByName("Name")->asString(), QString("Бета"));
        QCOMPARE(dm->tblFirms.fieldByName("Name")->asString(), QString("Бета"));
    }

    void aFailedRunHidesTheSplashAndLeavesTheWindowUsable()
    {
        TfrmOption options;
        m_ui.atTable = [] { throw EngineError("FIRMS.DB: занято"); };
        QTest::mouseClick(options.Button3, Qt::LeftButton);
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors.first().contains("FIRMS.DB: занято"));
        QVERIFY(!SplashForm->isVisible());
        QVERIFY(!options.running() && options.isEnabled());
        QVERIFY(dm->qFirms.active()); // the lists open again on the tables as they are
    }

    void theSearchResultIsReadAgainAfterAPack()
    {
        for (int i = 1; i <= 3; ++i)
            run(QString("Insert Into Items (ItemID, Name) Values (%1, 'Болт %1')").arg(i));
        TfrmFind find;
        frmFind = &find;
        find.RadioGroup1->setItemIndex(1);
        find.Edit1->setText("болт");
        find.Button1Click();
        run("Delete From Items Where ItemID=1");
        TfrmOption options;
        QTest::mouseClick(options.Button4, Qt::LeftButton);
        frmFind = nullptr;
        QVERIFY(m_errors.isEmpty());
        QVERIFY(find.qFind.active());
        QCOMPARE(find.qFind.recordCount(), 2);
        QCOMPARE(find.qFind.fieldByName("Name")->asString(), QString("Болт 2"));
    }
};

QTEST_MAIN(OptionWindowTest)
#include "tst_uoption.moc"
