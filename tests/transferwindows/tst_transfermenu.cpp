#include "Application.h"
#include "Catalogue.h"
#include "Dialogs.h"
#include "ImportDialog.h"
#include "RecordingUi.h"
#include "TransferMenu.h"
#include "UData.h"
#include "UMain.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

class TransferMenuTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestCatalogue::Place> m_place;
    RecordingUi m_ui;
    std::unique_ptr<Tdm> m_dm;
    std::unique_ptr<TMainForm> m_form;
    QStringList m_errors;

    QString path(const QString &name) const { return m_place->scratch(name); }

    void run(const QString &sql)
    {
        dm->TMPQuery.setSql({sql});
        dm->TMPQuery.execSql();
    }

    // A `readOnly` reason opens the catalogue as a reading role does.
    void start(const QString &readOnly = {})
    {
        m_dm = std::make_unique<Tdm>(m_ui);
        m_dm->DataModuleCreate();
        run("Insert Into Firms (FirmID, Name, Phones) Values (1, 'Ёлка', '+7 1')");
        run("Insert Into Firms (FirmID, Name) Values (2, 'Дуб')");
        run("Insert Into GrFirms (GroupID, UpGroupID, Description) Values (1, 0, 'Поставщики')");
        run("Insert Into GrpFrm (FirmID, GroupID) Values (2, 1)");
        m_dm->closeDataSets();
        m_dm->openDataSets();
        m_dm->Main_sess()->setReadOnly(readOnly);
        m_form = std::make_unique<TMainForm>();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    void trigger(const char *command)
    {
        auto *action = m_form->findChild<QAction *>(command);
        QVERIFY(action);
        action->trigger();
    }

    QStringList firmNames()
    {
        QStringList names;
        for (dm->qFirms.first(); !dm->qFirms.eof(); dm->qFirms.next())
            names.append(dm->qFirms.fieldByName("Name")->asString());
        return names;
    }

private slots:
    void init()
    {
        m_place = std::make_unique<TestCatalogue::Place>();
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

    // The button comes after every designed one, is named for a screen reader
    // and opens its menu from the keyboard.
    void menuStandsAfterTheDesignedButtons()
    {
        start();
        auto *button = m_form->findChild<QToolButton *>("ToolButtonTransfer");
        QVERIFY(button);
        QCOMPARE(button->accessibleName(), QString("Копии и обмен данными"));
        QVERIFY(button->x() > m_form->findChild<QWidget *>("ToolButton5")->x());
        auto *menu = m_form->findChild<QMenu *>("TransferMenuItems");
        bool shown = false;
        QTimer::singleShot(0, [menu, &shown] {
            shown = menu->isVisible();
            menu->close();
        });
        QTest::keyClick(m_form.get(), Qt::Key_F10);
        QVERIFY(shown);
        // Each entry is reached by a letter of its own.
        QStringList letters;
        for (const QAction *action : menu->actions()) {
            if (action->isSeparator())
                continue;
            const QString text = action->text();
            const qsizetype mark = text.indexOf('&');
            QVERIFY2(mark >= 0 && mark + 1 < text.size(), qPrintable(text));
            const QString letter = text.mid(mark + 1, 1).toLower();
            QVERIFY2(!letters.contains(letter), qPrintable(text));
            letters << letter;
        }
    }

    // A reader keeps the commands that only read; the status bar says why
    // the others are off, in the place of the first panel.
    void aReaderIsOfferedNothingThatWouldChangeTheCatalogue()
    {
        const QString reason =
            "Каталог открыт только для чтения: роль «boris» может только читать.";
        start(reason);
        auto *menu = m_form->findChild<QMenu *>("TransferMenuItems");
        QStringList enabled;
        QTimer::singleShot(0, [menu, &enabled] {
            for (const QAction *action : menu->actions())
                if (action->isEnabled() && !action->objectName().isEmpty())
                    enabled << action->objectName();
            menu->close();
        });
        QTest::keyClick(m_form.get(), Qt::Key_F10);
        QCOMPARE(enabled, QStringList({"acOpenCatalogue", "acBackup", "acExportShown",
                                       "acExportWhole", "acVCard"}));
        QVERIFY(!m_form->findChild<QWidget *>("SpeedButton2")->isEnabled());
        auto *note = m_form->findChild<QLabel *>("ReadOnlyReason");
        QCOMPARE(note->text(), reason);
        QVERIFY(note->isVisible());
        QVERIFY(!m_form->findChild<QLabel *>("StatusPanel0")->isVisible());
        QVERIFY(note->width() > m_form->width() / 2);
    }

    void backupThenRestoreBringsADeletedFirmBack()
    {
        start();
        Dialogs::answerNextOpenFile(path("copy.zip"));
        trigger("acBackup");
        QVERIFY(QFile::exists(path("copy.zip")));
        run("Delete From Firms Where FirmID = 1");
        dm->RebuildFirmQuery();
        QCOMPARE(firmNames(), QStringList({"Дуб"}));

        // A file that is no backup is refused and the window goes on with its catalogue.
        QFile plain(path("plain.zip"));
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("SQLite format 3") > 0);
        plain.close();
        Dialogs::answerNextOpenFile(plain.fileName());
        Dialogs::answerNextConfirm(true);
        trigger("acRestore");
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors.takeFirst().contains("не является zip-архивом"));
        QCOMPARE(firmNames(), QStringList({"Дуб"}));

        Dialogs::answerNextOpenFile(path("copy.zip"));
        Dialogs::answerNextConfirm(true);
        trigger("acRestore");
        QCOMPARE(firmNames(), QStringList({"Дуб", "Ёлка"}));
        QVERIFY(Dialogs::asked().last().startsWith("Каталог восстановлен"));
        QCOMPARE(m_place->stored("FIRMS.DB", "SELECT count(*) FROM Firms"), QString("2"));
    }

    void exportsTheListAsShown()
    {
        start();
        dm->GroupFirmFilter = "FirmID in (Select FirmID From GrpFrm Where GroupID=1)";
        dm->RebuildFirmQuery();
        Dialogs::answerNextOpenFile(path("shown"));
        trigger("acExportShown");
        Dialogs::answerNextOpenFile(path("whole.csv"));
        trigger("acExportWhole");
        QFile shown(path("shown.csv")), whole(path("whole.csv"));
        QVERIFY(shown.open(QIODevice::ReadOnly) && whole.open(QIODevice::ReadOnly));
        QCOMPARE(shown.readAll().count('\n'), 2);
        QCOMPARE(whole.readAll().count('\n'), 3);
    }

    void importAddsToTheChosenGroup()
    {
        start();
        QFile csv(path("in.csv"));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        // The last line holds a byte that is not UTF-8: it is shown refused.
        csv.write(QString("Название;Телефоны\r\nКлён;5\r\nдуб;6\r\n;7\r\n").toUtf8() +
                  "Ясен\xFF;8\r\n");
        csv.close();
        QString summary, lastLine;
        QColor lastColour;
        setImportWindowRunner([&](ImportDialog &dialog) {
            auto *group = dialog.findChild<QComboBox *>("GroupChoice");
            group->setCurrentIndex(group->findData(1));
            summary = dialog.findChild<QLabel *>("Summary")->text();
            auto *preview = dialog.findChild<QTableWidget *>("PreviewGrid");
            lastLine = preview->verticalHeaderItem(3)->text();
            lastColour = preview->item(3, 0)->background().color();
            return dialog.runImport();
        });
        Dialogs::answerNextOpenFile(csv.fileName());
        trigger("acImport");
        setImportWindowRunner({});
        QVERIFY2(summary.startsWith("Будет добавлено записей: 1\nУже есть в каталоге: 1"),
                 qPrintable(summary));
        QVERIFY(summary.endsWith("Отклонено строк: 2"));
        QCOMPARE(lastLine, QString("5"));
        QCOMPARE(lastColour, QColor(255, 220, 220));
        QCOMPARE(firmNames(), QStringList({"Дуб", "Ёлка", "Клён"}));
        QCOMPARE(m_place->stored("GRPFRM.DB", "SELECT FirmID FROM GrpFrm WHERE GroupID = 1 "
                                              "ORDER BY FirmID"),
                 QString("2\n3"));
        // The file dialog offered the kinds an import reads.
        QVERIFY(Dialogs::asked().contains(
            "Импорт фирм\nТаблицы (*.csv *.txt *.xlsx *.xls *.ods);;Все файлы (*)"));
    }

    // A file whose first line is a page of text in hundreds of columns: the
    // window and its buttons stay on the screen.
    void importWindowStaysOnTheScreen()
    {
        start();
        QStringList header;
        for (int i = 0; i < 250; ++i)
            header.append(QString(200, QChar(0x0416 + i % 20)));
        QFile csv(path("wide.csv"));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write((header.join(';') + "\r\n" + header.join(';') + "\r\n").toUtf8());
        csv.close();
        QRect window, button, screen;
        setImportWindowRunner([&](ImportDialog &dialog) {
            dialog.show();
            screen = dialog.screen()->availableGeometry();
            window = dialog.frameGeometry();
            auto *load = dialog.findChild<QWidget *>("LoadButton");
            button = QRect(load->mapTo(&dialog, QPoint(0, 0)), load->size());
            return false;
        });
        Dialogs::answerNextOpenFile(csv.fileName());
        trigger("acImport");
        setImportWindowRunner({});
        QVERIFY2(window.width() <= screen.width() && window.height() <= screen.height(),
                 qPrintable(QString("%1x%2").arg(window.width()).arg(window.height())));
        QVERIFY(QRect(QPoint(0, 0), window.size()).contains(button));
    }
};

int main(int argc, char **argv)
{
    Application app(argc, argv);
    TransferMenuTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_transfermenu.moc"
