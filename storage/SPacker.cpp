#include "SPacker.h"

#include "FileError.h"
#include "TempFiles.h"

#include <QFile>
#include <algorithm>
#include <array>

namespace {

// The block sizes of the stored form's reader and writer. They are part of
// what callers observe (when progress is reported), so they stay as they are.
constexpr qsizetype PackInputBlock = 61440;    // input handed to deflate at a time
constexpr qsizetype PackOutputBuffer = 65536;  // deflate's output, written when full
constexpr qsizetype UnpackInputBuffer = 65536; // packed bytes fed to inflate at a time
constexpr qsizetype UnpackTransfer = 16384;    // unpacked bytes moved to the "pk" file at a time

constexpr int WindowBits = 15;
constexpr int MemoryLevel = 8;

using ProgressNotice = std::function<void(QObject *sender)>;

// What zlib's refusals are reported as.
[[noreturn]] void throwZlibFailure()
{
    throw EZlibError(QStringLiteral("error"));
}

int zlibLevel(TCompressionLevel method)
{
    switch (method) {
    case clNone:
        return Z_NO_COMPRESSION;
    case clFastest:
        return Z_BEST_SPEED;
    case clDefault:
        return Z_DEFAULT_COMPRESSION;
    case clMax:
        return Z_BEST_COMPRESSION;
    }
    return Z_DEFAULT_COMPRESSION;
}

void appendWithinLimit(QByteArray &destination, const char *data, qsizetype size)
{
    if (destination.size() + size > MaxStreamSize)
        throw EZlibError(QStringLiteral("Сжатый файл был бы больше 2 147 483 647 байт"));
    destination.append(data, size);
}

// Deflate writing into a byte array through a buffer of its own.
class TCompressionStream : public TZStream
{
public:
    TCompressionStream(QByteArray &destination, int level, ProgressNotice notice)
        : m_destination(destination), m_notice(std::move(notice))
    {
        if (deflateInit2(&m_zlib, level, Z_DEFLATED, WindowBits, MemoryLevel, Z_DEFAULT_STRATEGY) !=
            Z_OK)
            throwZlibFailure();
        startBuffer();
    }
    ~TCompressionStream() override { deflateEnd(&m_zlib); }

    void write(const char *data, qsizetype size)
    {
        m_zlib.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_zlib.avail_in = uInt(size);
        while (m_zlib.avail_in > 0) {
            deflateChecked(Z_NO_FLUSH);
            if (m_zlib.avail_out == 0) {
                writeBuffer();
                m_notice(this);
            }
        }
    }

    // Ends the zlib stream: the rest of the deflate data and the Adler-32.
    // No progress is reported while finishing.
    void finish()
    {
        while (deflateChecked(Z_FINISH) != Z_STREAM_END)
            writeBuffer();
        writeBuffer();
    }

private:
    int deflateChecked(int flush)
    {
        const int result = deflate(&m_zlib, flush);
        if (result == Z_STREAM_ERROR)
            throwZlibFailure();
        return result;
    }

    void startBuffer()
    {
        m_zlib.next_out = reinterpret_cast<Bytef *>(m_buffer.data());
        m_zlib.avail_out = uInt(m_buffer.size());
    }

    void writeBuffer()
    {
        appendWithinLimit(m_destination, m_buffer.data(), m_buffer.size() - m_zlib.avail_out);
        startBuffer();
    }

    QByteArray &m_destination;
    ProgressNotice m_notice;
    std::vector<char> m_buffer = std::vector<char>(PackOutputBuffer);
};

// Inflate reading from a byte array, a buffer's worth at a time. Bytes after
// the end of the zlib stream are never read.
class TDecompressionStream : public TZStream
{
public:
    TDecompressionStream(const QByteArray &source, ProgressNotice notice)
        : m_source(source), m_notice(std::move(notice))
    {
        if (inflateInit2(&m_zlib, WindowBits) != Z_OK)
            throwZlibFailure();
    }
    ~TDecompressionStream() override { inflateEnd(&m_zlib); }

    // Up to `count` unpacked bytes; 0 once the stream has ended. An empty
    // input is an empty file. A stream
    // whose input runs out before its end (cut short, or without its
    // checksum) fails: what was decoded so far is not the whole file, and
    // stored back it would silently replace the attachment with a shorter one.
    qsizetype read(char *buffer, qsizetype count)
    {
        m_zlib.next_out = reinterpret_cast<Bytef *>(buffer);
        m_zlib.avail_out = uInt(count);
        while (m_zlib.avail_out > 0 && !m_ended) {
            if (m_zlib.avail_in == 0 && !refill()) {
                if (!m_source.isEmpty())
                    throwZlibFailure();
                break;
            }
            const int result = inflate(&m_zlib, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                m_ended = true;
            // Z_NEED_DICT lands here too: a stream that asks for a preset
            // dictionary is no stored form, and asking again would never end.
            else if (result != Z_OK && result != Z_BUF_ERROR)
                throwZlibFailure();
        }
        return count - m_zlib.avail_out;
    }

private:
    // Feeds inflate the next buffer's worth of the source, read in place.
    bool refill()
    {
        const qsizetype size = std::min(UnpackInputBuffer, m_source.size() - m_sourcePosition);
        if (size == 0)
            return false;
        m_zlib.next_in =
            reinterpret_cast<Bytef *>(const_cast<char *>(m_source.constData())) + m_sourcePosition;
        m_zlib.avail_in = uInt(size);
        m_sourcePosition += size;
        m_notice(this);
        return true;
    }

    const QByteArray &m_source;
    ProgressNotice m_notice;
    qsizetype m_sourcePosition = 0;
    bool m_ended = false;
};

// Moves the unpacked bytes into the file. A small damaged or hostile stream
// can claim to unpack into many gigabytes: the run stops at the size limit.
void unpackToFile(TDecompressionStream &stream, QFile &file)
{
    std::array<char, UnpackTransfer> transfer;
    qint64 total = 0;
    while (const qsizetype size = stream.read(transfer.data(), transfer.size())) {
        total += size;
        if (total > MaxStreamSize)
            throw EZlibError(QStringLiteral("Распакованный файл был бы больше 2 147 483 647 байт"));
        if (file.write(transfer.data(), size) != size)
            throw FileError(QStringLiteral("Не удаётся записать временный файл \"%1\" (%2)")
                                .arg(file.fileName(), file.errorString()));
    }
}

void readWholeFile(QFile &file, QByteArray &destination)
{
    destination.resize(file.size());
    if (!file.seek(0) || file.read(destination.data(), destination.size()) != destination.size())
        throw FileError(QStringLiteral("Не удаётся прочитать временный файл \"%1\" (%2)")
                            .arg(file.fileName(), file.errorString()));
}

} // namespace

TMemoryStream::TMemoryStream()
{
    open(QIODevice::ReadWrite);
}

void TMemoryStream::Clear()
{
    buffer().clear();
    seek(0);
}

void TMemoryStream::LoadFromFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Не удаётся открыть файл \"%1\" (%2)")
                            .arg(fileName, file.errorString()));
    if (file.size() > MaxStreamSize)
        throw FileError(QStringLiteral("Файл \"%1\" больше 2 147 483 647 байт").arg(fileName));
    Clear();
    readWholeFile(file, buffer());
    seek(0);
}

void TMemoryStream::SaveToFile(const QString &fileName) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(data()) != data().size())
        throw FileError(QStringLiteral("Не удаётся записать файл \"%1\" (%2)")
                            .arg(fileName, file.errorString()));
}

TStreamPacker::TStreamPacker(QObject *owner)
    : QObject(owner), m_input(std::make_unique<TMemoryStream>()),
      m_output(std::make_unique<TMemoryStream>())
{}

TStreamPacker::~TStreamPacker() = default;

bool TStreamPacker::Execute()
{
    m_output->Clear();
    Progress = 0;
    try {
        if (m_input->size() > MaxStreamSize)
            throw EZlibError(QStringLiteral("Файл больше 2 147 483 647 байт"));
        m_totalSize = qint32(m_input->size());
        if (Action == aCompress)
            compress();
        else
            decompress();
    } catch (...) {
        m_output->Clear();
        throw;
    }
    m_output->seek(0);
    Progress = 100;
    m_input->Clear();
    return true;
}

void TStreamPacker::compress()
{
    const QByteArray &input = m_input->data();
    QByteArray &output = m_output->buffer();
    TCompressionStream stream(output, zlibLevel(Method), [this](QObject *s) { DoProgress(s); });
    // Room for the largest possible result up front: growing step by step
    // would copy the output over and over and could hold twice its size. Pages
    // that are never written take no memory.
    output.reserve(
        qsizetype(std::min<qint64>(deflateBound(nullptr, uLong(input.size())), MaxStreamSize)));
    for (qsizetype start = 0; start < input.size(); start += PackInputBlock)
        stream.write(input.constData() + start, std::min(PackInputBlock, input.size() - start));
    stream.finish();
    output.squeeze();
}

// Unpacks through a temporary "pk" file, so that the unpacked size need not
// be known in advance. The file lives in a private directory that is removed,
// with the file, on every path.
void TStreamPacker::decompress()
{
    TDecompressionStream stream(m_input->data(), [this](QObject *s) { DoProgress(s); });
    const PrivateTempDir directory;
    QFile file(directory.filePath(QStringLiteral("pk.tmp")));
    if (!file.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered))
        throw FileError(QStringLiteral("Не удаётся создать временный файл \"%1\" (%2)")
                            .arg(file.fileName(), file.errorString()));
    unpackToFile(stream, file);
    readWholeFile(file, m_output->buffer());
}

void TStreamPacker::DoProgress(QObject *sender)
{
    const auto *stream = dynamic_cast<const TZStream *>(sender);
    if (stream && m_totalSize > 0)
        Progress = qint32(stream->Position() * 100 / m_totalSize);
    if (OnChangeProgress)
        OnChangeProgress(sender);
}
