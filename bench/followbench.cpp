// One desk renames a firm in the middle of a list of every firm by name; how
// long until another desk's list shows it, and what that desk reads: the
// list following the one row the notice names, beside the same list reading
// its whole key list again (how lists followed every change before notices
// named rows), in the same run. The notice's delay is timed from the
// rename's commit to the notice, looking every millisecond; a window looks
// three times a second, which adds up to a third of a second to it.
//
//   followbench CATALOGUE [--statements FILE]
// With --statements, the statements of each way are written to FILE under
// "-- way: <label>", for the sqlite3 shell or psql to run beside.
#include "Query.h"
#include "Session.h"
#include "Table.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <cstdio>

namespace {

// An even number: the renamed firm gets its name back.
constexpr int renames = 6;

struct Figures
{
    double notice = 0, follow = 0;
    qsizetype statements = 0, rowsRead = 0;
};

// Rows a statement reads by key ("IN (1,2,3)"), or the whole list when it
// names none.
qsizetype rowsReadBy(const QString &sql, qsizetype listLength)
{
    static const QRegularExpression keys(QStringLiteral("\\bIN \\(([^)]*)\\)"));
    const auto match = keys.match(sql);
    return match.hasMatch() ? match.captured(1).count(',') + 1 : listLength;
}

// The other desk renames the firm: to the end of the list and back.
void renameElsewhere(Table &theirs, qint64 id, int round)
{
    theirs.locate("FirmID", id);
    theirs.edit();
    const QString name = theirs.fieldByName("Name")->asString();
    theirs.fieldByName("Name")->setAsString(round % 2 ? name.mid(2) : QStringLiteral("Я ") + name);
    theirs.post();
}

QList<Session::ChangeNotice> waitForNotice(Session &mine)
{
    for (;;) {
        const auto notices = mine.changedElsewhere();
        if (!notices.isEmpty())
            return notices;
        QThread::msleep(1);
    }
}

void run(Session &mine, Table &theirs, Query &list, bool byRow, QFile &statementsFile)
{
    Figures total;
    QStringList statements;
    const int middle = list.recordCount() / 2;
    const qint64 id = list.displayValue(middle, list.fieldByName("FirmID")).toLongLong();
    mine.setTrace([&](const QString &sql) { statements << sql; });
    for (int round = 0; round < renames; ++round) {
        list.moveTo(list.recordCount() / 3);
        list.fieldByName("Name")->asString();
        mine.changedElsewhere();
        statements.clear();
        QElapsedTimer clock;
        clock.start();
        renameElsewhere(theirs, id, round);
        clock.restart();
        const auto notices = waitForNotice(mine);
        total.notice += double(clock.nsecsElapsed()) / 1e6;
        statements.clear();
        clock.restart();
        if (byRow && notices.first().identity)
            list.followRowsElsewhere({*notices.first().identity});
        else
            list.followChangesElsewhere();
        // A screen of rows around the current one, as the grid paints them.
        for (int shown = list.recNo() - 15; shown < list.recNo() + 15; ++shown)
            list.displayValue(shown, list.fieldByName("Name"));
        total.follow += double(clock.nsecsElapsed()) / 1e6;
        total.statements += statements.size();
        for (const QString &sql : std::as_const(statements))
            total.rowsRead += rowsReadBy(sql, list.recordCount());
        if (statementsFile.isOpen() && round == 0) {
            statementsFile.write(QByteArray("-- way: ") + (byRow ? "row" : "whole") + '\n');
            for (const QString &sql : std::as_const(statements))
                statementsFile.write(sql.toUtf8() + ";\n");
        }
    }
    mine.setTrace({});
    std::printf("%-34s notice %6.1f ms, list follows %7.1f ms, %4.1f statements, %8.0f rows "
                "read (a rename, mean of %d)\n",
                byRow ? "row by row:" : "whole key list read again:", total.notice / renames,
                total.follow / renames, double(total.statements) / renames,
                double(total.rowsRead) / renames, renames);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2 && !(arguments.size() == 4 && arguments[2] == "--statements")) {
        std::fprintf(stderr, "usage: followbench CATALOGUE [--statements FILE]\n");
        return 2;
    }
    QFile statementsFile(arguments.value(3));
    if (arguments.size() == 4 && !statementsFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 2;
    auto mine = Session::open(arguments[1]);
    auto theirs = Session::open(arguments[1]);
    Query list;
    list.setSession(mine.get());
    list.setSql({"Select * From Firms", "order by Name"});
    list.open();
    Table firms;
    firms.setSession(theirs.get());
    firms.setTableName("FIRMS.DB");
    firms.open();
    std::printf("firms in the list: %d\n", list.recordCount());
    run(*mine, firms, list, false, statementsFile);
    run(*mine, firms, list, true, statementsFile);
    return 0;
}
