#include "AutoBackup.h"
#include "Backup.h"
#include "BaseMaker.h"
#include "Catalogue.h"
#include "FileError.h"
#include "ForeignObjects.h"
#include "RecordingUi.h"
#include "Restore.h"
#include "Table.h"
#include "ZipFile.h"
#include "folder/FolderSession.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using TestCatalogue::contents;
using TestCatalogue::shell;

namespace {

const QString description = QStringLiteral(QUILLON_SOURCE_DIR "/storage/base.ini");

// The archive rewritten with `change` applied to its manifest and entries.
void rewrite(const QString &from, const QString &to,
             const std::function<void(QJsonObject &, QMap<QString, QByteArray> &)> &change)
{
    const ZipReader in(from);
    QMap<QString, QByteArray> entries;
    for (int i = 0; i < in.entries().size(); ++i)
        entries[in.entries()[i].name] = in.readAll(i, 1 << 30);
    QJsonObject manifest = QJsonDocument::fromJson(entries.take("manifest.json")).object();
    change(manifest, entries);
    ZipWriter out(to);
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        out.addData(it.key(), it.value());
    out.addData("manifest.json", QJsonDocument(manifest).toJson());
    out.commit();
}

// The manifest's line for `name` made true to `data` again; rows too when given.
void relist(QJsonObject &manifest, const QString &name, const QByteArray &data, qint64 rows = -1)
{
    QJsonArray files = manifest["files"].toArray();
    for (int i = 0; i < files.size(); ++i) {
        QJsonObject entry = files[i].toObject();
        if (entry["name"].toString() == name) {
            entry["size"] = double(data.size());
            entry["sha256"] = QString::fromLatin1(
                QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
            if (rows >= 0)
                entry["rows"] = double(rows);
            files[i] = entry;
        }
    }
    manifest["files"] = files;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file of a folder, byte for byte.
QByteArray fingerprint(const QString &directory)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &name : QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name))
        hash.addData(name.toUtf8() + readFile(QDir(directory).filePath(name)));
    return hash.result();
}

// The archive rewritten with its table file `table` changed by the sqlite3
// shell running `sql` (a file of SQL when it is long), the manifest made true again.
void alterTable(const QString &from, const QString &to, const QString &table, const QString &sql,
                qint64 listedRows)
{
    QTemporaryDir scratch;
    rewrite(from, to, [&](QJsonObject &manifest, QMap<QString, QByteArray> &entries) {
        const QString path = scratch.filePath(table);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(entries[table]);
        file.close();
        const QString script = scratch.filePath("change.sql");
        QFile text(script);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(sql.toUtf8());
        text.close();
        const QString said = shell(path, ".read " + script);
        QVERIFY2(said.isEmpty(), qPrintable(said));
        entries[table] = readFile(path);
        relist(manifest, table, entries[table], listedRows);
    });
}

} // namespace

class BackupTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_data;
    QStringList m_tables;
    QString m_archive;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    void makeCatalogue(const QString &directory)
    {
        QVERIFY(QDir().mkpath(directory));
        RecordingUi ui;
        QVERIFY(BaseMaker::verifyCatalogue(description, directory, false, false, ui));
        FolderSession session(directory);
        session.execute("INSERT INTO Firms (FirmID, Name, Address, Phones) VALUES "
                        "(1, 'Ёлка и Ко', 'Москва; ул. \"Тверская\"', '+7 495'), "
                        "(2, 'Acme', NULL, NULL)");
        session.execute("INSERT INTO Items (ItemID, Name) VALUES (1, 'Шуруп')");
        session.execute("INSERT INTO CrFirms (FirmID, ItemID, Type) VALUES (1, 1, 'm')");
        session.execute("INSERT INTO Files (FileID, FirmID, Description, FileName, File) "
                        "VALUES (1, 1, 'Прайс', 'price.pdf', randomblob(100000))");
    }

    void expectRefused(const QString &archive, const QString &reason)
    {
        const QByteArray before = fingerprint(m_data);
        try {
            Restore::fromArchive(m_data, description, archive);
            QFAIL("a bad archive was restored");
        } catch (const FileError &e) {
            QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
        }
        QCOMPARE(fingerprint(m_data), before);
        const QStringList around =
            QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(!around.join(' ').contains("restor"), qPrintable(around.join(' ')));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_data = path("Data");
        m_tables = Backup::catalogueTables(description);
        makeCatalogue(m_data);
        m_archive = path("copy.zip");
    }

    // A change not yet posted stays out; everything saved comes back exactly.
    void restoresEveryRowIntoAFreshFolder()
    {
        FolderSession session(m_data);
        Table firms;
        firms.setSession(&session);
        firms.setTableName("FIRMS.DB");
        firms.open();
        firms.edit();
        firms.fieldByName("Name")->setAsString("не сохранено");
        Backup::create(m_data, m_tables, description, m_archive);
        firms.cancel();

        const QString fresh = path("elsewhere/Data");
        QVERIFY(QDir().mkpath(path("elsewhere")));
        const Restore::Outcome outcome = Restore::fromArchive(fresh, description, m_archive);
        QVERIFY(outcome.aside.isEmpty());
        QVERIFY(outcome.leftOut.isEmpty());
        QCOMPARE(contents(fresh, m_tables), contents(m_data, m_tables));
        QVERIFY(contents(fresh, m_tables).contains("Ёлка и Ко"));
        QVERIFY(!contents(fresh, m_tables).contains("не сохранено"));
        QCOMPARE(shell(QDir(fresh).filePath("FILES.DB"), "SELECT length(File) FROM Files;"),
                 QString("100000"));

        const ZipReader zip(m_archive);
        QVERIFY(zip.indexOf("base.ini") >= 0);
        const QJsonObject manifest =
            QJsonDocument::fromJson(zip.readAll(zip.indexOf("manifest.json"), 1 << 20)).object();
        QCOMPARE(manifest["version"].toString(), QString("1.2"));
        QCOMPARE(manifest["files"].toArray().size(), m_tables.size() + 1);
    }

    // The old catalogue is kept aside whole; the restored one takes its place.
    void restoreKeepsTheOldCatalogueAside()
    {
        Backup::create(m_data, m_tables, description, m_archive);
        const QString before = contents(m_data, m_tables);
        FolderSession(m_data).execute("DELETE FROM Firms WHERE FirmID = 1");
        const QString changed = contents(m_data, m_tables);

        const QString aside = Restore::fromArchive(m_data, description, m_archive).aside;
        QCOMPARE(contents(m_data, m_tables), before);
        QCOMPARE(contents(aside, m_tables), changed);
        // Restores keep the newest few former catalogues and say which went.
        QStringList removed;
        for (int i = 0; i < Restore::keptAside + 1; ++i) {
            const Restore::Outcome next = Restore::fromArchive(m_data, description, m_archive);
            removed += next.removedAsides;
            for (const QString &gone : next.removedAsides)
                QVERIFY(Restore::describe(next).contains(QDir::toNativeSeparators(gone)));
        }
        QCOMPARE(removed.size(), 2);
        QCOMPARE(removed.first(), aside);
        QCOMPARE(QDir(m_dir->path()).entryList({"Data.до-восстановления-*"}, QDir::Dirs).size(),
                 Restore::keptAside);
    }

    void refusesDamagedOrForeignArchives()
    {
        Backup::create(m_data, m_tables, description, m_archive);

        QByteArray bytes = readFile(m_archive);
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x40);
        QFile flipped(path("flipped.zip"));
        QVERIFY(flipped.open(QIODevice::WriteOnly));
        flipped.write(bytes);
        flipped.close();
        expectRefused(flipped.fileName(), "не может быть восстановлен");

        rewrite(m_archive, path("missing.zip"),
                [](QJsonObject &, QMap<QString, QByteArray> &e) { e.remove("FIRMS.DB"); });
        expectRefused(path("missing.zip"), "нет файла FIRMS.DB");

        rewrite(m_archive, path("unlisted.zip"), [](QJsonObject &m, QMap<QString, QByteArray> &) {
            QJsonArray files = m["files"].toArray();
            files.removeAt(0);
            m["files"] = files;
        });
        expectRefused(path("unlisted.zip"), "«FIRMS.DB», которого нет в описи");

        // A sound database of another program under a catalogue table's name.
        const QString other = path("other.db");
        shell(other, "CREATE TABLE Accounts (Id INTEGER, Owner TEXT); INSERT INTO Accounts "
                     "VALUES (1, 'x');");
        const QByteArray foreign = readFile(other);
        rewrite(m_archive, path("foreign-table.zip"),
                [&](QJsonObject &m, QMap<QString, QByteArray> &e) {
                    e["ITEMS.DB"] = foreign;
                    relist(m, "ITEMS.DB", foreign);
                });
        expectRefused(path("foreign-table.zip"), "не является таблицей каталога");

        // The bytes were changed and the manifest not.
        rewrite(m_archive, path("resummed.zip"),
                [&](QJsonObject &, QMap<QString, QByteArray> &e) { e["ITEMS.DB"] = foreign; });
        expectRefused(path("resummed.zip"), "не совпадает");

        rewrite(m_archive, path("escape.zip"), [](QJsonObject &m, QMap<QString, QByteArray> &) {
            QJsonArray files = m["files"].toArray();
            QJsonObject entry = files[0].toObject();
            entry["name"] = "../FIRMS.DB";
            files[0] = entry;
            m["files"] = files;
        });
        expectRefused(path("escape.zip"), "опись копии повреждена");

        ZipWriter plain(path("plain.zip"));
        plain.addData("notes.txt", "не копия");
        plain.commit();
        expectRefused(path("plain.zip"), "это не резервная копия Квиллона");
        expectRefused(description, "не является zip-архивом");
    }

    // Each state an interruption can leave ends as the old catalogue or the restored one.
    void interruptedRestoreEndsWhole_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("restored");
        QTest::newRow("while verifying") << "staging" << false;
        QTest::newRow("marker written") << "marker" << true;
        QTest::newRow("old catalogue moved aside") << "aside" << true;
        QTest::newRow("swapped, marker left") << "swapped" << true;
        QTest::newRow("marker written, still running elsewhere") << "running" << true;
    }
    void interruptedRestoreEndsWhole()
    {
        QFETCH(QString, state);
        QFETCH(bool, restored);
        Backup::create(m_data, m_tables, description, m_archive);
        const QString backedUp = contents(m_data, m_tables);
        FolderSession(m_data).execute("DELETE FROM Firms");
        const QString current = contents(m_data, m_tables);

        const QString staging = path(".Data.restoring");
        QVERIFY(QDir().mkpath(staging));
        Backup::readInto(m_archive, description, staging);
        if (state != "staging") {
            QFile marker(path(".Data.restore"));
            QVERIFY(marker.open(QIODevice::WriteOnly));
            marker.write("Data.old");
            marker.close();
        }
        if (state == "aside" || state == "swapped")
            QVERIFY(QDir().rename(m_data, path("Data.old")));
        if (state == "swapped")
            QVERIFY(QDir().rename(staging, m_data));
        // A restore under way holds its folder locked: another start leaves
        // it alone, and a second restore is refused.
        const int running = state == "running" ? ::open(qPrintable(staging), O_RDONLY) : -1;
        if (running >= 0) {
            QCOMPARE(::flock(running, LOCK_EX), 0);
            QString refusal;
            try {
                Restore::fromArchive(m_data, description, m_archive);
            } catch (const FileError &e) {
                refusal = e.message();
            }
            QVERIFY2(refusal.contains("уже восстанавливается"), qPrintable(refusal));
            Restore::finishInterrupted(m_data);
            QVERIFY(QFileInfo::exists(QDir(staging).filePath("FIRMS.DB")));
            QCOMPARE(contents(m_data, m_tables), current);
            ::close(running);
        }

        Restore::finishInterrupted(m_data);
        QCOMPARE(contents(m_data, m_tables), restored ? backedUp : current);
        QVERIFY(!QFileInfo::exists(staging));
        QVERIFY(!QFileInfo::exists(path(".Data.restore")));
        if (restored)
            QCOMPARE(contents(path("Data.old"), m_tables), current);
    }

    // Hostile table files: each is refused, with the live catalogue left byte
    // for byte, or neutralised: the restored catalogue holds only what the
    // program itself creates, with the backup's rows, and what was left out is named.
    void hostileBackupsAreRefusedOrNeutralised_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("refused");
        const QString firms =
            "\"FirmID\" AutoInc, \"Name\" CHAR(240), \"Sinonyms\" CHAR(240), "
            "\"Description\" CHAR(240), \"Address\" CHAR(200), \"Email\" "
            "CHAR(100), \"WWW\" CHAR(60), \"Phones\" CHAR(60), \"GroupID\" Integer";
        const QString recreate = "DROP INDEX ByName; ALTER TABLE FIRMS RENAME TO Old; "
                                 "CREATE TABLE FIRMS (%1)%2; INSERT INTO FIRMS SELECT * FROM Old; "
                                 "DROP TABLE Old;";
        QTest::newRow("trigger deleting other firms")
            << "CREATE TRIGGER wipe AFTER INSERT ON FIRMS BEGIN DELETE FROM FIRMS WHERE "
               "FirmID <> new.FirmID; END;"
            << "FIRMS.DB: триггер «wipe»" << false;
        QTest::newRow("trigger that never ends")
            << "CREATE TRIGGER spin AFTER INSERT ON FIRMS BEGIN SELECT count(*) FROM (WITH "
               "RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r) SELECT i FROM r); END;"
            << "триггер «spin»" << false;
        QTest::newRow("triggers rewriting addresses")
            << "CREATE TRIGGER mail AFTER UPDATE ON FIRMS BEGIN UPDATE FIRMS SET Email = "
               "'x@evil.example', WWW = 'evil.example'; END;"
            << "триггер «mail»" << false;
        QTest::newRow("a table and a view standing in for others")
            << "CREATE TABLE Items (ItemID, Name); INSERT INTO Items VALUES (1, 'Подделка'); "
               "CREATE VIEW Files AS SELECT 1 AS FileID;"
            << "FIRMS.DB: таблица «Items»\nFIRMS.DB: представление «Files»" << false;
        QTest::newRow("a rule refusing new firms")
            << recreate.arg(firms + ", CHECK (FirmID < 3)", "") << "правило CHECK" << false;
        QTest::newRow("keys handed out up to the limit") << "PRAGMA user_version = 2147483640;"
                                                         << "счётчик ключей 2147483640" << false;
        QTest::newRow("without row numbers")
            << recreate.arg(firms + ", PRIMARY KEY (FirmID)", " WITHOUT ROWID") << "WITHOUT ROWID"
            << false;
        QTest::newRow("a foreign column")
            << "ALTER TABLE FIRMS ADD COLUMN Secret TEXT; UPDATE FIRMS SET Secret = 'x';"
            << "поле «Secret»" << false;
        QTest::newRow("an expression index")
            << "CREATE INDEX Shout ON FIRMS (substr(Name, 1, 3) || zeroblob(1000));"
            << "индекс «Shout» с выражением" << false;
        QTest::newRow("a default of megabytes")
            << recreate.arg(
                   QString(firms).replace("\"GroupID\" Integer", "\"GroupID\" Integer DEFAULT x'" +
                                                                     QString(3000000, '0') + "'"),
                   "")
            << "определение длиннее" << true;
        QTest::newRow("a key past the integer range")
            << "UPDATE FIRMS SET FirmID = 5000000000 WHERE FirmID = 2;"
            << "5000000000" << true;
    }
    void hostileBackupsAreRefusedOrNeutralised()
    {
        QFETCH(QString, sql);
        QFETCH(QString, said);
        QFETCH(bool, refused);
        Backup::create(m_data, m_tables, description, m_archive);
        const QString before = contents(m_data, m_tables);
        // Rows enough that the file's size passes, so its definition is read.
        alterTable(m_archive, path("hostile.zip"), "FIRMS.DB", sql, 1000);
        if (refused) {
            expectRefused(path("hostile.zip"), said);
            return;
        }
        const Restore::Outcome outcome =
            Restore::fromArchive(m_data, description, path("hostile.zip"));
        QVERIFY2(outcome.leftOut.join('\n').contains(said), qPrintable(outcome.leftOut.join('\n')));
        QVERIFY(Restore::describe(outcome).contains(said));
        QCOMPARE(ForeignObjects::inCatalogue(m_data, m_tables).size(), 0);
        QCOMPARE(contents(m_data, m_tables), before);
        // The restored catalogue works as the program's own.
        FolderSession session(m_data);
        Table firms;
        firms.setSession(&session);
        firms.setTableName("FIRMS.DB");
        firms.open();
        firms.append();
        firms.fieldByName("Name")->setAsString("Новая");
        firms.post();
        QCOMPARE(firms.fieldByName("FirmID")->asInteger(), 3);
        firms.close();
        session.execute("UPDATE Firms SET Email = 'a@b.example' WHERE FirmID = 1");
        QCOMPARE(shell(QDir(m_data).filePath("FIRMS.DB"),
                       "select count(*), max(Email), max(WWW) is null from FIRMS"),
                 QString("3|a@b.example|1"));
        QCOMPARE(shell(QDir(m_data).filePath("FIRMS.DB"), "pragma user_version"), QString("3"));
    }

    // Entries that do not belong in a backup refuse it before anything is
    // written, and so do sizes past what the listed rows can need.
    void strayOrOversizedEntriesRefuseTheArchive_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("said");
        QTest::newRow("out of the folder") << "../evil.DB"
                                           << "вне папки копии «../evil.DB»";
        QTest::newRow("absolute path") << "/tmp/evil.DB"
                                       << "вне папки копии «/tmp/evil.DB»";
        QTest::newRow("unlisted") << "notes.txt"
                                  << "«notes.txt», которого нет в описи";
        QTest::newRow("oversized") << ""
                                   << "в описи";
        QTest::newRow("more rows than listed") << ""
                                               << "строк 2, а в описи 1";
    }
    void strayOrOversizedEntriesRefuseTheArchive()
    {
        QFETCH(QString, entry);
        QFETCH(QString, said);
        Backup::create(m_data, m_tables, description, m_archive);
        const QString tag = QTest::currentDataTag();
        rewrite(m_archive, path("stray.zip"), [&](QJsonObject &m, QMap<QString, QByteArray> &e) {
            if (!entry.isEmpty()) {
                e[entry] = "x";
            } else if (tag == "oversized") {
                e["FIRMS.DB"].append(QByteArray(3 << 20, '\0'));
                relist(m, "FIRMS.DB", e["FIRMS.DB"]);
            } else {
                QJsonArray files = m["files"].toArray();
                QJsonObject first = files[0].toObject();
                first["rows"] = 1;
                files[0] = first;
                m["files"] = files;
            }
        });
        expectRefused(path("stray.zip"), said);
    }

    void aSymbolicLinkRefusesTheArchive()
    {
        Backup::create(m_data, m_tables, description, m_archive);
        QProcess python;
        python.start("python3", {"-c",
                                 "import sys, zipfile\n"
                                 "z = zipfile.ZipFile(sys.argv[1], 'a')\n"
                                 "i = zipfile.ZipInfo('link.DB')\n"
                                 "i.create_system = 3\n"
                                 "i.external_attr = 0o120777 << 16\n"
                                 "z.writestr(i, '/etc/passwd')\n",
                                 m_archive});
        QVERIFY(python.waitForFinished());
        QCOMPARE(python.exitCode(), 0);
        expectRefused(m_archive, "ссылка «link.DB»");
    }

    void dailyBackupPerCatalogueKeepingTheNewest()
    {
        const QString folder = path("Backups");
        QVERIFY(QDir().mkpath(folder));
        QFile other(QDir(folder).filePath("мой архив.zip"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        // Partial archives of killed runs: one long untouched goes, a fresh
        // one may still be written and stays.
        for (const QString partial : {"Квиллон-Data-1a2b-2025-12-30.zip.Ab12Cd",
                                      "Квиллон-Data-1a2b-2025-12-31.zip.Zz99Yy"}) {
            QFile file(QDir(folder).filePath(partial));
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (partial.contains("12-30"))
                QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-7200),
                                         QFileDevice::FileModificationTime));
        }
        const QDate first(2026, 1, 1);
        for (int day = 0; day < 4; ++day)
            QVERIFY(
                !AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(day), 3)
                     .made.isEmpty());
        QCOMPARE(QDir(folder).entryList({"*.zip.*"}), {"Квиллон-Data-1a2b-2025-12-31.zip.Zz99Yy"});
        QVERIFY(QFile::remove(QDir(folder).filePath("Квиллон-Data-1a2b-2025-12-31.zip.Zz99Yy")));
        QVERIFY(AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(3), 3)
                    .made.isEmpty());
        QVERIFY(AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(9), 0)
                    .made.isEmpty());
        // A second catalogue opened the same day gets a backup of its own.
        const QString second = path("Склад/Data");
        makeCatalogue(second);
        QVERIFY(!AutoBackup::runDaily(second, m_tables, description, folder, first.addDays(3), 3)
                     .made.isEmpty());
        const QString label = AutoBackup::catalogueLabel(m_data);
        QVERIFY(label.startsWith(QFileInfo(m_dir->path()).fileName() + "-Data-"));
        QVERIFY(AutoBackup::catalogueLabel(second).startsWith("Склад-Data-"));
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
                 QStringList({"Квиллон-" + label + "-2026-01-02.zip",
                              "Квиллон-" + label + "-2026-01-03.zip",
                              "Квиллон-" + label + "-2026-01-04.zip",
                              AutoBackup::dailyName(second, first.addDays(3)), "мой архив.zip"}));
        // A folder that is gone is not backed up.
        QVERIFY(AutoBackup::runDaily(path("Нет/Data"), m_tables, description, folder,
                                     first.addDays(3), 3)
                    .made.isEmpty());
    }

    // A catalogue emptied (or another one in its place) never pushes the good
    // backups out without a word.
    void aMuchSmallerCatalogueKeepsTheOlderBackups()
    {
        const QString folder = path("Backups");
        const QDate first(2026, 1, 1);
        for (int day = 0; day < 2; ++day)
            AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(day), 2);
        FolderSession(m_data).execute("DELETE FROM Firms");
        FolderSession(m_data).execute("DELETE FROM Files");
        const AutoBackup::Daily daily =
            AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(2), 2);
        QVERIFY2(daily.warning.contains("намного меньше") && daily.warning.contains("было 5"),
                 qPrintable(daily.warning));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
    }
};

QTEST_GUILESS_MAIN(BackupTest)
#include "tst_backup.moc"
