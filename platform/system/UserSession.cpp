#include "platform/system/UserSession.h"

#include "platform/processes/CurrentProcess.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::system {

namespace {

const QString kRunUser = QStringLiteral("/run/user/");

// The folder's descriptor is examined, not its name a second time: what was tested is what
// was opened. A link in the last place is refused by the open itself.
bool IsPrivateDirFd(int Fd)
{
    struct stat st = {};
    return ::fstat(Fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

int OpenDir(const QString &Path)
{
    return ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

QString XdgRuntimeDir()
{
    const QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return (dir.startsWith(QLatin1Char('/')) && IsPrivateDir(dir)) ? QDir::cleanPath(dir) : QString();
}

} // namespace

bool IsPrivateDir(const QString &Path)
{
    if (Path.isEmpty())
        return false;
    const int fd = OpenDir(Path);
    if (fd < 0)
        return false;
    const bool ok = IsPrivateDirFd(fd);
    ::close(fd);
    return ok;
}

QString PrivateRuntimeDir()
{
    QString runtime = XdgRuntimeDir();
    if (!runtime.isEmpty())
        return runtime;
    const QString temp = QDir::tempPath();
    if (!temp.startsWith(QLatin1Char('/')))
        return QString();
    const QString dir =
        QDir::cleanPath(temp) + QStringLiteral("/taskvane-%1").arg(platform::processes::EffectiveUserId());
    const QByteArray native = QFile::encodeName(dir);
    const bool made = ::mkdir(native.constData(), 0700) == 0;
    if (!made && errno != EEXIST)
        return QString();
    const int fd = OpenDir(dir);
    if (fd < 0)
        return QString();
    // The umask may have taken bits away from a folder just made; no more than 0700 was asked for.
    if (made)
        ::fchmod(fd, 0700);
    const bool ok = IsPrivateDirFd(fd);
    ::close(fd);
    return ok ? dir : QString();
}

QString OwnRuntimeDir()
{
    QString runtime = XdgRuntimeDir();
    if (!runtime.isEmpty())
        return runtime;
    const QString standard = kRunUser + QString::number(platform::processes::EffectiveUserId());
    return IsPrivateDir(standard) ? standard : QString();
}

QString OwnSessionBusAddress()
{
    const QString dir = OwnRuntimeDir();
    if (dir.isEmpty())
        return QString();
    const QString socket = dir + QStringLiteral("/bus");
    struct stat st = {};
    if (::lstat(QFile::encodeName(socket).constData(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid())
        return QString();
    return QStringLiteral("unix:path=") + socket;
}

std::optional<quint32> PeerUserId(qintptr Socket)
{
    if (Socket < 0)
        return std::nullopt;
    struct ucred cred = {};
    socklen_t size = sizeof cred;
    if (::getsockopt(int(Socket), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred)
        return std::nullopt;
    return quint32(cred.uid);
}

} // namespace platform::system
