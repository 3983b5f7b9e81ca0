// Import of a spreadsheet into a catalogue: reading the file, working out the
// plan the import window shows, and the write itself, with the longest time
// between two progress reports (the longest the window could go unpainted).
#include "Import.h"
#include "Session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        QTextStream(stderr) << "usage: importbench DATA_DIR FILE.csv|FILE.xlsx\n";
        return 2;
    }
    QTextStream out(stdout);
    QElapsedTimer clock;
    clock.start();
    const TextTable table = Import::readFile(args[2]);
    const qint64 readMs = clock.restart();
    const std::unique_ptr<Session> opened = Session::open(args[1]);
    Session &session = *opened;
    Import::Options options;
    options.mapping = Import::guessMapping(options.target, table.header,
                                           Import::textFields(session, options.target));
    options.folderId = 1;
    const Import::Known known = Import::readKnown(session, options.target);
    const qint64 knownMs = clock.restart();
    // What the import window does at every change of a column choice.
    Import::Plan plan = Import::plan(known, table, options);
    const qint64 planMs = clock.restart();
    QElapsedTimer gap;
    gap.start();
    qint64 longestGap = 0;
    Import::run(session, table, options, plan, [&](double) {
        longestGap = std::max(longestGap, gap.restart());
        return true;
    });
    longestGap = std::max(longestGap, gap.elapsed());
    const qint64 runMs = clock.elapsed();
    out << QStringLiteral("import of %1 rows (%7 added, %8 known, %9 refused): read %2 ms, "
                          "catalogue names %10 ms, plan %3 ms, write %4 ms, total %5 ms; longest "
                          "time between progress "
                          "reports %6 ms\n")
               .arg(table.rows.size())
               .arg(readMs)
               .arg(planMs)
               .arg(runMs)
               .arg(readMs + knownMs + planMs + runMs)
               .arg(longestGap)
               .arg(plan.added)
               .arg(plan.existing)
               .arg(plan.refused.size())
               .arg(knownMs);
    return 0;
}
