#include "FileTextIndex.h"

#include "CatalogueLocation.h"
#include "SqliteStatement.h"
#include "WordStems.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <sqlite3.h>

namespace {

// Bumped whenever the schema or the way words are cut changes: an index made
// by another version is made again rather than misread.
constexpr int schemaVersion = 2;

const QString indexFileName = QStringLiteral("FileText.idx");

// A failure of the index file in the words a user reads, naming the file.
IndexError failure(sqlite3 *db, int code)
{
    return IndexError(indexFileName + QStringLiteral(": ") + describeSqliteFailure(db, code), code);
}

class Prepared
{
public:
    Prepared(sqlite3 *db, const char *sql)
    {
        const int rc = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
        if (rc != SQLITE_OK)
            throw failure(db, rc);
    }
    ~Prepared() { sqlite3_finalize(m_statement); }
    Prepared(const Prepared &) = delete;
    Prepared &operator=(const Prepared &) = delete;

    sqlite3_stmt *get() const { return m_statement; }
    void bind(int index, qint64 value) { sqlite3_bind_int64(m_statement, index, value); }
    void bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, const QByteArray &blob)
    {
        sqlite3_bind_blob(m_statement, index, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
    }
    bool step()
    {
        const int rc = sqlite3_step(m_statement);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw failure(sqlite3_db_handle(m_statement), rc);
        return rc == SQLITE_ROW;
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    QString text(int column) const
    {
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column)),
            sqlite3_column_bytes(m_statement, column));
    }
    QByteArray blob(int column) const
    {
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, column)),
                          sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt *m_statement = nullptr;
};

// The columns FileID, FirmID, ItemID, Description, PackedSize from `from` on.
CatalogueFile fileAt(const Prepared &row, int from)
{
    return {row.integer(from), row.integer(from + 1), row.integer(from + 2), row.text(from + 3),
            row.integer(from + 4)};
}

QString ftsString(const QString &words)
{
    return u'"' + QString(words).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

} // namespace

FileTextIndex::FileTextIndex(const QString &dataDirectory, Opening opening)
{
    const QString path = pathIn(dataDirectory);
    // A constructor that throws runs no destructor: a failure (a full disk
    // while the schema is made) closes the connection here.
    try {
        if (opening == Opening::AsIs) {
            open(path, SQLITE_OPEN_READWRITE);
            return;
        }
        open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        if (usable())
            return;
        sqlite3_close(m_db);
        m_db = nullptr;
        removeIn(dataDirectory);
        m_startedEmpty = true;
        open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        createSchema();
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

FileTextIndex::~FileTextIndex()
{
    sqlite3_close(m_db);
}

QString FileTextIndex::pathIn(const QString &location)
{
    return QDir(CatalogueLocation::indexFolder(location)).filePath(indexFileName);
}

void FileTextIndex::removeIn(const QString &dataDirectory)
{
    const QString path = pathIn(dataDirectory);
    for (const QString &suffix :
         {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        QFile::remove(path + suffix);
}

void FileTextIndex::open(const QString &path, int flags)
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK) {
        const QString cause = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw IndexError(path + QStringLiteral(": ") + cause);
    }
    sqlite3_busy_timeout(m_db, 5000);
    if (!registerStemTokenizer(m_db) || !registerSnippetFunction(m_db))
        throw IndexError(QStringLiteral("SQLite without full-text search"));
}

// An index is used only when it opens and was made by this version. Its
// pages are not all read here: a damaged page shows when it is used, and
// the index is then made again.
bool FileTextIndex::usable()
{
    try {
        Prepared version(m_db, "pragma user_version");
        if (!version.step() || version.integer(0) != schemaVersion)
            return false;
        Prepared count(m_db, "select count(*) from files");
        count.step();
        exec("pragma journal_mode=wal");
        exec("pragma synchronous=normal");
        return true;
    } catch (const IndexError &) {
        return false;
    }
}

void FileTextIndex::createSchema()
{
    // Write-ahead logging: the window searches while the indexer writes.
    // A commit need not wait for the disk: a lost tail of the index is
    // found missing and made again at the next start.
    exec("pragma journal_mode=wal");
    exec("pragma synchronous=normal");
    exec("create table files(FileID integer primary key, FirmID integer, ItemID integer, "
         "Description text, PackedSize integer, Hash blob, Status integer, Reason text)");
    exec("create virtual table words using fts5(body, tokenize='quillon_stems')");
    exec(QStringLiteral("pragma user_version=%1").arg(schemaVersion).toUtf8().constData());
}

void FileTextIndex::exec(const char *sql) const
{
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw failure(m_db, rc);
}

bool IndexError::damaged() const
{
    const int primary = m_code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

QHash<qint64, IndexedFile> FileTextIndex::files() const
{
    QHash<qint64, IndexedFile> files;
    Prepared rows(m_db, "select FileID, FirmID, ItemID, Description, PackedSize, Hash, Status, "
                        "Reason from files");
    while (rows.step())
        files.insert(rows.integer(0),
                     {fileAt(rows, 0), rows.blob(5), ExtractStatus(rows.integer(6)), rows.text(7)});
    return files;
}

std::optional<IndexedFile> FileTextIndex::file(qint64 fileId) const
{
    Prepared row(m_db, "select FileID, FirmID, ItemID, Description, PackedSize, Hash, Status, "
                       "Reason from files where FileID=?1");
    row.bind(1, fileId);
    if (!row.step())
        return std::nullopt;
    return IndexedFile{fileAt(row, 0), row.blob(5), ExtractStatus(row.integer(6)), row.text(7)};
}

QList<IndexedFile> FileTextIndex::skipped() const
{
    Prepared rows(m_db, "select FileID, FirmID, ItemID, Description, PackedSize, Hash, Status, "
                        "Reason from files where Status not in (0, 2) order by Description");
    QList<IndexedFile> files;
    while (rows.step())
        files.append({fileAt(rows, 0), rows.blob(5), ExtractStatus(rows.integer(6)), rows.text(7)});
    return files;
}

void FileTextIndex::inTransaction(const std::function<void()> &work)
{
    // Inside a batch the batch's transaction holds the work.
    if (!sqlite3_get_autocommit(m_db)) {
        work();
        return;
    }
    exec("begin immediate");
    try {
        work();
        exec("commit");
    } catch (...) {
        // A full disk may have ended the transaction already: the rollback's
        // own complaint must not replace the real cause.
        sqlite3_exec(m_db, "rollback", nullptr, nullptr, nullptr);
        throw;
    }
}

void FileTextIndex::beginBatch()
{
    if (sqlite3_get_autocommit(m_db))
        exec("begin immediate");
}

void FileTextIndex::commitBatch()
{
    if (!sqlite3_get_autocommit(m_db))
        exec("commit");
}

void FileTextIndex::store(const CatalogueFile &file, const QByteArray &hash,
                          const Extraction &extraction)
{
    inTransaction([&] {
        Prepared drop(m_db, "delete from words where rowid=?1");
        drop.bind(1, file.fileId);
        drop.step();
        if (extraction.status == ExtractStatus::Text) {
            Prepared words(m_db, "insert into words(rowid, body) values(?1, ?2)");
            words.bind(1, file.fileId);
            words.bind(2, extraction.text);
            words.step();
        }
        Prepared row(m_db, "insert or replace into files values(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        row.bind(1, file.fileId);
        row.bind(2, file.firmId);
        row.bind(3, file.itemId);
        row.bind(4, file.description);
        row.bind(5, file.packedSize);
        row.bind(6, hash);
        row.bind(7, qint64(extraction.status));
        row.bind(8, extraction.reason);
        row.step();
    });
}

void FileTextIndex::updateDetails(const CatalogueFile &file)
{
    Prepared row(m_db, "update files set FirmID=?2, ItemID=?3, Description=?4, PackedSize=?5 "
                       "where FileID=?1");
    row.bind(1, file.fileId);
    row.bind(2, file.firmId);
    row.bind(3, file.itemId);
    row.bind(4, file.description);
    row.bind(5, file.packedSize);
    row.step();
}

void FileTextIndex::remove(qint64 fileId)
{
    inTransaction([&] {
        for (const char *sql :
             {"delete from words where rowid=?1", "delete from files where FileID=?1"}) {
            Prepared drop(m_db, sql);
            drop.bind(1, fileId);
            drop.step();
        }
    });
}

QString FileTextIndex::matchExpression(const QString &text)
{
    // "quoted parts" are phrases; every other run of word characters a word.
    static const QRegularExpression parts(QStringLiteral("\"([^\"]*)\"|([\\w]+)"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    QStringList strings;
    for (auto it = parts.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        const bool phrase = match.hasCaptured(1);
        const QString words = phrase ? match.captured(1) : match.captured(2);
        if (stemsOf(words).isEmpty())
            continue;
        // The word's stem begins every form of it and of the longer words
        // that begin with it: "болтов" is sought as the prefix "болт".
        const bool prefix = !phrase && words.size() >= shortestPrefix;
        strings << ftsString(words) + (prefix ? QStringLiteral(" *") : QString());
    }
    return strings.join(u' ');
}

QList<FileHit> FileTextIndex::search(const QString &text, int limit, int withSnippets) const
{
    const QString expression = matchExpression(text);
    if (expression.isEmpty())
        return {};
    Prepared rows(m_db, "select f.FileID, f.FirmID, f.ItemID, f.Description, f.PackedSize "
                        "from words join files f on f.FileID = words.rowid "
                        "where words match ?1 order by rank limit ?2");
    rows.bind(1, expression);
    rows.bind(2, qint64(limit));
    QList<FileHit> hits;
    while (rows.step())
        hits.append({fileAt(rows, 0), {}});
    const QHash<qint64, QString> words = snippets(expression, hits.mid(0, withSnippets));
    for (FileHit &hit : hits)
        hit.snippet = words.value(hit.file.fileId);
    return hits;
}

QHash<qint64, QString> FileTextIndex::snippets(const QString &expression,
                                               const QList<FileHit> &hits) const
{
    QStringList keys;
    for (const FileHit &hit : hits)
        keys << QString::number(hit.file.fileId);
    QHash<qint64, QString> found;
    if (keys.isEmpty())
        return found;
    // The keys are numbers the index gave; only they enter the text.
    const QByteArray sql = "select rowid, quillon_snippet(words) from words "
                           "where words match ?1 and rowid in (" +
                           keys.join(u',').toLatin1() + ")";
    Prepared rows(m_db, sql.constData());
    rows.bind(1, expression);
    while (rows.step())
        found.insert(rows.integer(0), rows.text(1).simplified());
    return found;
}
