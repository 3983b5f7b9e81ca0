#include "ClassesRoot.h"

#include <QStringList>
#include <gio/gio.h>
#include <memory>

namespace {

// Key paths are compared as the registry compared them: without regard to
// case, with or without the leading backslash.
QStringList keyParts(const QString &keyPath)
{
    return keyPath.toLower().split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

struct GFreeDeleter
{
    void operator()(char *text) const { g_free(text); }
};
using GText = std::unique_ptr<char, GFreeDeleter>;

struct GObjectDeleter
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GRef = std::unique_ptr<T, GObjectDeleter>;

// The MIME type that the desktop gives files with this extension, or nothing
// when the extension is not in the MIME database.
std::optional<QString> typeForExtension(const QString &extension)
{
    if (extension.size() < 2)
        return std::nullopt;
    const QByteArray fileName = QByteArrayLiteral("file") + extension.toUtf8();
    GText type(g_content_type_guess(fileName.constData(), nullptr, 0, nullptr));
    if (!type || g_content_type_is_unknown(type.get()))
        return std::nullopt;
    return QString::fromUtf8(type.get());
}

// Quotes a text as one argument of a desktop entry's command line: inside
// double quotes, '"', '`', '$' and '\' are escaped by a backslash.
QString quotedArgument(const QString &text)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        if (QStringLiteral("\"`$\\").contains(c))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// The text that stands for one field code of a desktop entry's Exec line. The
// first file or URL code becomes the "%1" placeholder, in quotes so that a
// path with blanks stays one argument. Later file codes, the entry's own
// location (%k) and the deprecated codes stand for nothing.
QString expandFieldCode(QChar code, GAppInfo *app, bool &placeholderWritten)
{
    switch (code.unicode()) {
    case '%':
        return QStringLiteral("%");
    case 'f':
    case 'F':
    case 'u':
    case 'U':
        if (placeholderWritten)
            return {};
        placeholderWritten = true;
        return QStringLiteral("\"%1\"");
    case 'c':
        return quotedArgument(QString::fromUtf8(g_app_info_get_name(app)));
    case 'i': {
        GIcon *icon = g_app_info_get_icon(app);
        if (!icon)
            return {};
        GText name(g_icon_to_string(icon));
        return QStringLiteral("--icon ") + quotedArgument(QString::fromUtf8(name.get()));
    }
    default:
        return {};
    }
}

// The open command of the type's default application, with its field codes
// expanded as the classic registry wrote them.
std::optional<QString> openCommandForType(const QString &type)
{
    GRef<GAppInfo> app(g_app_info_get_default_for_type(type.toUtf8().constData(), FALSE));
    const char *exec = app ? g_app_info_get_commandline(app.get()) : nullptr;
    if (!exec)
        return std::nullopt;
    const QString line = QString::fromUtf8(exec);
    QString command;
    bool placeholderWritten = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == QLatin1Char('%') && i + 1 < line.size())
            command += expandFieldCode(line[++i], app.get(), placeholderWritten);
        else
            command += line[i];
    }
    return command.trimmed();
}

// The type's theme icon names, most specific first, as an icon source with
// the index 0. Symbolic variants are left out: they are drawn for toolbars.
std::optional<QString> iconSourceForType(const QString &type)
{
    GRef<GIcon> icon(g_content_type_get_icon(type.toUtf8().constData()));
    if (!icon || !G_IS_THEMED_ICON(icon.get()))
        return std::nullopt;
    QStringList names;
    for (const char *const *name = g_themed_icon_get_names(G_THEMED_ICON(icon.get())); *name;
         ++name) {
        const QString text = QString::fromUtf8(*name);
        if (!text.endsWith(QLatin1String("-symbolic")))
            names << text;
    }
    if (names.isEmpty())
        return std::nullopt;
    return names.join(QLatin1Char(';')) + QStringLiteral(",0");
}

} // namespace

QString ClassesRoot::readDefaultOrEmpty(const QString &keyPath) const
{
    return readDefault(keyPath).value_or(QString());
}

std::optional<QString> GioClassesRoot::readDefault(const QString &keyPath) const
{
    const QStringList parts = keyParts(keyPath);
    if (parts.size() == 1 && parts[0].startsWith(QLatin1Char('.')))
        return typeForExtension(parts[0]);
    if (parts.size() == 4 && parts.mid(1) == QStringList{"shell", "open", "command"})
        return openCommandForType(parts[0]);
    if (parts.size() == 2 && parts[1] == QLatin1String("defaulticon"))
        return iconSourceForType(parts[0]);
    return std::nullopt;
}

const ClassesRoot &desktopClassesRoot()
{
    static const GioClassesRoot root;
    return root;
}

std::optional<QString> MemoryClassesRoot::readDefault(const QString &keyPath) const
{
    const auto found = m_values.constFind(keyParts(keyPath).join(QLatin1Char('\\')));
    if (found == m_values.constEnd())
        return std::nullopt;
    return *found;
}

void MemoryClassesRoot::setDefault(const QString &keyPath, const QString &value)
{
    addKey(keyPath);
    m_values[keyParts(keyPath).join(QLatin1Char('\\'))] = value;
}

void MemoryClassesRoot::addKey(const QString &keyPath)
{
    QStringList path;
    for (const QString &part : keyParts(keyPath)) {
        path << part;
        const QString key = path.join(QLatin1Char('\\'));
        if (!m_values.contains(key))
            m_values.insert(key, QString());
    }
}
