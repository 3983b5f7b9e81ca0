#include "Application.h"

#include "DataSet.h"
#include "Dialogs.h"
#include "EngineError.h"
#include "Russian.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QRadioButton>

namespace {

// Enter on a focused button presses that button, in every window. Qt leaves
// Enter to the window's default button, which is another button (in the
// search window "Найти") or none at all. Check boxes and radio buttons keep
// Enter for the window.
class EnterPressesFocusedButton : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        auto *button = qobject_cast<QAbstractButton *>(receiver);
        if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || !button ||
            qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button) ||
            !button->hasFocus() || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

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
    speakRussian(*this);
    installEventFilter(new EnterPressesFocusedButton(this));
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    bool handled = false;
    guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

bool Application::guarded(const std::function<void()> &action)
{
    // A record another desk changed meanwhile stops the action at its post;
    // once the user has settled it, the action goes on as asked (the editor
    // closes, the grid moves). Bounded: the other desk may change it again.
    constexpr int settlements = 3;
    for (int attempt = 0;; ++attempt) {
        try {
            action();
            return true;
        } catch (const EAbort &) {
        } catch (const RecordConflict &e) {
            if (resolveConflict(e) && attempt < settlements)
                continue;
        } catch (const EngineError &e) {
            showError(e.message());
        } catch (const std::exception &e) {
            showError(QString::fromLocal8Bit(e.what()));
        }
        return false;
    }
}

void Application::postSettled(DataSet &record)
{
    try {
        record.post();
    } catch (const RecordConflict &conflict) {
        if (!resolveConflict(conflict))
            throw EAbort();
    }
}

// The user decides what becomes of a record another desk changed or deleted
// while it was being edited here; true once that is done. Closing the box
// leaves the record in edit with what was typed, to be saved later.
bool Application::resolveConflict(const RecordConflict &conflict)
{
    DataSet *record = conflict.dataSet();
    if (!record) {
        showError(conflict.message());
        return false;
    }
    QWidget *window = QApplication::activeWindow();
    const bool deleted = conflict.deleted();
    const QString question =
        deleted ? conflict.message() + QStringLiteral("\nСохранить введённое как новую запись?")
                : conflict.message();
    const QStringList buttons =
        deleted ? QStringList{QStringLiteral("Сохранить как новую"), QStringLiteral("Не сохранять")}
                : QStringList{QStringLiteral("Сохранить мои значения"),
                              QStringLiteral("Оставить его значения")};
    const int choice = Dialogs::choose(window, question, buttons);
    if (choice < 0)
        return false;
    return guarded([&] {
        if (deleted)
            choice == 0 ? record->saveAsNew() : record->dropDeleted();
        else
            choice == 0 ? record->saveMine() : record->keepTheirs();
    });
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
