#include "ShellHelpers.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <gio/gio.h>

namespace {

const char *const WebPageExtensions[] = {".html", ".htm", ".shtml", ".shtm"};

// Waits for the process to end. Paint, timer and window-manager events go on
// being served so the windows repaint and answer the window manager's
// "are you alive" pings; keyboard and mouse input waits in the queue.
void waitRepainting(QProcess &process)
{
    if (!QCoreApplication::instance()) {
        process.waitForFinished(-1);
        return;
    }
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// The address that the desktop's handlers take for a target: an existing file
// as a file URL, a text with a scheme ("mailto:", "http:") as it is, any other
// text as a web address.
QString uriForTarget(const QString &target)
{
    if (QFileInfo::exists(target))
        return QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath()).toString();
    // The scheme comes back interned: it is not ours to free. A "scheme" with
    // a dot is a host name followed by a port ("www.example.com:8080").
    const char *scheme = g_uri_peek_scheme(target.toUtf8().constData());
    const bool hasScheme = scheme && !QByteArray(scheme).contains('.');
    return hasScheme ? target : QStringLiteral("http://") + target;
}

} // namespace

QString FindBrowserCommand(const ClassesRoot &root)
{
    for (const char *extension : WebPageExtensions) {
        const QString type = root.readDefaultOrEmpty(QStringLiteral("\\") + extension);
        if (type.isEmpty())
            continue;
        const QString command =
            root.readDefaultOrEmpty(QStringLiteral("\\%1\\shell\\open\\command").arg(type));
        if (!command.isEmpty())
            return command;
    }
    return {};
}

std::optional<QStringList> splitCommandLine(const QString &commandLine)
{
    char **argv = nullptr;
    if (!g_shell_parse_argv(commandLine.toUtf8().constData(), nullptr, &argv, nullptr))
        return std::nullopt;
    QStringList arguments;
    for (char **argument = argv; *argument; ++argument)
        arguments << QString::fromUtf8(*argument);
    g_strfreev(argv);
    return arguments;
}

bool RunAndWait(const QString &commandLine)
{
    if (commandLine.size() > MaxCommandLineLength)
        return false;
    const std::optional<QStringList> arguments = splitCommandLine(commandLine);
    if (!arguments || arguments->isEmpty())
        return false;
    QProcess process;
    process.setProgram(arguments->first());
    process.setArguments(arguments->mid(1));
    // The program's output goes where ours goes: an unread pipe would fill
    // and stop a talkative program. It reads no input from us.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return false;
    waitRepainting(process);
    return true;
}

bool ShellOpen(const QString &target, const QString &parameters)
{
    if (!parameters.isEmpty()) {
        const std::optional<QStringList> arguments = splitCommandLine(parameters);
        return arguments && QProcess::startDetached(target, *arguments);
    }
    const QByteArray uri = uriForTarget(target).toUtf8();
    return g_app_info_launch_default_for_uri(uri.constData(), nullptr, nullptr);
}
