#include "ForeignObjects.h"

#include "EngineError.h"
#include "FileConnection.h"
#include "FolderSession.h"
#include "FreshCopy.h"
#include "SqlText.h"
#include "TableFiles.h"
#include "TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace ForeignObjects {
namespace {

// The program's definitions are a few hundred bytes: anything far longer (a
// default value of 900 MB, say) is refused before it is read.
constexpr int maxDefinitionBytes = 1 << 20;
// Where a file is written again before it takes the old one's place.
const QString rebuildFolder = QStringLiteral(".rebuilding");

QString stemOf(const QString &fileName)
{
    return fileName.section('.', 0, 0);
}

QString literal(const QString &text)
{
    return '\'' + QString(text).replace('\'', QStringLiteral("''")) + '\'';
}

struct SchemaEntry
{
    QString type;
    QString name;
    QString table;
    QString sql;
};

// What the words of a table's definition mean, when the program writes none of them.
QStringList namedExtras(const QStringList &actual, const QStringList &expected)
{
    static const QList<std::pair<QString, QString>> meanings = {
        {"CHECK", "правило CHECK"},
        {"DEFAULT", "значение по умолчанию"},
        {"NOT", "запрет пустого значения"},
        {"UNIQUE", "требование уникальности"},
        {"PRIMARY", "первичный ключ в определении"},
        {"REFERENCES", "ссылка на другую таблицу"},
        {"FOREIGN", "ссылка на другую таблицу"},
        {"GENERATED", "вычисляемое поле"},
        {"AS", "вычисляемое поле"},
        {"COLLATE", "свой порядок сортировки"},
        {"WITHOUT", "таблица без номеров строк (WITHOUT ROWID)"},
        {"STRICT", "строгие типы (STRICT)"},
        {"AUTOINCREMENT", "счётчик AUTOINCREMENT"}};
    QStringList named;
    for (const auto &[word, meaning] : meanings) {
        if (actual.contains(word) && !expected.contains(word) && !named.contains(meaning))
            named << meaning;
    }
    return named;
}

class FileCheck
{
public:
    // `maxBytes` bounds every definition read; 0 reads them whatever their size.
    FileCheck(const QString &path, const QString &fileName, int maxBytes = maxDefinitionBytes)
        : m_db(path, SQLITE_OPEN_READWRITE, maxBytes), m_fileName(fileName)
    {}

    // The indexes of the program's kind, as the check found them.
    const QList<IndexDef> &plainIndexes() const { return m_plainIndexes; }

    QList<Finding> run()
    {
        QList<SchemaEntry> entries;
        try {
            entries = schema();
        } catch (const EngineError &) {
            if (m_tooLong)
                m_findings.append({m_fileName,
                                   QStringLiteral("определение длиннее %1 байт (программа таких "
                                                  "не пишет)")
                                       .arg(maxDefinitionBytes),
                                   true});
            // A damaged file is not foreign: opening it says what is wrong.
            return m_findings;
        }
        for (const SchemaEntry &entry : entries)
            checkEntry(entry);
        checkKeys();
        return m_findings;
    }

private:
    QList<SchemaEntry> schema()
    {
        QList<SchemaEntry> entries;
        try {
            Statement rows = m_db.prepare(QStringLiteral(
                "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid"));
            while (rows.step())
                entries.append({rows.value(0).toString(), rows.value(1).toString(),
                                rows.value(2).toString(), rows.value(3).toString()});
        } catch (const EngineError &) {
            m_tooLong = (sqlite3_errcode(m_db.handle()) & 0xFF) == SQLITE_TOOBIG;
            throw;
        }
        for (const SchemaEntry &entry : entries) {
            if (entry.type == QLatin1String("table") &&
                entry.name.compare(stemOf(m_fileName), Qt::CaseInsensitive) == 0)
                m_table = entry.name;
        }
        return entries;
    }

    void note(const QString &what) { m_findings.append({m_fileName, what}); }

    void checkEntry(const SchemaEntry &entry)
    {
        const QString name = QStringLiteral("«%1»").arg(entry.name);
        if (entry.type == QLatin1String("trigger"))
            note(QStringLiteral("триггер ") + name);
        else if (entry.type == QLatin1String("view"))
            note(QStringLiteral("представление ") + name);
        else if (entry.type == QLatin1String("table") && entry.name != m_table)
            note(QStringLiteral("таблица ") + name);
        else if (entry.type == QLatin1String("table"))
            checkDefinition(entry.sql);
        else if (entry.type == QLatin1String("index") && entry.table == m_table &&
                 !entry.sql.isEmpty())
            checkIndex(entry.name);
        // Other indexes belong to a table noted already, or to a rule of the table's definition.
    }

    // The definition must be the one the program writes for these columns.
    void checkDefinition(const QString &sql)
    {
        QStringList columns;
        Statement info = m_db.prepare(
            QStringLiteral("SELECT name, type FROM pragma_table_xinfo(%1)").arg(literal(m_table)));
        while (info.step())
            columns << SqlText::quoted(info.value(0).toString()) + ' ' + info.value(1).toString();
        const QString expected =
            QStringLiteral("CREATE TABLE %1 (%2)")
                .arg(SqlText::quoted(m_table), columns.join(QStringLiteral(", ")));
        const QStringList actualTokens = SqlText::tokens(sql);
        const QStringList expectedTokens = SqlText::tokens(expected);
        if (actualTokens == expectedTokens)
            return;
        const QStringList extras = namedExtras(actualTokens, expectedTokens);
        note(QStringLiteral("в определении таблицы %1: %2")
                 .arg(m_table, extras.isEmpty() ? QStringLiteral("то, чего программа не пишет")
                                                : extras.join(QStringLiteral(", "))));
    }

    // An index of the program's kind: plain columns of the table, in its
    // order or the Russian one, over every row.
    void checkIndex(const QString &index)
    {
        Statement list =
            m_db.prepare(QStringLiteral("SELECT \"unique\", partial FROM pragma_index_list(%1) "
                                        "WHERE name = %2")
                             .arg(literal(m_table), literal(index)));
        list.step();
        IndexDef def;
        def.primary = index.compare(primaryIndexName, Qt::CaseInsensitive) == 0;
        def.name = def.primary ? QString() : index;
        def.unique = list.value(0).toInt() != 0;
        bool plain = list.value(1).toInt() == 0;
        Statement columns = m_db.prepare(
            QStringLiteral("SELECT cid, name, coll FROM pragma_index_xinfo(%1) WHERE key = 1")
                .arg(literal(index)));
        while (columns.step()) {
            const QString collation = columns.value(2).toString();
            def.fields << columns.value(1).toString();
            def.caseInsensitive =
                def.caseInsensitive || collation == QLatin1String(TextRules::collationName);
            plain = plain && columns.value(0).toInt() >= 0 &&
                    (collation.compare(QLatin1String("BINARY"), Qt::CaseInsensitive) == 0 ||
                     collation == QLatin1String(TextRules::collationName));
        }
        if (plain)
            m_plainIndexes << def;
        else
            note(
                QStringLiteral("индекс «%1» с выражением, условием или чужим порядком").arg(index));
    }

    // Keys must fit the integer the windows hold them in, and so must the
    // count of keys handed out.
    void checkKeys()
    {
        if (m_table.isEmpty())
            return;
        const qint64 handedOut = m_db.value(QStringLiteral("PRAGMA user_version")).toLongLong();
        if (!FreshCopy::isSoundHandedOut(handedOut))
            note(QStringLiteral("счётчик ключей %1 у предела целых чисел или за ним")
                     .arg(handedOut));
        Statement info = m_db.prepare(
            QStringLiteral("SELECT name, type FROM pragma_table_info(%1)").arg(literal(m_table)));
        QStringList keys;
        while (info.step()) {
            if (FieldDef::fromDeclaration({}, info.value(1).toString()).kind == FieldKind::AutoInc)
                keys << info.value(0).toString();
        }
        for (const QString &key : keys) {
            // Texts sort after numbers: the greatest value shows one as well.
            Statement highest =
                m_db.prepare(QStringLiteral("SELECT max(%1), typeof(max(%1)) FROM %2")
                                 .arg(SqlText::quoted(key), SqlText::quoted(m_table)));
            highest.step();
            const QString type = highest.value(1).toString();
            if (type == QLatin1String("null"))
                continue;
            if (type != QLatin1String("integer") || highest.int64(0) > maxKey)
                note(QStringLiteral("ключ %1 вне диапазона целых чисел (%2)")
                         .arg(key, highest.value(0).toString().left(40)));
        }
    }

    FileConnection m_db;
    QString m_fileName;
    QString m_table;
    bool m_tooLong = false;
    QList<Finding> m_findings;
    QList<IndexDef> m_plainIndexes;
};

void syncFolder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void rebuild(const QString &directory, const QString &fileName)
{
    const QString path = FolderSession::findFileIn(directory, fileName);
    if (path.isEmpty())
        return;
    const FreshCopy::SourceTable source = FreshCopy::describe(path, fileName);
    if (source.name.isEmpty())
        throw EngineError(fileName + QStringLiteral(": в файле нет таблицы"));
    // Read whatever their size: the file is being rid of them.
    FileCheck check(path, fileName, 0);
    check.run();
    const QList<IndexDef> indexes = check.plainIndexes();

    const QString scratch = QDir(directory).filePath(rebuildFolder);
    QDir(scratch).removeRecursively();
    if (!QDir().mkpath(scratch))
        throw EngineError(scratch + QStringLiteral(": не удаётся создать папку"));
    try {
        QList<FreshCopy::Column> columns;
        for (const FieldDef &field : source.columns)
            columns.append({field, field.name});
        {
            FolderSession fresh(scratch);
            TableFiles::createTable(fresh, QFileInfo(path).fileName(), source.columns);
        }
        const QString freshPath = QDir(scratch).filePath(QFileInfo(path).fileName());
        const FreshCopy::Copied copied =
            FreshCopy::copyRows(path, source.name, freshPath, columns, false);
        FolderSession fresh(scratch);
        const TableRef table = fresh.tableByFile(QFileInfo(path).fileName());
        for (const IndexDef &index : indexes)
            TableFiles::addIndex(fresh, table.fileName, index);
        fresh.execute(QStringLiteral("PRAGMA %1.user_version = %2")
                          .arg(SqlText::quoted(table.schema))
                          .arg(FreshCopy::soundHandedOut(copied.handedOut, copied.highestKey)));
        fresh.detachAll();
        if (std::rename(QFile::encodeName(freshPath).constData(),
                        QFile::encodeName(path).constData()) != 0)
            throw EngineError(fileName + QStringLiteral(": не удаётся заменить файл (") +
                              QString::fromLocal8Bit(strerror(errno)) + ')');
        syncFolder(directory);
    } catch (...) {
        QDir(scratch).removeRecursively();
        throw;
    }
    QDir(scratch).removeRecursively();
}

} // namespace

QList<Finding> inFile(const QString &directory, const QString &fileName)
{
    const QString path = FolderSession::findFileIn(directory, fileName);
    if (path.isEmpty())
        return {};
    try {
        return FileCheck(path, fileName).run();
    } catch (const EngineError &) {
        return {}; // not a table file at all: opening it says so
    }
}

QList<Finding> inCatalogue(const QString &directory, const QStringList &tableFiles)
{
    QList<Finding> findings;
    for (const QString &fileName : tableFiles)
        findings += inFile(directory, fileName);
    return findings;
}

QString listed(const QList<Finding> &findings)
{
    QStringList lines;
    for (const Finding &finding : findings)
        lines << finding.fileName + QStringLiteral(": ") + finding.what;
    return lines.join('\n');
}

void remove(const QString &directory, const QList<Finding> &findings)
{
    QStringList files;
    for (const Finding &finding : findings) {
        if (!files.contains(finding.fileName))
            files << finding.fileName;
    }
    for (const QString &fileName : files)
        rebuild(directory, fileName);
}

} // namespace ForeignObjects
