#include "FileIcons.h"

#include <QDir>
#include <QIcon>
#include <QImage>

namespace {

constexpr int IconSize = 16;

// Drawn for this program, so that it looks the same on every desktop.
const char *const QuestionMarkXpm[] = {
    "16 16 3 1",        "  c None",         ". c #000000",      "y c #FFE030",
    "     ......     ", "   ..yyyyyy..   ", "  .yyy....yyy.  ", " .yy..yyyy..yy. ",
    " .yy..yyyy..yy. ", ".yyyyyyyyy..yyy.", ".yyyyyyyy..yyyy.", ".yyyyyyy..yyyyy.",
    ".yyyyyy..yyyyyy.", ".yyyyyy..yyyyyy.", " .yyyyyyyyyyyy. ", " .yyyyy..yyyyy. ",
    "  .yyyy..yyyy.  ", "   ..yyyyyy..   ", "     ......     ", "                ",
};

// Without a desktop session Qt knows no icon theme; the system's themes are
// then looked up under /usr/share/icons with Adwaita, which every desktop
// here installs, as the fallback.
void ensureIconTheme()
{
    static const bool ready = [] {
        const QString systemIcons = QStringLiteral("/usr/share/icons");
        if (!QIcon::themeSearchPaths().contains(systemIcons))
            QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << systemIcons);
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        if (QIcon::themeName().isEmpty())
            QIcon::setThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    Q_UNUSED(ready);
}

QIcon themeIcon(const QString &names)
{
    ensureIconTheme();
    for (const QString &name : names.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return {};
}

} // namespace

std::optional<IconSource> parseIconSource(const QString &text)
{
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma < 0)
        return IconSource{text, 0};
    bool isInteger = false;
    const int index = text.mid(comma + 1, 2).toInt(&isInteger);
    if (!isInteger)
        return std::nullopt;
    return IconSource{text.left(comma), static_cast<quint16>(index)};
}

QString fileExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot);
}

QPixmap iconFromSource(const IconSource &source)
{
    if (source.index != 0)
        return {};
    const QIcon icon =
        QDir::isAbsolutePath(source.file) ? QIcon(source.file) : themeIcon(source.file);
    return icon.pixmap(IconSize, IconSize);
}

QPixmap unknownTypeIcon()
{
    return QPixmap::fromImage(QImage(QuestionMarkXpm));
}

QPixmap FileTypeIcon(const QString &fileName, const ClassesRoot &root)
{
    if (fileName.isEmpty())
        return {};
    const QString type = root.readDefaultOrEmpty(fileExtension(fileName));
    if (type.isEmpty())
        return unknownTypeIcon();
    const std::optional<IconSource> source =
        parseIconSource(root.readDefaultOrEmpty(type + QStringLiteral("\\DefaultIcon")));
    return source ? iconFromSource(*source) : QPixmap();
}
