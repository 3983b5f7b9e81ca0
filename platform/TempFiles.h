#pragma once

#include <QString>
#include <QTemporaryDir>

// A private temporary directory for one use: created with mode 0700 under a
// name nobody can predict, and removed with everything in it when the object
// goes, on every path. Files in a shared temporary folder under a known name
// could be read, replaced or planted by another user.
class PrivateTempDir
{
public:
    // Throws FileError when the directory cannot be created.
    PrivateTempDir();

    QString path() const;
    // The path of a file in this directory. The name is made safe first
    // (safeFileName), so a name read from a catalogue never leaves it.
    QString filePath(const QString &fileName) const;

private:
    QTemporaryDir m_dir;
};

// The longest short name a catalogue stores: the width of its FileName field.
inline constexpr qsizetype MaxShortNameLength = 13;

// The name under which an attached file is stored and later unpacked: the
// name part of the path, cut to 13 characters so that it keeps its extension
// whenever the extension fits (the start of the stem, then the whole
// extension), and made safe.
QString shortFileName(const QString &path);

// A name that stays inside the directory it is joined to and stays one
// argument of a command line: '/', '\', '"' and NUL become '_', and the names
// ".", ".." and "" become underscores.
QString safeFileName(const QString &name);

// Whether a file system entry of exactly this name exists.
bool FileExists(const QString &name);
