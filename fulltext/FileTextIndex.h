#pragma once

#include "CatalogueFiles.h"
#include "TextExtraction.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>

struct sqlite3;

// What the index knows of a file: the catalogue row it was made from, the
// hash of the packed bytes its text came from, and why it has no text.
struct IndexedFile
{
    CatalogueFile file;
    QByteArray hash;
    ExtractStatus status = ExtractStatus::Text;
    QString reason;
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
    explicit IndexError(const QString &message, int code = 0)
        : std::runtime_error(message.toStdString()), m_code(code)
    {}
    // The index file itself is damaged: it is thrown away and made again.
    bool damaged() const;

private:
    int m_code;
};

// The text of the attached files, indexed by word stem, in a file of its own
// kept by each desk (pathIn; never one of the catalogue's table files). It can always
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
    explicit FileTextIndex(const QString &dataDirectory, Opening opening = Opening::Repair);
    ~FileTextIndex();
    FileTextIndex(const FileTextIndex &) = delete;
    FileTextIndex &operator=(const FileTextIndex &) = delete;

    // The index file of the catalogue at `location`: beside the tables of a
    // folder, in a folder of this desk's own for a server.
    static QString pathIn(const QString &location);
    // Deletes the index file of a catalogue with its companions.
    static void removeIn(const QString &location);

    // Whether opening found no usable index and started an empty one.
    bool startedEmpty() const { return m_startedEmpty; }

    QHash<qint64, IndexedFile> files() const;
    std::optional<IndexedFile> file(qint64 fileId) const;
    // The files whose text could not be read (damaged, locked, too large),
    // with their reasons; the kinds we read no text from are not among them.
    QList<IndexedFile> skipped() const;
    // Stores a file's text (or only its row, when it has none) under its hash.
    void store(const CatalogueFile &file, const QByteArray &hash, const Extraction &extraction);
    // The file's owner, description or size changed; its text did not.
    void updateDetails(const CatalogueFile &file);
    void remove(qint64 fileId);

    // Stores that follow go into one transaction, committed by commitBatch():
    // a commit a file would cost more than the file.
    void beginBatch();
    void commitBatch();

    // Files holding every word of `text` in any of its forms, best matches
    // first. A word of three letters or more also finds the words that
    // begin with it; a shorter one finds itself only; a part in double
    // quotes is sought as a phrase. Only the first `withSnippets` carry
    // their words in place.
    QList<FileHit> search(const QString &text, int limit = 5000, int withSnippets = 20) const;

    // The match expression for a user's text: every word and every quoted
    // phrase becomes an FTS string, so that no user text is read as syntax.
    static QString matchExpression(const QString &text);

    // Words this short are matched whole: a prefix of one or two letters
    // would match half the language.
    static constexpr int shortestPrefix = 3;

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
