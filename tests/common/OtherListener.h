#pragma once

// A local socket another user listens on, through setpriv and the system's python3 (both where
// that user can reach them): at a path, or in the abstract namespace for a name that begins with
// "@". It records every connection and the bytes it was sent, so a test can tell whether the
// program under test reached it and talked to it.

#include "common/OtherUser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QThread>

namespace tvtest {

class OtherListener
{
public:
    explicit OtherListener(const QString &Address, quint32 Uid = kOtherUid)
    {
        static const char kScript[] = R"(
import os, socket, sys
name = sys.argv[1]
s = socket.socket(socket.AF_UNIX)
if name.startswith("@"):
    s.bind("\0" + name[1:])
else:
    s.bind(name)
    os.chmod(name, 0o777)
s.listen(16)
print("listening", flush=True)
while True:
    c, _ = s.accept()
    c.settimeout(1)
    data = b""
    try:
        while len(data) < 4096:
            more = c.recv(4096)
            if not more:
                break
            data += more
    except OSError:
        pass
    print("connected", len(data), flush=True)
    c.close()
)";
        if (!QFileInfo(QStringLiteral("/usr/bin/python3")).isExecutable()) {
            Failure = QStringLiteral("no /usr/bin/python3 for the other user's listener");
            return;
        }
        const QString id = QString::number(Uid);
        m_Run.setProcessChannelMode(QProcess::MergedChannels);
        m_Run.start(QStringLiteral("/usr/bin/setpriv"),
                    {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id, QStringLiteral("--clear-groups"),
                     QStringLiteral("--"), QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"),
                     QString::fromLatin1(kScript), Address});
        QElapsedTimer t;
        t.start();
        while (!m_Output.contains("listening") && t.elapsed() < 10000 && m_Run.state() != QProcess::NotRunning) {
            m_Run.waitForReadyRead(100);
            m_Output += m_Run.readAll();
            QThread::msleep(20);
        }
        if (!m_Output.contains("listening"))
            Failure =
                QStringLiteral("the other user could not listen at %1: %2").arg(Address, QString::fromUtf8(m_Output));
    }
    ~OtherListener()
    {
        m_Run.kill();
        m_Run.waitForFinished(5000);
    }
    OtherListener(const OtherListener &) = delete;
    OtherListener &operator=(const OtherListener &) = delete;

    // Every connection so far, one "connected <bytes received>" line each. A connection is told
    // once its peer is gone or has been silent for a second, so this looks for a while.
    QByteArray Connections()
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1500) {
            m_Run.waitForReadyRead(100);
            m_Output += m_Run.readAll();
            QThread::msleep(20);
        }
        return m_Output.mid(m_Output.indexOf("listening") + 10);
    }
    // Whether anyone connected and sent something: a bare connect, and closing again, is how the
    // user of a socket is asked.
    bool WasTalkedTo()
    {
        const QByteArray lines = Connections();
        for (const QByteArray &line : lines.split('\n'))
            if (line.startsWith("connected ") && line.mid(10).trimmed() != "0")
                return true;
        return false;
    }

    QString Failure;

private:
    QProcess m_Run;
    QByteArray m_Output;
};

} // namespace tvtest
