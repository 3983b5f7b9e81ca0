#include "WindowsUi.h"

#include "Dialogs.h"
#include "USplash.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>

bool WindowsUi::confirm(const QString &question)
{
    return Dialogs::confirm(QApplication::activeWindow(), question);
}

void WindowsUi::message(const QString &text)
{
    Dialogs::inform(QApplication::activeWindow(), text);
}

void WindowsUi::setStatus(const QString &text)
{
    m_splash->lblInit->setText(text);
    m_splash->repaint();
}

void WindowsUi::startProgress(int maximum)
{
    m_splash->Progress->setRange(0, maximum);
    m_splash->Progress->setValue(0);
    m_splash->Progress->show();
    m_splash->repaint();
    QApplication::processEvents();
}

void WindowsUi::setTableCaption(const QString &caption)
{
    m_splash->lblTable->setText(caption);
    m_splash->lblTable->repaint();
}

void WindowsUi::stepProgress()
{
    m_splash->Progress->setValue(m_splash->Progress->value() + 1);
    m_splash->repaint();
    QApplication::processEvents();
}

void WindowsUi::keepAlive()
{
    // Paints and the desktop's pings only: a click now could reach a table
    // in the middle of its change.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
