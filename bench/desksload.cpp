// Several desks on one catalogue at once: DESKS processes, each with a data
// module of its own, edit, add, delete and read the same few hundred firms
// for SECONDS seconds. Every edit adds one to the firm's counter (its phone
// field) from the value the desk read; at the end each firm's counter must
// equal the edits posted to it, so an update lost (an overwrite nobody was
// told of) leaves it short. A conflict is the expected answer to a
// collision, and the only failure allowed.
//
//   desksload LOCATION DESKS SECONDS     the run, with its figures
//   desksload --desk LOCATION SECONDS SEED   one desk (started by the run)
#include "EngineError.h"
#include "Session.h"
#include "StorageUi.h"
#include "UData.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <algorithm>
#include <memory>

namespace {

// The firms every desk works on; desks add and delete firms of their own
// beside them.
constexpr int sharedFirms = 300;

class QuietUi : public StorageUi
{
public:
    bool confirm(const QString &) override { return true; }
    void message(const QString &text) override { QTextStream(stderr) << text << Qt::endl; }
    void setStatus(const QString &) override {}
    void startProgress(int) override {}
    void setTableCaption(const QString &) override {}
    void stepProgress() override {}
};

struct Desk
{
    Tdm &data;
    QRandomGenerator random;
    QTextStream out{stdout};

    // The firm record follows the list's current firm, as in the window.
    bool onFirm(qint64 id)
    {
        return data.qFirms.locate(QStringLiteral("FirmID"), id) && !data.tblFirms.isEmpty() &&
               data.tblFirms.fieldByName(QStringLiteral("FirmID"))->asInteger() == id;
    }

    // Posts, timing it; false on a conflict (the edit is dropped).
    bool timedPost()
    {
        QElapsedTimer clock;
        clock.start();
        try {
            data.tblFirms.post();
        } catch (const RecordConflict &) {
            data.tblFirms.cancel();
            out << "conflict\n";
            return false;
        }
        out << "post " << clock.nsecsElapsed() / 1000 << '\n';
        return true;
    }

    void edit()
    {
        const qint64 id = 1 + random.bounded(sharedFirms);
        if (!onFirm(id))
            return;
        data.tblFirms.edit();
        Field *counter = data.tblFirms.fieldByName(QStringLiteral("Phones"));
        counter->setAsString(QString::number(counter->asString().toLongLong() + 1));
        if (timedPost())
            out << "edit " << id << '\n';
    }

    void add()
    {
        data.tblFirms.append();
        data.tblFirms.fieldByName(QStringLiteral("Name"))
            ->setAsString(QStringLiteral("Нагрузка %1").arg(random.generate()));
        timedPost();
        // The new firm stands in the firm record beside the list's current
        // one until the list moves: it moves now, as the window's list does.
        data.qFirms.first();
    }

    // Only firms a desk added go: the shared ones keep their counters.
    void remove()
    {
        const qint64 id = sharedFirms + 1 + random.bounded(std::max(1, 2 * sharedFirms));
        // Firms the other desks added since: what their notices would bring.
        data.qFirms.refresh();
        if (onFirm(id)) {
            data.tblFirms.deleteRecord();
            out << "delete\n";
        }
    }

    void read()
    {
        const qint64 id = 1 + random.bounded(sharedFirms);
        if (onFirm(id))
            data.tblFirms.fieldByName(QStringLiteral("Name"))->asString();
        data.qFirms.locate(QStringLiteral("Name"), QStringLiteral("Фирма %1").arg(id),
                           LocateCaseInsensitive | LocatePartialKey);
        out << "read\n";
    }

    void step()
    {
        const int choice = int(random.bounded(100));
        try {
            if (choice < 50)
                edit();
            else if (choice < 60)
                add();
            else if (choice < 65)
                remove();
            else
                read();
        } catch (const std::exception &e) {
            const auto *engine = dynamic_cast<const EngineError *>(&e);
            out << "error "
                << (engine ? engine->message() : QString::fromLocal8Bit(e.what()))
                       .replace('\n', ' ')
                << '\n';
            if (data.tblFirms.state() != DataSetState::Browse)
                data.tblFirms.cancel();
        }
    }
};

int runDesk(const QString &location, int seconds, quint32 seed)
{
    QuietUi ui;
    Tdm data(ui);
    Tdm::chooseCatalogue(location, false);
    data.DataModuleCreate();
    Desk desk{data, QRandomGenerator(seed)};
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000LL)
        desk.step();
    return 0;
}

// Makes the tables and the shared firms, each counter at 0.
void prepare(const QString &location)
{
    QuietUi ui;
    Tdm data(ui);
    Tdm::chooseCatalogue(location, false);
    data.DataModuleCreate();
    for (int i = 1; i <= sharedFirms; ++i) {
        data.tblFirms.append();
        data.tblFirms.fieldByName(QStringLiteral("Name"))
            ->setAsString(QStringLiteral("Фирма %1").arg(i));
        data.tblFirms.fieldByName(QStringLiteral("Phones"))->setAsString(QStringLiteral("0"));
        data.tblFirms.post();
    }
}

struct Totals
{
    QHash<qint64, qint64> edits; // firm -> edits posted
    QList<double> postMs;
    qint64 conflicts = 0, reads = 0, deletes = 0;
    QStringList errors;

    void take(const QByteArray &output)
    {
        for (const QByteArray &line : output.split('\n')) {
            if (line.startsWith("edit "))
                ++edits[line.mid(5).toLongLong()];
            else if (line.startsWith("post "))
                postMs << line.mid(5).toDouble() / 1000.0;
            else if (line == "conflict")
                ++conflicts;
            else if (line == "read")
                ++reads;
            else if (line == "delete")
                ++deletes;
            else if (line.startsWith("error "))
                errors << QString::fromUtf8(line.mid(6));
        }
    }

    double percentile(double share)
    {
        if (postMs.isEmpty())
            return 0;
        std::sort(postMs.begin(), postMs.end());
        return postMs[std::min(qsizetype(share * double(postMs.size())), postMs.size() - 1)];
    }
};

// Firms whose counter is short of the edits posted to them.
int lostUpdates(const QString &location, const Totals &totals)
{
    auto session = Session::open(location);
    Statement counters = session->prepare(
        QStringLiteral("Select FirmID, Phones From Firms Where FirmID <= %1").arg(sharedFirms));
    int lost = 0;
    while (counters.step()) {
        const qint64 stored = counters.value(1).toString().toLongLong();
        const qint64 posted = totals.edits.value(counters.int64(0));
        if (stored != posted) {
            QTextStream(stdout) << "firm " << counters.int64(0) << ": counter " << stored
                                << ", edits posted " << posted << '\n';
            ++lost;
        }
    }
    return lost;
}

int runLoad(const QString &location, int desks, int seconds)
{
    prepare(location);
    std::vector<std::unique_ptr<QProcess>> running;
    for (int i = 0; i < desks; ++i) {
        auto desk = std::make_unique<QProcess>();
        desk->setProcessChannelMode(QProcess::SeparateChannels);
        desk->start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--desk"), location, QString::number(seconds),
                     QString::number(1000 + i)});
        running.push_back(std::move(desk));
    }
    Totals totals;
    for (auto &desk : running) {
        desk->waitForFinished((seconds + 120) * 1000);
        totals.take(desk->readAllStandardOutput());
        const QByteArray complaints = desk->readAllStandardError().trimmed();
        if (!complaints.isEmpty())
            totals.errors << QString::fromUtf8(complaints);
    }
    qint64 edits = 0;
    for (const qint64 count : std::as_const(totals.edits))
        edits += count;
    const int lost = lostUpdates(location, totals);
    QTextStream out(stdout);
    out << "desks " << desks << ", " << seconds << " s on " << location << '\n'
        << "posts " << totals.postMs.size() << " (edits " << edits << "), conflicts "
        << totals.conflicts << ", deletes " << totals.deletes << ", reads " << totals.reads << '\n'
        << "post median " << totals.percentile(0.5) << " ms, 95th percentile "
        << totals.percentile(0.95) << " ms\n"
        << "firms with a lost update: " << lost << '\n'
        << "errors other than conflicts: " << totals.errors.size() << '\n';
    for (const QString &error : totals.errors.mid(0, 10))
        out << "  " << error << '\n';
    return lost == 0 && totals.errors.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 5 && arguments[1] == QLatin1String("--desk"))
        return runDesk(arguments[2], arguments[3].toInt(), arguments[4].toUInt());
    if (arguments.size() != 4) {
        QTextStream(stderr) << "desksload LOCATION DESKS SECONDS" << Qt::endl;
        return 2;
    }
    return runLoad(arguments[1], arguments[2].toInt(), arguments[3].toInt());
}
