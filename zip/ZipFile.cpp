#include "ZipFile.h"

#include "FileError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace {

QString zipMessage(zip_error_t *error)
{
    return QString::fromLocal8Bit(zip_error_strerror(error));
}

QString archiveMessage(zip *archive)
{
    return QString::fromLocal8Bit(zip_strerror(archive));
}

// The file could not be opened as a zip archive: said in Russian for what a
// user can do something about, the library's words for the rest.
QString openFailure(const QString &path, int code, const QString &message)
{
    switch (code) {
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
        return cannotRead(path, message);
    case ZIP_ER_NOZIP:
        return QDir::toNativeSeparators(path) + QStringLiteral(": файл не является zip-архивом");
    case ZIP_ER_INCONS:
        return QDir::toNativeSeparators(path) +
               QStringLiteral(": файл не является zip-архивом или повреждён");
    default:
        return QDir::toNativeSeparators(path) +
               QStringLiteral(": файл не является zip-архивом или повреждён (") + message + u')';
    }
}

// The rename that made the file visible must reach the disk too.
void syncFileAndFolder(const QString &path)
{
    for (const QString &name : {path, QFileInfo(path).absolutePath()}) {
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
}

} // namespace

ZipWriter::ZipWriter(const QString &path) : m_path(path)
{
    int code = 0;
    m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!m_zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString message = zipMessage(&error);
        zip_error_fini(&error);
        throw FileError(cannotCreate(path, message));
    }
}

ZipWriter::~ZipWriter()
{
    if (m_zip)
        zip_discard(m_zip);
}

void ZipWriter::check(bool ok, const QString &what)
{
    if (!ok) {
        throw FileError(QDir::toNativeSeparators(m_path) + QStringLiteral(": ") + what + " (" +
                        archiveMessage(m_zip) + ')');
    }
}

qint64 ZipWriter::addSource(const QString &name, zip_source *source)
{
    check(source != nullptr, QStringLiteral("не удалось добавить ") + name);
    const zip_int64_t index =
        zip_file_add(m_zip, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0)
        zip_source_free(source);
    check(index >= 0, QStringLiteral("не удалось добавить ") + name);
    // The library's own default is the slowest level, which on attached files
    // (compressed already) costs twice the time for nothing; 6 is zip's default.
    constexpr zip_uint32_t deflateLevel = 6;
    check(zip_set_file_compression(m_zip, zip_uint64_t(index), ZIP_CM_DEFLATE, deflateLevel) == 0,
          QStringLiteral("не удалось задать сжатие ") + name);
    return index;
}

void ZipWriter::addFile(const QString &name, const QString &diskPath)
{
    addSource(name, zip_source_file(m_zip, QFile::encodeName(diskPath).constData(), 0, -1));
}

void ZipWriter::addData(const QString &name, const QByteArray &data)
{
    m_buffers.append(data);
    const QByteArray &kept = m_buffers.last();
    addSource(name, zip_source_buffer(m_zip, kept.constData(), zip_uint64_t(kept.size()), 0));
}

void ZipWriter::commit(const std::function<void(double)> &progress)
{
    if (progress) {
        // The library reports after every percent it has written.
        zip_register_progress_callback_with_state(
            m_zip, 0.01,
            [](zip *, double done, void *state) {
                (*static_cast<const std::function<void(double)> *>(state))(done);
            },
            nullptr, const_cast<std::function<void(double)> *>(&progress));
    }
    check(zip_close(m_zip) == 0, QStringLiteral("не удалось записать архив"));
    m_zip = nullptr;
    m_buffers.clear();
    syncFileAndFolder(m_path);
}

ZipReader::ZipReader(const QString &path, qint64 maxEntries) : m_path(path)
{
    int code = 0;
    m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    const QString shown = QDir::toNativeSeparators(path);
    if (!m_zip) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const QString message = zipMessage(&error);
        zip_error_fini(&error);
        throw FileError(openFailure(path, code, message));
    }
    try {
        readDirectory(shown, maxEntries);
    } catch (...) {
        // A refused archive is closed here: no destructor runs for it.
        zip_discard(m_zip);
        m_zip = nullptr;
        throw;
    }
}

void ZipReader::readDirectory(const QString &shown, qint64 maxEntries)
{
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    if (count > maxEntries)
        throw FileError(shown + QStringLiteral(": в архиве слишком много файлов"));
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_stat_index(m_zip, zip_uint64_t(i), 0, &stat) != 0 ||
            zip_file_get_external_attributes(m_zip, zip_uint64_t(i), 0, &system, &attributes) != 0)
            throw FileError(shown + QStringLiteral(": оглавление архива повреждено"));
        const bool link = system == ZIP_OPSYS_UNIX && S_ISLNK(attributes >> 16);
        m_entries.append(
            {QString::fromUtf8(stat.name), qint64(stat.size), qint64(stat.comp_size), link});
    }
}

ZipReader::~ZipReader()
{
    if (m_zip)
        zip_close(m_zip);
}

int ZipReader::indexOf(const QString &name) const
{
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].name == name)
            return i;
    }
    return -1;
}

void ZipReader::read(int index, qint64 maxBytes,
                     const std::function<void(const char *, qint64)> &sink) const
{
    const QString what =
        QDir::toNativeSeparators(m_path) + QStringLiteral(": ") + m_entries.value(index).name;
    zip_file_t *file = zip_fopen_index(m_zip, zip_uint64_t(index), 0);
    if (!file)
        throw FileError(what + QStringLiteral(" не читается (") + archiveMessage(m_zip) + ')');
    // Large enough that the per-call cost vanishes, small enough for the stack of a caller.
    constexpr qint64 chunk = 256 * 1024;
    QByteArray buffer(chunk, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const zip_int64_t got = zip_fread(file, buffer.data(), zip_uint64_t(chunk));
        if (got < 0) {
            const QString message = QString::fromLocal8Bit(zip_file_strerror(file));
            zip_fclose(file);
            throw FileError(what + QStringLiteral(" повреждён (") + message + ')');
        }
        if (got == 0)
            break;
        total += got;
        if (total > maxBytes) {
            zip_fclose(file);
            throw FileError(what + QStringLiteral(" больше допустимого размера"));
        }
        sink(buffer.constData(), got);
    }
    zip_fclose(file);
}

QByteArray ZipReader::readAll(int index, qint64 maxBytes) const
{
    QByteArray data;
    read(index, maxBytes, [&](const char *bytes, qint64 size) { data.append(bytes, size); });
    return data;
}
