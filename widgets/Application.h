#pragma once

#include <QApplication>
#include <functional>

// The application object. An exception that escapes an event handler is shown
// in the error box and the program goes on; the silent abort passes without a
// word. Enter on a focused button presses that button in every window.
class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Runs `action` and shows any failure in the error box; returns false when it failed.
    static bool guarded(const std::function<void()> &action);

    // Shows an error box; tests replace what it does.
    static void showError(const QString &message);
    static void setErrorSink(std::function<void(const QString &)> sink);
};
