#include "Catalogue.h"
#include "ClassesRoot.h"
#include "DBEdit.h"
#include "DBGrid.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "FilesPanel.h"
#include "RecordingUi.h"
#include "UData.h"
#include "UFirm.h"
#include "WindowTest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <zlib.h>

namespace {

// The stored form read back with zlib itself, not with the program's packer.
QByteArray inflated(const QByteArray &packed)
{
    QByteArray out(1 << 20, '\0');
    uLongf size = uLongf(out.size());
    if (uncompress(reinterpret_cast<Bytef *>(out.data()), &size,
                   reinterpret_cast<const Bytef *>(packed.constData()),
                   uLong(packed.size())) != Z_OK)
        return "<not a zlib stream>";
    out.resize(qsizetype(size));
    return out;
}

QByteArray deflated(const QByteArray &bytes)
{
    QByteArray out(int(compressBound(uLong(bytes.size()))), '\0');
    uLongf size = uLongf(out.size());
    compress(reinterpret_cast<Bytef *>(out.data()), &size,
             reinterpret_cast<const Bytef *>(bytes.constData()), uLong(bytes.size()));
    out.resize(qsizetype(size));
    return out;
}

} // namespace

class FirmEditorTest : public WindowTest
{
    Q_OBJECT

    std::unique_ptr<TfrmEditFirm> m_editor;
    MemoryClassesRoot m_types;

    QString path(const QString &name) const { return m_place->scratch(name); }

    void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // A program for ".txt" files: a shell script that records the path it got
    // and then does what `body` says with the file ("$1").
    void registerTextProgram(const QString &body)
    {
        writeFile("program.sh", ("echo \"$1\" > '" + path("given") + "'\n" + body + "\n").toUtf8());
        m_types.setDefault(".txt", "txtfile");
        m_types.setDefault("txtfile\\shell\\open\\command",
                           "/bin/sh \"" + path("program.sh") + "\" \"%1\"");
    }

    QString given() const
    {
        QFile file(path("given"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                              : QString();
    }

    // Firms are made first, then the data module opens on them; the editor
    // stands on the firm the main list stands on (the first by name).
    void startWith(const QStringList &firms)
    {
        openCatalogue([&] {
            int id = 0;
            for (const QString &name : firms)
                run(QString("Insert Into Firms (FirmID, Name) Values (%1, '%2')")
                        .arg(++id)
                        .arg(name));
        });
        openEditor();
    }

    void openEditor()
    {
        m_editor = std::make_unique<TfrmEditFirm>(nullptr, m_types);
        m_editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    }

    void type(QWidget *w, const QString &text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    FilesPanel *files() const { return m_editor->files; }

    void attach(const QString &name, const QByteArray &bytes)
    {
        writeFile(name, bytes);
        Dialogs::answerNextOpenFile(path(name));
        QTest::mouseClick(files()->cmdAdd, Qt::LeftButton);
    }

    // A double click on the icon of the current row.
    void openCurrentFile()
    {
        DBGrid *grid = files()->DBGrid1;
        const QModelIndex icon = grid->model()->index(dm->qFirmFiles.recNo(), 0);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(icon).center());
    }

    QByteArray storedFile(int fileId = 1)
    {
        const QString hex = stored(
            "FILES.DB", QString(m_place->onServer() ? "select encode(File, 'hex') from FILES "
                                                      "where FileID = %1"
                                                    : "select hex(File) from FILES where "
                                                      "FileID = %1")
                            .arg(fileId));
        return inflated(QByteArray::fromHex(hex.trimmed().toLatin1()));
    }

    QString fileRows()
    {
        return stored("FILES.DB", "select FirmID || '|' || coalesce(CAST(ItemID AS TEXT), 'NULL') "
                                  "|| '|' || Description || '|' || FileName from FILES order by "
                                  "FileID")
            .replace('\n', ';');
    }

private slots:
    void init()
    {
        startTest();
        m_types = MemoryClassesRoot();
    }

    void cleanup()
    {
        m_editor.reset();
        endTest();
    }

    void captionFollowsTheNameAtEveryKeystroke()
    {
        startWith({"Альфа"});
        QCOMPARE(m_editor->windowTitle(), QString("Альфа"));
        m_editor->DBEdit1->selectAll();
        type(m_editor->DBEdit1, "Б");
        QCOMPARE(m_editor->windowTitle(), QString("Б"));
        type(m_editor->DBEdit1, "ор");
        QCOMPARE(m_editor->windowTitle(), QString("Бор"));
        QTest::keyClick(m_editor->DBEdit1, Qt::Key_Backspace);
        QCOMPARE(m_editor->windowTitle(), QString("Бо"));
        m_editor->DBEdit1->selectAll();
        QTest::keyClick(m_editor->DBEdit1, Qt::Key_Delete);
        QCOMPARE(m_editor->windowTitle(), QString());
        // Nothing is stored before the window closes.
        QCOMPARE(stored("FIRMS.DB", "select Name from FIRMS"), QString("Альфа"));
    }

    void everyBoxIsAnnouncedAndTabbedInOrder()
    {
        startWith({"Альфа"});
        const QStringList expected = {"DBEdit1",   "DBEdit2", "DBEdit3", "BitBtn1",   "DBEdit4",
                                      "DBEdit5",   "DBEmail", "cmdSend", "DBURL",     "cmdGo",
                                      "DBGridEh1", "DBGrid1", "cmdAdd",  "cmdChange", "cmdDelete",
                                      "cmdItems",  "cmdClose"};
        QStringList order;
        for (QWidget *w = m_editor->DBEdit1; order.size() < expected.size();
             w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus && w->isEnabled() && !w->objectName().isEmpty() &&
                w->isVisibleTo(m_editor.get()))
                order << w->objectName();
        }
        QCOMPARE(order, expected);
        for (const char *name : {"cmdSend", "cmdGo", "BitBtn1", "DBEdit4", "DBGrid1"})
            QVERIFY2(!m_editor->findChild<QWidget *>(name)->accessibleName().isEmpty(), name);
        QVERIFY(m_editor->cmdItems->isEnabled());
    }

    void closingStoresTheNameAndTheListStaysOnTheFirmInItsSortedPlace()
    {
        startWith({"Альфа", "Бета", "Гамма"});
        QCOMPARE(dm->qFirms.recNo(), 0);
        m_editor->DBEdit1->selectAll();
        type(m_editor->DBEdit1, "Яблоко");
        m_editor->DBEdit4->setFocus();
        type(m_editor->DBEdit4, "Москва");
        m_editor->close(); // as the close box does
        QVERIFY(!m_editor->isVisible());
        QCOMPARE(stored("FIRMS.DB", "select Name || '|' || Address from FIRMS where FirmID = 1"),
                 QString("Яблоко|Москва"));
        QCOMPARE(dm->qFirms.fieldByName("FirmID")->asInteger(), 1);
        QCOMPARE(dm->qFirms.recNo(), 2);
        QCOMPARE(dm->tblFirms.state(), DataSetState::Browse);
    }

    void escapeUndoesOnlyTheBoxItIsPressedIn()
    {
        startWith({"Альфа"});
        m_editor->DBEdit1->setFocus();
        m_editor->DBEdit1->selectAll();
        type(m_editor->DBEdit1, "Бета");
        for (DBEdit *box : {m_editor->DBEdit4, m_editor->DBEdit5}) {
            box->setFocus();
            type(box, "набрано");
        }
        QTest::keyClick(m_editor->DBEdit5, Qt::Key_Escape);
        QCOMPARE(m_editor->DBEdit5->text(), QString());
        QCOMPARE(m_editor->DBEdit1->text(), QString("Бета"));
        QTest::keyClick(m_editor->DBEdit5, Qt::Key_Escape); // a second Esc does nothing more
        QVERIFY(m_editor->isVisible());
        QCOMPARE(m_editor->DBEdit4->text(), QString("набрано"));
        m_editor->close();
        QCOMPARE(stored("FIRMS.DB", "select Name || '|' || Address || '|' || "
                                    "coalesce(Phones, 'blank') from FIRMS"),
                 QString("Бета|набрано|blank"));
    }

    void aFailedPostKeepsTheWindowOpen()
    {
        startWith({"Альфа"});
        type(m_editor->DBEdit2, "другое");
        dm->tblFirms.beforePost = [](DataSet &) { throw EngineError("FIRMS.DB: запись занята"); };
        QTest::mouseClick(m_editor->cmdClose, Qt::LeftButton);
        QVERIFY(m_editor->isVisible());
        QCOMPARE(m_errors, QStringList({"FIRMS.DB: запись занята"}));
        m_errors.clear();
        dm->tblFirms.beforePost = nullptr;
        QTest::mouseClick(m_editor->cmdClose, Qt::LeftButton);
        QVERIFY(!m_editor->isVisible());
        QCOMPARE(stored("FIRMS.DB", "select Sinonyms from FIRMS"), QString("другое"));
    }

    // Another desk (a session of its own) changes the firm while it is being
    // edited here; closing the editor asks, and what was typed survives.
    void aChangeFromAnotherDeskIsNeverOverwrittenUnseen_data()
    {
        QTest::addColumn<int>("choice"); // 0 saves mine, 1 keeps theirs, -1 closes the box
        QTest::addColumn<QString>("expected");
        QTest::newRow("save mine") << 0 << "Ромашка-2|букеты|222";
        QTest::newRow("keep theirs") << 1 << "Ромашка-3|букеты|222";
        QTest::newRow("box closed") << -1 << "Ромашка-3|букеты|";
    }

    void aChangeFromAnotherDeskIsNeverOverwrittenUnseen()
    {
        QFETCH(int, choice);
        QFETCH(QString, expected);
        startWith({"Ромашка"});
        m_editor->DBEdit1->selectAll();
        type(m_editor->DBEdit1, "Ромашка-2");
        m_editor->DBEdit5->setFocus();
        type(m_editor->DBEdit5, "222");
        m_place->open()->execute(
            "Update Firms set Name = 'Ромашка-3', Description = 'букеты' where FirmID = 1");
        Dialogs::answerNextChoice(choice);
        m_editor->close();
        QCOMPARE(Dialogs::lastShown().text, QString("Запись изменена другим пользователем.\n"
                                                    "Другой пользователь изменил: Наименование, "
                                                    "Описание."));
        QCOMPARE(Dialogs::lastShown().buttons,
                 QStringList({"Сохранить мои значения", "Оставить его значения"}));
        QCOMPARE(stored("FIRMS.DB", "select Name || '|' || Description || '|' || "
                                    "coalesce(Phones, '') from FIRMS"),
                 expected);
        QCOMPARE(m_editor->isVisible(), choice < 0); // nothing typed is lost
        if (choice < 0)
            QCOMPARE(m_editor->DBEdit5->text(), QString("222"));
        QVERIFY(m_errors.isEmpty());
    }

    void aFirmDeletedAtAnotherDeskCanBeSavedAsNew()
    {
        startWith({"Ромашка"});
        m_editor->DBEdit5->setFocus();
        type(m_editor->DBEdit5, "222");
        m_place->open()->execute("Delete from Firms where FirmID = 1");
        Dialogs::answerNextChoice(0);
        m_editor->close();
        QCOMPARE(Dialogs::lastShown().text, QString("Запись удалена другим пользователем.\n"
                                                    "Сохранить введённое как новую запись?"));
        QCOMPARE(stored("FIRMS.DB", "select Name || '|' || Phones from FIRMS"),
                 QString("Ромашка|222"));
        QVERIFY(m_errors.isEmpty());
    }

    // Another desk replaced the file meanwhile under the same name: nothing in
    // the grid shows it, yet replacing it here asks first.
    void replacingAFileAnotherDeskReplacedAsksFirst_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("mine saved") << 0 << QByteArray("mine\n");
        QTest::newRow("theirs kept") << 1 << QByteArray("theirs\n");
    }

    void replacingAFileAnotherDeskReplacedAsksFirst()
    {
        QFETCH(int, choice);
        QFETCH(QByteArray, expected);
        startWith({"Альфа"});
        attach("price.txt", "first\n");
        TestCatalogue::changeAtAnotherDesk(*m_place, "FILES.DB", {"FileID", 1},
                                           {{"File", deflated("theirs\n")}});
        writeFile("price.txt", "mine\n");
        Dialogs::answerNextOpenFile(path("price.txt"));
        Dialogs::answerNextChoice(choice);
        QTest::mouseClick(files()->cmdChange, Qt::LeftButton);

        QCOMPARE(Dialogs::lastShown().text, QString("Запись изменена другим пользователем.\n"
                                                    "Другой пользователь изменил: Содержимое "
                                                    "файла."));
        QCOMPARE(storedFile(), expected);
        QCOMPARE(dm->qFirmFiles.state(), DataSetState::Browse);
    }

    void theFolderGridRefusesEntryWithoutFolders()
    {
        startWith({"Альфа"});
        m_editor->DBEdit1->setFocus();
        m_editor->DBGridEh1->setFocus();
        QCOMPARE(Dialogs::asked(), QStringList({"Не определено ни одной папки"}));
        QVERIFY(m_editor->DBGridEh1->isReadOnly());

        dm->tblFolder.append();
        dm->tblFolder.fieldByName("Description")->setAsString("Склад");
        dm->tblFolder.post();
        m_editor->DBEdit1->setFocus();
        m_editor->DBGridEh1->setFocus();
        QVERIFY(!m_editor->DBGridEh1->isReadOnly());
        QCOMPARE(Dialogs::asked().size(), 1);
        // A folder chosen in a new row is stored with the firm's key when the window closes.
        QTest::keyClick(m_editor->DBGridEh1, Qt::Key_Insert);
        dm->tblCrFirmFolder.fieldByName("FolderID")->setAsInteger(1);
        m_editor->close();
        QCOMPARE(stored("CRFOLDERS.DB",
                        "select FolderID || '|' || FirmID || '|' || ItemID from CRFOLDERS"),
                 QString("1|1|0"));
    }

    void anAttachedFileIsStoredPackedUnderItsShortName()
    {
        startWith({"Альфа"});
        QDir().mkpath(path("docs"));
        attach("docs/Price list 2024.txt", "first version\n");
        QCOMPARE(fileRows(), QString("1|NULL|Price list 2024.txt|Price lis.txt"));
        QCOMPARE(storedFile(), QByteArray("first version\n"));
        QCOMPARE(dm->LastFileDir, path("docs/"));
        QVERIFY(!dm->FileAppendAllowed);
        QCOMPARE(Dialogs::asked(), QStringList({"Выберите файл"}));

        // Replacing keeps the description and takes the new short name and bytes.
        attach("other.txt", "second\n"); // a second row, the current one
        Dialogs::answerNextOpenFile(path("docs/Price list 2024.txt"));
        writeFile("docs/Price list 2024.txt", "third\n");
        QTest::mouseClick(files()->cmdChange, Qt::LeftButton);
        QCOMPARE(fileRows(), QString("1|NULL|Price list 2024.txt|Price lis.txt;"
                                     "1|NULL|other.txt|Price lis.txt"));
        QCOMPARE(storedFile(2), QByteArray("third\n"));

        // The grid's own ways to add a row add nothing.
        files()->DBGrid1->setFocus();
        QTest::keyClick(files()->DBGrid1, Qt::Key_Insert);
        QTest::keyClick(files()->DBGrid1, Qt::Key_Down);
        QCOMPARE(dm->qFirmFiles.recordCount(), 2);
        QCOMPARE(dm->qFirmFiles.state(), DataSetState::Browse);

        Dialogs::answerNextConfirm(false);
        QTest::mouseClick(files()->cmdDelete, Qt::LeftButton);
        QCOMPARE(dm->qFirmFiles.recordCount(), 2);
        Dialogs::answerNextConfirm(true);
        QTest::mouseClick(files()->cmdDelete, Qt::LeftButton);
        QCOMPARE(Dialogs::asked().mid(3),
                 QStringList({"Удалить 'other.txt' ?", "Удалить 'other.txt' ?"}));
        QCOMPARE(stored("FILES.DB", "select count(*) from FILES"), QString("1"));
    }

    void filesThatCannotBeReadChangeNothing()
    {
        startWith({"Альфа"});
        Dialogs::answerNextOpenFile(path("missing.txt"));
        QTest::mouseClick(files()->cmdAdd, Qt::LeftButton);
        writeFile("bad\nname.txt", "x");
        Dialogs::answerNextOpenFile(path("bad\nname.txt"));
        QTest::mouseClick(files()->cmdAdd, Qt::LeftButton);
        QStringList asked = Dialogs::asked();
        QCOMPARE(asked.size(), 4);
        QVERIFY2(asked[1].startsWith("Файл \"") && asked[1].endsWith("не найден."),
                 qPrintable(asked[1]));
        QVERIFY2(asked[3].contains("управляющие символы"), qPrintable(asked[3]));
        // A file past the packer's limit is refused before it is read (sparse: no disk used).
        QFile huge(path("huge.bin"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 31));
        huge.close();
        Dialogs::answerNextOpenFile(path("huge.bin"));
        QTest::mouseClick(files()->cmdAdd, Qt::LeftButton);
        QVERIFY2(Dialogs::asked().last().contains("больше 2 147 483 647 байт"),
                 qPrintable(Dialogs::asked().last()));
        // Root reads every file whatever its permissions: nothing to refuse then.
        writeFile("locked.txt", "secret");
        QFile::setPermissions(path("locked.txt"), {});
        if (!QFile(path("locked.txt")).open(QIODevice::ReadOnly)) {
            Dialogs::answerNextOpenFile(path("locked.txt"));
            QTest::mouseClick(files()->cmdAdd, Qt::LeftButton);
            QVERIFY2(Dialogs::asked().last().endsWith(": нет прав на чтение файла"),
                     qPrintable(Dialogs::asked().last()));
        }
        QCOMPARE(dm->qFirmFiles.recordCount(), 0);
        QCOMPARE(dm->qFirmFiles.state(), DataSetState::Browse);
        QVERIFY(!dm->FileAppendAllowed);
        QCOMPARE(stored("FILES.DB", "select count(*) from FILES"), QString("0"));
    }

    void openingRunsTheProgramAndStoresTheChangedFileBack()
    {
        startWith({"Альфа"});
        registerTextProgram("echo 'added line' >> \"$1\"");
        attach("Notes for the meeting.txt", "line one\n");

        Dialogs::answerNextConfirm(true);
        openCurrentFile();
        const QString copy = given();
        QVERIFY2(copy.endsWith("/Notes for.txt"), qPrintable(copy));
        QVERIFY(!QFile::exists(copy));
        QCOMPARE(Dialogs::asked().last(), QString("Обновить файл в базе"));
        QCOMPARE(storedFile(), QByteArray("line one\nadded line\n"));
        QCOMPARE(fileRows(), QString("1|NULL|Notes for the meeting.txt|Notes for.txt"));

        // Cancel at the question leaves the stored file as it was.
        Dialogs::answerNextConfirm(false);
        openCurrentFile();
        QVERIFY(!QFile::exists(given()));
        QCOMPARE(storedFile(), QByteArray("line one\nadded line\n"));
    }

    void programFailuresLeaveTheStoredFileAsItWas()
    {
        startWith({"Альфа"});
        registerTextProgram("rm \"$1\"");
        attach("a.txt", "kept\n");
        Dialogs::answerNextConfirm(true);
        openCurrentFile();
        QVERIFY2(Dialogs::asked().last().startsWith("Файл \""),
                 qPrintable(Dialogs::asked().last()));
        QCOMPARE(storedFile(), QByteArray("kept\n"));
        QCOMPARE(dm->qFirmFiles.state(), DataSetState::Browse);

        m_types.setDefault("txtfile\\shell\\open\\command", path("no-such-program") + " %1");
        openCurrentFile();
        QCOMPARE(Dialogs::asked().last(), QString("что-то не нормально"));

        m_types = MemoryClassesRoot();
        files()->DBGrid1->setFocus();
        QTest::keyClick(files()->DBGrid1, Qt::Key_Return, Qt::ControlModifier); // from the keyboard
        QCOMPARE(Dialogs::asked().last(),
                 QString("Нейзвестный тип файла! Необходимо установить необходимое приложение или "
                         "зарегистрировать тип файла"));
        QCOMPARE(storedFile(), QByteArray("kept\n"));
    }

    void namesFromTheCatalogueStayOneFileInThePrivateFolder()
    {
        startWith({"Альфа"});
        registerTextProgram("echo more >> \"$1\"");
        attach("it's \"new\" $HOME.txt", "text\n");
        QCOMPARE(fileRows(), QString("1|NULL|it's \"new\" $HOME.txt|it's _new.txt"));
        Dialogs::answerNextConfirm(true);
        openCurrentFile();
        QVERIFY2(given().endsWith("/it's _new.txt"), qPrintable(given()));
        QCOMPARE(storedFile(), QByteArray("text\nmore\n"));

        // A name written by another tool cannot lead out of the folder.
        run("Update Files Set FileName = '../../up.txt' Where FileID = 1");
        dm->qFirmFiles.close();
        dm->qFirmFiles.open();
        openCurrentFile();
        const QFileInfo copy(given());
        QVERIFY2(copy.fileName() == ".._.._up.txt" && copy.dir().dirName().startsWith("quillon-"),
                 qPrintable(given()));
    }

    void aBlobThatDoesNotUnpackStartsNothing()
    {
        startWith({"Альфа"});
        registerTextProgram("true");
        attach("a.txt", "kept\n");
        run("Update Files Set File = X'00112233' Where FileID = 1");
        dm->qFirmFiles.close();
        dm->qFirmFiles.open();
        openCurrentFile();
        QCOMPARE(m_errors, QStringList({"error"}));
        m_errors.clear();
        QVERIFY(!QFile::exists(path("given")));
    }

    void theMailButtonHandsTheAddressToTheBrowserProgram()
    {
        startWith({"Альфа"});
        writeFile("browser.sh", ("#!/bin/sh\necho \"$@\" > '" + path("given") + "'\n").toUtf8());
        QFile::setPermissions(path("browser.sh"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_types.setDefault(".htm", "htmlfile");
        m_types.setDefault("htmlfile\\shell\\open\\command", path("browser.sh") + "%1");
        m_editor->DBEmail->setFocus();
        type(m_editor->DBEmail, " sales@firm.ru\t");
        QTest::mouseClick(m_editor->cmdSend, Qt::LeftButton);
        QTRY_COMPARE(given(), QString("mailto:sales@firm.ru"));
    }

    void editingByKeyStandsOnThatFirmAndRestoresTheLink()
    {
        startWith({"Альфа", "Бета"});
        m_editor.reset();
        QString caption;
        bool itemsEnabled = true;
        QTimer::singleShot(0, [&] {
            auto *editor = qobject_cast<TfrmEditFirm *>(QApplication::activeModalWidget());
            if (!editor)
                return;
            caption = editor->windowTitle();
            itemsEnabled = editor->cmdItems->isEnabled();
            editor->close();
        });
        editFirmByKey(nullptr, 2, false);
        QCOMPARE(caption, QString("Бета"));
        QVERIFY(!itemsEnabled);
        QCOMPARE(dm->tblFirms.masterSource(), &dm->dsMainFirms);
        QVERIFY(!dm->tblFirms.filtered());
        QCOMPARE(dm->tblFirms.filter(), QString());
        QCOMPARE(dm->tblFirms.fieldByName("Name")->asString(), QString("Альфа"));
    }
};

QTEST_MAIN(FirmEditorTest)
#include "tst_ufirm.moc"
