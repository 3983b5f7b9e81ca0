#pragma once

#include <QApplication>
#include <functional>

class DataSet;
class RecordConflict;

// The application object. An exception that escapes an event handler is shown
// in the error box and the program goes on; the silent abort passes without a
// word. Enter on a focused button presses that button in every window.
class Application : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Runs `action` and shows any failure in the error box; returns false when
    // it failed. A record that another desk changed meanwhile is put to the
    // user, and once settled the action runs again.
    static bool guarded(const std::function<void()> &action);

    // Posts `record`. A record another desk changed or deleted meanwhile is
    // put to the user at once, so that the action that posted it need not run
    // again; left unsettled (the box closed), the action stops silently and
    // what was typed stays in the record.
    static void postSettled(DataSet &record);

    // Shows an error box; tests replace what it does.
    static void showError(const QString &message);
    static void setErrorSink(std::function<void(const QString &)> sink);

private:
    static bool resolveConflict(const RecordConflict &conflict);
};
