#include "ui/SingleInstance.h"

#include "platform/files/PlainName.h"
#include "platform/processes/CurrentProcess.h"
#include "platform/system/TestVariables.h"

#include <QLocalServer>
#include <QLockFile>
#include <QLocalSocket>
#include <QPointer>

#include <algorithm>

namespace {

const char kMessageName[] = "Taskvane_QM-HOLVEN";
constexpr int kConnectTimeoutMs = 1000;
constexpr int kMessageLimit = 256;
// Well within the length of a local socket's path.
constexpr qsizetype kNameLimit = 64;

QByteArray ActivationMessage()
{
    return QByteArray(kMessageName) + '\n';
}

// A name for the socket: a plain file name, so that it stays inside the folder it is put in, short
// enough for a socket's path and with nothing unseen in it.
bool IsInstanceName(const QString &Name)
{
    if (!platform::files::IsPlainName(Name) || Name.size() > kNameLimit)
        return false;
    return std::none_of(Name.cbegin(), Name.cend(), [](QChar C) { return C.unicode() < 0x20 || C.unicode() == 0x7F; });
}

} // namespace

QString TSingleInstance::InstanceName()
{
    QString custom = platform::system::TestVariable("TASKVANE_INSTANCE_NAME");
    if (IsInstanceName(custom))
        return custom;
    return QStringLiteral("%1-%2").arg(QLatin1String(kMessageName),
                                       QString::number(platform::processes::EffectiveUserId()));
}

TSingleInstance::TSingleInstance(const QString &Name, QObject *Parent)
    : QObject(Parent), m_Name(Name), m_Folder(platform::system::InstanceFolder::Open())
{}

TSingleInstance::~TSingleInstance()
{
    // Removes the socket file (through the held folder, still open), so the next start is again a
    // first instance.
    if (m_Server)
        m_Server->close();
}

QString TSingleInstance::SocketPath() const
{
    // Never the shared temporary folder itself: whoever listens there first would be handed
    // every start.
    return m_Folder ? m_Folder->Path() + QLatin1Char('/') + m_Name : QString();
}

bool TSingleInstance::Listen(const QString &Address)
{
    auto *server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(Address)) {
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
    // Without a private folder there is no guard: the program runs, as a first instance.
    const QString path = m_Folder ? m_Folder->Reach(m_Name) : QString();
    if (path.isEmpty())
        return true;
    // Two starts at the same moment take turns here, so the second always finds the first's
    // server listening instead of taking its name away as a stale one.
    QLockFile turn(path + QStringLiteral(".lock"));
    turn.setStaleLockTime(kConnectTimeoutMs * 10);
    turn.tryLock(kConnectTimeoutMs * 5);
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(kConnectTimeoutMs)) {
            // Only an instance of the same user is handed the start; a name held by anyone else
            // counts as free.
            const auto peer = platform::system::PeerUserId(probe.socketDescriptor());
            if (peer && *peer == platform::processes::EffectiveUserId()) {
                probe.write(ActivationMessage());
                probe.waitForBytesWritten(kConnectTimeoutMs);
                probe.disconnectFromServer();
                if (probe.state() != QLocalSocket::UnconnectedState)
                    probe.waitForDisconnected(kConnectTimeoutMs);
                return false;
            }
            probe.abort();
        }
    }
    if (Listen(path))
        return true;
    // Nobody of ours answers on the name, yet it is taken: a socket left behind by an instance
    // that crashed, or one of another user's. The folder is this user's own to tidy.
    QLocalServer::removeServer(path);
    if (Listen(path))
        return true;
    // Without the guard the program still runs, as a first instance.
    return true;
}
