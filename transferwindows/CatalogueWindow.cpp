#include "CatalogueWindow.h"

#include "CatalogueLocation.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace {

// How long a start waits for an open window to answer: it runs on the
// window's event loop, which answers at once unless it is busy.
constexpr int answerMs = 2000;
const QByteArray comeForward = "come forward\n";

// The socket's name: the folder as the file system knows it (links
// resolved), so that every way of writing one folder meets one window.
QString socketName(const QString &location)
{
    const QFileInfo folder(location);
    const QString canonical = folder.canonicalFilePath().isEmpty() ? folder.absoluteFilePath()
                                                                   : folder.canonicalFilePath();
    return QStringLiteral("quillon-%1-%2")
        .arg(QString::number(getuid()),
             QString::fromLatin1(
                 QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1)
                     .toHex()
                     .left(20)));
}

} // namespace

CatalogueWindow::CatalogueWindow(QObject *parent) : QObject(parent) {}

CatalogueWindow::~CatalogueWindow() = default;

bool CatalogueWindow::isOpen(const QString &location, bool bringForward)
{
    if (CatalogueLocation::isServer(location))
        return false;
    QLocalSocket socket;
    socket.connectToServer(socketName(location));
    if (!socket.waitForConnected(answerMs))
        return false;
    if (bringForward) {
        socket.write(comeForward);
        socket.waitForBytesWritten(answerMs);
    }
    socket.disconnectFromServer();
    return true;
}

void CatalogueWindow::show(const QString &location, std::function<void()> cameForward)
{
    delete m_server;
    m_server = nullptr;
    m_cameForward = std::move(cameForward);
    if (CatalogueLocation::isServer(location))
        return;
    m_server = new QLocalServer(this);
    // Only this user's own starts reach it.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = socketName(location);
    // A socket file left by a program that was killed answers no one.
    if (!m_server->listen(name)) {
        QLocalServer::removeServer(name);
        m_server->listen(name);
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(comeForward) && m_cameForward)
                    m_cameForward();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}
