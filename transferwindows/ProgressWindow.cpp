#include "ProgressWindow.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace {
// Steps of the bar: finer than the eye can tell.
constexpr int barSteps = 1000;
} // namespace

ProgressWindow::ProgressWindow(QWidget *parent, const QString &text, bool cancellable)
    : m_dialog(
          std::make_unique<QProgressDialog>(text, QStringLiteral("Отмена"), 0, barSteps, parent))
{
    m_dialog->setObjectName(QStringLiteral("ProgressWindow"));
    // The work in the caption: the task bar says what is going on, and the
    // message that ends the work (captioned with the program's name) is a
    // window of its own kind.
    m_dialog->setWindowTitle(text.endsWith(QStringLiteral("...")) ? text.chopped(3) : text);
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setMinimumDuration(300);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    if (!cancellable)
        m_dialog->setCancelButton(nullptr);
    m_dialog->setValue(0);
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::show(double done)
{
    m_dialog->setValue(int(std::clamp(done, 0.0, 1.0) * barSteps));
    QCoreApplication::processEvents();
}

bool ProgressWindow::cancelled() const
{
    return m_dialog->wasCanceled();
}
