#include "DBGrid.h"
#include "FileIndexer.h"
#include "RadioGroup.h"
#include "RecordingUi.h"
#include "SearchStatement.h"
#include "TestDocuments.h"
#include "UData.h"
#include "UFind.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

// The search window's tick for attached files: records found by a word in
// their files, beside those the designed search finds, with the file shown.
class FindInFilesTest : public QObject
{
    Q_OBJECT

    WindowFixture m_fixture;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    std::unique_ptr<FileIndexer> m_indexer;
    std::unique_ptr<TfrmFind> m_form;

    QStringList find(const QString &name, bool inFiles, int scope = SearchStatement::Firms)
    {
        m_form->RadioGroup1->setItemIndex(scope);
        m_form->Edit1->setText(name);
        // Only the name is typed: the empty boxes add no condition, whatever joins them.
        m_form->ComboBox1->setCurrentIndex(SearchStatement::And);
        m_form->ComboBox2->setCurrentIndex(SearchStatement::And);
        m_form->CheckBoxInFiles->setChecked(inFiles);
        QTest::mouseClick(m_form->Button1, Qt::LeftButton);
        QStringList names;
        for (m_form->qFind.first(); !m_form->qFind.eof(); m_form->qFind.next())
            names << m_form->qFind.fieldByName("Name")->asString();
        names.sort();
        m_form->qFind.first();
        return names;
    }

private slots:
    void init()
    {
        m_fixture.setUp();
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        WindowFixture::run("Insert Into Firms (FirmID, Name, Sinonyms, Description) "
                           "Values (1, 'Метиз-Торг', 'x', 'x')");
        WindowFixture::run("Insert Into Firms (FirmID, Name, Sinonyms, Description) "
                           "Values (2, 'Болтовня', 'x', 'x')");
        WindowFixture::run("Insert Into Items (ItemID, Name, Sinonyms, Description) "
                           "Values (1, 'Крепёж', 'x', 'x')");
        m_dm->RebuildFirmQuery();
        m_dm->RebuildItemQuery();
        QVERIFY(m_dm->qFirms.locate("FirmID", 1));
        TestDocuments::attach(m_dm->qFirmFiles, "FirmID", 1, "price.pdf",
                              TestDocuments::pdf("Анкерные болты М8"));
        QVERIFY(m_dm->qItems.locate("ItemID", 1));
        TestDocuments::attach(m_dm->qItemFiles, "ItemID", 1, "spec.csv",
                              TestDocuments::csvUtf8("болты"));

        m_indexer = std::make_unique<FileIndexer>(m_dm->Main_sess()->location(),
                                                  QStringLiteral(QUILLON_PROGRAM));
        QSignalSpy synced(m_indexer.get(), &FileIndexer::synced);
        m_indexer->syncAll();
        QVERIFY(synced.wait(30000));
        m_form = std::make_unique<TfrmFind>();
        m_form->setFileIndexer(m_indexer.get());
    }

    void cleanup()
    {
        m_form.reset();
        m_indexer.reset();
        m_dm.reset();
        m_fixture.tearDown();
        QVERIFY2(m_fixture.errors.isEmpty(), qPrintable(m_fixture.errors.join('\n')));
    }

    void tickAddsTheRecordsWhoseFilesHoldTheWords()
    {
        // Without the tick the search is the designed one: names only.
        QCOMPARE(find("болтам", false), QStringList{});
        QCOMPARE(m_form->DBGrid1->columns().size(), 3);
        QCOMPARE(find("болт", false), QStringList{"Болтовня"});

        QCOMPARE(find("болтам", true), QStringList{"Метиз-Торг"});
        QCOMPARE(m_form->DBGrid1->columns().size(), 4);
        QVERIFY(m_form->FileMatchLabel->isVisible() || !m_form->isVisible());
        QCOMPARE(m_form->FileMatchLabel->text(),
                 QStringLiteral("«price.pdf»: Анкерные «болты» М8"));
        // Both kinds of match together: the name, and a file.
        QCOMPARE(find("болт", true), QStringList({"Болтовня", "Метиз-Торг"}));
        QVERIFY(m_form->qFind.locate("FirmID", 2));
        QVERIFY(m_form->FileMatchLabel->text().isEmpty());

        // The item scope finds items by their own files only.
        QCOMPARE(find("болтам", true, SearchStatement::Items), QStringList{"Крепёж"});
        QCOMPARE(m_form->FileMatchLabel->text(),
                 QStringLiteral("«spec.csv»: Артикул;Наименование 1;«болты»"));
        QCOMPARE(find("\"болты анкерные\"", true), QStringList{});
    }

    void theListKeepsEightRowsWhenTheFileColumnAndWordsAppear()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        const QSize window = m_form->size();
        const QRect list = m_form->DBGrid1->geometry();
        QCOMPARE(find("болтам", true), QStringList{"Метиз-Торг"});
        QCOMPARE(m_form->DBGrid1->columns().size(), 4);
        QCOMPARE(m_form->size(), window);
        QCOMPARE(m_form->DBGrid1->geometry(), list);
        QVERIFY(m_form->DBGrid1->viewport()->height() >=
                8 * m_form->DBGrid1->verticalHeader()->defaultSectionSize());
        QCOMPARE(m_form->FileMatchLabel->text(),
                 QStringLiteral("«price.pdf»: Анкерные «болты» М8"));
        QVERIFY(m_form->FileMatchLabel->isVisible());
    }

    void typedTextNeverBreaksTheSearch()
    {
        for (const char *text : {"\"", "' or 1=1 --", "NEAR(a b)", "*", ""})
            find(text, true);
        QCOMPARE(find("болтам", true), QStringList{"Метиз-Торг"});
    }
};

QTEST_MAIN(FindInFilesTest)
#include "tst_findinfiles.moc"
