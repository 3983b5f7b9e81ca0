#pragma once

#include <QBuffer>
#include <QObject>
#include <functional>
#include <memory>
#include <stdexcept>
#include <zlib.h>

// A failure of zlib while packing or unpacking. Faulty packed data gives the
// message "error", which is what the catalogue's users have always seen.
class EZlibError : public std::runtime_error
{
public:
    explicit EZlibError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Sizes and positions of the packer's streams are 32-bit signed.
inline constexpr qint64 MaxStreamSize = 2147483647;

// Bytes in memory with a position, open for reading and writing for its whole
// life. Write a blob into it with write(); read it whole with data().
class TMemoryStream : public QBuffer
{
public:
    TMemoryStream();

    // Empties the stream (size 0, position 0) and frees its memory.
    void Clear();
    // Replaces the content by the file's bytes; position 0. Throws FileError
    // when the file cannot be read or is larger than 2,147,483,647 bytes.
    void LoadFromFile(const QString &fileName);
    // Writes the whole content to the file, replacing any file of that name.
    // Throws FileError when the file cannot be written.
    void SaveToFile(const QString &fileName) const;
};

// The zlib stream of a run under way: the sender of progress notifications.
// Its position is the number of packed or unpacked input bytes it has consumed.
class TZStream : public QObject
{
public:
    qint64 Position() const { return qint64(m_zlib.total_in); }

protected:
    z_stream m_zlib{};
};

enum TAction : quint8
{
    aCompress = 0,
    aDecompress = 1
};
enum TCompressionLevel : quint8
{
    clNone = 0,
    clFastest = 1,
    clDefault = 2,
    clMax = 3
};
using TNotifyEvent = std::function<void(QObject *sender)>;

// Packs the bytes of InputStream into OutputStream as one standard zlib
// stream (RFC 1950) and nothing else, or unpacks them back. This is the stored
// form of every attached file.
class TStreamPacker : public QObject
{
public:
    explicit TStreamPacker(QObject *owner = nullptr);
    ~TStreamPacker() override;

    // Filled by the caller before a run; emptied by a successful run.
    TMemoryStream *InputStream() const { return m_input.get(); }
    // Holds the result of the last run, at position 0.
    TMemoryStream *OutputStream() const { return m_output.get(); }

    TAction Action = aCompress;
    // Only packing uses it.
    TCompressionLevel Method = clNone;
    // A percentage: 0 at the start of a run, 100 at its successful end.
    qint32 Progress = 0;
    // Called with the zlib stream (not the packer) as the sender.
    TNotifyEvent OnChangeProgress;

    // Runs the configured action on the whole of InputStream, whatever its
    // position. Returns true; failures throw EZlibError (with "error" for
    // faulty packed data) or FileError, leave OutputStream empty and
    // InputStream as it was.
    bool Execute();

    // Called by the zlib stream of the run: sets Progress from the sender's
    // position, then calls OnChangeProgress.
    virtual void DoProgress(QObject *sender);

private:
    void compress();
    void decompress();

    std::unique_ptr<TMemoryStream> m_input;
    std::unique_ptr<TMemoryStream> m_output;
    qint32 m_totalSize = 0;
};
