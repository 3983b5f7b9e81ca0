#include "BaseMaker.h"
#include "Csv.h"
#include "EngineError.h"
#include "Export.h"
#include "FileError.h"
#include "Import.h"
#include "RecordingUi.h"
#include "Session.h"
#include "Xlsx.h"
#include "ZipFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString description = QStringLiteral(QUILLON_SOURCE_DIR "/storage/base.ini");

// Every row of a file as Python's own readers see it: the csv module for
// CSV, zipfile and ElementTree for a workbook.
QJsonArray readByPython(const QString &path)
{
    const QString script = R"(
import csv, json, sys, zipfile, xml.etree.ElementTree as ET
p = sys.argv[1]
if p.endswith('.xlsx'):
    ns = {'m': 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'}
    root = ET.fromstring(zipfile.ZipFile(p).read('xl/worksheets/sheet1.xml'))
    rows = [[''.join(t.text or '' for t in c.iter('{%s}t' % ns['m'])) or
             (c.findtext('m:v', '', ns)) for c in r.findall('m:c', ns)]
            for r in root.iter('{%s}row' % ns['m'])]
else:
    with open(p, encoding='utf-8-sig', newline='') as f:
        rows = list(csv.reader(f, delimiter=';'))
print(json.dumps(rows))
)";
    QProcess python;
    python.start("python3", {"-c", script, path});
    python.waitForFinished(30000);
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QStringList row(const QJsonArray &rows, int index)
{
    QStringList values;
    for (const QJsonValue &v : rows[index].toArray())
        values.append(v.toString());
    return values;
}

QString one(Session &session, const QString &sql)
{
    Statement s = session.prepare(sql);
    return s.step() ? s.value(0).toString() : QString();
}

} // namespace

class ExchangeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Session> m_session;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    void write(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    Import::Options firmOptions(const TextTable &table)
    {
        Import::Options options;
        options.mapping =
            Import::guessMapping(table.header, Import::textFields(*m_session, options.target));
        return options;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        RecordingUi ui;
        QVERIFY(BaseMaker::verifyDirectory(description, path("Data"), false, false, ui));
        m_session = std::make_unique<Session>(path("Data"));
        m_session->execute("INSERT INTO Firms (FirmID, Name, Address, Phones, GroupID) VALUES "
                           "(1, 'Ёлка и Ко', 'Москва; ул. \"Тверская\"\nдом 1', ' +7 495 ', 3), "
                           "(2, 'Acme <b>&</b>', NULL, NULL, 0), (3, 'Берёза', 'Тверь', NULL, 0)");
        m_session->execute("INSERT INTO GrpFrm (FirmID, GroupID) VALUES (1, 3)");
    }

    void exportsOpenInOtherProgramsWithTextIntact_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("csv") << "firms.csv";
        QTest::newRow("xlsx") << "firms.xlsx";
    }
    void exportsOpenInOtherProgramsWithTextIntact()
    {
        QFETCH(QString, file);
        const QString select =
            Export::selectFor({"Select * From Firms", "", "", "order by name"}, true);
        QCOMPARE(
            Export::rows(*m_session, select, path(file), Export::formatOf(path(file)), "Фирмы"), 3);
        const QJsonArray rows = readByPython(path(file));
        QCOMPARE(rows.size(), 4);
        QCOMPARE(row(rows, 0).mid(0, 5),
                 QStringList({"FirmID", "Name", "Sinonyms", "Description", "Address"}));
        // Latin before Cyrillic, Ё beside Е: the list's own order.
        QCOMPARE(row(rows, 1)[1], QString("Acme <b>&</b>"));
        QCOMPARE(row(rows, 2)[1], QString("Берёза"));
        QCOMPARE(row(rows, 3)[1], QString("Ёлка и Ко"));
        QCOMPARE(row(rows, 3)[4], QString("Москва; ул. \"Тверская\"\nдом 1"));
        QCOMPARE(row(rows, 3)[7], QString(" +7 495 "));
        QCOMPARE(row(rows, 3)[0], QString("1"));
    }

    // "As shown" keeps the list's condition; "whole" drops it.
    void exportsTheListAsShownOrWhole()
    {
        const QStringList shown = {"Select * From Firms",
                                   " Where  FirmID in (Select FirmID From GrpFrm Where GroupID=3)",
                                   "", "order by name"};
        QCOMPARE(Export::rows(*m_session, Export::selectFor(shown, false), path("a.csv"),
                              Export::Format::Csv, "x"),
                 1);
        QCOMPARE(Export::rows(*m_session, Export::selectFor(shown, true), path("b.csv"),
                              Export::Format::Csv, "x"),
                 3);
        QFile csv(path("a.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QVERIFY(csv.readAll().startsWith("\xEF\xBB\xBF"
                                         "FirmID;Name;"));
    }

    void vCardEscapesAndFolds()
    {
        const QMap<QString, QString> firm = {{"Name", "ООО «Ромашка», филиал; юг"},
                                             {"Address", QString(60, QChar(0x0416))},
                                             {"Email", "info@romashka.ru"},
                                             {"Phones", ""}};
        const QByteArray card = Export::vCard([&](const QString &f) { return firm.value(f); });
        QVERIFY(card.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\n"));
        QVERIFY(card.contains(QString("FN:ООО «Ромашка»\\, филиал\\; юг\r\n").toUtf8()));
        QVERIFY(card.contains("EMAIL;TYPE=INTERNET:info@romashka.ru\r\n"));
        QVERIFY(!card.contains("TEL"));
        for (const QByteArray &line : card.split('\n')) {
            QVERIFY(line.size() <= 76);
            QVERIFY(QString::fromUtf8(line).toUtf8() == line); // never split inside a letter
        }
        QVERIFY(card.endsWith("END:VCARD\r\n"));
    }

    void readsCsvInEitherEncoding()
    {
        const QString text = "Название;Адрес;Телефоны\r\n\"Дуб; и сын\";\"в две\nстроки\";1\r\n";
        write("utf8.csv", text.toUtf8());
        QStringEncoder cp1251("windows-1251");
        write("cp1251.csv", cp1251(text));
        for (const char *file : {"utf8.csv", "cp1251.csv"}) {
            const TextTable table = Csv::read(path(file));
            QCOMPARE(table.header, QStringList({"Название", "Адрес", "Телефоны"}));
            QCOMPARE(table.rows, QList<QStringList>({{"Дуб; и сын", "в две\nстроки", "1"}}));
        }
        QCOMPARE(Csv::parse("a,b\n1,2\n").rows.front(), QStringList({"1", "2"}));
        ReadLimits tight;
        tight.maxRows = 2;
        QVERIFY_THROWS_EXCEPTION(FileError, Csv::parse("a\n1\n2\n3\n4\n", tight));
    }

    // Duplicates (in the catalogue or earlier in the file), over-long texts and empty names.
    void importPlansThenWritesAtOnce()
    {
        const QString longName = QString(300, QChar(0x042F));
        QStringEncoder cp1251("windows-1251");
        write("in.csv", cp1251(QString("Название;Адрес;Прочее\r\n"
                                       "Дуб;Тула;x\r\n"
                                       "ЁЛКА И КО;Новый адрес;x\r\n"
                                       ";Без имени;x\r\n" +
                                       longName +
                                       ";;x\r\n"
                                       "дуб;Тула 2;x\r\n")));
        const TextTable table = Import::readFile(path("in.csv"));
        Import::Options options = firmOptions(table);
        QCOMPARE(options.mapping, (QMap<QString, int>{{"Name", 0}, {"Address", 1}}));
        options.folderId = 7;
        options.groupId = 5;

        Import::Plan plan = Import::plan(*m_session, table, options);
        QCOMPARE(plan.added, 2);
        QCOMPARE(plan.existing, 2);
        QCOMPARE(plan.cutValues, 1);
        QCOMPARE(plan.refused, (QList<std::pair<int, QString>>{{4, "пустое название"}}));
        const QList<qint64> keys = Import::run(*m_session, table, options, plan);
        QCOMPARE(keys, (QList<qint64>{4, 5}));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("5"));
        QCOMPARE(one(*m_session, "SELECT Address FROM Firms WHERE FirmID = 1"),
                 QString("Москва; ул. \"Тверская\"\nдом 1"));
        QCOMPARE(one(*m_session, "SELECT length(Name) FROM Firms WHERE FirmID = 5"),
                 QString("240"));
        QCOMPARE(one(*m_session, "SELECT group_concat(FolderID || '/' || FirmID || '/' || ItemID) "
                                 "FROM CrFolders"),
                 QString("7/4/0,7/5/0"));
        QCOMPARE(one(*m_session, "SELECT group_concat(FirmID) FROM GrpFrm WHERE GroupID = 5"),
                 QString("4,5"));
        QCOMPARE(one(*m_session, "SELECT GroupID FROM Firms WHERE FirmID = 4"), QString("5"));

        // Updating: the file's later "дуб" and "ЁЛКА И КО" update; an empty cell keeps the value.
        options.updateExisting = true;
        options.folderId = options.groupId = 0;
        plan = Import::plan(*m_session, table, options);
        QCOMPARE(plan.added, 0);
        QCOMPARE(plan.existing, 4);
        Import::run(*m_session, table, options, plan);
        QCOMPARE(one(*m_session, "SELECT Address FROM Firms WHERE FirmID = 1"),
                 QString("Новый адрес"));
        QCOMPARE(one(*m_session, "SELECT Address FROM Firms WHERE FirmID = 4"), QString("Тула 2"));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("5"));
    }

    void importInsideTheFileIsOneRecordPerName()
    {
        write("twice.csv", "Name\r\nKlen\r\nKLEN\r\n");
        const TextTable table = Import::readFile(path("twice.csv"));
        Import::Options options = firmOptions(table);
        options.updateExisting = true;
        Import::Plan plan = Import::plan(*m_session, table, options);
        QCOMPARE(plan.added, 1);
        QCOMPARE(plan.existing, 1);
        Import::run(*m_session, table, options, plan);
        QCOMPARE(one(*m_session, "SELECT group_concat(Name) FROM Firms WHERE FirmID > 3"),
                 QString("KLEN"));
    }

    // One file imported by two programs at once: the second, once it holds
    // the write lock, sees what the first added and adds nothing again.
    void twoImportsAtOnceAddEachNameOnce()
    {
        write("same.csv", "Name\r\nКлён Новый\r\nЯсень Новый\r\n");
        const TextTable table = Import::readFile(path("same.csv"));
        const Import::Options options = firmOptions(table);
        Session other(m_session->directory());
        Import::Plan first = Import::plan(*m_session, table, options);
        Import::Plan second = Import::plan(other, table, options);
        QCOMPARE(second.added, 2);
        Import::run(*m_session, table, options, first);
        QVERIFY(Import::run(other, table, options, second).isEmpty());
        QCOMPARE(second.added, 0);
        QCOMPARE(second.existing, 2);
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("5"));
    }

    void cancelledImportChangesNothing()
    {
        TextTable table{{"Name"}, {}};
        for (int i = 0; i < 20000; ++i)
            table.rows.append({QString("Фирма %1").arg(i)});
        Import::Options options = firmOptions(table);
        options.folderId = 1;
        Import::Plan plan = Import::plan(*m_session, table, options);
        QVERIFY_THROWS_EXCEPTION(
            EAbort, Import::run(*m_session, table, options, plan, [](double) { return false; }));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("3"));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM CrFolders"), QString("0"));
        QCOMPARE(one(*m_session, "PRAGMA FIRMS.user_version"), QString("0"));
    }

    void readsWorkbooksWithinLimits()
    {
        // A workbook as office programs write it: shared strings and cell references.
        const QByteArray ns = "http://schemas.openxmlformats.org/";
        ZipWriter book(path("shared.xlsx"));
        book.addData(
            "xl/_rels/workbook.xml.rels",
            "<Relationships><Relationship Id=\"r1\" Type=\"" + ns +
                "officeDocument/2006/relationships/worksheet\" Target=\"worksheets/a.xml\"/>"
                "<Relationship Id=\"r2\" Type=\"" +
                ns +
                "officeDocument/2006/relationships/sharedStrings\" "
                "Target=\"sharedStrings.xml\"/></Relationships>");
        book.addData("xl/workbook.xml", "<workbook xmlns:r=\"" + ns +
                                            "officeDocument/2006/relationships\"><sheets><sheet "
                                            "name=\"Лист\" r:id=\"r1\"/></sheets></workbook>");
        book.addData("xl/sharedStrings.xml",
                     QString("<sst><si><t>Название</t></si><si><r><t>Дуб</t></r><r><t> и "
                             "сын</t></r></si></sst>")
                         .toUtf8());
        book.addData("xl/worksheets/a.xml",
                     "<worksheet><sheetData><row r=\"1\"><c r=\"B1\" t=\"s\"><v>0</v></c></row>"
                     "<row r=\"3\"><c r=\"B3\" t=\"s\"><v>1</v></c><c r=\"C3\"><v>42</v></c></row>"
                     "</sheetData></worksheet>");
        book.commit();
        const TextTable table = Xlsx::read(path("shared.xlsx"));
        QCOMPARE(table.header, QStringList({"", "Название"}));
        QCOMPARE(table.rows, QList<QStringList>({{"", "Дуб и сын", "42"}}));

        // A small file that unpacks to far more than allowed is refused, not unpacked.
        ZipWriter bomb(path("bomb.xlsx"));
        bomb.addData("xl/_rels/workbook.xml.rels", QByteArray(64 << 20, ' '));
        bomb.commit();
        QVERIFY(QFileInfo(path("bomb.xlsx")).size() < 1 << 20);
        ReadLimits limits;
        limits.maxPartBytes = 1 << 20;
        try {
            Xlsx::read(path("bomb.xlsx"), limits);
            QFAIL("the bomb was read");
        } catch (const FileError &e) {
            QVERIFY2(e.message().contains("больше допустимого размера"), qPrintable(e.message()));
        }
        QVERIFY_THROWS_EXCEPTION(FileError, Xlsx::read(path("in.csv")));
    }
};

QTEST_GUILESS_MAIN(ExchangeTest)
#include "tst_exchange.moc"
