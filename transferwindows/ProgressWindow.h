#pragma once

#include <QString>
#include <memory>

class QProgressDialog;
class QWidget;

// A modal progress window for one long operation: the bar moves, the window
// repaints and pending events are handled, while the windows behind it take
// no input. Cancelling (where offered) is read with cancelled().
class ProgressWindow
{
public:
    ProgressWindow(QWidget *parent, const QString &text, bool cancellable = false);
    ~ProgressWindow();

    // `done` runs from 0 to 1.
    void show(double done);
    bool cancelled() const;

private:
    std::unique_ptr<QProgressDialog> m_dialog;
};
