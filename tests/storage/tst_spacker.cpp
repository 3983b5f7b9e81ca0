#include "FileError.h"
#include "SPacker.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <random>

namespace {

// Bytes that deflate cannot shrink, the same in every run.
QByteArray noise(qsizetype size, unsigned seed = 7)
{
    std::mt19937 generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator());
    return bytes;
}

// Text-like bytes that deflate shrinks, with enough variety to fill several
// deflate blocks.
QByteArray prose(qsizetype size)
{
    static const QByteArray words[] = {"firm ",      "item ", "price ", "list ",  "Quillon ",
                                       "catalogue ", "\n",    "2024 ",  "steel ", "pipe "};
    std::mt19937 generator(11);
    QByteArray bytes;
    bytes.reserve(size + 16);
    while (bytes.size() < size)
        bytes += words[generator() % std::size(words)];
    bytes.truncate(size);
    return bytes;
}

// Runs Python's zlib, an implementation independent of ours, on the bytes.
QByteArray python(const QString &expression, const QByteArray &input)
{
    QProcess process;
    process.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"), QStringLiteral("import sys, zlib\ndata = sys.stdin.buffer.read()\n"
                                              "sys.stdout.buffer.write(%1)")
                                   .arg(expression)});
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    if (process.exitCode() != 0)
        qWarning() << process.readAllStandardError();
    return process.readAllStandardOutput();
}

QByteArray run(TStreamPacker &packer, TAction action, const QByteArray &input,
               TCompressionLevel method = clMax)
{
    packer.Action = action;
    packer.Method = method;
    packer.InputStream()->Clear();
    packer.InputStream()->write(input);
    packer.Execute();
    return packer.OutputStream()->data();
}

QByteArray pack(const QByteArray &input, TCompressionLevel method = clMax)
{
    TStreamPacker packer;
    return run(packer, aCompress, input, method);
}

QByteArray unpack(const QByteArray &input)
{
    TStreamPacker packer;
    return run(packer, aDecompress, input, clNone);
}

// A valid zlib stream that unpacks into 2,202,009,600 zero bytes, built from
// one flushed deflate segment repeated, so that building it takes no time.
QByteArray decompressionBomb()
{
    const qsizetype chunk = 1 << 20;
    const int chunks = 2100;
    const QByteArray zeros(chunk, '\0');
    QByteArray segment(chunk, Qt::Uninitialized);
    z_stream zlib{};
    deflateInit2(&zlib, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    zlib.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.constData()));
    zlib.avail_in = uInt(chunk);
    zlib.next_out = reinterpret_cast<Bytef *>(segment.data());
    zlib.avail_out = uInt(segment.size());
    deflate(&zlib, Z_FULL_FLUSH);
    segment.truncate(segment.size() - zlib.avail_out);
    deflateEnd(&zlib);

    uLong adler = adler32(0, nullptr, 0);
    QByteArray bomb("\x78\xDA", 2);
    for (int i = 0; i < chunks; ++i) {
        bomb += segment;
        adler = adler32(adler, reinterpret_cast<const Bytef *>(zeros.constData()), uInt(chunk));
    }
    bomb += QByteArray("\x03\x00", 2); // an empty final block
    for (int shift = 24; shift >= 0; shift -= 8)
        bomb += char((adler >> shift) & 0xFF);
    return bomb;
}

} // namespace

class TestSPacker : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tempRoot;

    // What the packer left in the temporary folder.
    QStringList leftovers() const
    {
        QStringList found;
        QDirIterator it(m_tempRoot.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A temporary folder of this test's own, so that what the packer
        // leaves there can be seen.
        QVERIFY(m_tempRoot.isValid());
        qputenv("TMPDIR", m_tempRoot.path().toLocal8Bit());
    }

    void emptyInputGivesACompleteStream()
    {
        TStreamPacker packer;
        int notices = 0;
        packer.OnChangeProgress = [&](QObject *) { ++notices; };
        QCOMPARE(run(packer, aCompress, {}), QByteArray::fromHex("78da030000000001"));
        QCOMPARE(notices, 0);
        QCOMPARE(packer.Progress, 100);

        QCOMPARE(run(packer, aDecompress, QByteArray::fromHex("78da030000000001")), QByteArray());
        QCOMPARE(run(packer, aDecompress, {}), QByteArray());
        QCOMPARE(packer.Progress, 100);
    }

    void roundTripAtBufferSeams_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        for (const qsizetype size : {0, 1, 16384, 61440, 65536, 65537}) {
            QTest::addRow("noise %lld", qlonglong(size)) << noise(size);
            QTest::addRow("prose %lld", qlonglong(size)) << prose(size);
        }
        QTest::addRow("noise 5 MB") << noise(5 << 20);
        QTest::addRow("prose 5 MB") << prose(5 << 20);
    }

    void roundTripAtBufferSeams()
    {
        QFETCH(QByteArray, bytes);
        TStreamPacker packer;
        for (const TCompressionLevel method : {clNone, clFastest, clDefault, clMax}) {
            const QByteArray packed = run(packer, aCompress, bytes, method);
            QCOMPARE(packer.InputStream()->size(), 0);
            if (method == clMax)
                QVERIFY(packed.startsWith("\x78\xDA"));
            QCOMPARE(run(packer, aDecompress, packed), bytes);
            QCOMPARE(packer.InputStream()->size(), 0);
        }
    }

    void levelOfEachMethodIsZlibs()
    {
        // The second header byte names the level class: 0x01 fastest or
        // stored, 0x9C default, 0xDA best. Stored blocks keep every byte.
        const QByteArray bytes = prose(100000);
        const QByteArray stored = pack(bytes, clNone);
        QCOMPARE(stored.left(2), QByteArray("\x78\x01"));
        QVERIFY(stored.size() > bytes.size());
        QCOMPARE(pack(bytes, clFastest).left(2), QByteArray("\x78\x01"));
        QCOMPARE(pack(bytes, clDefault), python(QStringLiteral("zlib.compress(data, 6)"), bytes));
        QCOMPARE(pack(bytes, clMax), python(QStringLiteral("zlib.compress(data, 9)"), bytes));
    }

    void anotherZlibReadsWhatWePack_data() { roundTripAtBufferSeams_data(); }

    void anotherZlibReadsWhatWePack()
    {
        QFETCH(QByteArray, bytes);
        for (const TCompressionLevel method : {clNone, clMax})
            QCOMPARE(python(QStringLiteral("zlib.decompress(data)"), pack(bytes, method)), bytes);
    }

    void weUnpackWhatAnotherZlibPacks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        for (const qsizetype size : {0, 1, 65537})
            QTest::addRow("prose %lld", qlonglong(size)) << prose(size);
        QTest::addRow("noise 65537") << noise(65537);
        QTest::addRow("prose 3 MB") << prose(3 << 20);
    }

    void weUnpackWhatAnotherZlibPacks()
    {
        QFETCH(QByteArray, bytes);
        for (int level = 0; level <= 9; ++level) {
            const QByteArray packed =
                python(QStringLiteral("zlib.compress(data, %1)").arg(level), bytes);
            QCOMPARE(unpack(packed), bytes);
        }
        // A window smaller than 32 KB is a valid stream too.
        QCOMPARE(unpack(python(QStringLiteral("zlib.compress(data, 9, 9)"), bytes)), bytes);
    }

    void positionOfTheInputDoesNotMatter()
    {
        const QByteArray bytes = prose(70000);
        TStreamPacker packer;
        packer.Method = clMax;
        packer.InputStream()->write(bytes); // position at the end, as after writing a blob
        packer.Execute();
        const QByteArray packed = packer.OutputStream()->data();
        QCOMPARE(packed, pack(bytes));

        packer.Action = aDecompress;
        packer.InputStream()->write(packed);
        packer.InputStream()->seek(100);
        packer.Execute();
        QCOMPARE(packer.OutputStream()->data(), bytes);
    }

    void faultyDataFailsWithError_data()
    {
        QTest::addColumn<QByteArray>("faulty");
        const QByteArray packed = pack(prose(50000));
        QByteArray wrongChecksum = packed;
        wrongChecksum[wrongChecksum.size() - 1] = char(wrongChecksum.back() ^ 1);
        QByteArray faultyDeflate = packed;
        faultyDeflate[2] = char(0xFF); // a reserved block type
        QTest::addRow("a file stored unpacked") << QByteArray("%PDF-1.4 not packed at all");
        QTest::addRow("wrong checksum") << wrongChecksum;
        QTest::addRow("faulty deflate data") << faultyDeflate;
        // Opened and stored back, a stream cut short would replace the file
        // with a shorter one: it fails like any other damage.
        const QByteArray longPacked = pack(prose(1 << 20), clDefault);
        QTest::addRow("cut in the deflate data") << longPacked.left(longPacked.size() / 2);
        QTest::addRow("cut after the first byte") << packed.left(1);
        QTest::addRow("checksum missing") << packed.left(packed.size() - 4);
        QTest::addRow("checksum cut short") << packed.left(packed.size() - 1);
        QTest::addRow("window over 32 KB") << QByteArray::fromHex("88980300000001");
        QTest::addRow("preset dictionary")
            << python(QStringLiteral("(lambda c: c.compress(data) + c.flush())("
                                     "zlib.compressobj(9, zdict=b'firm item price'))"),
                      prose(1000));
    }

    void faultyDataFailsWithError()
    {
        QFETCH(QByteArray, faulty);
        TStreamPacker packer;
        run(packer, aCompress, prose(10));
        packer.Action = aDecompress;
        packer.Progress = 42;
        packer.InputStream()->write(faulty);
        packer.OutputStream()->write("stale");
        try {
            packer.Execute();
            QFAIL("faulty data was unpacked");
        } catch (const EZlibError &error) {
            QCOMPARE(error.message(), QStringLiteral("error"));
        }
        QCOMPARE(packer.OutputStream()->size(), 0);
        QCOMPARE(packer.InputStream()->data(), faulty);
        QVERIFY(packer.Progress <= 100);
        QVERIFY(leftovers().isEmpty());
    }

    void bytesAfterTheStreamAreIgnored()
    {
        const QByteArray bytes = prose(100000);
        QCOMPARE(unpack(pack(bytes) + "trailing bytes, not zlib"), bytes);
    }

    void compressionReportsProgressPerFullOutputBuffer()
    {
        // Noise leaves deflate's output as large as its input: a 300,000-byte
        // file fills the 65,536-byte output buffer four times before finishing.
        TStreamPacker packer;
        QList<qint32> seen;
        QObject *sender = nullptr;
        packer.OnChangeProgress = [&](QObject *s) {
            sender = s;
            seen << packer.Progress;
        };
        run(packer, aCompress, noise(300000), clNone);
        QCOMPARE(seen.size(), 4);
        QVERIFY(sender != &packer && sender != nullptr);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(seen.first() > 0 && seen.last() < 100);
        QCOMPARE(packer.Progress, 100);

        seen.clear();
        run(packer, aCompress, prose(60000)); // output far below one buffer
        QVERIFY(seen.isEmpty());
    }

    void decompressionReportsProgressPerInputRefill()
    {
        const QByteArray packed = pack(noise(200000), clNone);
        TStreamPacker packer;
        QList<qint32> seen;
        packer.OnChangeProgress = [&](QObject *) { seen << packer.Progress; };
        QCOMPARE(run(packer, aDecompress, packed).size(), 200000);
        QCOMPARE(seen.size(), int((packed.size() + 65535) / 65536));
        QCOMPARE(seen.first(), 0);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QCOMPARE(packer.Progress, 100);
    }

    void temporaryFileIsPrivateAndRemoved()
    {
        TStreamPacker packer;
        QStringList during;
        QFile::Permissions directoryMode;
        packer.OnChangeProgress = [&](QObject *) {
            during = leftovers();
            if (!during.isEmpty())
                directoryMode = QFileInfo(during.first()).permissions();
        };
        run(packer, aDecompress, pack(prose(200000), clNone));
        QCOMPARE(during.size(), 2); // the private directory and the "pk" file in it
        QVERIFY(during.last().endsWith(QLatin1String("/pk.tmp")));
        QCOMPARE(directoryMode, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QVERIFY(leftovers().isEmpty());
    }

    void decompressionBombFailsInsteadOfExhaustingMemory()
    {
        // Unpacking goes through a temporary file: the limit is reached only
        // after two gigabytes have been written there.
        if (QStorageInfo(QDir::tempPath()).bytesAvailable() < (qint64(3) << 30))
            QSKIP("needs 3 GB free in the temporary folder");
        TStreamPacker packer;
        packer.Action = aDecompress;
        const QByteArray bomb = decompressionBomb();
        packer.InputStream()->write(bomb);
        QVERIFY_THROWS_EXCEPTION(EZlibError, packer.Execute());
        QCOMPARE(packer.OutputStream()->size(), 0);
        QCOMPARE(packer.InputStream()->size(), bomb.size());
        QVERIFY(leftovers().isEmpty());
    }

    void memoryStreamFiles()
    {
        TMemoryStream stream;
        const QString path = m_tempRoot.filePath(QStringLiteral("no-such-dir/file"));
        try {
            stream.LoadFromFile(path);
            QFAIL("a missing file was read");
        } catch (const FileError &e) {
            QVERIFY(e.message().startsWith("Не удаётся открыть файл \"" + path + "\""));
        }
        QVERIFY_THROWS_EXCEPTION(FileError, stream.SaveToFile(path));

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("copy"));
        stream.write(prose(1000));
        stream.SaveToFile(file);
        TMemoryStream loaded;
        loaded.write("old content, longer than nothing");
        loaded.LoadFromFile(file);
        QCOMPARE(loaded.data(), prose(1000));
        QCOMPARE(loaded.pos(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSPacker)
#include "tst_spacker.moc"
