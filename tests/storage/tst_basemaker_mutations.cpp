#include "BaseMaker.h"
#include "EngineError.h"
#include "RecordingUi.h"
#include "folder/FolderSession.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <random>

using namespace BaseMaker;

// The structure check meets whatever a user makes of base.ini. Hundreds of
// descriptions mutated from the shipped one run against a catalogue with rows
// in every table; each must end either refused, with every table file
// byte-identical, or accepted, with every value of every field of the
// catalogue as it was (read back with the stock sqlite3 shell).
namespace {

constexpr int rowsPerTable = 40;
constexpr int defaultMutations = 300;

// Texts that a hand, a paste or a bad editor puts into a description.
const QStringList oddTypes = {"Strin",     "Foo",      "TEXT",      "Float",     "string",
                              "String",    "Integer",  "SmallInt",  "Boolean",   "Date",
                              "Time",      "AutoInc",  "Blob(0,0)", "Blob(0,5)", "Blob(0,2)",
                              "Blob(0,9)", "CHAR(10)", "Integer;",  ""};
const QStringList oddSizes = {"0",   "1", "5",   "00060", "99999", "-1",  "4294967296",
                              "abc", "",  "2 4", "255",   "61",    "239", "1e3"};
const QStringList oddTableNames = {"../OUT.DB", ".DB",      "A/B.DB", "A\\B.DB",    "TmpBase0.DB",
                                   "MAIN.DB",   "firms.db", "NEW.DB", "ITEMS.DB",   "",
                                   "Фирмы.DB",  "X.DB.DB",  "FIRMS",  "sqlite_x.DB"};
const QStringList oddFieldNames = {"rowid", "OID",  "_rowid_", "Na\"me", "Na'me", "Na\x01me",
                                   "Новое", "NAME", "Name2",   "Na;me",  "Na]me", "FirmID"};
const QStringList oddIndexLines = {"ByName=Nam", "=Name",         "Primary=Name",
                                   "X=",         "ByName=FirmID", "Firm=Name;Name",
                                   "FIRMS=Name", "ByName",        "ByGroup=GroupID"};
const QString oddCharacters = QStringLiteral(" *0123456789aXZ-=;:/.\"'[]\tЖж");

QString setColumns(QString line, int column, const QString &text)
{
    if (line.size() < column - 1 + text.size())
        line = line.leftJustified(column - 1 + int(text.size()));
    line.replace(column - 1, text.size(), text);
    return line;
}

// The lines of the shipped description, by what they are.
struct Layout
{
    QList<int> tableLines, fieldLines, indexLines;
    QMap<int, int> tableOf; // field line -> table line
};

Layout layoutOf(const QStringList &lines)
{
    Layout layout;
    enum
    {
        Header,
        Fields,
        Indexes
    } state = Header;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.contains("Table:")) {
            layout.tableLines << i;
            state = Header;
        } else if (line.contains("[Indexes]")) {
            state = Indexes;
        } else if (line.contains("-----------")) {
            state = Fields;
        } else if (!line.isEmpty() && !layout.tableLines.isEmpty()) {
            if (state == Fields) {
                layout.fieldLines << i;
                layout.tableOf.insert(i, layout.tableLines.last());
            } else if (state == Indexes) {
                layout.indexLines << i;
            }
        }
    }
    return layout;
}

// One mutated description and what was done to it, for the failure report.
struct Mutation
{
    QStringList lines;
    QStringList steps;
};

class Mutator
{
public:
    Mutator(const QStringList &shipped, unsigned seed)
        : m_shipped(shipped), m_layout(layoutOf(shipped)), m_random(seed)
    {}

    Mutation next()
    {
        Mutation mutation{m_shipped, {}};
        const int count = 1 + int(m_random() % 3);
        for (int i = 0; i < count; ++i)
            mutate(mutation);
        return mutation;
    }

private:
    template <typename List> auto pick(const List &list) { return list[m_random() % list.size()]; }

    void mutate(Mutation &m)
    {
        QStringList &lines = m.lines;
        const int field = pick(m_layout.fieldLines);
        const int kind = int(m_random() % 11);
        switch (kind) {
        case 0: {
            const int line = int(m_random() % lines.size());
            const int column = int(m_random() % 64);
            const QChar c = oddCharacters[m_random() % oddCharacters.size()];
            lines[line] = setColumns(lines[line], column + 1, QString(c));
            m.steps << QString("line %1 column %2 := '%3'").arg(line + 1).arg(column + 1).arg(c);
            break;
        }
        case 1: {
            const int line = int(m_random() % lines.size());
            lines.removeAt(line);
            m.steps << QString("line %1 cut").arg(line + 1);
            break;
        }
        case 2: {
            const int line = int(m_random() % lines.size());
            const int to = int(m_random() % (lines.size() + 1));
            lines.insert(to, lines[line]);
            m.steps << QString("line %1 repeated before line %2").arg(line + 1).arg(to + 1);
            break;
        }
        case 3: {
            const QString type = pick(oddTypes);
            lines[field] = setColumns(lines[field], 42, type.leftJustified(10));
            m.steps << QString("line %1 type := '%2'").arg(field + 1).arg(type);
            break;
        }
        case 4: {
            const QString size = pick(oddSizes);
            lines[field] =
                setColumns(lines[field], 53, size.size() <= 5 ? size.rightJustified(5) : size);
            m.steps << QString("line %1 size := '%2'").arg(field + 1).arg(size);
            break;
        }
        case 5: {
            // Another field of the same table, perhaps in another letter case.
            QList<int> same;
            for (int other : m_layout.fieldLines) {
                if (m_layout.tableOf[other] == m_layout.tableOf[field] && other != field)
                    same << other;
            }
            QString name = m_shipped[pick(same)].left(41).trimmed();
            if (m_random() % 2)
                name = name.toUpper();
            lines[field] = setColumns(lines[field], 1, name.leftJustified(41));
            m.steps << QString("line %1 name := '%2'").arg(field + 1).arg(name);
            break;
        }
        case 6: {
            const int line = pick(m_layout.tableLines);
            const QString name = pick(oddTableNames);
            lines[line] = "Table: " + name.leftJustified(30) + "/ " + name;
            m.steps << QString("line %1 table := '%2'").arg(line + 1).arg(name);
            break;
        }
        case 7: {
            const QString name = pick(oddFieldNames);
            lines[field] = setColumns(lines[field], 1, name.leftJustified(41));
            m.steps << QString("line %1 name := '%2'").arg(field + 1).arg(name);
            break;
        }
        case 8: {
            const QString mark = lines[field].mid(61, 1) == "*" ? " " : "*";
            lines[field] = setColumns(lines[field], 62, mark);
            m.steps << QString("line %1 key mark := '%2'").arg(field + 1).arg(mark);
            break;
        }
        case 9: {
            const bool right = m_random() % 2;
            lines[field] = right ? ' ' + lines[field] : lines[field].mid(1);
            m.steps << QString("line %1 shifted %2").arg(field + 1).arg(right ? "right" : "left");
            break;
        }
        default: {
            const int line = pick(m_layout.indexLines);
            const QString text = pick(oddIndexLines);
            lines[line] = text;
            m.steps << QString("line %1 := '%2'").arg(line + 1).arg(text);
            break;
        }
        }
    }

    QStringList m_shipped;
    Layout m_layout;
    std::mt19937 m_random;
};

// A value of a field for row `row`: texts of every length up to the size,
// some of them numbers; numbers that repeat outside the keys; bytes that are
// no valid text.
QVariant valueFor(const FieldSpec &field, int keyPosition, int row)
{
    if (field.type == "AutoInc")
        return row;
    if (field.type == "Integer" || field.type == "SmallInt")
        return keyPosition == 0 ? row % 10 + 1 : keyPosition == 1 ? row / 10 + 1 : row % 7;
    if (field.type == "String") {
        const int size = field.size.toInt();
        if (row % 4 == 1)
            return QString::number(row % 3).left(size);
        if (row % 3 == 0)
            return QString("Ж%1 ").arg(row).repeated(size).left(size);
        return QString("Знач %1").arg(row).left(size);
    }
    if (field.type.startsWith("Blob"))
        return QByteArray(row * 3, char(0xC0 + row % 50));
    return QVariant();
}

void fill(const QString &directory, const QList<TableSpec> &tables)
{
    FolderSession session(directory);
    for (const TableSpec &table : tables) {
        const TableRef ref = session.tableByFile(table.name);
        const QStringList key = keyFields(table);
        QStringList names, marks;
        for (const FieldSpec &field : table.fields) {
            names << '"' + field.name + '"';
            marks << "?";
        }
        Statement insert =
            session.prepare(QString("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(ref.qualified(), names.join(", "), marks.join(", ")),
                            table.name);
        for (int row = 1; row <= rowsPerTable; ++row) {
            for (int i = 0; i < table.fields.size(); ++i)
                insert.bind(i + 1,
                            valueFor(table.fields[i], int(key.indexOf(table.fields[i].name)), row));
            insert.step();
            insert.reset();
        }
    }
}

QMap<QString, QByteArray> filesOf(const QString &directory)
{
    QMap<QString, QByteArray> result;
    const QDir dir(directory);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            result.insert(name, file.readAll());
    }
    return result;
}

void copyDirectory(const QString &from, const QString &to)
{
    QDir(to).removeRecursively();
    QDir().mkpath(to);
    for (const QString &name : QDir(from).entryList(QDir::Files | QDir::Hidden))
        QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name));
}

// Every value of every field of the shipped tables, row by row, as the stock
// sqlite3 shell reads it (a number and the same text read alike, blank and
// empty alike).
QString valuesOf(const QString &directory, const QList<TableSpec> &tables)
{
    QStringList script;
    for (int i = 0; i < tables.size(); ++i) {
        const QString schema = QString("t%1").arg(i);
        const QString stem = tables[i].name.section('.', 0, 0);
        script
            << QString("ATTACH '%1' AS %2;").arg(QDir(directory).filePath(tables[i].name), schema);
        for (const FieldSpec &field : tables[i].fields)
            script << QString("SELECT '%1.%2 ' || coalesce(group_concat(r || ':' || v, ','), '') "
                              "FROM (SELECT rowid AS r, hex(\"%2\") AS v FROM %3.\"%4\" ORDER BY "
                              "rowid);")
                          .arg(tables[i].name, field.name, schema, stem);
    }
    QProcess shell;
    shell.start("sqlite3", {"-batch", ":memory:"});
    shell.write(script.join('\n').toUtf8());
    shell.closeWriteChannel();
    shell.waitForFinished(60000);
    return QString::fromUtf8(shell.readAllStandardOutput() + shell.readAllStandardError());
}

void writeDescription(const QString &path, const QStringList &lines)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QStringEncoder encode("windows-1251");
    file.write(encode(lines.join("\r\n")));
}

} // namespace

class DescriptionMutationTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_pristine, m_data, m_description;
    QStringList m_shipped;
    QList<TableSpec> m_tables;
    QMap<QString, QByteArray> m_pristineFiles;
    QString m_pristineValues;

    QString refusalFault(const QString &message)
    {
        if (!message.contains(", строка "))
            return "refused without naming the line: " + message;
        if (filesOf(m_data) != m_pristineFiles)
            return "refused, but a file changed: " + message;
        return {};
    }

    QString acceptanceFault(const RecordingUi &ui)
    {
        if (!ui.messages.isEmpty())
            return "accepted with messages: " + ui.messages.join("; ");
        if (valuesOf(m_data, m_tables) != m_pristineValues)
            return "accepted, but values changed";
        return {};
    }

    // Runs one check; empty when it ended as it must.
    QString runMutation(const Mutation &mutation, int &refusals)
    {
        copyDirectory(m_pristine, m_data);
        writeDescription(m_description, mutation.lines);
        RecordingUi ui;
        try {
            verifyCatalogue(m_description, m_data, false, false, ui);
        } catch (const EngineError &e) {
            ++refusals;
            return refusalFault(e.message());
        }
        const QString fault = acceptanceFault(ui);
        if (!fault.isEmpty())
            return fault;
        // The shipped description, checked next, finds every value too.
        writeDescription(m_description, m_shipped);
        try {
            verifyCatalogue(m_description, m_data, false, false, ui);
        } catch (const EngineError &e) {
            return "the shipped description was refused afterwards: " + e.message();
        }
        return acceptanceFault(ui).isEmpty() ? QString() : "values changed by the shipped check";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_pristine = m_root.filePath("pristine");
        m_data = m_root.filePath("Data");
        m_description = m_root.filePath("base.ini");
        QFile shipped(findDescriptionFile("base.ini"));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QStringDecoder decode("windows-1251");
        m_shipped = QString(decode(shipped.readAll())).split('\n');
        for (QString &line : m_shipped)
            line.remove('\r');
        m_tables = parseDescription(m_shipped);
        writeDescription(m_description, m_shipped);
        RecordingUi ui;
        QVERIFY(verifyCatalogue(m_description, m_pristine, false, false, ui));
        fill(m_pristine, m_tables);
        m_pristineFiles = filesOf(m_pristine);
        m_pristineValues = valuesOf(m_pristine, m_tables);
        QCOMPARE(m_pristineValues.count(QChar(10)), 38); // every field of the ten tables
    }

    void everyMutationIsRefusedWholeOrKeepsEveryValue()
    {
        const int count = qEnvironmentVariableIsSet("QUILLON_MUTATIONS")
                              ? qEnvironmentVariableIntValue("QUILLON_MUTATIONS")
                              : defaultMutations;
        Mutator mutator(m_shipped, 20261207);
        QStringList faults;
        int refusals = 0;
        for (int i = 0; i < count; ++i) {
            const Mutation mutation = mutator.next();
            const QString fault = runMutation(mutation, refusals);
            if (!fault.isEmpty())
                faults << QString("#%1 (%2): %3").arg(i).arg(mutation.steps.join(", "), fault);
        }
        qInfo("%d mutated descriptions: %d refused, %d accepted, %d faults", count, refusals,
              count - refusals, int(faults.size()));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.mid(0, 20).join('\n')));
    }
};

QTEST_GUILESS_MAIN(DescriptionMutationTest)
#include "tst_basemaker_mutations.moc"
