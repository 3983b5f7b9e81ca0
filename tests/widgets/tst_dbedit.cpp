#include "Application.h"
#include "Catalogue.h"
#include "DBEdit.h"
#include "DataSource.h"
#include "Table.h"

#include <QTest>

using namespace TestCatalogue;

class DBEditTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Place> m_place;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<Table> m_firms;
    DataSource m_source;

    void type(QWidget *edit, const QString &text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        m_session = m_place->open();
        createCatalogue(*m_session);
        m_firms = std::make_unique<Table>();
        m_firms->setSession(m_session.get());
        m_firms->setTableName("FIRMS.DB");
        m_firms->open();
        for (const QString name : {"Альфа", "Бета"}) {
            m_firms->append();
            m_firms->fieldByName("Name")->setAsString(name);
            m_firms->post();
        }
        m_firms->first();
        m_source.setDataSet(m_firms.get());
    }

    void cleanup()
    {
        m_source.setDataSet(nullptr);
        m_firms.reset();
        m_session.reset();
        m_place.reset();
    }

    void followsTheRecordAndStoresWhatIsTyped()
    {
        DBEdit edit;
        edit.setDataSource(&m_source);
        edit.setFieldName("Name");
        QCOMPARE(edit.text(), QString("Альфа"));
        QCOMPARE(edit.maxLength(), 240);
        m_firms->next();
        QCOMPARE(edit.text(), QString("Бета"));

        edit.selectAll();
        type(&edit, "Гамма");
        QCOMPARE(m_firms->state(), DataSetState::Edit);
        QCOMPARE(m_firms->fieldByName("Name")->asString(), QString("Гамма"));
        m_firms->post();
        QCOMPARE(m_place->stored("FIRMS.DB", "select Name from FIRMS where FirmID = 2"),
                 QString("Гамма"));

        // A value set by code shows at once; Esc puts the box's own field
        // back to the stored value and leaves the rest of the record in edit.
        m_firms->edit();
        m_firms->fieldByName("Name")->setAsString("Дельта");
        QCOMPARE(edit.text(), QString("Дельта"));
        QTest::keyClick(&edit, Qt::Key_Escape);
        QCOMPARE(m_firms->state(), DataSetState::Edit);
        QCOMPARE(edit.text(), QString("Гамма"));
        m_firms->cancel();

        m_firms->close();
        QCOMPARE(edit.text(), QString());
        QVERIFY(edit.isReadOnly());
    }

    // Another desk renames the record shown: the box shows the new name.
    void followsAnotherDesksChangeOfTheRecord()
    {
        DBEdit edit;
        edit.setDataSource(&m_source);
        edit.setFieldName("Name");
        m_session->changedElsewhere(); // where the notices start from
        const std::unique_ptr<Session> elsewhere = m_place->open();
        auto theirs = openTable(*elsewhere, "FIRMS.DB");
        theirs->open();
        theirs->edit();
        theirs->fieldByName("Name")->setAsString("Альфа-2");
        theirs->post();
        const QList<Session::ChangeNotice> notices = noticesOf(*m_session);
        QCOMPARE(notices.size(), 1);
        m_firms->followRowsElsewhere({*notices.first().identity});
        QCOMPARE(edit.text(), QString("Альфа-2"));
    }

    void aRefusedValueShowsTheRecordAsItIs()
    {
        QStringList errors;
        Application::setErrorSink([&](const QString &message) { errors << message; });
        DBEdit edit;
        edit.setDataSource(&m_source);
        edit.setFieldName("GroupID");
        type(&edit, "x");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(edit.text(), QString());
        Application::setErrorSink({});
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    DBEditTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_dbedit.moc"
