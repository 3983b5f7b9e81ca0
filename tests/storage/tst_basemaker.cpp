#include "BaseMaker.h"
#include "Catalogue.h"
#include "EngineError.h"
#include "Query.h"
#include "RecordingUi.h"
#include "Session.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTest>

using namespace BaseMaker;
using TestCatalogue::Place;

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

    std::unique_ptr<Place> m_place;
    QString m_description;

    QString stored(const QString &table, const QString &sql) const
    {
        return m_place->stored(table, sql);
    }

    bool check(StorageUi &ui, bool packOnly = false)
    {
        return verifyCatalogue(m_description, m_place->location(), false, packOnly, ui);
    }

    void writeDescription(const QStringList &lines)
    {
        QFile file(m_description);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QStringEncoder encode("windows-1251");
        file.write(encode(lines.join("\r\n")));
    }

    void sql(const QString &text)
    {
        const std::unique_ptr<Session> session = m_place->open();
        Query query;
        query.setSession(session.get());
        query.setSql({text});
        query.execSql();
    }

    // Runs the check on a description that must be refused and returns the
    // message; a refusal that changed anything stored fails the test.
    QString refused(const QStringList &lines)
    {
        const QByteArray before = m_place->snapshot();
        writeDescription(lines);
        RecordingUi ui;
        QString message = "accepted";
        try {
            check(ui);
        } catch (const EngineError &e) {
            message = e.message();
        }
        if (m_place->snapshot() != before)
            message = "a table changed: " + message;
        return message;
    }

    // Firms whose values some declared changes cannot keep: twelve names
    // longer than five characters, group numbers 0 to 4, a code that is no
    // number, flags of 0 and 1.
    void fillLossyFirms()
    {
        writeDescription(lossyFirms({}));
        RecordingUi ui;
        QVERIFY(check(ui));
        for (int i = 1; i <= 20; ++i) {
            const QString name = i == 1    ? "Альфа Systems"
                                 : i <= 12 ? QString("Фирма %1").arg(i)
                                           : QString("Дом%1").arg(i);
            const QString code = i == 7 ? "пятнадцать" : QString::number(i * 3 - 20);
            sql(QString("Insert Into Firms (FirmID, Name, GroupID, Code, Flag) Values "
                        "(%1, '%2', %3, '%4', %5)")
                    .arg(i)
                    .arg(name)
                    .arg(i % 5)
                    .arg(code)
                    .arg(i % 2));
        }
    }

    static QStringList lossyFirms(const QMap<QString, QString> &changed)
    {
        QStringList lines{"Table: FIRMS.DB", "-----------"};
        const QList<QStringList> fields = {{"FirmID", "AutoInc", "", "*"},
                                           {"Name", "String", "240"},
                                           {"GroupID", "Integer"},
                                           {"Code", "String", "10"},
                                           {"Flag", "Integer"}};
        for (QStringList field : fields) {
            if (changed.contains(field[0]))
                field = changed[field[0]].split(' ');
            lines << fieldLine(field[0], field[1], field.value(2), field.value(3));
        }
        return lines;
    }

    QString firmValues() const
    {
        return stored("FIRMS.DB", "select FirmID || '|' || Name || '|' || CAST(GroupID AS INTEGER) "
                                  "|| '|' || Code || '|' || CAST(Flag AS INTEGER) from FIRMS "
                                  "order by CAST(FirmID AS INTEGER)");
    }

private slots:
    void init()
    {
        m_place = std::make_unique<Place>();
        m_description = m_place->scratch("base.ini");
    }

    void cleanup() { m_place.reset(); }

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

    void mistakenDescriptionsAreRefusedAndTouchNothing_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("cause");
        const QStringList firms = firmsDescription();
        const auto replaced = [&](int line, const QString &text) {
            QStringList lines = firms;
            lines[line - 1] = text;
            return lines;
        };
        const auto inserted = [&](int line, const QString &text) {
            QStringList lines = firms;
            lines.insert(line - 1, text);
            return lines;
        };
        QTest::newRow("size not a number") << firmsDescription("6O") << 6 << "размер '6O'";
        QTest::newRow("size 0") << firmsDescription("0") << 6 << "размер '0'";
        QTest::newRow("size beyond its columns")
            << replaced(6, QString("WWW").leftJustified(41) + "String     4294967296") << 6
            << "не умещается в столбцы 53-57";
        QTest::newRow("size moved into column 52")
            << replaced(6, QString("WWW").leftJustified(41) + "String    100") << 6
            << "в столбце 52";
        QTest::newRow("key mark in column 63")
            << replaced(4, fieldLine("FirmID", "AutoInc", {}, " *")) << 4 << "после столбца 62";
        for (const char *type : {"Strin", "Foo", "TEXT", "Float", "string"})
            QTest::addRow("type %s", type) << replaced(7, fieldLine("Phones", type, "60")) << 7
                                           << QString("неизвестный тип '%1'").arg(type);
        QTest::newRow("field twice")
            << inserted(8, fieldLine("WWW", "String", "60")) << 8 << "уже описано в строке 6";
        QTest::newRow("field twice, other case and type")
            << inserted(8, fieldLine("firmid", "Integer")) << 8 << "уже описано в строке 4";
        QTest::newRow("table twice") << firms + QStringList{"Table: firms.db"} + firms.mid(1) << 10
                                     << "уже описана в строке 1";
        for (const char *name : {"../OUT.DB", ".DB", "A\\B.DB", "OUT", "TmpBase1.DB", "MAIN.DB"})
            QTest::addRow("table %s", name)
                << replaced(1, QString("Table: ") + name) << 1 << "имя таблицы";
        QTest::newRow("table with a slash")
            << replaced(1, "Table: A/B.DB                      / Фирмы") << 1 << "имя таблицы";
        for (const char *name : {"rowid", "OID", "_rowid_"})
            QTest::addRow("field %s", name)
                << replaced(7, fieldLine(name, "Integer")) << 7 << "номер строки";
        for (const char *name : {"Ph\"ones", "Ph'ones", "Ph\tones", "Ph;ones"})
            QTest::addRow("field %s", name)
                << replaced(7, fieldLine(name, "Integer")) << 7 << "недопустимый знак";
        QTest::newRow("table without fields")
            << firms + QStringList{"Table: EMPTY.DB", "-----------"} << 10 << "нет ни одного поля";
        QStringList noSeparator = firms;
        noSeparator.removeAt(2);
        QTest::newRow("no separator") << noSeparator << 1 << "нет строки из дефисов";
        QTest::newRow("index without =") << (firms + QStringList{"ByPhone"}) << 10 << "'='";
        QTest::newRow("index named as the key")
            << (firms + QStringList{"primary=Phones"}) << 10 << "имя индекса";
        QTest::newRow("index over no field")
            << (firms + QStringList{"ByPhone=Phone"}) << 10 << "поле Phone, которого нет";
        QTest::newRow("fields before a table")
            << (QStringList{"-----------"} + firms) << 1 << "должно начинаться";
    }

    // Each mistake is refused with the file, the line and the cause, before
    // any table is touched: FIRMS.DB keeps its bytes and NEW.DB never appears.
    void mistakenDescriptionsAreRefusedAndTouchNothing()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, line);
        QFETCH(QString, cause);
        writeDescription(firmsDescription());
        RecordingUi ui;
        QVERIFY(check(ui));
        sql("Insert Into Firms (FirmID, Name, WWW) Values (5, 'Альфа', 'a.example')");
        const QString message =
            refused(lines + QStringList{"Table: NEW.DB", "-----------", fieldLine("A", "Integer")});
        QVERIFY2(message.startsWith(QString("%1, строка %2: ").arg(m_description).arg(line)),
                 qPrintable(message));
        QVERIFY2(message.contains(cause), qPrintable(message));
    }

    void anEmptyDirectoryGetsEveryTableKeyedAndIndexed()
    {
        RecordingUi ui;
        m_description = findDescriptionFile("base.ini");
        QVERIFY(check(ui));
        for (const TableSpec &table : readDescription(m_description).tables)
            QVERIFY2(m_place->open()->hasTable(table.name), qPrintable(table.name));
        QCOMPARE(ui.steps, 10);
        QCOMPARE(ui.captions.mid(1, 2), QStringList({"Фирмы", "Элементы"}));
        QCOMPARE(m_place->storedIndexes("CRFOLDERS.DB"), QString("Firm\nFolder\nItem"));
        QCOMPARE(m_place->storedIndexFields("GRPFRM.DB", "Primary"), QString("firmid,groupid"));
        // On a server the name index ends with the row's key: a list by name
        // reads its ordered keys from the index instead of sorting the table.
        const QString byName = m_place->onServer() ? "name,firmid" : "name";
        QCOMPARE(m_place->storedIndexFields("FIRMS.DB", "ByName"), byName);
        // A second check has nothing to change: it succeeds and writes nothing.
        m_place->open()->execute("INSERT INTO Firms (FirmID, Name) VALUES (1, 'Альфа')");
        const QByteArray before = m_place->snapshot();
        QVERIFY(check(ui));
        QVERIFY(ui.messages.isEmpty());
        QCOMPARE(m_place->snapshot(), before);
        if (!m_place->onServer())
            return;
        // A name index made without the key (an earlier version) is made again.
        stored("FIRMS.DB", "DROP INDEX \"firms.ByName\"; CREATE INDEX \"firms.ByName\" ON firms "
                           "(name NULLS FIRST)");
        QVERIFY(check(ui));
        QCOMPARE(m_place->storedIndexFields("FIRMS.DB", "ByName"), byName);
    }

    void alteringKeepsValuesAndLeavesUndeclaredFieldsAlone()
    {
        writeDescription({"Table: FIRMS.DB", "-----------", fieldLine("FirmID", "AutoInc", {}, "*"),
                          fieldLine("Name", "String", "240"), fieldLine("WWW", "String", "60"),
                          fieldLine("Note", "String", "20"), fieldLine("phones", "String", "60")});
        RecordingUi ui;
        QVERIFY(check(ui));
        for (int i = 1; i <= 300; ++i)
            sql(QString("Insert Into Firms (FirmID, Name, WWW, Note, phones) Values (%1, "
                        "'Фирма %1', 'www.firm%1.example', 'заметка', '+7 %1')")
                    .arg(i));
        QFile leftover(m_place->location() + "/TmpBase7.DB");
        if (!m_place->onServer())
            QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();

        // WWW grows to 100; "Phones" differs from "phones" in case only: it takes its place.
        writeDescription({"Table: FIRMS.DB", "-----------", fieldLine("FirmID", "AutoInc", {}, "*"),
                          fieldLine("Name", "String", "240"), fieldLine("WWW", "String", "100"),
                          fieldLine("Phones", "String", "60")});
        QVERIFY(check(ui));
        QCOMPARE(m_place->storedColumns("FIRMS.DB"),
                 QString("FirmID AutoInc\nName CHAR(240)\nNote CHAR(20)\nWWW CHAR(100)\n"
                         "Phones CHAR(60)"));
        QCOMPARE(stored("FIRMS.DB", "select count(*), count(distinct WWW), min(Note), "
                                    "count(distinct Phones) from FIRMS"),
                 QString("300|300|заметка|300"));
        QCOMPARE(stored("FIRMS.DB", "select WWW from FIRMS where FirmID = 77"),
                 QString("www.firm77.example"));
        QVERIFY(!leftover.exists());
    }

    void changesThatWouldLoseValuesAreRefused_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("message");
        QTest::newRow("text shrunk")
            << "Name String 5"
            << "строка 4: FIRMS.DB: поле Name: 12 значений длиннее 5 символов, например "
               "'Альфа Systems'";
        QTest::newRow("integers to Boolean")
            << "GroupID Boolean"
            << "строка 5: FIRMS.DB: поле GroupID: 12 значений нельзя перевести в тип Boolean без "
               "потерь, например '2'";
        QTest::newRow("text to a number")
            << "Code Integer"
            << "строка 6: FIRMS.DB: поле Code: 1 значение нельзя перевести в тип Integer без "
               "потерь, например 'пятнадцать'";
        QTest::newRow("text to a small number")
            << "Name SmallInt"
            << "поле Name: 20 значений нельзя перевести в тип SmallInt без потерь";
        QTest::newRow("auto-increment key to Boolean")
            << "FirmID Boolean  *"
            << "поле FirmID: 19 значений нельзя перевести в тип Boolean";
    }

    void changesThatWouldLoseValuesAreRefused()
    {
        QFETCH(QString, change);
        QFETCH(QString, message);
        fillLossyFirms();
        const QString before = firmValues();
        const QString field = change.section(' ', 0, 0);
        const QString refusal = refused(lossyFirms({{field, change}}));
        QVERIFY2(refusal.startsWith(m_description + ", "), qPrintable(refusal));
        QVERIFY2(refusal.contains(message), qPrintable(refusal));
        QCOMPARE(firmValues(), before);
    }

    void changesThatKeepEveryValueGoOn()
    {
        fillLossyFirms();
        const QString before = firmValues();
        writeDescription(lossyFirms({{"Name", "Name String 241"},
                                     {"GroupID", "GroupID String 1"},
                                     {"Code", "Code String 10"},
                                     {"Flag", "Flag Boolean"},
                                     {"FirmID", "FirmID Integer  *"}})
                         << fieldLine("Note", "String", "20"));
        RecordingUi ui;
        QVERIFY(check(ui));
        QCOMPARE(firmValues(), before);
        QStringList kinds;
        const std::unique_ptr<Session> session = m_place->open();
        for (const FieldDef &field : session->fields(session->tableByFile("FIRMS.DB")))
            kinds << field.name + ' ' + QString::number(int(field.kind)) + ' ' +
                         QString::number(field.size);
        QCOMPARE(kinds, QStringList({"Code 0 10", "FirmID 2 0", "Name 0 241", "GroupID 0 1",
                                     "Flag 4 0", "Note 0 20"}));
        // And back: texts that are numbers become numbers again.
        writeDescription(lossyFirms({}));
        QVERIFY(check(ui));
        QCOMPARE(firmValues(), before);
    }

    void aKeyOverRepeatedValuesIsRefusedAndTheOldKeyStays()
    {
        const auto groups = [](const QString &groupKey) {
            return QStringList{"Table: GRPFRM.DB",
                               "-----------",
                               fieldLine("FirmID", "Integer", {}, "*"),
                               fieldLine("GroupID", "Integer", {}, groupKey),
                               "[Indexes]",
                               "ByGroup=GroupID"};
        };
        writeDescription(groups("*"));
        RecordingUi ui;
        QVERIFY(check(ui));
        for (const char *pair : {"1, 1", "1, 2", "2, 1", "5, 1", "5, 2", "5, 3"})
            sql(QString("Insert Into GrpFrm (FirmID, GroupID) Values (%1)").arg(pair));
        QCOMPARE(refused(groups("")),
                 m_description + ", строка 3: GRPFRM.DB: ключ FirmID: 5 строк с повторяющимся "
                                 "значением, например '1'");
        // The next check with the right description finds the old key and index.
        writeDescription(groups("*"));
        QVERIFY(check(ui));
        QCOMPARE(m_place->storedIndexFields("GRPFRM.DB", "Primary"), QString("firmid,groupid"));
        QCOMPARE(m_place->storedIndexes("GRPFRM.DB"), QString("ByGroup\nPrimary"));
    }

    // A failure late in a table's check (here an index whose name a view of
    // the file already takes) takes back the alter and the new key with it.
    void aTableFailingHalfWayKeepsItsStructureKeyAndRows()
    {
        writeDescription(firmsDescription());
        RecordingUi ui;
        QVERIFY(check(ui));
        for (int i = 1; i <= 50; ++i)
            sql(QString("Insert Into Firms (FirmID, Name, WWW) Values (%1, 'Фирма "
                        "%1', 'www.f%1.example')")
                    .arg(i));
        // Something else takes the index's name where the table is stored.
        if (m_place->onServer())
            stored("FIRMS.DB", "create view \"firms.ByPhone\" as select 1");
        else
            stored("FIRMS.DB", "create view ByPhone as select 1");
        QStringList lines = firmsDescription("100");
        lines[3] = fieldLine("FirmID", "AutoInc");
        lines[5] = fieldLine("WWW", "String", "100", "*");
        lines << "ByPhone=Phones";
        writeDescription(lines);
        try {
            check(ui);
            QFAIL("the index was built over the view's name");
        } catch (const EngineError &e) {
            QVERIFY2(e.message().startsWith("FIRMS.DB: "), qPrintable(e.message()));
        }
        QVERIFY(m_place->storedColumns("FIRMS.DB").contains("WWW CHAR(60)"));
        QCOMPARE(stored("FIRMS.DB", "select count(*) || ' ' || sum(CASE WHEN WWW = 'www.f' || "
                                    "FirmID || '.example' THEN 1 ELSE 0 END) from FIRMS"),
                 QString("50 50"));
        QCOMPARE(m_place->storedIndexFields("FIRMS.DB", "Primary"), QString("firmid"));
    }

    // Fields left by earlier mistakes: a column named like the row number,
    // a column whose type was a typo. A check alters the table around the
    // first and mends the second, keeping the values of both.
    void fieldsLeftByMistakesKeepTheirValues()
    {
        if (m_place->onServer())
            QSKIP("a server catalogue takes no mistyped type and no field named rowid");
        sql(TestCatalogue::createStatement(
            "ODD.DB", {{"rowid", "Integer"}, {"WWW", "CHAR(60)"}, {"Kind", "Strin"}}));
        for (int i = 1; i <= 5; ++i)
            sql(QString("Insert Into Odd (rowid, WWW, Kind) Values (%1, 'w%2', 'k%2')")
                    .arg(100 - i)
                    .arg(i));
        writeDescription({"Table: ODD.DB", "-----------", fieldLine("WWW", "String", "100"),
                          fieldLine("Kind", "String", "10")});
        RecordingUi ui;
        QVERIFY(check(ui));
        QCOMPARE(stored("ODD.DB", "select group_concat(rowid || WWW || Kind, ',') from "
                                  "(select * from ODD order by WWW)"),
                 QString("99w1k1,98w2k2,97w3k3,96w4k4,95w5k5"));
        QCOMPARE(stored("ODD.DB", "select group_concat(type, ' ') from pragma_table_info('ODD')"),
                 QString("INTEGER CHAR(100) CHAR(10)"));
    }

    void packOnlyReportsAMissingTableAndGoesOn()
    {
        writeDescription(firmsDescription() + QStringList{"Table: GONE.DB", "-----------",
                                                          fieldLine("A", "Integer"),
                                                          "Table: FOLDERS.DB", "-----------",
                                                          fieldLine("FolderID", "AutoInc")});
        RecordingUi ui;
        QVERIFY(check(ui));
        m_place->removeTable("GONE.DB");
        QVERIFY(check(ui, true));
        QCOMPARE(ui.messages, QStringList({"Ошибка сжатия GONE.DB: таблица не найдена"}));
        QCOMPARE(ui.steps, 6);
        QVERIFY(!m_place->open()->hasTable("GONE.DB"));
    }

    void aMissingDescriptionIsReportedAndNothingIsDone()
    {
        RecordingUi ui;
        m_description = "nowhere/none.ini";
        QVERIFY(!check(ui));
        QCOMPARE(ui.messages, QStringList({"File Not Found - nowhere/none.ini"}));
        if (!m_place->onServer())
            QVERIFY(!QFile::exists(m_place->location()));
    }
};

QTEST_GUILESS_MAIN(BaseMakerTest)
#include "tst_basemaker.moc"
