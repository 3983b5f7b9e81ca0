#pragma once

#include "Statement.h"

#include <QString>

struct sqlite3;

// A connection of its own to one table file, for work outside the session:
// reading a file that may have come from elsewhere, or writing a fresh one.
// Nothing a file brings runs here (no triggers, no views, no functions of its
// definitions that could do harm); the catalogue's collation and upper() are
// there; it is closed on every path.
class FileConnection
{
public:
    // `flags` as sqlite3_open_v2 takes them. A value or definition longer
    // than `maxValueBytes` is refused instead of read (0: the engine's limit).
    FileConnection(const QString &path, int flags, int maxValueBytes = 0);
    ~FileConnection();
    FileConnection(const FileConnection &) = delete;
    FileConnection &operator=(const FileConnection &) = delete;

    sqlite3 *handle() const { return m_db; }
    Statement prepare(const QString &sql) const;
    void execute(const QString &sql) const;
    // A single value, e.g. of a pragma.
    QVariant value(const QString &sql) const;

private:
    sqlite3 *m_db = nullptr;
    QString m_context; // the file's name, for messages
};
