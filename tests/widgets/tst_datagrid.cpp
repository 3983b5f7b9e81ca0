#include "Application.h"
#include "Catalogue.h"
#include "DBGrid.h"
#include "DataSource.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "Query.h"
#include "Table.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace TestCatalogue;

namespace {

// A window with a grid over a data source and one more control to leave the
// grid for, shown and active so that keys and focus behave as on a desktop.
struct Form
{
    QWidget window;
    DataSource source;
    DBGrid *grid = new DBGrid(&window);
    QLineEdit *other = new QLineEdit(&window);
    std::unique_ptr<QAbstractItemModelTester> tester;

    Form(DataSet *data, const QList<GridColumn> &columns)
    {
        auto *layout = new QHBoxLayout(&window);
        layout->addWidget(grid);
        layout->addWidget(other);
        window.resize(400, 300);
        source.setDataSet(data);
        grid->setDataSource(&source);
        grid->setColumns(columns);
        tester = std::make_unique<QAbstractItemModelTester>(
            grid->gridModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        window.show();
        QApplication::setActiveWindow(&window);
        if (!QTest::qWaitForWindowActive(&window))
            qWarning("the form did not become active: keys will go nowhere");
        grid->setFocus();
    }

    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }

    // One character at a time: Cyrillic text cannot go through keyClicks.
    void type(const QString &text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown,
                                QString(c), Qt::NoModifier);
    }

    QString cell(int row, int column = 0) const
    {
        return grid->gridModel()->index(row, column).data().toString();
    }
};

GridColumn column(const QString &field, const QString &title = {})
{
    GridColumn c;
    c.fieldName = field;
    c.title = title;
    c.width = 150;
    return c;
}

// Counts the pages of rows the engine reads: every page is one statement
// that names its rows' identities.
int pageReads = 0;

void countPageReads(const QString &sql)
{
    if (sql.contains(QLatin1String(" IN (")) || sql.contains(QLatin1String("= ANY (")))
        ++pageReads;
}

} // namespace

class DataGridTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    std::unique_ptr<Session> m_session;
    QStringList m_errors;

    std::unique_ptr<Table> table(const QString &file) { return openTable(*m_session, file); }
    std::unique_ptr<Query> query(const QStringList &sql, bool live = false)
    {
        return openQuery(*m_session, sql, live);
    }

    QString stored(const QString &table, const QString &sql) { return m_place->stored(table, sql); }

    void addRows(const QString &file, const QString &field, const QStringList &values)
    {
        auto t = table(file);
        t->open();
        for (const QString &value : values) {
            t->append();
            t->fieldByName(field)->setAsString(value);
            t->post();
        }
    }

    void fillFirms(int count)
    {
        insertRows(*m_session, "Firms", {"FirmID", "Name"}, count, [](int i) {
            return QVariantList{i, QStringLiteral("Фирма %1").arg(i, 6, 10, QChar('0'))};
        });
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        m_session = m_place->open();
        createCatalogue(*m_session);
        m_errors.clear();
        Application::setErrorSink([this](const QString &message) { m_errors << message; });
        Dialogs::setScripted(true);
    }

    void cleanup()
    {
        Dialogs::setScripted(false);
        Application::setErrorSink({});
        m_session.reset();
        m_place.reset();
    }

    // A list whose server goes away: the grid tells it once and shows blanks,
    // however often it is painted; once the server is back the rows it had
    // not read yet come on a new connection.
    void aListWhoseServerGoesAwayIsToldOnceAndReadAgain()
    {
        if (!m_place->onServer())
            QSKIP("a folder has no server to lose");
        OwnServer server;
        const std::unique_ptr<Session> session = Session::open(server.uri());
        createCatalogue(*session);
        insertRows(*session, "Firms", {"FirmID", "Name"}, 5000, [](int i) {
            return QVariantList{i, QStringLiteral("Фирма %1").arg(i, 6, 10, QChar('0'))};
        });
        auto firms = openQuery(*session, {"Select * From Firms", "order by name"});
        firms->open();
        Form form(firms.get(), {column("Name", "Название")});
        QCOMPARE(form.cell(0), QString("Фирма 000001"));

        server.pause();
        form.grid->scrollToBottom();
        for (int paint = 0; paint < 3; ++paint) {
            form.grid->viewport()->repaint();
            QTest::qWait(10);
        }
        QCOMPARE(m_errors.size(), 1);
        QVERIFY2(m_errors.first().contains("нет связи с сервером"), qPrintable(m_errors.first()));
        QCOMPARE(form.cell(4999), QString());

        server.resume();
        QCOMPARE(form.cell(4999), QString("Фирма 005000"));
        form.grid->viewport()->repaint();
        m_errors.clear();
    }

    void aLongListReadsOnlyThePagesItShows()
    {
        fillFirms(100000);
        auto firms = query({"Select * From Firms", "order by name"});
        QElapsedTimer timer;
        timer.start();
        m_session->setTrace(countPageReads);
        pageReads = 0;
        firms->open();
        Form form(firms.get(), {column("Name", "Название")});
        form.grid->setReadOnly(true);
        QVERIFY(QTest::qWaitForWindowExposed(&form.window));
        QCOMPARE(form.grid->gridModel()->rowCount(), 100000);
        QCOMPARE(form.cell(0), QString("Фирма 000001"));
        QCOMPARE(pageReads, 1);

        form.key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(firms->recNo(), 99999);
        QCOMPARE(form.grid->currentIndex().row(), 99999);
        QTest::qWait(20); // let the end of the list paint
        QCOMPARE(form.cell(99999), QString("Фирма 100000"));
        QCOMPARE(pageReads, 2);
        // The dataset moved by code: the grid follows it, still page by page.
        QVERIFY(firms->locate("Name", QString("Фирма 050000")));
        QCOMPARE(form.grid->currentIndex().row(), 49999);
        QTest::qWait(20);
        QVERIFY(pageReads <= 4);
        m_session->setTrace({});
        qInfo("100,000 rows: opened, shown, scrolled to the end and back in %lld ms",
              timer.elapsed());
    }

    // Another desk renames a firm above the current one, so that it moves
    // below it: the grid moves that one row, the current record keeps its
    // cursor, the view its scroll position, and only the renamed row is read.
    void aRowRenamedElsewhereMovesAloneInTheGrid()
    {
        fillFirms(1000);
        auto firms = query({"Select * From Firms", "order by name"});
        firms->open();
        Form form(firms.get(), {column("Name", "Название")});
        QVERIFY(firms->locate("Name", QString("Фирма 000501")));
        QTest::qWait(20);
        const int scrolled = form.grid->verticalScrollBar()->value();
        m_session->changedElsewhere(); // where the notices start from

        const std::unique_ptr<Session> elsewhere = m_place->open();
        auto theirs = openTable(*elsewhere, "FIRMS.DB");
        theirs->open();
        QVERIFY(theirs->locate("Name", QString("Фирма 000010")));
        theirs->edit();
        theirs->fieldByName("Name")->setAsString("Фирма 000900а");
        theirs->post();
        const QList<Session::ChangeNotice> notices = noticesOf(*m_session);
        QCOMPARE(notices.size(), 1);
        m_session->setTrace(countPageReads);
        pageReads = 0;
        firms->followRowsElsewhere({*notices.first().identity});
        QTest::qWait(20);
        m_session->setTrace({});

        QCOMPARE(firms->recNo(), 499);
        QCOMPARE(form.grid->currentIndex().row(), 499);
        QCOMPARE(form.cell(499), QString("Фирма 000501"));
        QCOMPARE(form.cell(899), QString("Фирма 000900а"));
        QCOMPARE(form.grid->verticalScrollBar()->value(), scrolled);
        QVERIFY2(pageReads <= 4, qPrintable(QString::number(pageReads)));
    }

    void aReadOnlyListPassesKeysToTheWindowAndChangesNothing()
    {
        addRows("FIRMS.DB", "Name", {"Альфа", "Бета", "Вега"});
        auto firms = query({"Select * From Firms", "order by name"});
        firms->open();
        Form form(firms.get(), {column("Name")});
        form.grid->setReadOnly(true);
        QStringList heard;
        connect(form.grid, &DBGrid::keyDown, form.grid, [&](int key, Qt::KeyboardModifiers) {
            heard << QString("down %1 at %2").arg(key).arg(firms->recNo());
        });
        connect(form.grid, &DBGrid::keyPress, form.grid,
                [&](QChar c) { heard << QString("char %1 at %2").arg(c).arg(firms->recNo()); });

        form.key(Qt::Key_Down);
        form.type("в");
        QCOMPARE(heard, QStringList({QString("down %1 at 0").arg(Qt::Key_Down),
                                     QString("down %1 at 1").arg(Qt::Key_unknown), "char в at 1"}));
        // The typed letter neither edits nor searches: the window does that.
        QCOMPARE(firms->recNo(), 1);
        QCOMPARE(firms->state(), DataSetState::Browse);
        form.key(Qt::Key_Down);
        form.key(Qt::Key_Down); // below the last row
        form.key(Qt::Key_Insert);
        form.key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(firms->displayRowCount(), 3);
        QCOMPARE(firms->recNo(), 2);
        QVERIFY(Dialogs::asked().isEmpty());
    }

    void insertAndDownOnTheLastRowAddRowsThatEscCancels()
    {
        auto folders = table("FOLDERS.DB");
        folders->open();
        Form form(folders.get(), {column("Description", "Описание")});

        form.key(Qt::Key_Down); // on an empty list
        QCOMPARE(folders->state(), DataSetState::Insert);
        QCOMPARE(form.grid->gridModel()->headerData(0, Qt::Vertical).toString(), QString("*"));
        form.key(Qt::Key_Down); // a row nobody typed into gets no second one
        QCOMPARE(folders->displayRowCount(), 1);
        // Enter in the editor reaches the window with the typed text stored:
        // the window posts on it.
        connect(form.grid, &DBGrid::keyDown, form.grid, [&](int key) {
            if (key == Qt::Key_Return)
                folders->post();
        });
        form.type("Входящие");
        form.key(Qt::Key_Return);
        QCOMPARE(stored("FOLDERS.DB", "select Description from FOLDERS"), QString("Входящие"));

        form.key(Qt::Key_Down);
        QCOMPARE(folders->displayRowCount(), 2);
        QCOMPARE(form.grid->currentIndex().row(), 1);
        form.key(Qt::Key_Escape);
        QCOMPARE(folders->state(), DataSetState::Browse);
        QCOMPARE(folders->displayRowCount(), 1);

        form.key(Qt::Key_Insert); // before the current row
        QCOMPARE(folders->displayRowCount(), 2);
        QCOMPARE(folders->recNo(), 0);
        QCOMPARE(form.grid->currentIndex().row(), 0);
        form.type("Архив");
        form.key(Qt::Key_Escape); // drops the typing and the row
        QCOMPARE(folders->displayRowCount(), 1);
        QCOMPARE(form.cell(0), QString("Входящие"));
        QCOMPARE(stored("FOLDERS.DB", "select count(*) from FOLDERS"), QString("1"));
    }

    void aChangedRowIsPostedBeforeTheCursorMoves()
    {
        addRows("FOLDERS.DB", "Description", {"Один", "Два"});
        auto folders = table("FOLDERS.DB");
        folders->open();
        Form form(folders.get(), {column("Description")});
        form.key(Qt::Key_F2);
        form.type("Первый"); // over the text, which the editor opens selected
        QCOMPARE(form.grid->gridModel()->headerData(0, Qt::Vertical).toString(), QString("▶"));

        form.key(Qt::Key_Down); // the open editor goes down with the cursor
        QCOMPARE(folders->recNo(), 1);
        QCOMPARE(folders->state(), DataSetState::Browse);
        QCOMPARE(stored("FOLDERS.DB", "select Description from FOLDERS order by FolderID"),
                 QString("Первый\nДва"));

        // A post that fails keeps the cursor on the row, in edit, and says why.
        folders->beforePost = [](DataSet &) { throw EngineError("FOLDERS.DB: таблица занята"); };
        form.type("Второй");
        form.key(Qt::Key_Return);
        form.key(Qt::Key_Up);
        QCOMPARE(m_errors, QStringList("FOLDERS.DB: таблица занята"));
        QCOMPARE(folders->recNo(), 1);
        QCOMPARE(form.grid->currentIndex().row(), 1);
        QCOMPARE(folders->state(), DataSetState::Edit);
        QCOMPARE(form.grid->gridModel()->headerData(1, Qt::Vertical).toString(), QString("I"));
        // A silent refusal of a new row shows nothing.
        folders->cancel();
        folders->beforeInsert = [](DataSet &) { Abort(); };
        form.key(Qt::Key_Insert);
        QCOMPARE(folders->displayRowCount(), 2);
        QCOMPARE(m_errors.size(), 1);
    }

    void ctrlDeleteAsksTheGridsOwnQuestion()
    {
        addRows("FOLDERS.DB", "Description", {"Один", "Два"});
        auto folders = table("FOLDERS.DB");
        folders->open();
        Form form(folders.get(), {column("Description")});

        Dialogs::answerNextConfirm(false);
        form.key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(Dialogs::asked(), QStringList("Удалить запись?"));
        QCOMPARE(folders->recordCount(), 2);

        Dialogs::answerNextConfirm(true);
        form.key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(stored("FOLDERS.DB", "select Description from FOLDERS"), QString("Два"));
        QCOMPARE(form.cell(0), QString("Два"));

        form.grid->setConfirmDelete(false);
        form.key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(folders->recordCount(), 0);
        form.key(Qt::Key_Delete, Qt::ControlModifier); // nothing left: no question
        QCOMPARE(Dialogs::asked().size(), 2);
        QVERIFY(m_errors.isEmpty());
    }

    void leavingTheGridDropsAnUntouchedNewRow()
    {
        addRows("FOLDERS.DB", "Description", {"Один"});
        auto folders = table("FOLDERS.DB");
        folders->open();
        Form form(folders.get(), {column("Description")});
        QSignalSpy exits(form.grid, &DBGrid::exited);

        form.key(Qt::Key_Down);
        QCOMPARE(folders->state(), DataSetState::Insert);
        form.other->setFocus();
        QCOMPARE(exits.size(), 1);
        QCOMPARE(folders->state(), DataSetState::Browse);
        QCOMPARE(form.grid->gridModel()->rowCount(), 1);

        // A typed row stays for the window to post; the editor's text is in it.
        form.grid->setFocus();
        form.key(Qt::Key_Down);
        form.type("Два");
        form.other->setFocus();
        QCOMPARE(exits.size(), 2);
        QCOMPARE(folders->state(), DataSetState::Insert);
        QCOMPARE(folders->fieldByName("Description")->asString(), QString("Два"));
    }

    void aLookupColumnStoresTheKeyOfTheChosenRow()
    {
        addRows("FIRMS.DB", "Name", {"Альфа", "Бета", "Альфа"});
        auto firmList = query({"Select FirmID,Name From Firms"});
        firmList->open();
        auto makers = query({"Select * From CrFirms"}, true);
        makers->addField("FirmID", FieldKind::Integer);
        makers->addField("ItemID", FieldKind::Integer);
        makers->addField("Type", FieldKind::String, 1);
        makers->addLookupField("FirmName", 240, "FirmID", firmList.get(), "FirmID", "Name");
        makers->open();
        Form form(makers.get(), {column("FirmName", "Название")});

        form.key(Qt::Key_Down);
        form.key(Qt::Key_F2);
        auto *list = qobject_cast<QComboBox *>(QApplication::focusWidget());
        QVERIFY(list);
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->currentIndex(), -1);
        list->setCurrentIndex(2); // the second firm of that name
        form.key(Qt::Key_Return);
        makers->post();
        QCOMPARE(stored("CRFIRMS.DB", "select FirmID from CRFIRMS"), QString("3"));
        QCOMPARE(form.cell(0), QString("Альфа"));

        form.key(Qt::Key_F2); // opens on the stored choice
        list = qobject_cast<QComboBox *>(QApplication::focusWidget());
        QVERIFY(list);
        QCOMPARE(list->currentIndex(), 2);
        form.key(Qt::Key_Escape);
        QCOMPARE(makers->state(), DataSetState::Browse);
    }

    // Choosing a maker among every firm: the drop-down reads the firms it
    // shows, not all of them, when it is made and when it opens.
    void aLookupDropDownOverALongListReadsOnlyWhatItShows()
    {
        fillFirms(100000);
        auto firmList = query({"Select FirmID,Name From Firms", "order by name"});
        firmList->open();
        auto makers = query({"Select * From CrFirms"}, true);
        makers->addField("FirmID", FieldKind::Integer);
        makers->addField("ItemID", FieldKind::Integer);
        makers->addField("Type", FieldKind::String, 1);
        makers->addLookupField("FirmName", 240, "FirmID", firmList.get(), "FirmID", "Name");
        makers->open();
        Form form(makers.get(), {column("FirmName", "Название")});
        form.key(Qt::Key_Down);
        m_session->setTrace(countPageReads);
        pageReads = 0;
        form.key(Qt::Key_F2);
        auto *list = qobject_cast<QComboBox *>(QApplication::focusWidget());
        QVERIFY(list);
        list->showPopup();
        QTest::qWait(20);
        QCOMPARE(list->count(), 100000);
        QVERIFY2(pageReads <= 2, qPrintable(QString::number(pageReads)));
        m_session->setTrace({});
        list->hidePopup();
        form.key(Qt::Key_Escape);
    }

    void fixedCellsAreLightBlueAndColumnsAsDeclared()
    {
        addRows("FILES.DB", "Description", {"прайс.pdf"});
        auto files = table("FILES.DB");
        files->open();
        GridColumn icon;
        icon.width = 20;
        GridColumn hidden = column("FileName");
        hidden.visible = false;
        Form form(files.get(), {icon, column("Description", "Описание"), hidden});
        QVERIFY(QTest::qWaitForWindowExposed(&form.window));
        QList<QPoint> painted;
        connect(form.grid, &DBGrid::drawColumnCell, form.grid,
                [&](QPainter *, const QRect &, int row, int column) {
                    painted << QPoint(column, row);
                });

        const QImage image = form.grid->grab().toImage();
        const QHeaderView *titles = form.grid->horizontalHeader();
        const int titleEnd = titles->sectionViewportPosition(1) + titles->sectionSize(1);
        const QPoint titleCorner = titles->mapTo(form.grid, QPoint(titleEnd - 4, 3));
        QCOMPARE(image.pixel(titleCorner), DBGrid::fixedCellColor);
        QCOMPARE(form.grid->columnWidth(0), 20);
        QVERIFY(form.grid->isColumnHidden(2));
        QVERIFY(painted.contains(QPoint(0, 0)));
        QVERIFY(!(form.grid->gridModel()->flags(form.grid->gridModel()->index(0, 0)) &
                  Qt::ItemIsEditable));

        // The light blue leaves the cells in the window's font.
        QFont windowFont(QStringLiteral("Arial"));
        windowFont.setPixelSize(11);
        form.window.setFont(windowFont);
        QCOMPARE(QFontInfo(form.grid->font()).pixelSize(), 11);
        QCOMPARE(QFontInfo(form.grid->viewport()->font()).pixelSize(), 11);
        // The titles' style sheet names the font, or its text comes out larger.
        QVERIFY(titles->styleSheet().contains("font-size: 11px"));

        files->close(); // the layout survives the dataset being read again
        files->open();
        QVERIFY(form.grid->isColumnHidden(2));
        QCOMPARE(form.cell(0, 1), QString("прайс.pdf"));
        form.grid->setTitlesVisible(false);
        form.grid->setRowIndicatorVisible(false);
        QVERIFY(titles->isHidden());
        QVERIFY(form.grid->verticalHeader()->isHidden());
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    DataGridTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_datagrid.moc"
