// The search and options windows on a large catalogue, each figure beside the
// sqlite3 shell (with the catalogue's collation and upper()) doing the same
// work on the same files in the same run:
//  - "Найти" over each scope with one text and the default joiners, with all
//    three texts joined by "и", and with a text found nowhere: the window's
//    time to the count and the first screen, beside the shell running the
//    same statement (every row written to /dev/null) and its count(*);
//  - "Проверить" and "Сжать", beside the shell's REINDEX and VACUUM of every
//    table file.
#include "Application.h"
#include "DBGrid.h"
#include "RadioGroup.h"
#include "SearchStatement.h"
#include "UData.h"
#include "UFind.h"
#include "UOption.h"
#include "USplash.h"
#include "WindowBench.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>

namespace {

struct Search
{
    const char *label;
    int scope;
    QString name, sinonyms, description;
    int joiner1 = SearchStatement::Or, joiner2 = SearchStatement::Or;
};

QString extension;
QString data;

double timed(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// The sqlite3 shell on one table file; the time includes its start, as a
// user running it would see.
double shell(const QString &file, const QString &sql)
{
    return timed([&] {
        QProcess process;
        process.setWorkingDirectory(data);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start("sqlite3", {"-batch", "-cmd", ".load " + extension, file, sql});
        process.waitForFinished(-1);
    });
}

QString quotedLiteral(const QString &text)
{
    return '\'' + QString(text).replace('\'', "''") + '\'';
}

// The window's statement with its patterns written in, for the shell.
QString literalStatement(const Search &s)
{
    const SearchStatement::Statement statement = SearchStatement::build(
        SearchStatement::Scope(s.scope),
        {s.name, s.sinonyms, s.description, SearchStatement::Joiner(s.joiner1),
         SearchStatement::Joiner(s.joiner2)});
    QString sql = statement.sql;
    for (auto it = statement.parameters.cbegin(); it != statement.parameters.cend(); ++it)
        sql.replace(':' + it.key(), quotedLiteral(it.value().toString()));
    return sql;
}

void report(const QString &what, double ms)
{
    // Padded in characters, not bytes: the labels are partly Cyrillic.
    std::printf("%s %9.1f ms\n", qPrintable(what.leftJustified(64)), ms);
}

void measureSearch(TfrmFind &find, const Search &s)
{
    find.RadioGroup1->setItemIndex(s.scope);
    find.Edit1->setText(s.name);
    find.Edit2->setText(s.sinonyms);
    find.Edit3->setText(s.description);
    find.ComboBox1->setCurrentIndex(s.joiner1);
    find.ComboBox2->setCurrentIndex(s.joiner2);
    const double window = timed([&] {
        find.Button1Click();
        find.DBGrid1->viewport()->repaint();
        QCoreApplication::processEvents();
    });
    const QString file = s.scope == SearchStatement::Firms ? "FIRMS.DB" : "ITEMS.DB";
    const QString sql = literalStatement(s);
    const QString found = QString(" (%1 found)").arg(find.qFind.recordCount());
    report(QString("Найти, %1%2").arg(s.label, found), window);
    report("  sqlite3 shell, the same statement, every row", shell(file, sql));
    report("  sqlite3 shell, count(*) of the same condition",
           shell(file, QString(sql).replace("Select *", "Select count(*)")));
}

double shellOnEveryFile(const QString &sql)
{
    double total = 0;
    for (const QString &file : QDir(data).entryList({"*.DB"}, QDir::Files))
        total += shell(file, sql);
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    isolateBench(config);
    Application app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: findbench CATALOGUE_DIR SQLITE_EXTENSION\n");
        return 2;
    }
    data = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    extension = QString::fromLocal8Bit(argv[2]);
    const BenchDataModule opened(argv[1]);
    TSplashForm splash;
    SplashForm = &splash;
    TfrmFind find;
    frmFind = &find;

    const int firms = SearchStatement::Firms, items = SearchStatement::Items;
    const int a = SearchStatement::And;
    const QList<Search> searches = {
        {"firms, one text, joiners 'или'", firms, "техно", "", ""},
        {"firms, three texts joined by 'и'", firms, "техно", "сервис", "гайка", a, a},
        {"firms, a text found nowhere", firms, "зюзябра", "зюзябра", "зюзябра"},
        {"items, one text, joiners 'или'", items, "гайка", "", ""},
        {"items, three texts joined by 'и'", items, "гайка", "гайка", "артикул 1", a, a},
        {"items, a text found nowhere", items, "зюзябра", "зюзябра", "зюзябра"},
    };
    for (const Search &s : searches)
        measureSearch(find, s);

    TfrmOption options;
    options.CheckBox2->setChecked(false);
    report("Проверить (the structure check, every index rebuilt)",
           timed([&] { options.Button3Click(); }));
    report("  sqlite3 shell, REINDEX of every table file", shellOnEveryFile("REINDEX"));
    report("Сжать (every table packed)", timed([&] { options.Button4Click(); }));
    report("  sqlite3 shell, VACUUM of every table file", shellOnEveryFile("VACUUM"));
    SplashForm = nullptr;
    frmFind = nullptr;
    return 0;
}
