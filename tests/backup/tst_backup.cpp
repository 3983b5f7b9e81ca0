#include "AutoBackup.h"
#include "Backup.h"
#include "BaseMaker.h"
#include "Catalogue.h"
#include "FileError.h"
#include "RecordingUi.h"
#include "Restore.h"
#include "Table.h"
#include "ZipFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

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

// The manifest's line for `name` made true to `data` again.
void relist(QJsonObject &manifest, const QString &name, const QByteArray &data)
{
    QJsonArray files = manifest["files"].toArray();
    for (int i = 0; i < files.size(); ++i) {
        QJsonObject entry = files[i].toObject();
        if (entry["name"].toString() == name) {
            entry["size"] = double(data.size());
            entry["sha256"] = QString::fromLatin1(
                QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
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
        RecordingUi ui;
        QVERIFY(BaseMaker::verifyDirectory(description, directory, false, false, ui));
        Session session(directory);
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
        const QString before = contents(m_data, m_tables);
        try {
            Restore::fromArchive(m_data, m_tables, archive);
            QFAIL("a bad archive was restored");
        } catch (const FileError &e) {
            QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
        }
        QCOMPARE(contents(m_data, m_tables), before);
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
        Session session(m_data);
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
        QVERIFY(Restore::fromArchive(fresh, m_tables, m_archive).isEmpty());
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
        Session(m_data).execute("DELETE FROM Firms WHERE FirmID = 1");
        const QString changed = contents(m_data, m_tables);

        const QString aside = Restore::fromArchive(m_data, m_tables, m_archive);
        QCOMPARE(contents(m_data, m_tables), before);
        QCOMPARE(contents(aside, m_tables), changed);
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
        expectRefused(path("unlisted.zip"), "нет таблицы FIRMS.DB");

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
        expectRefused(path("resummed.zip"), "ITEMS.DB повреждён");

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
    }
    void interruptedRestoreEndsWhole()
    {
        QFETCH(QString, state);
        QFETCH(bool, restored);
        Backup::create(m_data, m_tables, description, m_archive);
        const QString backedUp = contents(m_data, m_tables);
        Session(m_data).execute("DELETE FROM Firms");
        const QString current = contents(m_data, m_tables);

        const QString staging = path(".Data.restoring");
        QVERIFY(QDir().mkpath(staging));
        Backup::verify(m_archive, m_tables, staging);
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

        Restore::finishInterrupted(m_data);
        QCOMPARE(contents(m_data, m_tables), restored ? backedUp : current);
        QVERIFY(!QFileInfo::exists(staging));
        QVERIFY(!QFileInfo::exists(path(".Data.restore")));
        if (restored)
            QCOMPARE(contents(path("Data.old"), m_tables), current);
    }

    void dailyBackupOncePerDayKeepingTheNewest()
    {
        const QString folder = path("Backups");
        QVERIFY(QDir().mkpath(folder));
        QFile other(QDir(folder).filePath("мой архив.zip"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        const QDate first(2026, 1, 1);
        for (int day = 0; day < 4; ++day)
            QVERIFY(
                !AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(day), 3)
                     .isEmpty());
        QVERIFY(AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(3), 3)
                    .isEmpty());
        QVERIFY(AutoBackup::runDaily(m_data, m_tables, description, folder, first.addDays(9), 0)
                    .isEmpty());
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
                 QStringList({"Квиллон-2026-01-02.zip", "Квиллон-2026-01-03.zip",
                              "Квиллон-2026-01-04.zip", "мой архив.zip"}));
    }
};

QTEST_GUILESS_MAIN(BackupTest)
#include "tst_backup.moc"
