#pragma once

#include "TextExtraction.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <stdexcept>

struct sqlite3;

// An attached file as the catalogue holds it, without its bytes.
struct CatalogueFile
{
    qint64 fileId = 0;
    qint64 firmId = 0; // 0 when the file belongs to an item
    qint64 itemId = 0; // 0 when the file belongs to a firm
    QString description;
};

// What the index knows of a file: the catalogue row it was made from and the
// hash of the packed bytes its text came from.
struct IndexedFile
{
    CatalogueFile file;
    QByteArray hash;
    ExtractStatus status = ExtractStatus::Text;
};

// A file whose text holds every word sought, with the words in their place.
struct FileHit
{
    CatalogueFile file;
    QString snippet;
};

class IndexError : public std::runtime_error
{
public:
    explicit IndexError(const QString &message) : std::runtime_error(message.toStdString()) {}
};

// The text of the attached files, indexed by word stem, in a file of its own
// beside the tables (never one of the catalogue's table files). It can always
// be thrown away and made again from Files.DB; a missing, damaged or older
// index file is replaced by an empty one on opening, which the next
// synchronisation fills.
class FileTextIndex
{
public:
    enum class Opening
    {
        Repair, // check the file; replace a missing, damaged or older one by an empty one
        AsIs    // open for searching only; throws IndexError when there is no index
    };
    // The index of the catalogue at `catalogue` (a data directory or a server's URI).
    explicit FileTextIndex(const QString &catalogue, Opening opening = Opening::Repair);
    ~FileTextIndex();
    FileTextIndex(const FileTextIndex &) = delete;
    FileTextIndex &operator=(const FileTextIndex &) = delete;

    // Where a catalogue's index is: beside the tables of a folder; for a
    // catalogue on a server, in the user's own data folder, since each desk
    // keeps an index of its own (the server holds the files, every desk can
    // index them, and the index needs no server of its own).
    static QString pathIn(const QString &catalogue);
    // Deletes the index file of a catalogue with its companions.
    static void removeIn(const QString &catalogue);

    // Whether opening found no usable index and started an empty one.
    bool startedEmpty() const { return m_startedEmpty; }

    QHash<qint64, IndexedFile> files() const;
    // Stores a file's text (or only its row, when it has none) under its hash.
    void store(const CatalogueFile &file, const QByteArray &hash, const Extraction &extraction);
    // The file's owner and description changed; its text did not.
    void updateDetails(const CatalogueFile &file);
    void remove(qint64 fileId);

    // Files holding every word of `text` in any of its forms; a part in
    // double quotes is sought as a phrase. Best matches first; only the
    // first `withSnippets` carry their words in place, since a snippet reads
    // its document again.
    QList<FileHit> search(const QString &text, int limit = 5000, int withSnippets = 20) const;

    // The match expression for a user's text: every word and every quoted
    // phrase becomes an FTS string, so that no user text is read as syntax.
    static QString matchExpression(const QString &text);

private:
    void open(const QString &path, int flags);
    bool usable();
    void createSchema();
    void exec(const char *sql) const;
    // Runs `work` in one write transaction, rolled back when it throws.
    void inTransaction(const std::function<void()> &work);
    QHash<qint64, QString> snippets(const QString &expression, const QList<FileHit> &hits) const;

    sqlite3 *m_db = nullptr;
    bool m_startedEmpty = false;
};
