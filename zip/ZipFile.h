#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

struct zip;

// A zip file being written. Entries are gathered first and compressed when
// the archive is committed; the file then appears under its name whole, or
// not at all (the library writes a temporary file beside it and renames it).
class ZipWriter
{
public:
    // Throws FileError when the file cannot be created.
    explicit ZipWriter(const QString &path);
    ~ZipWriter();
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    void addFile(const QString &name, const QString &diskPath);
    void addData(const QString &name, const QByteArray &data);
    // Compresses and writes everything, then syncs the file to disk. `progress`
    // is called now and then with a fraction from 0 to 1.
    void commit(const std::function<void(double)> &progress = {});

private:
    void check(bool ok, const QString &what);
    qint64 addSource(const QString &name, struct zip_source *source);

    QString m_path;
    zip *m_zip = nullptr;
    QList<QByteArray> m_buffers; // kept alive until commit
};

// A zip file read as untrusted input: every entry is read within a limit of
// bytes that the caller sets, whatever sizes the directory claims, and its
// checksum is verified at its end.
class ZipReader
{
public:
    struct Entry
    {
        QString name;
        qint64 size = 0;
        qint64 compressedSize = 0;
        bool link = false; // a symbolic link, as Unix zip tools store one
    };

    // Throws FileError naming the file when it is no readable zip.
    explicit ZipReader(const QString &path, qint64 maxEntries = 1000);
    ~ZipReader();
    ZipReader(const ZipReader &) = delete;
    ZipReader &operator=(const ZipReader &) = delete;

    const QList<Entry> &entries() const { return m_entries; }
    // Index of the entry named `name` (letter case counts), or -1.
    int indexOf(const QString &name) const;

    // Hands the entry's bytes to `sink` in pieces. Throws FileError when it
    // holds more than `maxBytes` or fails its checksum.
    void read(int index, qint64 maxBytes,
              const std::function<void(const char *, qint64)> &sink) const;
    QByteArray readAll(int index, qint64 maxBytes) const;

private:
    void readDirectory(const QString &shown, qint64 maxEntries);

    QString m_path;
    zip *m_zip = nullptr;
    QList<Entry> m_entries;
};
