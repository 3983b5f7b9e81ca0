#pragma once

#include <QByteArray>
#include <QString>

// The layout of a backup archive, shared by the writer and the reader: the
// manifest's name and format, and the limits a reader holds an archive to.
namespace Manifest {

inline const QString formatTag = QStringLiteral("quillon-backup");
inline constexpr int formatVersion = 1;
inline const QString fileName = QStringLiteral("manifest.json");
inline const QString descriptionName = QStringLiteral("base.ini");
// A manifest of ten tables is a few kilobytes; anything far larger is not ours.
inline constexpr qint64 maxBytes = 1 << 20;
// A catalogue has ten tables, the description and the manifest; a few spare.
inline constexpr qint64 maxEntries = 64;

// What a manifest says of one file. Rows are listed since the manifest
// first said them; older backups give -1.
struct ListedFile
{
    QString name;
    qint64 size = 0;
    QByteArray sha256; // hexadecimal
    qint64 rows = -1;
};

} // namespace Manifest
