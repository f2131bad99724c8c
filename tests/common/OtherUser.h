#pragma once

// Another user acting against the program run as root: an unused uid, reached through setpriv,
// in folders of the test's own that this uid can enter.

#include "common/TempDir.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

namespace tvtest {

// No account has it: nothing of a real user is touched.
constexpr quint32 kOtherUid = 4202;

inline QStringList asOtherUser(const QStringList &Argv)
{
    const QString id = QString::number(kOtherUid);
    return QStringList{QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                       QStringLiteral("--clear-groups"), QStringLiteral("--")} +
        Argv;
}

// Runs a system tool as the other user and waits for it; true when it exits with 0.
inline bool runAsOtherUser(const QStringList &Argv)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/setpriv"), asOtherUser(Argv));
    return p.waitForStarted(10000) && p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
        p.exitCode() == 0;
}

// A folder of the test's own, owned by root and open for the other user to enter, with a
// subfolder `user` that the other user owns.
class SharedDir
{
public:
    SharedDir()
    {
        m_ok = m_dir.isValid() && ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) == 0;
        m_ok = m_ok && makeOwned(user());
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString &Name) const { return m_dir.file(Name); }
    QString user() const { return m_dir.file(QStringLiteral("user")); }
    // Why the other user cannot act here; empty when it can.
    QString unusable() const
    {
        if (!m_ok)
            return QStringLiteral("the test's folder could not be prepared");
        if (!runAsOtherUser({QStringLiteral("/usr/bin/test"), QStringLiteral("-w"), user()}))
            return QStringLiteral("the other user cannot reach the test's folder (it lies below a closed folder)");
        return QString();
    }
    // A folder or file that belongs to the other user.
    static bool makeOwned(const QString &Path, bool Folder = true)
    {
        const QByteArray p = QFile::encodeName(Path);
        if (Folder && ::mkdir(p.constData(), 0755) != 0)
            return false;
        return ::chown(p.constData(), kOtherUid, kOtherUid) == 0;
    }
    // A copy of a system program that the other user owns and may run.
    static bool copyOwned(const QString &From, const QString &To)
    {
        return QFile::copy(From, To) && ::chmod(QFile::encodeName(To).constData(), 0755) == 0 && makeOwned(To, false);
    }

private:
    TempDir m_dir;
    bool m_ok = false;
};

// Why root-only tests that act as another user cannot run here; empty when they can.
inline QString otherUserUnavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root: it acts as another user against the program run as root");
    if (!QFileInfo(QStringLiteral("/usr/bin/setpriv")).isExecutable())
        return QStringLiteral("no setpriv to act as another user with");
    return QString();
}

} // namespace tvtest
