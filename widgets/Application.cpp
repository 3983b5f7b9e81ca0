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
    speakRussian();
}

// Standard buttons and Qt's own dialogs read as the Russian desktop shows
// them ("Да", "Отмена"), whatever language the session runs in.
void Application::speakRussian()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    auto *translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
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
