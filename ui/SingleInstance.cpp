#include "ui/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLockFile>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

#include <unistd.h>

namespace {

const char kMessageName[] = "Taskvane_QM-HOLVEN";
constexpr int kConnectTimeoutMs = 1000;
constexpr int kMessageLimit = 256;

QByteArray ActivationMessage()
{
    return QByteArray(kMessageName) + '\n';
}

} // namespace

QString TSingleInstance::InstanceName()
{
    const QString custom = qEnvironmentVariable("TASKVANE_INSTANCE_NAME");
    if (!custom.isEmpty())
        return custom;
    return QStringLiteral("%1-%2").arg(QLatin1String(kMessageName)).arg(::getuid());
}

TSingleInstance::TSingleInstance(const QString &Name, QObject *Parent) : QObject(Parent), m_Name(Name) {}

TSingleInstance::~TSingleInstance()
{
    if (m_Server)
        m_Server->close(); // removes the socket file, so the next start is again a first instance
}

QString TSingleInstance::SocketPath() const
{
    // The user's private runtime directory when there is one; else the temporary directory, where
    // the user id in the name keeps users apart.
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::tempPath();
    return QDir(dir).filePath(m_Name);
}

bool TSingleInstance::Listen()
{
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(SocketPath())) {
        delete server;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, [this, server] {
        while (QLocalSocket *peer = server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (!peer->canReadLine()) {
                    // A peer that sends a long text without an end of line is not one of ours.
                    if (peer->bytesAvailable() > kMessageLimit)
                        peer->abort();
                    return;
                }
                const QByteArray line = peer->readLine(kMessageLimit);
                InstanceWindowProc(line);
                peer->disconnectFromServer();
            });
        }
    });
    m_Server = server;
    return true;
}

bool TSingleInstance::InstanceWindowProc(const QByteArray &Message)
{
    if (Message != ActivationMessage())
        return false;
    if (OnActivate)
        OnActivate();
    return true;
}

bool TSingleInstance::InitSingleInstance()
{
    const QString path = SocketPath();
    // Two starts at the same moment take turns here, so the second always finds the first's
    // server listening instead of taking its name away as a stale one.
    QLockFile turn(path + QStringLiteral(".lock"));
    turn.setStaleLockTime(kConnectTimeoutMs * 10);
    turn.tryLock(kConnectTimeoutMs * 5);
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(kConnectTimeoutMs)) {
            probe.write(ActivationMessage());
            probe.waitForBytesWritten(kConnectTimeoutMs);
            probe.disconnectFromServer();
            if (probe.state() != QLocalSocket::UnconnectedState)
                probe.waitForDisconnected(kConnectTimeoutMs);
            return false;
        }
    }
    if (Listen())
        return true;
    // Nobody answers on the name, yet it is taken: a socket left behind by an instance that crashed.
    QLocalServer::removeServer(path);
    if (Listen())
        return true;
    // Without the guard the program still runs, as a first instance.
    return true;
}
