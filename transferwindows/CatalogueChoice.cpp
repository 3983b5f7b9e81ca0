#include "CatalogueChoice.h"

#include "Application.h"
#include "CatalogueLocation.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "OpenCatalogueDialog.h"
#include "UData.h"
#include "UMain.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace {

// Why `location` cannot be opened, or empty when it can. A server that
// wants a password has the user asked for it; the password then goes with
// the location for this run and is never written anywhere.
QString probe(QWidget *parent, QString &location)
{
    for (;;) {
        try {
            return CatalogueLocation::unreachableCause(location);
        } catch (const PasswordNeeded &) {
            const std::optional<QString> password = Dialogs::promptPassword(
                parent, QStringLiteral("Пароль"),
                QStringLiteral("Пароль для входа: %1").arg(CatalogueLocation::described(location)));
            if (!password)
                return QStringLiteral("сервер требует пароль, а он не введён");
            location = CatalogueLocation::withPassword(location, *password);
        }
    }
}

// A new catalogue is made only when the user asks for one: its tables are
// created by the structure check that opening runs.
bool makeNewCatalogue(QWidget *parent, const QString &folder)
{
    if (QDir().mkpath(folder))
        return true;
    Dialogs::inform(
        parent,
        QStringLiteral("Не удаётся создать папку «%1».").arg(QDir::toNativeSeparators(folder)));
    return false;
}

// A folder that is not there, or is there with no table in it.
bool hasNoCatalogue(const QString &location, const QString &cause)
{
    if (CatalogueLocation::isServer(location))
        return false;
    if (!QFileInfo::exists(location))
        return true;
    return cause.isEmpty() && !CatalogueLocation::holdsCatalogue(location);
}

// Whether `location` can be opened: reached, or a folder without a
// catalogue in which the user wants a new one.
bool readyToOpen(QWidget *parent, QString &location)
{
    const QString cause = probe(parent, location);
    if (hasNoCatalogue(location, cause)) {
        return Dialogs::confirm(parent, QStringLiteral("В папке «%1» нет каталога.\nСоздать в ней "
                                                       "новый каталог?")
                                            .arg(QDir::toNativeSeparators(location))) &&
               makeNewCatalogue(parent, location);
    }
    if (!cause.isEmpty()) {
        Dialogs::inform(parent, CatalogueLocation::unreachableMessage(location, cause));
        return false;
    }
    return true;
}

// The running window moves to the catalogue at `location`: the lists close,
// the alias names it from now on, the data module opens it (checked against
// the description, as at start-up) and the window fills again.
void switchTo(TMainForm *window, const QString &location)
{
    // The catalogue left behind is among the recent ones, to come back to.
    CatalogueLocation::remember(Tdm::ensureAlias());
    CatalogueLocation::remember(location);
    dm->closeDataSets();
    Tdm::chooseCatalogue(location, true);
    // A failed check is shown and the lists open on the tables as they are,
    // as at start-up.
    Application::guarded([] { dm->DataModuleCreate(); });
    window->FormCreate();
}

// The dialog, asked again until the user picks a catalogue that can be
// opened or gives up; the chosen location, or empty.
QString chooseInDialog(QWidget *parent, const QString &current)
{
    OpenCatalogueDialog dialog(parent, current, nullptr);
    dialog.setProbe([&dialog](QString &location) { return probe(&dialog, location); });
    while (runOpenCatalogueDialog(dialog)) {
        QString location = dialog.location();
        if (readyToOpen(&dialog, location))
            return location;
    }
    return {};
}

enum class StartChoice
{
    OpenAnother,
    MakeNew,
    TryAgain,
    Leave
};

StartChoice askAtStart(QWidget *parent, const QString &location, const QString &cause)
{
    QList<std::pair<QString, StartChoice>> choices = {
        {QStringLiteral("Открыть другой каталог..."), StartChoice::OpenAnother}};
    if (!CatalogueLocation::isServer(location) && !QFileInfo::exists(location))
        choices.append(
            {QStringLiteral("Создать новый каталог в этой папке"), StartChoice::MakeNew});
    choices.append({QStringLiteral("Повторить"), StartChoice::TryAgain});
    choices.append({QStringLiteral("Выход"), StartChoice::Leave});
    QStringList buttons;
    for (const auto &choice : choices)
        buttons << choice.first;
    const int answer =
        Dialogs::choose(parent, CatalogueLocation::unreachableMessage(location, cause), buttons);
    return answer < 0 ? StartChoice::Leave : choices[answer].second;
}

} // namespace

namespace CatalogueChoice {

bool reachAtStart(QWidget *parent)
{
    for (;;) {
        const QString named = Tdm::ensureAlias();
        QString location = named;
        const QString cause = probe(parent, location);
        if (cause.isEmpty()) {
            // A password asked for is kept for this run only.
            if (location != named)
                Tdm::chooseCatalogue(location, false);
            return true;
        }
        switch (askAtStart(parent, location, cause)) {
        case StartChoice::OpenAnother:
            if (const QString chosen = chooseInDialog(parent, location); !chosen.isEmpty()) {
                Tdm::chooseCatalogue(chosen, true);
                CatalogueLocation::remember(chosen);
                return true;
            }
            break;
        case StartChoice::MakeNew:
            if (makeNewCatalogue(parent, location))
                return true;
            break;
        case StartChoice::TryAgain:
            break;
        case StartChoice::Leave:
            return false;
        }
    }
}

void openFromDialog(TMainForm *window)
{
    const QString location = chooseInDialog(window, Tdm::ensureAlias());
    if (!location.isEmpty())
        switchTo(window, location);
}

void openRecent(TMainForm *window, const QString &location)
{
    QString opened = location;
    if (readyToOpen(window, opened))
        switchTo(window, opened);
}

void fillRecentMenu(QMenu *menu, TMainForm *window)
{
    menu->clear();
    const QStringList locations = CatalogueLocation::recent();
    for (int i = 0; i < locations.size(); ++i) {
        // "&1 /home/...": the digit chooses it from the keyboard; an
        // ampersand of the location itself is shown as it is.
        QString text = locations[i];
        QAction *action =
            menu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(text.replace('&', "&&")));
        action->setToolTip(CatalogueLocation::described(locations[i]));
        const QString location = locations[i];
        QObject::connect(action, &QAction::triggered, window, [window, location] {
            Application::guarded([window, location] { openRecent(window, location); });
        });
    }
    if (locations.isEmpty())
        menu->addAction(QStringLiteral("(нет)"))->setEnabled(false);
}

} // namespace CatalogueChoice
