#include "Aliases.h"
#include "BaseMaker.h"
#include "CatalogueChoice.h"
#include "CatalogueLocation.h"
#include "FolderSession.h"
#include "OpenCatalogueDialog.h"
#include "UMain.h"
#include "WindowTest.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

class CatalogueChoiceTest : public WindowTest
{
    Q_OBJECT

    std::unique_ptr<TMainForm> m_form;
    // The locations the scripted dialog picks, one for each time it is shown;
    // it is cancelled once none is left.
    QStringList m_picks;
    int m_dialogsShown = 0;

    QString other() const { return m_place->scratch("Другой каталог"); }

    static QString aliasFile()
    {
        QFile file(Aliases::configFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    static QStringList firmNames()
    {
        QStringList names;
        for (dm->qFirms.first(); !dm->qFirms.eof(); dm->qFirms.next())
            names.append(dm->qFirms.fieldByName("Name")->asString());
        return names;
    }

    void makeCatalogue(const QString &folder, const QString &firm)
    {
        QVERIFY(BaseMaker::verifyCatalogue("base.ini", folder, false, false, m_ui));
        FolderSession(folder).execute(
            QString("INSERT INTO Firms (FirmID, Name) VALUES (1, '%1')").arg(firm));
    }

    void startWindow()
    {
        QVERIFY(CatalogueChoice::reachAtStart(nullptr));
        openCatalogue([this] { run("Insert Into Firms (FirmID, Name) Values (1, 'Альфа')"); });
        m_form = std::make_unique<TMainForm>();
        m_form->show();
    }

    void trigger(const char *command)
    {
        auto *action = m_form->findChild<QAction *>(command);
        QVERIFY(action);
        action->trigger();
    }

private slots:
    void init()
    {
        startTest();
        Aliases::setRunAlias("Quillon", {}, {});
        m_picks.clear();
        m_dialogsShown = 0;
        setOpenCatalogueRunner([this](OpenCatalogueDialog &dialog) {
            ++m_dialogsShown;
            if (m_picks.isEmpty())
                return false;
            dialog.setLocation(m_picks.takeFirst());
            return true;
        });
    }

    void cleanup()
    {
        m_form.reset();
        m_dm.reset();
        setOpenCatalogueRunner({});
        Dialogs::setScripted(false);
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    }

    // "Открыть каталог..." moves the running window to another folder and
    // keeps it for the next start; the recent list brings the first one back.
    void opensAnotherCatalogueAndComesBack()
    {
        startWindow();
        makeCatalogue(other(), "Бета");
        m_picks << other();
        trigger("acOpenCatalogue");
        QCOMPARE(firmNames(), QStringList({"Бета"}));
        QVERIFY2(aliasFile().contains("PATH=" + other()), qPrintable(aliasFile()));
        QCOMPARE(CatalogueLocation::recent(), QStringList({other(), data().chopped(1)}));

        auto *recent = m_form->findChild<QMenu *>("RecentCatalogues");
        QVERIFY(recent);
        emit recent->aboutToShow();
        QCOMPARE(recent->actions().size(), 2);
        QVERIFY(recent->actions().at(1)->text().startsWith("&2 "));
        recent->actions().at(1)->trigger();
        QCOMPARE(firmNames(), QStringList({"Альфа"}));
        QVERIFY(aliasFile().contains("PATH=" + data().chopped(1)));
    }

    // A folder with no catalogue becomes one only when the user says so.
    void makesANewCatalogueOnlyWhenAsked()
    {
        startWindow();
        const QString fresh = m_place->scratch("new/Data");
        m_picks << fresh;
        trigger("acOpenCatalogue");
        QCOMPARE(m_dialogsShown, 2); // refused, so the dialog came again and was cancelled
        QVERIFY(Dialogs::asked().contains(
            QString("В папке «%1» нет каталога.\nСоздать в ней новый каталог?").arg(fresh)));
        QVERIFY(!QFileInfo::exists(fresh));
        QCOMPARE(firmNames(), QStringList({"Альфа"}));

        Dialogs::answerNextConfirm(true);
        m_picks << fresh;
        trigger("acOpenCatalogue");
        QVERIFY(QFileInfo::exists(fresh + "/FIRMS.DB"));
        QCOMPARE(firmNames(), QStringList());
    }

    // A catalogue that has gone is said so at start-up, with where and why,
    // and no window opens on it empty unless the user asks for a new one.
    void startsOnlyOnACatalogueThatIsThere_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("madeAgain");
        QTest::addColumn<bool>("onOther");
        QTest::newRow("leave") << 3 << false << false << false;
        QTest::newRow("box closed") << -1 << false << false << false;
        QTest::newRow("make a new one") << 1 << true << true << false;
        QTest::newRow("open another") << 0 << true << false << true;
    }

    void startsOnlyOnACatalogueThatIsThere()
    {
        QFETCH(int, choice);
        QFETCH(bool, started);
        QFETCH(bool, madeAgain);
        QFETCH(bool, onOther);
        makeCatalogue(other(), "Бета");
        const QString gone = data().chopped(1);
        QVERIFY(QDir(gone).removeRecursively());
        Dialogs::answerNextChoice(choice);
        m_picks << other();
        QCOMPARE(CatalogueChoice::reachAtStart(nullptr), started);
        const Dialogs::Shown box = Dialogs::lastShown();
        QCOMPARE(box.text,
                 QString("Каталог недоступен: папка «%1».\nПричина: папка не найдена.").arg(gone));
        QCOMPARE(box.buttons,
                 QStringList({"Открыть другой каталог...", "Создать новый каталог в этой папке",
                              "Повторить", "Выход"}));
        QCOMPARE(QFileInfo::exists(gone), madeAgain);
        QCOMPARE(Tdm::ensureAlias(), onOther ? other() : gone);
    }

    // The dialog: the kind follows what is typed, the server test says what
    // came of it, and a password asked for stays in memory only.
    void dialogTestsAServerAddress()
    {
        CatalogueLocation::remember(other());
        CatalogueLocation::remember("postgresql://db.lan/q");
        QString probed;
        OpenCatalogueDialog dialog(nullptr, other(), [&probed](QString &location) {
            probed = location;
            location = CatalogueLocation::withPassword(location, "secret");
            return QString();
        });
        QVERIFY(dialog.rbFolder->isChecked());
        QVERIFY(!dialog.bTest->isEnabled());
        QCOMPARE(dialog.lstRecent->count(), 2);
        QVERIFY(dialog.lstRecent->item(1)->text().endsWith("(открыт)"));
        for (const QLabel *label : dialog.findChildren<QLabel *>()) {
            if (label->text() == "&Недавние каталоги:")
                QCOMPARE(label->buddy(), dialog.lstRecent);
        }

        dialog.lstRecent->setCurrentRow(0);
        QVERIFY(dialog.rbServer->isChecked());
        QVERIFY(dialog.bTest->isEnabled());
        dialog.bTest->click();
        QCOMPARE(probed, QString("postgresql://db.lan/q"));
        QCOMPARE(dialog.lblTest->text(), QString("Соединение установлено."));
        QCOMPARE(dialog.location(), QString("postgresql://db.lan/q?password=secret"));
        QCOMPARE(dialog.edServer->text(), QString("postgresql://db.lan/q"));

        QTest::keyClicks(dialog.edServer, "x");
        QVERIFY(dialog.lblTest->text().isEmpty());
        QCOMPARE(dialog.location(), QString("postgresql://db.lan/qx"));
        QTest::keyClicks(dialog.edFolder, "y");
        QVERIFY(dialog.rbFolder->isChecked());
        QCOMPARE(dialog.location(), other() + "y");
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    CatalogueChoiceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cataloguechoice.moc"
