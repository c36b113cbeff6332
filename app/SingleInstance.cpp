#include "app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "platform/SysError.h"

namespace {

constexpr char kActivateRequest[] = "activate\n";
// A copy that cannot reach the first in this time ends all the same: the
// lock says a copy runs, and a second one must never run beside it.
constexpr int kRequestTimeoutMs = 1000;

QString SocketPath(const std::string& stem) { return QString::fromStdString(stem + ".sock"); }

}  // namespace

CSingleInstance::CSingleInstance(QObject* parent) : QObject(parent) {}

CSingleInstance::~CSingleInstance() { Stop(); }

CSingleInstance::Result CSingleInstance::Start(const std::string& name, const std::string& directory) {
    m_dwError = m_Lock.Acquire(name, directory);
    if (m_dwError == ERROR_ALREADY_EXISTS) {
        const std::string stem =
            (directory.empty() ? platform::RuntimeDirectory() : directory) + "/" + platform::NamedInstanceLock::FileStem(name);
        QLocalSocket socket;
        socket.connectToServer(SocketPath(stem));
        if (socket.waitForConnected(kRequestTimeoutMs)) {
            socket.write(kActivateRequest);
            socket.waitForBytesWritten(kRequestTimeoutMs);
            socket.disconnectFromServer();
        }
        return Result::kOtherRunning;
    }
    if (m_dwError != 0) return Result::kFailed;

    // We hold the lock, so a socket file left there belongs to a copy that
    // died: it may be removed.
    const QString path = SocketPath(m_Lock.Stem());
    QLocalServer::removeServer(path);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    // Without the socket a second copy still ends (the lock tells it); it
    // only cannot bring this window up, so this is not a failure.
    m_pServer->listen(path);
    return Result::kFirst;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only the request is read; anything else a peer writes is dropped.
            const QByteArray data = socket->readAll();
            if (data.contains('\n') && m_activate) m_activate();
        });
    }
}

void CSingleInstance::Stop() {
    if (m_pServer != nullptr) {
        m_pServer->close();
        delete m_pServer;
        m_pServer = nullptr;
    }
    m_Lock.Release();
}

void BringWindowToFront(QWidget* window) {
    if (window == nullptr) return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->showNormal();
    window->raise();
    window->activateWindow();
}
