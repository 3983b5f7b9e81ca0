#include "FileError.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString storedText()
{
    QFile file(RegistryKey::defaultFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void store(const QByteArray &text)
{
    QDir().mkpath(QFileInfo(RegistryKey::defaultFilePath()).absolutePath());
    QFile file(RegistryKey::defaultFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

private Q_SLOTS:
    void init()
    {
        // Every case starts without any stored settings.
        QVERIFY(m_config.isValid());
        QDir(m_config.path()).removeRecursively();
        QDir().mkpath(m_config.path());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    void nothingStoredGivesDefaultsAndOpeningCreatesTheKey()
    {
        QString problem = "untouched";
        QCOMPARE(readBoolSetting("CheckOnLoad", true, &problem), true);
        QCOMPARE(readBoolSetting("PackOnCheck", false), false);
        QCOMPARE(readBoolSetting("FolderFilter", false), false);
        QCOMPARE(problem, QString());
        QVERIFY(QFile::exists(RegistryKey::defaultFilePath()));
        QCOMPARE(storedText(), QString());
    }

    void writesStringsOneOrZero()
    {
        writeBoolSetting("CheckOnLoad", false);
        writeBoolSetting("PackOnCheck", true);
        writeBoolSetting("FolderFilter", false);
        QCOMPARE(storedText(), "[Quillon]\nCheckOnLoad=\"0\"\nPackOnCheck=\"1\"\n"
                               "FolderFilter=\"0\"\n");
        QCOMPARE(readBoolSetting("CheckOnLoad", true), false);
        QCOMPARE(readBoolSetting("PackOnCheck", false), true);

        writeBoolSetting("CheckOnLoad", true); // rewritten in place
        QCOMPARE(storedText(), "[Quillon]\nCheckOnLoad=\"1\"\nPackOnCheck=\"1\"\n"
                               "FolderFilter=\"0\"\n");
    }

    void readsNumbersAndDecimalStrings_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("value");
        QTest::addRow("number 1") << QByteArray("CheckOnLoad=dword:00000001") << true;
        QTest::addRow("negative number") << QByteArray("CheckOnLoad=dword:ffffffff") << true;
        QTest::addRow("string 1") << QByteArray("CheckOnLoad=\"1\"") << true;
        QTest::addRow("string 42") << QByteArray("CheckOnLoad=\"42\"") << true;
        QTest::addRow("a word gives the default") << QByteArray("CheckOnLoad=\"yes\"") << false;
        QTest::addRow("hexadecimal string") << QByteArray("CheckOnLoad=\"0x1\"") << false;
        QTest::addRow("beyond 32 bits") << QByteArray("CheckOnLoad=\"4294967296\"") << false;
        QTest::addRow("other value") << QByteArray("FolderFilter=\"1\"") << false;
        QTest::addRow("case of the name") << QByteArray("checkonload=\"1\"") << true;
    }

    void readsNumbersAndDecimalStrings()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, value);
        store("; written by hand\n[Quillon]\n" + stored + "\n");
        QString problem;
        QCOMPARE(readBoolSetting("CheckOnLoad", false, &problem), value);
        QCOMPARE(problem, QString());
    }

    void otherSectionsAreKept()
    {
        store("[Other]\nName=\"a \\\"quoted\\\" \\\\ text\"\nSize=dword:0000002a\n");
        QCOMPARE(readBoolSetting("Name", true), true); // not in the program's section
        writeBoolSetting("FolderFilter", true);
        QCOMPARE(storedText(), "[Other]\nName=\"a \\\"quoted\\\" \\\\ text\"\n"
                               "Size=dword:0000002a\n[Quillon]\nFolderFilter=\"1\"\n");
        QCOMPARE(RegistryKey().readInteger("Other", "Size", 0), 42);
    }

    void damagedFileGivesDefaultsAndAMessage_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addRow("garbage line") << QByteArray("[Quillon]\nCheckOnLoad=\"0\"\n\x01\x02zz\n");
        QTest::addRow("unclosed quote") << QByteArray("[Quillon]\nCheckOnLoad=\"0\n");
        QTest::addRow("value before any section") << QByteArray("CheckOnLoad=\"0\"\n");
        QTest::addRow("binary value") << QByteArray("[Quillon]\nCheckOnLoad=hex:00,01\n");
        QTest::addRow("not UTF-8") << QByteArray("[Quillon]\nCheckOnLoad=\"\xff\xfe\"\n");
    }

    void damagedFileGivesDefaultsAndAMessage()
    {
        QFETCH(QByteArray, stored);
        store(stored);
        QString problem;
        QCOMPARE(readBoolSetting("CheckOnLoad", true, &problem), true);
        QVERIFY(problem.contains(RegistryKey::defaultFilePath()));
        QVERIFY(problem.contains("Используются настройки по умолчанию"));

        // Storing replaces it, and what was there is kept for its owner.
        writeBoolSetting("CheckOnLoad", false);
        QCOMPARE(readBoolSetting("CheckOnLoad", true, &problem), false);
        QCOMPARE(problem, QString());
        QFile kept(RegistryKey::defaultFilePath() + ".damaged");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), stored);
    }

    void unwritableStoreThrows()
    {
        // A plain file where the key's folder should be: nothing can be created.
        QFile blocker(m_config.path() + "/Pelorin");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString problem;
        QCOMPARE(readBoolSetting("FolderFilter", false, &problem), false);
        QVERIFY(!problem.isEmpty());
        QVERIFY_THROWS_EXCEPTION(FileError, writeBoolSetting("FolderFilter", true));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
