#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// Keeps one running instance per user. The first instance listens on a per-user local socket; a
// later start connects, hands over the activation message and ends before any form exists.
class TSingleInstance : public QObject
{
    Q_OBJECT
public:
    // Name of the socket and of the message: "Taskvane_QM-HOLVEN" with the user id. The variable
    // TASKVANE_INSTANCE_NAME replaces the name (tests run side by side with names of their own).
    static QString InstanceName();

    explicit TSingleInstance(const QString &Name = InstanceName(), QObject *Parent = nullptr);
    ~TSingleInstance() override;

    // True for the first instance (it now holds the name). False when another instance runs: it has
    // been told to come to the front and this start should end.
    bool InitSingleInstance();

    // Handles one message received by the first instance; only the activation message acts.
    bool InstanceWindowProc(const QByteArray &Message);

    bool IsFirstInstance() const { return m_Server != nullptr; }
    QString SocketPath() const;

    // Restores and raises the first instance's window.
    std::function<void()> OnActivate;

private:
    bool Listen();

    QString m_Name;
    QLocalServer *m_Server = nullptr;
};
