#include "Application.h"

#include "EngineError.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

namespace {
std::function<void(const QString &)> &errorSink()
{
    static std::function<void(const QString &)> sink;
    return sink;
}
} // namespace

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    // Without a desktop session Qt knows no icon theme: use the one every
    // Debian desktop has.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor")) {
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    // Qt's own boxes and dialogs (OK and Cancel, the open dialog) speak
    // Russian like the rest of the program, whatever the user's locale.
    auto *translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    bool handled = false;
    guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

bool Application::guarded(const std::function<void()> &action)
{
    try {
        action();
        return true;
    } catch (const EAbort &) {
    } catch (const EngineError &e) {
        showError(e.message());
    } catch (const std::exception &e) {
        showError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void Application::showError(const QString &message)
{
    if (errorSink()) {
        errorSink()(message);
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                          message);
}

void Application::setErrorSink(std::function<void(const QString &)> sink)
{
    errorSink() = std::move(sink);
}
