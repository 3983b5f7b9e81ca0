#include "Application.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "RadioGroup.h"
#include "RecordingUi.h"
#include "SearchStatement.h"
#include "UData.h"
#include "UFind.h"
#include "UFirm.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

const QString blank; // stored as NULL

// Items with the three searched fields; a blank field is stored blank.
const QList<QStringList> items = {
    {"Болт М6", "Винт", "Крепёж стальной"}, {"Гайка", blank, "Крепёж"},
    {"Шайба", "Кольцо", "Крепёж"},          {"болт с 'кавычкой'", "Винт", "50% скидка"},
    {"Провод", "Кабель\\медный", "Медь"},   {blank, "Только синоним", blank},
};

QString literal(const QString &text)
{
    return text.isNull() ? QStringLiteral("NULL")
                         : QLatin1Char('\'') + QString(text).replace("'", "''") + QLatin1Char('\'');
}

} // namespace

class FindWindowTest : public QObject
{
    Q_OBJECT

    WindowFixture m_fixture;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    std::unique_ptr<TfrmFind> m_form;

    // Searches as the user does: texts typed, joiners chosen, "Найти" pressed.
    QStringList find(const QString &name, const QString &sinonyms, const QString &description,
                     int joiner1 = SearchStatement::Or, int joiner2 = SearchStatement::Or)
    {
        m_form->Edit1->setText(name);
        m_form->Edit2->setText(sinonyms);
        m_form->Edit3->setText(description);
        m_form->ComboBox1->setCurrentIndex(joiner1);
        m_form->ComboBox2->setCurrentIndex(joiner2);
        QTest::mouseClick(m_form->Button1, Qt::LeftButton);
        return found();
    }

    // The names listed, in the engine's order; "-" for a blank name.
    QStringList found() const
    {
        QStringList names;
        if (!m_form->qFind.active())
            return names;
        for (m_form->qFind.first(); !m_form->qFind.eof(); m_form->qFind.next()) {
            const QString name = m_form->qFind.fieldByName("Name")->asString();
            names << (name.isEmpty() ? QStringLiteral("-") : name);
        }
        m_form->qFind.first();
        return names;
    }

private slots:
    void init()
    {
        m_fixture.setUp();
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        for (int i = 0; i < items.size(); ++i)
            WindowFixture::run(
                QString("Insert Into Items (ItemID, Name, Sinonyms, Description) Values (%1, %2, "
                        "%3, %4)")
                    .arg(i + 1)
                    .arg(literal(items[i][0]), literal(items[i][1]), literal(items[i][2])));
        WindowFixture::run("Insert Into Firms (FirmID, Name) Values (1, 'Болтовня')");
        m_form = std::make_unique<TfrmFind>();
        m_form->RadioGroup1->setItemIndex(SearchStatement::Items);
    }

    void cleanup()
    {
        m_form.reset();
        m_dm.reset();
        m_fixture.tearDown();
        QVERIFY2(m_fixture.errors.isEmpty(), qPrintable(m_fixture.errors.join('\n')));
    }

    void theStatementMeansWhatTheWindowShows_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sinonyms");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("joiner1");
        QTest::addColumn<int>("joiner2");
        QTest::addColumn<QStringList>("expected");
        const int a = SearchStatement::And, o = SearchStatement::Or;
        QTest::newRow("one text, joiners 'или'") << "шайба"
                                                 << ""
                                                 << "" << o << o << QStringList{"Шайба"};
        QTest::newRow("one text, joiners 'и'") << "шайба"
                                               << ""
                                               << "" << a << a << QStringList{"Шайба"};
        QTest::newRow("synonyms alone")
            << ""
            << "винт"
            << "" << o << o << QStringList{"Болт М6", "болт с 'кавычкой'"};
        QTest::newRow("name and description joined by the joiner above the description")
            << "провод"
            << ""
            << "медь" << o << a << QStringList{"Провод"};
        QTest::newRow("name or description") << "провод"
                                             << ""
                                             << "кольцо" << a << o << QStringList{"Провод"};
        QTest::newRow("lower-case Cyrillic finds either case")
            << "болт"
            << ""
            << "" << a << a << QStringList{"Болт М6", "болт с 'кавычкой'"};
        QTest::newRow("blanks and control characters around a text do not count")
            << "  \tБОЛТ \n"
            << ""
            << "" << a << a << QStringList{"Болт М6", "болт с 'кавычкой'"};
        QTest::newRow("'и' binds before 'или': (name and synonyms) or description")
            << "болт"
            << "винт"
            << "медь" << a << o << QStringList{"Болт М6", "болт с 'кавычкой'", "Провод"};
        QTest::newRow("'или' then 'и': name or (synonyms and description)")
            << "провод"
            << "кольцо"
            << "крепёж" << o << a << QStringList{"Шайба", "Провод"};
        QTest::newRow("a single quote is a character like any other")
            << "'кавычкой'"
            << ""
            << "" << a << a << QStringList{"болт с 'кавычкой'"};
        QTest::newRow("'_' matches any one character")
            << "б_лт"
            << ""
            << "" << a << a << QStringList{"Болт М6", "болт с 'кавычкой'"};
        QTest::newRow("'%' matches any run of characters")
            << ""
            << ""
            << "кре%ной" << a << a << QStringList{"Болт М6"};
        QTest::newRow("a backslash is a character like any other")
            << ""
            << "кабель\\м"
            << "" << a << a << QStringList{"Провод"};
    }

    void theStatementMeansWhatTheWindowShows()
    {
        QFETCH(QString, name);
        QFETCH(QString, sinonyms);
        QFETCH(QString, description);
        QFETCH(int, joiner1);
        QFETCH(int, joiner2);
        QFETCH(QStringList, expected);
        QStringList names = find(name, sinonyms, description, joiner1, joiner2);
        names.sort();
        expected.sort();
        QCOMPARE(names, expected);
        QCOMPARE(m_form->StatusPanel->text(), "Найдено записей - " + QString::number(names.size()));
        QCOMPARE(m_form->DBGrid1->model()->rowCount(), names.size());
    }

    void withEveryTextBlankNothingRuns()
    {
        find("шайба", "", "");
        for (const bool same : {false, true}) {
            m_form->CheckBox1->setChecked(same);
            find(" \t", "", same ? "крепёж" : "");
            QCOMPARE(Dialogs::asked().constLast(), QString("Введите текст для поиска"));
        }
        QCOMPARE(Dialogs::asked().size(), 2);
        QCOMPARE(found(), QStringList{"Шайба"}); // the last result stays
        QCOMPARE(m_form->StatusPanel->text(), QString("Найдено записей - 1"));
    }

    void allThreeTextsMakeTheDesignedStatement()
    {
        const auto statement = SearchStatement::build(
            SearchStatement::Firms, {"a", "b", "c", SearchStatement::And, SearchStatement::Or});
        QCOMPARE(statement.sql, QString("Select * From Firms Where Upper(Name) like :NamePattern "
                                        "and Upper(Sinonyms) like :SinonymsPattern or "
                                        "Upper(Description) like :DescriptionPattern"));
        QCOMPARE(statement.parameters.value("SinonymsPattern"), QVariant("%B%"));
    }

    void hostileTextsFindNothingAndChangeNothing()
    {
        for (const QString &text :
             {QStringLiteral("' or 1=1 --"), QStringLiteral("%'; Delete From Items; --"),
              QStringLiteral("\\' or ''='"), QStringLiteral("\"); drop table Items; --")}) {
            QCOMPARE(find(text, text, text, SearchStatement::Or, SearchStatement::Or),
                     QStringList());
            QCOMPARE(m_form->StatusPanel->text(), QString("Найдено записей - 0"));
        }
        QCOMPARE(m_fixture.stored("ITEMS.DB", "select count(*) from ITEMS"),
                 QString::number(items.size()));
    }

    void theCutAt255CharactersLosesTheClosingWildcard()
    {
        QCOMPARE(SearchStatement::pattern(" a'b "), QString("%A'B%"));
        const QString long253(253, QChar(u'ж'));
        QCOMPARE(SearchStatement::pattern(long253), "%" + QString(253, QChar(u'Ж')) + "%");
        const QString pattern = SearchStatement::pattern(long253 + "жж");
        QCOMPARE(pattern.size(), 255);
        QVERIFY(pattern.startsWith('%') && !pattern.endsWith('%'));
    }

    void theScopeChoosesTheTable()
    {
        m_form->RadioGroup1->setItemIndex(SearchStatement::Firms);
        QCOMPARE(find("болт", "", "", SearchStatement::Or, SearchStatement::Or),
                 QStringList{"Болтовня"});
        QVERIFY(m_form->qFind.findField("FirmID"));
    }

    void theSameTextInAllFieldsIgnoresAndGreysTheOtherBoxes()
    {
        QTest::mouseClick(m_form->CheckBox1, Qt::LeftButton);
        QVERIFY(!m_form->Edit2->isEnabled() && !m_form->Edit3->isEnabled());
        QStringList names = find("винт", "шайба", "медь");
        names.sort();
        QCOMPARE(names, QStringList({"Болт М6", "болт с 'кавычкой'"}));
        QTest::mouseClick(m_form->CheckBox1, Qt::LeftButton);
        QVERIFY(m_form->Edit2->isEnabled() && m_form->Edit3->isEnabled());
        QCOMPARE(m_form->Edit2->text(), QString("шайба"));
        QCOMPARE(m_form->Edit3->text(), QString("медь"));
    }

    void aNewSearchClearsTheTextsAndTheListOnly()
    {
        QCOMPARE(m_form->ComboBox1->currentText(), QString("или"));
        QCOMPARE(m_form->ComboBox2->currentText(), QString("или"));
        find("шайба", "", "", SearchStatement::And, SearchStatement::And);
        QTest::mouseClick(m_form->CheckBox1, Qt::LeftButton);
        QTest::mouseClick(m_form->Button2, Qt::LeftButton);
        for (QLineEdit *edit : {m_form->Edit1, m_form->Edit2, m_form->Edit3})
            QVERIFY(edit->text().isEmpty() && edit->isEnabled());
        QVERIFY(!m_form->CheckBox1->isChecked());
        QVERIFY(!m_form->qFind.active());
        QCOMPARE(m_form->DBGrid1->model()->rowCount(), 0);
        QCOMPARE(m_form->RadioGroup1->itemIndex(), int(SearchStatement::Items));
        QCOMPARE(m_form->ComboBox1->currentIndex(), int(SearchStatement::And));
        QCOMPARE(m_form->StatusPanel->text(), QString("Найдено записей - 1"));
    }

    void enterSearchesAndEscapeCloses()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(m_form->RadioGroup1->button(SearchStatement::Items)->hasFocus());
        m_form->Edit1->setFocus();
        m_form->Edit1->setText("шайба");
        m_form->ComboBox1->setCurrentIndex(SearchStatement::And);
        m_form->ComboBox2->setCurrentIndex(SearchStatement::And);
        QTest::keyClick(m_form->Edit1, Qt::Key_Return);
        QCOMPARE(found(), QStringList{"Шайба"});
        // Enter on a focused button presses that button, not "Найти".
        m_form->Button2->setFocus();
        QTest::keyClick(m_form->Button2, Qt::Key_Return);
        QVERIFY(m_form->Edit1->text().isEmpty());
        QVERIFY(Dialogs::asked().isEmpty());
        QVERIFY(!m_form->qFind.active());
        // Esc closes the window from the result list too.
        m_form->DBGrid1->setFocus();
        QTest::keyClick(m_form->DBGrid1, Qt::Key_Escape);
        QVERIFY(!m_form->isVisible());
    }

    void aFoundFirmOpensFromTheListAndTheTableGoesBack()
    {
        WindowFixture::run("Insert Into Firms (FirmID, Name) Values (2, 'Альфа')");
        dm->closeDataSets();
        dm->openDataSets();
        QTest::mouseDClick(m_form->DBGrid1->viewport(), Qt::LeftButton);
        QVERIFY(!QApplication::activeModalWidget()); // nothing listed yet: nothing opens

        m_form->RadioGroup1->setItemIndex(SearchStatement::Firms);
        QCOMPARE(find("болт", "", ""), QStringList{"Болтовня"});
        // The rows are firms even after the scope was switched without a new search.
        m_form->RadioGroup1->setItemIndex(SearchStatement::Items);
        QString caption, current;
        QTimer::singleShot(0, [&] {
            if (auto *editor = qobject_cast<TfrmEditFirm *>(QApplication::activeModalWidget())) {
                caption = editor->windowTitle();
                current = dm->tblFirms.fieldByName("Name")->asString();
                editor->close();
            }
        });
        m_form->show();
        m_form->DBGrid1->setFocus();
        QTest::keyClick(m_form->DBGrid1, Qt::Key_Return); // as a double click does
        QCOMPARE(caption, QString("Болтовня"));
        QCOMPARE(current, QString("Болтовня"));
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
        QCOMPARE(dm->tblFirms.filter(), QString());
        QCOMPARE(dm->tblFirms.fieldByName("Name")->asString(), QString("Альфа"));
        QCOMPARE(dm->qFirms.fieldByName("Name")->asString(), QString("Альфа"));
        QCOMPARE(found(), QStringList{"Болтовня"}); // the list keeps its rows
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    FindWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_ufind.moc"
