#include "TempFiles.h"

#include "FileError.h"
#include "Leftovers.h"

#include <QDir>
#include <QFileInfo>

// The process id in the name lets a later start remove the folder should
// this run be killed before it can.
PrivateTempDir::PrivateTempDir()
    : m_dir(QDir::tempPath() + '/' + Leftovers::temporaryPrefix() + QStringLiteral("XXXXXX"))
{
    if (!m_dir.isValid())
        throw FileError(QStringLiteral("Не удаётся создать временную папку в \"%1\" (%2)")
                            .arg(QDir::tempPath(), m_dir.errorString()));
}

QString PrivateTempDir::path() const
{
    return m_dir.path();
}

QString PrivateTempDir::filePath(const QString &fileName) const
{
    return m_dir.filePath(safeFileName(fileName));
}

namespace {

// Cuts a text to at most `length` characters without splitting a surrogate pair.
QString leftWhole(const QString &text, qsizetype length)
{
    if (length < text.size() && length > 0 && text[length - 1].isHighSurrogate())
        --length;
    return text.left(length);
}

} // namespace

QString shortFileName(const QString &path)
{
    const QString name = safeFileName(QFileInfo(path).fileName());
    if (name.size() <= MaxShortNameLength)
        return name;
    // A leading dot starts a hidden name, not an extension; an extension that
    // leaves no room for one character of the stem is not kept either.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype extensionLength = dot > 0 ? name.size() - dot : 0;
    if (extensionLength == 0 || extensionLength >= MaxShortNameLength)
        return leftWhole(name, MaxShortNameLength);
    return leftWhole(name, MaxShortNameLength - extensionLength) + name.mid(dot);
}

QString safeFileName(const QString &name)
{
    QString safe = name;
    for (QChar &c : safe) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('"') || c.isNull())
            c = QLatin1Char('_');
    }
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
        safe.fill(QLatin1Char('_'), qMax<qsizetype>(safe.size(), 1));
    return safe;
}

bool FileExists(const QString &name)
{
    return !name.isEmpty() && QFileInfo::exists(name);
}
