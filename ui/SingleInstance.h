#pragma once

#include "platform/system/UserSession.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QLocalServer;

// Keeps one running instance per user. The first instance listens on a local socket in a folder
// only its user may enter, the same one whatever the environment says (see
// platform::system::InstanceFolder); a later start of the same user connects, hands over the
// activation message and ends before any form exists. A socket of another user is never handed
// over to.
class TSingleInstance : public QObject
{
    Q_OBJECT
public:
    // Name of the socket and of the message: "Taskvane_QM-HOLVEN" with the user id. In a build for
    // tests the variable TASKVANE_INSTANCE_NAME replaces the name (tests run side by side with
    // names of their own) when it is a plain file name.
    static QString InstanceName();

    explicit TSingleInstance(const QString &Name = InstanceName(), QObject *Parent = nullptr);
    ~TSingleInstance() override;

    // True for the first instance (it now holds the name). False when another instance runs: it has
    // been told to come to the front and this start should end.
    bool InitSingleInstance();

    // Handles one message received by the first instance; only the activation message acts.
    bool InstanceWindowProc(const QByteArray &Message);

    bool IsFirstInstance() const { return m_Server != nullptr; }
    // The socket in the user's private folder; empty when no such folder can be had, and the
    // program runs without the guard.
    QString SocketPath() const;

    // Restores and raises the first instance's window.
    std::function<void()> OnActivate;

private:
    bool Listen(const QString &Address);

    QString m_Name;
    // Held from the first look at it to the end: the socket is bound, connected to and removed
    // through it, never through the folder's name again.
    std::optional<platform::system::InstanceFolder> m_Folder;
    QLocalServer *m_Server = nullptr;
};
