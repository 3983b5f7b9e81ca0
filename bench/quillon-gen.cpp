// Fills a data directory with a realistic catalogue through the engine: firms
// and items with Russian and Latin names, folders, two group trees, makers and
// sellers, memberships, and attached files of several kinds packed as the
// editors pack them. `--scale F` multiplies every count; `--real-documents`
// makes the attached files real price lists (PDF, office documents, XLS, CSV,
// HTML) for the file index's benchmark.
#include "BaseMaker.h"
#include "SPacker.h"
#include "Session.h"
#include "StorageUi.h"
#include "TestDocuments.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTextStream>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

namespace {

class QuietUi : public StorageUi
{
public:
    bool confirm(const QString &) override { return false; }
    void message(const QString &text) override { QTextStream(stderr) << text << Qt::endl; }
    void setStatus(const QString &) override {}
    void startProgress(int) override {}
    void setTableCaption(const QString &) override {}
    void stepProgress() override {}
};

const QStringList firmForms = {"ООО", "ЗАО", "АО", "ИП", "ТД", "НПО", "Ltd", "GmbH", "Inc.", ""};
const QStringList firmRoots = {
    "Альфа",  "Вектор", "Сибирь", "Урал",  "Техно", "Строй",   "Мега",   "Волга",    "Нева",
    "Энерго", "Металл", "Пром",   "Агро",  "Хим",   "Электро", "Глобал", "Северный", "Южный",
    "Delta",  "Nord",   "Baltic", "Trans", "Smart", "Prime",   "Vita",   "Omega"};
const QStringList firmTails = {"сервис", "снаб", "торг",  "маш",      "комплект", "лайн", "групп",
                               "трейд",  "плюс", "центр", " Systems", " Trade",   " Tech"};
const QStringList itemKinds = {"Болт",   "Гайка",     "Шайба",     "Кабель", "Труба",
                               "Лист",   "Уголок",    "Краска",    "Клей",   "Насос",
                               "Фильтр", "Подшипник", "Двигатель", "Датчик", "Реле",
                               "Лампа",  "Bearing",   "Valve",     "Sensor", "Drill"};
const QStringList itemGrades = {"М6",        "М8",  "М10",   "оцинкованный", "нержавеющий",
                                "ВВГ 3x2.5", "ПВХ", "50 мм", "1.5 кВт",      "220 В",
                                "серый",     "Pro", "XL",    "2000"};
const QStringList cities = {
    "Москва", "Санкт-Петербург", "Новосибирск", "Екатеринбург", "Казань", "Самара",
    "Омск",   "Пермь",           "Воронеж",     "Томск"};
const QStringList streets = {"Ленина", "Мира", "Советская", "Заводская", "Садовая", "Лесная"};

class Generator
{
public:
    Generator(Session &session, double scale, bool realDocuments)
        : m_session(session), m_scale(scale), m_realDocuments(realDocuments)
    {}

    int count(int base) const { return std::max(1, int(base * m_scale)); }
    QString pick(const QStringList &list) { return list[m_random.bounded(int(list.size()))]; }
    int below(int n) { return int(m_random.bounded(n)); }

    // `sql` ends in "VALUES (?,...)": rows go a few hundred a statement, one
    // round trip each on a server.
    void insertRows(const QString &sql, int rows, const std::function<QVariantList(int)> &row)
    {
        constexpr int rowsPerStatement = 200;
        const qsizetype values = sql.lastIndexOf(QStringLiteral("VALUES"));
        const QString head = sql.left(values + 6), tuple = sql.mid(values + 6).trimmed();
        const auto statement = [&](int count) {
            return m_session.prepare(head + ' ' + QStringList(count, tuple).join(','));
        };
        Session::Transaction transaction(m_session);
        Statement full = statement(rowsPerStatement);
        for (int first = 1; first <= rows; first += rowsPerStatement) {
            const int count = std::min(rowsPerStatement, rows - first + 1);
            Statement partial;
            Statement &insert = count == rowsPerStatement ? full : (partial = statement(count));
            int index = 0;
            for (int i = first; i < first + count; ++i) {
                for (const QVariant &value : row(i))
                    insert.bind(++index, value);
            }
            insert.step();
            insert.reset();
        }
        transaction.commit();
    }

    QString firmName()
    {
        const QString form = pick(firmForms);
        const QString name = pick(firmRoots) + pick(firmTails);
        return form.isEmpty() ? name : form + QStringLiteral(" «") + name + QStringLiteral("»");
    }

    QByteArray fileBytes(const QString &extension, int size)
    {
        QByteArray bytes;
        bytes.reserve(size);
        if (extension == QLatin1String("txt") || extension == QLatin1String("csv")) {
            while (bytes.size() < size)
                bytes += (pick(itemKinds) + ' ' + pick(itemGrades) +
                          QStringLiteral(";%1;%2\n").arg(below(10000)).arg(below(100)))
                             .toUtf8();
            bytes.truncate(size);
        } else {
            bytes.resize(size);
            // Half-random bytes: compressible somewhat, as office and picture files are.
            for (int i = 0; i < size; ++i)
                bytes[i] = char(i % 3 ? m_random.bounded(256) : i % 251);
        }
        return bytes;
    }

    // A price list of about `size` bytes of text in a real document of `kind`.
    QByteArray realDocument(const QString &kind, int size, int i)
    {
        const QString text = QString::fromUtf8(fileBytes(QStringLiteral("txt"), size));
        using namespace TestDocuments;
        if (kind == u"pdf")
            return pdf(text);
        if (kind == u"docx")
            return docx(text);
        if (kind == u"xlsx")
            return xlsx(text);
        if (kind == u"odt")
            return odt(text);
        if (kind == u"ods")
            return ods(text);
        if (kind == u"xls")
            return xls();
        if (kind == u"html")
            return html(text);
        return i % 3 == 0 ? csvUtf8(text) : i % 3 == 1 ? csvUtf16(text) : csv1251(text);
    }

    void run()
    {
        const int firms = count(100000), items = count(300000), folders = count(40);
        const int groups = count(150);
        m_session.tableByFile("FIRMS.DB"); // attached before the transactions start
        for (const char *file : {"ITEMS.DB", "FOLDERS.DB", "GRFIRMS.DB", "GRITEMS.DB", "GRPFRM.DB",
                                 "GRPITM.DB", "CRFOLDERS.DB", "CRFIRMS.DB", "FILES.DB"})
            m_session.tableByFile(file);
        step("firms", [&] {
            insertRows(
                "INSERT INTO Firms (FirmID, Name, Sinonyms, Description, Address, Email, "
                "WWW, Phones, GroupID) VALUES (?,?,?,?,?,?,?,?,?)",
                firms, [&](int i) {
                    const QString city = pick(cities);
                    return QVariantList{
                        i,
                        firmName(),
                        below(3) ? QVariant() : QVariant(firmName()),
                        QStringLiteral("Поставщик: %1, %2").arg(pick(itemKinds), pick(itemKinds)),
                        QStringLiteral("г. %1, ул. %2, д. %3")
                            .arg(city, pick(streets))
                            .arg(1 + below(120)),
                        QStringLiteral("info%1@firm.example").arg(i),
                        QStringLiteral("www.firm%1.example").arg(i),
                        QStringLiteral("+7 %1 %2")
                            .arg(300 + below(700))
                            .arg(1000000 + below(8999999)),
                        below(groups)};
                });
        });
        step("items", [&] {
            insertRows("INSERT INTO Items (ItemID, Name, Sinonyms, Description, GroupID) VALUES "
                       "(?,?,?,?,?)",
                       items, [&](int i) {
                           const QString kind = pick(itemKinds);
                           return QVariantList{
                               i,
                               kind + ' ' + pick(itemGrades) + ' ' + QString::number(below(1000)),
                               below(2) ? QVariant() : QVariant(kind.toLower()),
                               QStringLiteral("Артикул %1").arg(100000 + i), below(groups)};
                       });
        });
        step("folders and groups", [&] {
            insertRows("INSERT INTO Folders (FolderID, Description) VALUES (?,?)", folders,
                       [&](int i) {
                           return QVariantList{i, QStringLiteral("Папка %1").arg(i)};
                       });
            for (const QString &table : {QStringLiteral("GrFirms"), QStringLiteral("GrItems")}) {
                insertRows(
                    "INSERT INTO " + table + " (GroupID, UpGroupID, Description) VALUES (?,?,?)",
                    groups, [&](int i) {
                        // The first tenth lie under the root, the rest under earlier groups.
                        const int parent = i <= std::max(1, groups / 10) ? 0 : 1 + below(i - 1);
                        return QVariantList{i, parent,
                                            pick(itemKinds) + QStringLiteral(" и ") +
                                                pick(itemKinds).toLower()};
                    });
            }
        });
        step("relations", [&] {
            insertRows(
                "INSERT INTO CrFirms (FirmID, ItemID, Type) VALUES (?,?,?)", count(600000),
                [&](int) {
                    return QVariantList{1 + below(firms), 1 + below(items), below(2) ? "m" : "s"};
                });
            insertRows("INSERT OR IGNORE INTO GrpFrm (FirmID, GroupID) VALUES (?,?)", count(100000),
                       [&](int) {
                           return QVariantList{1 + below(firms), 1 + below(groups)};
                       });
            insertRows("INSERT OR IGNORE INTO GrpItm (ItemID, GroupID) VALUES (?,?)", count(150000),
                       [&](int) {
                           return QVariantList{1 + below(items), 1 + below(groups)};
                       });
            insertRows("INSERT INTO CrFolders (FolderID, FirmID, ItemID) VALUES (?,?,?)",
                       count(150000), [&](int i) {
                           return i % 2 ? QVariantList{1 + below(folders), 1 + below(firms), 0}
                                        : QVariantList{1 + below(folders), QVariant(),
                                                       1 + below(items)};
                       });
        });
        step("attached files", [&] { attachFiles(count(2000), firms, items); });
    }

    void attachFiles(int files, int firms, int items)
    {
        static const QStringList kinds = {"txt", "csv", "pdf", "doc", "xls", "jpg", "png", "zip"};
        static const QStringList documents = {"pdf", "docx", "xlsx", "odt",
                                              "ods", "xls",  "csv",  "html"};
        TStreamPacker packer;
        packer.Action = aCompress;
        packer.Method = clMax;
        insertRows("INSERT INTO Files (FileID, FirmID, ItemID, Description, FileName, File) VALUES "
                   "(?,?,?,?,?,?)",
                   files, [&](int i) {
                       const QString kind = pick(m_realDocuments ? documents : kinds);
                       // Mostly small files, a few large ones.
                       const int size = 512 << below(below(4) ? 7 : 10);
                       packer.InputStream()->Clear();
                       packer.InputStream()->write(m_realDocuments ? realDocument(kind, size, i)
                                                                   : fileBytes(kind, size));
                       packer.Execute();
                       const QByteArray packed = packer.OutputStream()->data();
                       const QString name = QStringLiteral("Прайс-лист %1.%2").arg(i).arg(kind);
                       const bool ofFirm = i % 2;
                       return QVariantList{
                           i,
                           ofFirm ? QVariant(1 + below(firms)) : QVariant(),
                           ofFirm ? QVariant() : QVariant(1 + below(items)),
                           name,
                           QStringLiteral("PRICE%1.%2").arg(i % 1000).arg(kind.toUpper()),
                           packed};
                   });
    }

    void step(const char *what, const std::function<void()> &work)
    {
        QElapsedTimer timer;
        timer.start();
        work();
        QTextStream(stdout) << what << ": " << timer.elapsed() << " ms" << Qt::endl;
    }

private:
    Session &m_session;
    double m_scale;
    bool m_realDocuments;
    QRandomGenerator m_random{20261207};
};

} // namespace

int main(int argc, char **argv)
{
    // Real documents include PDFs, which Qt draws with its fonts: a GUI
    // application without a screen. Without them the generator stays a
    // console program.
    const bool realDocuments = std::any_of(
        argv + 1, argv + argc, [](const char *a) { return !strcmp(a, "--real-documents"); });
    if (realDocuments && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app(realDocuments ? new QGuiApplication(argc, argv)
                                                        : new QCoreApplication(argc, argv));
    QCommandLineParser parser;
    parser.setApplicationDescription("Fills DIR with a generated catalogue.");
    parser.addHelpOption();
    parser.addPositionalArgument("DIR", "The data directory to fill (created if missing).");
    const QCommandLineOption scale("scale", "Multiplies every count.", "F", "1");
    parser.addOption(scale);
    parser.addOption(QCommandLineOption(
        "real-documents", "Attached files as real PDF, office, XLS, CSV and HTML price lists."));
    parser.process(*app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QString dir = parser.positionalArguments().first();
    try {
        QuietUi ui;
        if (!BaseMaker::verifyCatalogue(BaseMaker::findDescriptionFile("base.ini"), dir, false,
                                        false, ui))
            return 1;
        const std::unique_ptr<Session> session = Session::open(dir);
        Generator(*session, parser.value(scale).toDouble(), realDocuments).run();
    } catch (const std::exception &e) {
        QTextStream(stderr) << e.what() << Qt::endl;
        return 1;
    }
    return 0;
}
