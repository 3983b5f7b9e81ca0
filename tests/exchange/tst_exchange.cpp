#include "BaseMaker.h"
#include "Csv.h"
#include "EngineError.h"
#include "Export.h"
#include "FileError.h"
#include "Import.h"
#include "RecordingUi.h"
#include "Session.h"
#include "Sheets.h"
#include "Xlsx.h"
#include "ZipFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString description = QStringLiteral(QUILLON_SOURCE_DIR "/storage/base.ini");
const QByteArray ns = "http://schemas.openxmlformats.org/";
// Debian's own Python, where python3-openpyxl and python3-xlwt are installed.
const QString debianPython = QStringLiteral("/usr/bin/python3");

// Every row of a file as programs no one here wrote see it: Python's csv
// module for CSV, openpyxl for a workbook (with its header's look).
QJsonObject readByPython(const QString &path)
{
    const QString script = R"(
import csv, json, sys
p = sys.argv[1]
out = {}
if p.endswith('.xlsx'):
    import openpyxl
    sheet = openpyxl.load_workbook(p).active
    out['rows'] = [['' if c.value is None else str(c.value) for c in r] for r in sheet.iter_rows()]
    out['frozen'] = sheet.freeze_panes
    out['bold'] = all(c.font.bold for c in sheet[1])
    out['widths'] = [sheet.column_dimensions[chr(65 + i)].width for i in range(sheet.max_column)]
else:
    with open(p, encoding='utf-8-sig', newline='') as f:
        out['rows'] = list(csv.reader(f, delimiter=';'))
print(json.dumps(out))
)";
    QProcess python;
    python.start(debianPython, {"-c", script, path});
    python.waitForFinished(60000);
    const QByteArray errors = python.readAllStandardError();
    if (!errors.isEmpty())
        qWarning() << errors;
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QStringList row(const QJsonObject &file, int index)
{
    QStringList values;
    for (const QJsonValue &v : file["rows"].toArray()[index].toArray())
        values.append(v.toString());
    return values;
}

QString one(Session &session, const QString &sql)
{
    Statement s = session.prepare(sql);
    return s.step() ? s.value(0).toString() : QString();
}

// A workbook of one sheet as office programs write it, with shared strings.
void writeWorkbook(const QString &path, const QByteArray &sheet, const QByteArray &shared = {})
{
    ZipWriter book(path);
    book.addData("xl/_rels/workbook.xml.rels",
                 "<Relationships><Relationship Id=\"r1\" Type=\"" + ns +
                     "officeDocument/2006/relationships/worksheet\" Target=\"worksheets/a.xml\"/>"
                     "<Relationship Id=\"r2\" Type=\"" +
                     ns +
                     "officeDocument/2006/relationships/sharedStrings\" "
                     "Target=\"sharedStrings.xml\"/></Relationships>");
    book.addData("xl/workbook.xml", "<workbook xmlns:r=\"" + ns +
                                        "officeDocument/2006/relationships\"><sheets><sheet "
                                        "name=\"Лист\" r:id=\"r1\"/></sheets></workbook>");
    book.addData("xl/sharedStrings.xml", "<sst>" + shared + "</sst>");
    book.addData("xl/worksheets/a.xml",
                 "<worksheet><sheetData>" + sheet + "</sheetData></worksheet>");
    book.commit();
}

// An OpenDocument spreadsheet with the given table rows.
void writeOds(const QString &path, const QByteArray &rows)
{
    ZipWriter book(path);
    book.addData("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
    book.addData("content.xml",
                 "<office:document-content "
                 "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                 "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                 "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body>"
                 "<office:spreadsheet><table:table table:name=\"Лист\">" +
                     rows +
                     "</table:table></office:spreadsheet></office:body>"
                     "</office:document-content>");
    book.commit();
}

QByteArray repeated(const QByteArray &piece, int times)
{
    QByteArray all;
    all.reserve(piece.size() * times);
    for (int i = 0; i < times; ++i)
        all += piece;
    return all;
}

QString cp1251(const QString &text)
{
    QStringEncoder encoder("windows-1251");
    return QString::fromLatin1(encoder(text));
}

} // namespace

using Rows = QList<QStringList>;
using Damage = QHash<int, QString>;

class ExchangeTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Session> m_session;
    ReadLimits m_limits;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(file.fileName()));
        file.write(bytes);
        return file.fileName();
    }

    Import::Options firmOptions(const TextTable &table)
    {
        Import::Options options;
        options.mapping = Import::guessMapping(options.target, table.header,
                                               Import::textFields(*m_session, options.target));
        return options;
    }

    void importAll(const QString &file)
    {
        const TextTable table = Import::readFile(file, m_limits);
        const Import::Options options = firmOptions(table);
        Import::Plan plan = Import::plan(*m_session, table, options);
        Import::run(*m_session, table, options, plan);
    }

    // Every firm's fields, types and folders, by name.
    QString firmsAsText()
    {
        return one(
            *m_session,
            "SELECT group_concat(line, '|') FROM (SELECT Name || ';' || ifnull(Sinonyms, '') "
            "|| ';' || ifnull(Address, '') || ';' || ifnull(Phones, '') || ';' || "
            "ifnull(Email, '') || ';' || (SELECT ifnull(group_concat(GroupID), '') FROM "
            "(SELECT GroupID FROM GrpFrm G WHERE G.FirmID = F.FirmID ORDER BY GroupID)) "
            "|| ';' || (SELECT ifnull(group_concat(FolderID), '') FROM (SELECT FolderID "
            "FROM CrFolders C WHERE C.FirmID = F.FirmID ORDER BY FolderID)) AS line "
            "FROM Firms F ORDER BY Name)");
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        RecordingUi ui;
        QVERIFY(BaseMaker::verifyCatalogue(description, path("Data"), false, false, ui));
        m_session = Session::open(path("Data"));
        m_session->execute(
            "INSERT INTO Firms (FirmID, Name, Sinonyms, Address, Phones, Email, GroupID) VALUES "
            "(1, 'Ёлка и Ко', '=1+2', 'Москва; ул. \"Тверская\"\nдом 1', '+7 495', "
            "'@ёлка', 3), (2, 'Acme <b>&</b>', NULL, NULL, '+7 812', NULL, 0), "
            "(3, 'Берёза', '''-5', 'Тверь', NULL, NULL, 0)");
        m_session->execute("INSERT INTO GrFirms (GroupID, UpGroupID, Description) VALUES "
                           "(1, 0, 'Поставщики'), (2, 1, 'Металл'), (3, 0, 'Металл')");
        m_session->execute("INSERT INTO GrpFrm (FirmID, GroupID) VALUES (1, 3), (1, 2), (3, 1)");
        m_session->execute("INSERT INTO Folders (FolderID, Description) VALUES (1, 'Москва'), "
                           "(2, 'Срочно')");
        m_session->execute(
            "INSERT INTO CrFolders (FolderID, FirmID, ItemID) VALUES (1, 1, 0), (2, 1, 0)");
        m_limits = ReadLimits();
        m_limits.xlsProgram = QStringLiteral(QUILLON_PROGRAM);
    }

    // The columns a user reads in the editors, no keys, the types and folders
    // as lists; what a spreadsheet would run as a formula is neutralised in
    // CSV only. Read by programs no one here wrote.
    void exportsReadAsTheEditorsShow_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("csv") << "firms.csv";
        QTest::newRow("xlsx") << "firms.xlsx";
    }
    void exportsReadAsTheEditorsShow()
    {
        QFETCH(QString, file);
        const QString select =
            Export::selectFor({"Select * From Firms", "", "", "order by name"}, true);
        QCOMPARE(Export::rows(*m_session, ListTarget::Firms, select, path(file),
                              Export::formatOf(path(file))),
                 3);
        const QJsonObject read = readByPython(path(file));
        QCOMPARE(read["rows"].toArray().size(), 4);
        QCOMPARE(row(read, 0),
                 QStringList({"Наименование", "Другие названия", "Описание", "Тип фирмы", "Адрес",
                              "Телефон", "e-mail", "WWW", "Папки"}));
        // Latin before Cyrillic, Ё beside Е: the list's own order.
        QCOMPARE(row(read, 1)[0], QString("Acme <b>&</b>"));
        QCOMPARE(row(read, 2)[0], QString("Берёза"));
        const QStringList elka = row(read, 3);
        QCOMPARE(elka[0], QString("Ёлка и Ко"));
        QCOMPARE(elka[3], QString("Металл; Поставщики / Металл"));
        QCOMPARE(elka[4], QString("Москва; ул. \"Тверская\"\nдом 1"));
        QCOMPARE(elka[8], QString("Москва; Срочно"));
        const bool csv = file.endsWith(".csv");
        QCOMPARE(elka[5], csv ? QString("'+7 495") : QString("+7 495"));
        QCOMPARE(elka[1], csv ? QString("'=1+2") : QString("=1+2"));
        QCOMPARE(elka[6], csv ? QString("'@ёлка") : QString("@ёлка"));
        QCOMPARE(row(read, 2)[1], csv ? QString("''-5") : QString("'-5"));
        if (!csv) {
            QCOMPARE(read["frozen"].toString(), QString("A2"));
            QVERIFY(read["bold"].toBool());
            const QJsonArray widths = read["widths"].toArray();
            // "Москва; ул. "Тверская"" is the longest line of the address column.
            QCOMPARE(widths[4].toDouble(), 24.0);
            QCOMPARE(widths[7].toDouble(), 8.0);
        }
    }

    // Export, then import into the catalogue emptied of its firms, gives back
    // every value, type and folder.
    void exportThenImportGivesTheSameValues_data() { exportsReadAsTheEditorsShow_data(); }
    void exportThenImportGivesTheSameValues()
    {
        QFETCH(QString, file);
        const QString before = firmsAsText();
        Export::rows(*m_session, ListTarget::Firms,
                     Export::selectFor({"Select * From Firms order by name"}, true), path(file),
                     Export::formatOf(path(file)));
        m_session->execute("DELETE FROM Firms");
        m_session->execute("DELETE FROM GrpFrm");
        m_session->execute("DELETE FROM CrFolders");
        importAll(path(file));
        QCOMPARE(firmsAsText(), before);
    }

    // The same, through a spreadsheet program no one here wrote: LibreOffice
    // turns the export into XLS and ODS, and those are imported.
    void libreOfficeFilesImportToTheSameValues_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("xls") << "xls";
        QTest::newRow("ods") << "ods";
    }
    void libreOfficeFilesImportToTheSameValues()
    {
        QFETCH(QString, kind);
        if (QStandardPaths::findExecutable("soffice").isEmpty())
            QSKIP("LibreOffice is not installed here");
        const QString before = firmsAsText();
        Export::rows(*m_session, ListTarget::Firms,
                     Export::selectFor({"Select * From Firms order by name"}, true),
                     path("firms.xlsx"), Export::Format::Xlsx);
        QProcess office;
        office.setWorkingDirectory(path(""));
        office.start("soffice", {"-env:UserInstallation=file://" + path("office-profile"),
                                 "--headless", "--convert-to", kind, path("firms.xlsx")});
        QVERIFY(office.waitForFinished(180000));
        QVERIFY2(QFile::exists(path("firms." + kind)), office.readAllStandardError().constData());
        QCOMPARE(Sheets::kindOf(path("firms." + kind)),
                 kind == "xls" ? Sheets::Kind::Xls : Sheets::Kind::Ods);
        m_session->execute("DELETE FROM Firms");
        m_session->execute("DELETE FROM GrpFrm");
        m_session->execute("DELETE FROM CrFolders");
        importAll(path("firms." + kind));
        QCOMPARE(firmsAsText(), before);
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

    // Text files as people and programs write them, hostile ones among them:
    // each is read correctly, or its bad rows are marked with the reason;
    // rows are numbered by the file's lines.
    void readsTextFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QList<int>>("lines");
        QTest::addColumn<Damage>("damaged");

        const QString text = "Название;Адрес\r\n\"Дуб; и сын\";\"в две\nстроки\"\r\n\r\nКлён;5\r\n";
        const Rows both = {{"Дуб; и сын", "в две\nстроки"}, {"Клён", "5"}};
        QTest::newRow("utf-8, quoted line break, blank line")
            << text.toUtf8() << both << QList<int>{2, 5} << Damage();
        QTest::newRow("windows-1251")
            << cp1251(text).toLatin1() << both << QList<int>{2, 5} << Damage();
        QStringEncoder le(QStringEncoder::Utf16LE), be(QStringEncoder::Utf16BE);
        QTest::newRow("utf-16le with mark")
            << "\xFF\xFE" + QByteArray(le(text)) << both << QList<int>{2, 5} << Damage();
        QTest::newRow("utf-16le without mark")
            << QByteArray(le(text)) << both << QList<int>{2, 5} << Damage();
        QTest::newRow("utf-16be with mark")
            << "\xFE\xFF" + QByteArray(be(text)) << both << QList<int>{2, 5} << Damage();
        // One byte of another encoding spoils its own line, not the whole file.
        QTest::newRow("one bad byte in utf-8")
            << QString("Название\nДуб\nКл").toUtf8() + "\xFF" + QString("н\nЯсень\n").toUtf8()
            << Rows{{"Дуб"}, {"Кл\uFFFDн"}, {"Ясень"}} << QList<int>{2, 3, 4}
            << Damage{{1, "в строке 3 есть байты, которые не читаются в кодировке файла"}};
        QTest::newRow("quote never closed")
            << QString("Название;Адрес\nДуб;\"Тула\nКлён;Тверь\n").toUtf8()
            << Rows{{"Дуб", "\"Тула"}, {"Клён", "Тверь"}} << QList<int>{2, 3}
            << Damage{{0, "кавычка в строке 2 не закрыта"}};
        QTest::newRow("byte-order mark inside")
            << QString("\uFEFFНазвание\n\uFEFFДуб\n\uFEFF\"Клён\"\n").toUtf8()
            << Rows{{"Дуб"}, {"Клён"}} << QList<int>{2, 3} << Damage();
        QTest::newRow("nul in a value")
            << QByteArray("Name;Phones\nKlen;1\0002\nDub;3\n", 27)
            << Rows{{"Klen", QString("1") + QChar(0) + "2"}, {"Dub", "3"}} << QList<int>{2, 3}
            << Damage{{0, "в значении есть нулевой символ (NUL)"}};
        QTest::newRow("excel's sep line, neutralised formulas")
            << QByteArray("sep=,\nName,Phones\n'=1+2,'+7 1\n''-x,'plain\n")
            << Rows{{"=1+2", "+7 1"}, {"'-x", "'plain"}} << QList<int>{3, 4} << Damage();
    }
    void readsTextFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Rows, rows);
        QFETCH(QList<int>, lines);
        QFETCH(Damage, damaged);
        const TextTable table = Import::readFile(write("in.csv", bytes), m_limits);
        QCOMPARE(table.header.size(), rows.front().size());
        QCOMPARE(table.rows, rows);
        QCOMPARE(table.lines, lines);
        QCOMPARE(table.damaged, damaged);
    }

    // Workbooks and files that ask for far more memory or time than their size
    // suggests are refused with the reason, without being read to the end.
    void refusesHostileFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<QByteArray>("shared");
        QTest::addColumn<QString>("reason");

        QTest::newRow("a million one-cell rows far to the right")
            << "rows.xlsx" << repeated("<row><c r=\"IV1\"><v>1</v></c></row>", 1'000'000)
            << QByteArray() << "в таблице больше 4000000 ячеек";
        QTest::newRow("five million empty shared strings")
            << "shared.xlsx" << QByteArray() << repeated("<si/>", 5'000'000)
            << "в таблице больше 4000000 ячеек";
        QTest::newRow("one long shared string everywhere")
            << "long.xlsx" << repeated("<row><c t=\"s\"><v>0</v></c></row>", 250)
            << "<si><t>" + QByteArray(1 << 20, 'x') + "</t></si>"
            << "в таблице больше 67108864 символов текста";
        QTest::newRow("more columns than a sheet may have")
            << "wide.xlsx" << QByteArray("<row><c r=\"ZZZ1\"><v>1</v></c></row>") << QByteArray()
            << "в таблице больше 256 столбцов";
        QTest::newRow("ods rows repeated a million times")
            << "rows.ods"
            << QByteArray("<table:table-row table:number-rows-repeated=\"16000000\">"
                          "<table:table-cell table:number-columns-repeated=\"200\"><text:p>x"
                          "</text:p></table:table-cell></table:table-row>")
            << QByteArray() << "в таблице больше 4000000 ячеек";
        QTest::newRow("zip bomb") << "bomb.xlsx" << QByteArray(64 << 20, ' ') << QByteArray()
                                  << "больше допустимого размера";
        QTest::newRow("a picture")
            << "picture.csv"
            << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + QByteArray(200, '\0')
            << QByteArray() << "читаются таблицы CSV (текст), XLSX, XLS и ODS";
        QTest::newRow("a web page")
            << "page.xls" << QByteArray("<html><table><tr><td>1") << QByteArray()
            << "читаются таблицы CSV (текст), XLSX, XLS и ODS";
        QTest::newRow("a document zip") << "letter.docx" << QByteArray() << QByteArray()
                                        << "читаются таблицы CSV (текст), XLSX, XLS и ODS";
        QTest::newRow("an ole file that is no workbook")
            << "old.xls" << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1garbage", 15)
            << QByteArray() << "не является книгой Excel 97–2003";
    }
    void refusesHostileFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, sheet);
        QFETCH(QByteArray, shared);
        QFETCH(QString, reason);
        if (name == "bomb.xlsx")
            m_limits.maxPartBytes = 1 << 20;
        if (name.endsWith(".ods")) {
            writeOds(path(name), sheet);
        } else if (name == "letter.docx") {
            ZipWriter document(path(name));
            document.addData("word/document.xml", "<w:document/>");
            document.commit();
        } else if (name.endsWith(".xlsx")) {
            writeWorkbook(path(name), sheet, shared);
        } else {
            write(name, sheet);
        }
        QVERIFY(QFileInfo(path(name)).size() < 2 << 20);
        QElapsedTimer clock;
        clock.start();
        try {
            Import::readFile(path(name), m_limits);
            QFAIL("the file was read");
        } catch (const FileError &e) {
            QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
        }
        qInfo("%s refused in %lld ms", qPrintable(name), clock.elapsed());
    }

    // Workbooks read as their programs show them: shared strings and cell
    // references, a shared string that is not there marks its row; an ODS
    // sheet's repeats, spaces and paragraphs; an XLS read in its own process.
    void readsWorkbooks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("header");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QList<int>>("lines");
        QTest::addColumn<Damage>("damaged");

        QTest::newRow("xlsx")
            << "book.xlsx"
            << QByteArray("<row r=\"1\"><c r=\"B1\" t=\"s\"><v>0</v></c></row>"
                          "<row r=\"3\"><c r=\"B3\" t=\"s\"><v>1</v></c><c r=\"C3\"><v>42</v></c>"
                          "</row><row r=\"4\"><c r=\"B4\" t=\"s\"><v>7</v></c></row>"
                          "<row r=\"5\"><c r=\"B5\" t=\"inlineStr\"><is><t>Клён</t></is></c></row>")
            << QStringList{"", "Название"} << Rows{{"", "Дуб и сын", "42"}, {}, {"", "Клён"}}
            << QList<int>{3, 4, 5}
            << Damage{{1, "ячейка ссылается на общую строку 7, которой в книге нет"}};
        QTest::newRow("xlsx rows numbered past a sheet's end")
            << "end.xlsx"
            << QByteArray("<row r=\"2147483647\"><c t=\"inlineStr\"><is><t>A</t></is></c></row>"
                          "<row><c t=\"inlineStr\"><is><t>B</t></is></c></row>")
            << QStringList{"A"} << Rows{{"B"}} << QList<int>{2147483647} << Damage();
        QTest::newRow("ods")
            << "book.ods"
            << QByteArray("<table:table-row><table:table-cell><text:p>Название</text:p>"
                          "</table:table-cell><table:table-cell><text:p>Адрес</text:p>"
                          "</table:table-cell><table:table-cell "
                          "table:number-columns-repeated=\"1020\"/></table:table-row>"
                          "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell>"
                          "<text:p>Дуб<text:s text:c=\"2\"/>и сын</text:p></table:table-cell>"
                          "<table:table-cell><text:p>Тула</text:p><text:p>дом 1</text:p>"
                          "</table:table-cell></table:table-row>"
                          "<table:table-row table:number-rows-repeated=\"1048000\">"
                          "<table:table-cell table:number-columns-repeated=\"1024\"/>"
                          "</table:table-row>")
            << QStringList{"Название", "Адрес"}
            << Rows{{"Дуб  и сын", "Тула\nдом 1"}, {"Дуб  и сын", "Тула\nдом 1"}}
            << QList<int>{2, 3} << Damage();
        QTest::newRow("xls") << "book.xls" << QByteArray() << QStringList{"Название", "Цена"}
                             << Rows{{"Шайбы", "12.5"}, {"Gaskets", "40"}} << QList<int>{2, 3}
                             << Damage();
    }
    void readsWorkbooks()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, header);
        QFETCH(Rows, rows);
        QFETCH(QList<int>, lines);
        QFETCH(Damage, damaged);
        if (name.endsWith(".xlsx")) {
            writeWorkbook(path(name), content,
                          QString("<si><t>Название</t></si><si><r><t>Дуб</t></r><r><t> и "
                                  "сын</t></r><rPh><t>ダ</t></rPh></si>")
                              .toUtf8());
        } else if (name.endsWith(".ods")) {
            writeOds(path(name), content);
        } else {
            QProcess python;
            python.start(debianPython, {"-c", R"(
import sys, xlwt
book = xlwt.Workbook(encoding='utf-8')
sheet = book.add_sheet('Лист')
for r, row in enumerate([('Название', 'Цена'), ('Шайбы', 12.5), ('Gaskets', 40)]):
    for c, value in enumerate(row):
        sheet.write(r, c, value)
book.save(sys.argv[1])
)",
                                        path(name)});
            QVERIFY(python.waitForFinished(30000) && python.exitCode() == 0);
        }
        const TextTable table = Import::readFile(path(name), m_limits);
        QCOMPARE(table.header, header);
        QCOMPARE(table.rows, rows);
        QCOMPARE(table.lines, lines);
        QCOMPARE(table.damaged, damaged);
    }

    // The editors' labels, the fields' own names and what people write instead.
    void recognisesHeaders()
    {
        const QList<Import::TextField> fields =
            Import::textFields(*m_session, Import::Target::Firms);
        const QMap<QString, int> mapping =
            Import::guessMapping(Import::Target::Firms,
                                 {"НАИМЕНОВАНИЕ", "Почта", "сайт", "Тел.", "Другие названия",
                                  "Описание:", "Тип фирмы", "Папки", "Name", "E-Mail", "Прочее"},
                                 fields);
        QCOMPARE(mapping, (QMap<QString, int>{{"Name", 0},
                                              {"Email", 1},
                                              {"WWW", 2},
                                              {"Phones", 3},
                                              {"Sinonyms", 4},
                                              {"Description", 5},
                                              {"@types", 6},
                                              {"@folders", 7}}));
        // An item has no address: the header names nothing there.
        QVERIFY(!Import::guessMapping(Import::Target::Items, {"Адрес"},
                                      Import::textFields(*m_session, Import::Target::Items))
                     .contains("Address"));
    }

    void cutNeverSplitsACharacter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("cut");
        QTest::newRow("plain") << "Берёза" << 3 << "Бер";
        QTest::newRow("beyond the basic plane") << "ab\U0001F600c" << 3 << "ab";
        QTest::newRow("a letter and its accent") << "Бере\u0308за" << 4 << "Бер";
        QTest::newRow("short enough") << "Дуб" << 240 << "Дуб";
    }
    void cutNeverSplitsACharacter()
    {
        QFETCH(QString, text);
        QFETCH(int, size);
        QFETCH(QString, cut);
        QCOMPARE(Import::cutToSize(text, size), cut);
    }

    // Duplicates (in the catalogue or earlier in the file), over-long texts,
    // empty names, a header again and damaged rows; "Строка N" is the file's line.
    void importPlansThenWritesAtOnce()
    {
        const QString longName = QString(300, QChar(0x042F));
        write("in.csv", cp1251(QString("Название;Адрес;Прочее;Папки;Тип фирмы\r\n"
                                       "Дуб;\"Тула,\r\nцентр\";x;Срочно;Поставщики / Металл\r\n"
                                       "ЁЛКА И КО;Новый адрес;x;;\r\n"
                                       ";Без имени;x;;\r\n" +
                                       longName +
                                       ";;x;Нет такой;Металл\r\n"
                                       "дуб;Тула 2;x;;\r\n"
                                       "Название;Адрес;Прочее;Папки;Тип фирмы\r\n"))
                            .toLatin1());
        const TextTable table = Import::readFile(path("in.csv"), m_limits);
        Import::Options options = firmOptions(table);
        QCOMPARE(options.mapping,
                 (QMap<QString, int>{{"Name", 0}, {"Address", 1}, {"@folders", 3}, {"@types", 4}}));
        options.folderId = 1;
        options.groupId = 1;

        Import::Plan plan = Import::plan(*m_session, table, options);
        QCOMPARE(plan.added, 2);
        QCOMPARE(plan.existing, 2);
        QCOMPARE(plan.cutValues, 1);
        QCOMPARE(plan.refused, (QList<std::pair<int, QString>>{{5, "пустое название"},
                                                               {8, "строка повторяет заголовок"}}));
        QCOMPARE(plan.unknownNames, QStringList({"Нет такой"}));
        const QList<qint64> keys = Import::run(*m_session, table, options, plan);
        QCOMPARE(keys, (QList<qint64>{4, 5}));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("5"));
        QCOMPARE(one(*m_session, "SELECT length(Name) FROM Firms WHERE FirmID = 5"),
                 QString("240"));
        QCOMPARE(one(*m_session, "SELECT group_concat(FolderID || '/' || FirmID || '/' || ItemID) "
                                 "FROM CrFolders WHERE FirmID > 3"),
                 QString("1/4/0,2/4/0,1/5/0"));
        QCOMPARE(one(*m_session, "SELECT group_concat(FirmID || '/' || GroupID) FROM GrpFrm "
                                 "WHERE FirmID > 3"),
                 QString("4/1,4/2,5/1,5/3"));
        QCOMPARE(one(*m_session, "SELECT GroupID FROM Firms WHERE FirmID = 4"), QString("1"));

        // Updating: the file's later "дуб" and "ЁЛКА И КО" update; an empty
        // cell keeps the value; a folder already held is not given twice.
        options.updateExisting = true;
        options.folderId = options.groupId = 0;
        plan = Import::plan(*m_session, table, options);
        QCOMPARE(plan.added, 0);
        QCOMPARE(plan.existing, 4);
        Import::run(*m_session, table, options, plan);
        QCOMPARE(one(*m_session, "SELECT Address FROM Firms WHERE FirmID = 1"),
                 QString("Новый адрес"));
        QCOMPARE(one(*m_session, "SELECT Address FROM Firms WHERE FirmID = 4"), QString("Тула 2"));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM CrFolders WHERE FirmID = 4"), QString("2"));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("5"));
    }

    // One file imported by two programs at once: the second, once it holds
    // the write lock, sees what the first added and adds nothing again.
    void twoImportsAtOnceAddEachNameOnce()
    {
        write("same.csv", "Name\r\nКлён Новый\r\nЯсень Новый\r\n");
        const TextTable table = Import::readFile(path("same.csv"));
        const Import::Options options = firmOptions(table);
        const std::unique_ptr<Session> other = Session::open(m_session->location());
        Import::Plan first = Import::plan(*m_session, table, options);
        Import::Plan second = Import::plan(*other, table, options);
        QCOMPARE(second.added, 2);
        Import::run(*m_session, table, options, first);
        QVERIFY(Import::run(*other, table, options, second).isEmpty());
        QCOMPARE(second.added, 0);
        QCOMPARE(second.existing, 2);
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("5"));
    }

    void cancelledImportChangesNothing()
    {
        TextTable table{{"Name"}, {}, {}, {}};
        for (int i = 0; i < 20000; ++i)
            table.rows.append({QString("Фирма %1").arg(i)});
        Import::Options options = firmOptions(table);
        options.folderId = 1;
        Import::Plan plan = Import::plan(*m_session, table, options);
        QVERIFY_THROWS_EXCEPTION(
            EAbort, Import::run(*m_session, table, options, plan, [](double) { return false; }));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM Firms"), QString("3"));
        QCOMPARE(one(*m_session, "SELECT count(*) FROM CrFolders"), QString("2"));
        QCOMPARE(one(*m_session, "PRAGMA FIRMS.user_version"), QString("0"));
    }
};

QTEST_GUILESS_MAIN(ExchangeTest)
#include "tst_exchange.moc"
