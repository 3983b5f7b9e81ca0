#include "BaseMaker.h"
#include "Catalogue.h"
#include "EngineError.h"
#include "Query.h"
#include "RecordingUi.h"
#include "Session.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace BaseMaker;
using TestCatalogue::shell;

namespace {

// A field line laid out by columns: name 1-41, type 42-51, size 53-57, key 62.
QString fieldLine(const QString &name, const QString &type, const QString &size = {},
                  const QString &key = {})
{
    return (name.leftJustified(41) + type.leftJustified(10) + ' ' + size.rightJustified(5) +
            "    " + key)
        .trimmed();
}

QStringList firmsDescription(const QString &wwwSize = "60")
{
    return {"Table: FIRMS.DB                      / Фирмы",
            "Поле                                     Тип",
            "-----------",
            fieldLine("FirmID", "AutoInc", {}, "*"),
            fieldLine("Name", "String", "240"),
            fieldLine("WWW", "String", wwwSize),
            fieldLine("Phones", "String", "60"),
            "[Indexes]",
            "ByName=Name"};
}

} // namespace

class BaseMakerTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_description;

    QString path(const QString &file) const { return m_dir->filePath(file); }

    void writeDescription(const QStringList &lines)
    {
        QFile file(m_description);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QStringEncoder encode("windows-1251");
        file.write(encode(lines.join("\r\n")));
    }

    void sql(const QString &file, const QString &text)
    {
        Session session(m_dir->path());
        Query query;
        query.setSession(&session);
        query.setSql({text});
        query.execSql();
        Q_UNUSED(file);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_description = path("base.ini");
    }

    void cleanup() { m_dir.reset(); }

    void theShippedDescriptionDeclaresTheTenTables()
    {
        const QList<TableSpec> tables = readDescription(findDescriptionFile("base.ini")).tables;
        QStringList names;
        for (const TableSpec &t : tables)
            names << t.name;
        QCOMPARE(names,
                 QStringList({"FIRMS.DB", "ITEMS.DB", "FOLDERS.DB", "GRFIRMS.DB", "GRITEMS.DB",
                              "GRPFRM.DB", "GRPITM.DB", "CRFOLDERS.DB", "CRFIRMS.DB", "FILES.DB"}));
        QCOMPARE(tables[0].caption, QString("Фирмы"));
        QCOMPARE(tables[0].fields[0].key, QString("*"));
        QCOMPARE(tables[0].fields[1].size, QString("240"));
        QCOMPARE(tables[7].indexes, QStringList({"Firm=FirmID", "Item=ItemID", "Folder=FolderID"}));
        // Grid positions of the group tables are fixed: key, parent, text.
        QCOMPARE(tables[3].fields[1].name, QString("UpGroupID"));
    }

    void statementsComeOutLineForLine()
    {
        TableSpec folders;
        folders.name = "FOLDERS.DB";
        folders.fields = {{"FolderID", "AutoInc", "", "*"}, {"Description", "String", "50", ""}};
        QCOMPARE(
            createStatement(folders),
            QStringList({"Create Table \"FOLDERS.DB\" (", "\"FOLDERS.DB\".\"FolderID\" AutoInc",
                         ", ", "\"FOLDERS.DB\".\"Description\" CHAR(50)", ")"}));
        TableSpec firms;
        firms.name = "FIRMS.DB";
        firms.fields = {{"Name", "String", "240", ""},
                        {"WWW", "String", "60", "", false, true},
                        {"Phones", "String", "60", "", true, true}};
        QCOMPARE(alterStatement(firms),
                 QStringList({"Alter Table \"FIRMS.DB\" ", " Drop \"FIRMS.DB\".\"WWW\", ", " ADD ",
                              "\"FIRMS.DB\".\"WWW\" CHAR(60)", ",", " ADD ",
                              "\"FIRMS.DB\".\"Phones\" CHAR(60)"}));
    }

    void tableLinesGiveNameAndCaption()
    {
        const auto tables = parseDescription(
            {"  Table: crfirms.db   \t", "-----------", fieldLine("FirmID", "Integer")});
        QCOMPARE(tables[0].name, QString("CRFIRMS.DB"));
        QCOMPARE(tables[0].caption, QString("Table: crfirms.db"));
    }

    void malformedDescriptionsFailBeforeAnyTableIsTouched_data()
    {
        QTest::addColumn<QStringList>("lines");
        QStringList badSize = firmsDescription("6O");
        QTest::newRow("size not a number") << badSize;
        QStringList noSeparator = firmsDescription();
        noSeparator.removeAt(2);
        QTest::newRow("no separator") << noSeparator;
        QTest::newRow("index without =") << (firmsDescription() << "ByPhone");
        QTest::newRow("fields before a table") << (QStringList{"-----------"} + firmsDescription());
    }

    void malformedDescriptionsFailBeforeAnyTableIsTouched()
    {
        QFETCH(QStringList, lines);
        writeDescription(firmsDescription("40"));
        RecordingUi ui;
        QVERIFY(verifyDirectory(m_description, m_dir->path(), false, false, ui));
        sql("FIRMS.DB", "Insert Into Firms (FirmID, Name, WWW) Values (5, 'Альфа', 'a.example')");
        const QByteArray before = [&] {
            QFile f(path("FIRMS.DB"));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        writeDescription(lines +
                         QStringList{"Table: NEW.DB", "-----------", fieldLine("A", "Integer")});
        try {
            verifyDirectory(m_description, m_dir->path(), false, false, ui);
            QFAIL("a malformed description was accepted");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().contains("строка"), qPrintable(e.message()));
        }
        QFile after(path("FIRMS.DB"));
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
        QVERIFY(!QFile::exists(path("NEW.DB")));
    }

    void anEmptyDirectoryGetsEveryTableKeyedAndIndexed()
    {
        RecordingUi ui;
        const QString data = path("Data");
        QVERIFY(verifyDirectory(findDescriptionFile("base.ini"), data, false, false, ui));
        QCOMPARE(QDir(data).entryList(QDir::Files).size(), 10);
        QCOMPARE(ui.steps, 10);
        QCOMPARE(ui.captions.mid(1, 2), QStringList({"Фирмы", "Элементы"}));
        QCOMPARE(shell(data + "/CRFOLDERS.DB",
                       "select group_concat(name, ' ') from (select name from sqlite_master "
                       "where type = 'index' order by name)"),
                 QString("Firm Folder Item"));
        QCOMPARE(shell(data + "/GRPFRM.DB",
                       "select group_concat(name) from pragma_index_info('Primary')"),
                 QString("FirmID,GroupID"));
        // A second check changes nothing and still succeeds.
        QVERIFY(verifyDirectory(findDescriptionFile("base.ini"), data, false, false, ui));
        QVERIFY(ui.messages.isEmpty());
    }

    void alteringKeepsValuesAndLeavesUndeclaredFieldsAlone()
    {
        writeDescription({"Table: FIRMS.DB", "-----------", fieldLine("FirmID", "AutoInc", {}, "*"),
                          fieldLine("Name", "String", "240"), fieldLine("WWW", "String", "60"),
                          fieldLine("Note", "String", "20"), fieldLine("phones", "String", "60")});
        RecordingUi ui;
        QVERIFY(verifyDirectory(m_description, m_dir->path(), false, false, ui));
        for (int i = 1; i <= 300; ++i)
            sql("FIRMS.DB",
                QString("Insert Into Firms (FirmID, Name, WWW, Note, phones) Values (%1, "
                        "'Фирма %1', 'www.firm%1.example', 'заметка', '+7 %1')")
                    .arg(i));
        QFile leftover(path("TmpBase7.DB"));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();

        // WWW grows to 100; "Phones" differs from "phones" in case only: it takes its place.
        writeDescription({"Table: FIRMS.DB", "-----------", fieldLine("FirmID", "AutoInc", {}, "*"),
                          fieldLine("Name", "String", "240"), fieldLine("WWW", "String", "100"),
                          fieldLine("Phones", "String", "60")});
        QVERIFY(verifyDirectory(m_description, m_dir->path(), false, false, ui));
        QCOMPARE(shell(path("FIRMS.DB"), "select group_concat(name || ' ' || type, ', ') from "
                                         "pragma_table_info('FIRMS')"),
                 QString("FirmID AutoInc, Name CHAR(240), Note CHAR(20), WWW CHAR(100), "
                         "Phones CHAR(60)"));
        QCOMPARE(shell(path("FIRMS.DB"), "select count(*), count(distinct WWW), min(Note), "
                                         "count(distinct Phones) from FIRMS"),
                 QString("300|300|заметка|300"));
        QCOMPARE(shell(path("FIRMS.DB"), "select WWW from FIRMS where FirmID = 77"),
                 QString("www.firm77.example"));
        QVERIFY(QDir(m_dir->path()).entryList({"TmpBase*"}).isEmpty());
    }

    void aValueThatCannotBeConvertedLeavesTheTableAsItWas()
    {
        writeDescription({"Table: ITEMS.DB", "-----------", fieldLine("ItemID", "AutoInc", {}, "*"),
                          fieldLine("Code", "String", "10")});
        RecordingUi ui;
        QVERIFY(verifyDirectory(m_description, m_dir->path(), false, false, ui));
        sql("ITEMS.DB", "Insert Into Items (ItemID, Code) Values (1, '15')");
        sql("ITEMS.DB", "Insert Into Items (ItemID, Code) Values (2, 'пятнадцать')");
        writeDescription({"Table: ITEMS.DB", "-----------", fieldLine("ItemID", "AutoInc", {}, "*"),
                          fieldLine("Code", "Integer")});
        QVERIFY_THROWS_EXCEPTION(EngineError,
                                 verifyDirectory(m_description, m_dir->path(), false, false, ui));
        QCOMPARE(shell(path("ITEMS.DB"), "select group_concat(Code, ',') from ITEMS"),
                 QString("15,пятнадцать"));
        QCOMPARE(shell(path("ITEMS.DB"),
                       "select type from pragma_table_info('ITEMS') where name = 'Code'"),
                 QString("CHAR(10)"));
    }

    void packOnlyReportsAMissingTableAndGoesOn()
    {
        writeDescription(firmsDescription() + QStringList{"Table: GONE.DB", "-----------",
                                                          fieldLine("A", "Integer"),
                                                          "Table: FOLDERS.DB", "-----------",
                                                          fieldLine("FolderID", "AutoInc")});
        RecordingUi ui;
        QVERIFY(verifyDirectory(m_description, m_dir->path(), false, false, ui));
        QFile::remove(path("GONE.DB"));
        QVERIFY(verifyDirectory(m_description, m_dir->path(), false, true, ui));
        QCOMPARE(ui.messages, QStringList({"Ошибка сжатия GONE.DB"}));
        QCOMPARE(ui.steps, 6);
        QVERIFY(!QFile::exists(path("GONE.DB")));
    }

    void aMissingDescriptionIsReportedAndNothingIsDone()
    {
        RecordingUi ui;
        QVERIFY(!verifyDirectory("nowhere/none.ini", path("Data"), false, false, ui));
        QCOMPARE(ui.messages, QStringList({"File Not Found - nowhere/none.ini"}));
        QVERIFY(!QFile::exists(path("Data")));
    }
};

QTEST_GUILESS_MAIN(BaseMakerTest)
#include "tst_basemaker.moc"
