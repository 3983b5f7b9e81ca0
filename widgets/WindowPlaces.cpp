#include "WindowPlaces.h"

#include "SettingsStore.h"

#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace WindowPlaces {
namespace {

QSettings store()
{
    return QSettings(windowPlacesFilePath(), QSettings::IniFormat);
}

QString key(const QWidget *window, const char *what)
{
    return window->objectName() + u'/' + QLatin1String(what);
}

} // namespace

bool restorePlace(QWidget *window)
{
    const QByteArray geometry = store().value(key(window, "geometry")).toByteArray();
    return !geometry.isEmpty() && window->restoreGeometry(geometry);
}

void rememberPlace(const QWidget *window)
{
    store().setValue(key(window, "geometry"), window->saveGeometry());
}

void restoreSize(QWidget *window)
{
    const QSize size = store().value(key(window, "size")).toSize();
    if (size.isValid())
        window->resize(size);
}

void rememberSize(const QWidget *window)
{
    store().setValue(key(window, "size"), window->size());
}

void centreOnOpener(QWidget *window)
{
    const QWidget *opener = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    const QScreen *screen = window->screen();
    if (opener && opener->isVisible())
        window->move(opener->geometry().center() - window->rect().center());
    else if (screen)
        window->move(screen->availableGeometry().center() - window->rect().center());
}

} // namespace WindowPlaces
