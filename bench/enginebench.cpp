// Opens a list of a million firms ordered by name, reads its first screen,
// locates a name prefix and jumps to the last row; prints each time and the
// process's peak memory. bench/engine-bench.sh runs the stock sqlite3 shell on
// the same file beside it.
#include "Query.h"
#include "Session.h"
#include "Table.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <cstdio>
#include <sys/resource.h>

namespace {

const char *const syllables[] = {"ал",  "бер", "вин", "гор", "дон", "ек",  "жар",  "зем",
                                 "ин",  "кам", "лес", "мир", "нов", "ор",  "пром", "рос",
                                 "сиб", "тех", "ур",  "фар", "хим", "цен", "чер",  "юг"};

QString randomName(QRandomGenerator &random)
{
    QString name;
    const int parts = 2 + int(random.bounded(3));
    for (int i = 0; i < parts; ++i)
        name += QString::fromUtf8(syllables[random.bounded(int(std::size(syllables)))]);
    name[0] = name[0].toUpper();
    return name + QStringLiteral(" %1").arg(random.bounded(100000));
}

void fill(Session &session, int count)
{
    QList<FieldDef> fields;
    fields << FieldDef::fromDeclaration("FirmID", "AutoInc")
           << FieldDef::fromDeclaration("Name", "CHAR(240)")
           << FieldDef::fromDeclaration("Description", "CHAR(240)");
    session.createTable("FIRMS.DB", fields);
    QRandomGenerator random(20261207);
    session.tableByFile("FIRMS.DB");
    Session::Transaction transaction(session);
    Statement insert =
        session.prepare("INSERT INTO Firms (FirmID, Name, Description) VALUES (?, ?, ?)");
    for (int i = 1; i <= count; ++i) {
        insert.bind(1, i);
        insert.bind(2, randomName(random));
        insert.bind(3, QStringLiteral("Поставщик оборудования и материалов, склад %1").arg(i));
        insert.step();
        insert.reset();
    }
    transaction.commit();
    IndexDef primary{QString(), {"FirmID"}, true, true, false};
    session.addIndex("FIRMS.DB", primary);
    IndexDef byName{"ByName", {"Name"}, false, false, true};
    session.addIndex("FIRMS.DB", byName);
}

double since(QElapsedTimer &timer)
{
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    return ms;
}

// A screenful of looked-up names, as a maker grid paints them: 30 rows whose
// firm name is looked up among every firm by key. The first paint reads each
// name; repaints find them kept.
void lookupScreen(Session &session, Query &firms)
{
    Table rows;
    rows.setSession(&session);
    rows.setTableName(QStringLiteral("FIRMS.DB"));
    rows.addField(QStringLiteral("FirmID"), FieldKind::Integer);
    const Field *name =
        rows.addLookupField(QStringLiteral("FirmName"), 240, QStringLiteral("FirmID"), &firms,
                            QStringLiteral("FirmID"), QStringLiteral("Name"));
    rows.open();
    const int screen = std::min(30, rows.recordCount());
    QElapsedTimer timer;
    timer.start();
    for (int row = 0; row < screen; ++row)
        rows.displayValue(row, name);
    std::printf("30 lookup cells, first paint:          %8.2f ms\n", since(timer));
    constexpr int repaints = 100;
    for (int paint = 0; paint < repaints; ++paint) {
        for (int row = 0; row < screen; ++row)
            rows.displayValue(row, name);
    }
    std::printf(
        "30 lookup cells, each repaint:         %8.3f ms (each cost a first paint before)\n",
        since(timer) / repaints);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: enginebench DIR [ROWS]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int rows = argc > 2 ? std::atoi(argv[2]) : 1000000;
    const std::unique_ptr<Session> opened = Session::open(dir, true);
    Session &session = *opened;
    if (!session.hasTable("FIRMS.DB")) {
        QElapsedTimer fillTimer;
        fillTimer.start();
        fill(session, rows);
        std::printf("fill %d rows: %.0f ms\n", rows, since(fillTimer));
    }
    QElapsedTimer timer;
    timer.start();
    Query list;
    list.setSession(&session);
    list.setSql({"Select * From Firms", "", "", "order by name"});
    list.open();
    QStringList firstScreen;
    for (int i = 0; i < 30; ++i) {
        list.moveTo(i);
        firstScreen << list.fieldByName("Name")->asString();
    }
    std::printf("open ordered by name + first 30 rows: %8.1f ms (%d rows)\n", since(timer),
                list.recordCount());
    const bool found =
        list.locate("Name", QStringLiteral("ТЕХ"), LocateCaseInsensitive | LocatePartialKey);
    std::printf("locate prefix 'ТЕХ':                   %8.1f ms (%s, row %d)\n", since(timer),
                found ? "found" : "not found", list.recNo());
    list.last();
    const QString lastName = list.fieldByName("Name")->asString();
    std::printf("jump to last row:                      %8.1f ms (%s)\n", since(timer),
                qPrintable(lastName));
    lookupScreen(session, list);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory:                           %8.1f MB\n",
                double(usage.ru_maxrss) / 1024);
    return 0;
}
