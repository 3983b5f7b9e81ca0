#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

// One window per folder catalogue for each user: the window's program
// listens on a local socket named after the catalogue's folder; another
// start on that folder finds it there and asks it to come to the front, and
// a command-line action that would write learns that a window is open.
// Several desks on a server catalogue are what the server is for: there the
// windows are not counted.
class CatalogueWindow : public QObject
{
    Q_OBJECT
public:
    explicit CatalogueWindow(QObject *parent = nullptr);
    ~CatalogueWindow() override;

    // True when a window of this user is open on the folder catalogue
    // `location`; with `bringForward` it is asked to come to the front.
    static bool isOpen(const QString &location, bool bringForward = false);

    // This program's window shows `location` from now on; `cameForward` is
    // called when another start asks for it. Another catalogue (a server, or
    // one chosen from the menu) lets the former one go.
    void show(const QString &location, std::function<void()> cameForward);

private:
    QLocalServer *m_server = nullptr;
    std::function<void()> m_cameForward;
};
