#include "platform/system/UserSession.h"

#include "platform/files/OwnFolder.h"
#include "platform/files/UniqueFd.h"
#include "platform/processes/CurrentProcess.h"
#include "platform/system/TestVariables.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::system {

namespace {

// The folder's descriptor is examined, not its name a second time: what was tested is what
// was opened. A link in the last place is refused by the open itself.
bool IsPrivateDirFd(int Fd, uid_t Owner)
{
    struct stat st = {};
    return ::fstat(Fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == Owner && (st.st_mode & 077) == 0;
}

int OpenDir(const QString &Path)
{
    return ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// A folder named by the program itself (never by the environment) whose own place nobody else can
// change; the folder itself may be shared (the temporary folder). -1 when it is not such a one.
int OpenTrustedParent(const QString &Path)
{
    if (!Path.startsWith(QLatin1Char('/')) || !files::IsTrustedPath(Path))
        return -1;
    return ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// `Name` in the folder held as `ParentFd`, when it is a private folder of `Owner`'s (no link).
int OpenPrivateChild(int ParentFd, const QByteArray &Name, uid_t Owner)
{
    const int fd = ::openat(ParentFd, Name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && !IsPrivateDirFd(fd, Owner)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool IsPrivateDir(const QString &Path)
{
    if (Path.isEmpty())
        return false;
    const files::UniqueFd fd(OpenDir(Path));
    return fd.Get() >= 0 && IsPrivateDirFd(fd.Get(), ::geteuid());
}

std::optional<Account> AccountOf(quint32 Uid)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    QByteArray buffer(size, Qt::Uninitialized);
    struct passwd pw = {};
    struct passwd *found = nullptr;
    if (::getpwuid_r(uid_t(Uid), &pw, buffer.data(), std::size_t(buffer.size()), &found) != 0 || !found)
        return std::nullopt;
    Account account;
    account.Name = QFile::decodeName(pw.pw_name);
    if (pw.pw_dir && pw.pw_dir[0] == '/')
        account.Home = QFile::decodeName(pw.pw_dir);
    if (pw.pw_shell)
        account.Shell = QFile::decodeName(pw.pw_shell);
    return account;
}

QString RunUserRoot()
{
    const QString custom = TestVariable("TASKVANE_RUN_USER_DIR");
    return custom.startsWith(QLatin1Char('/')) ? QDir::cleanPath(custom) : QStringLiteral("/run/user");
}

QString UserRuntimeDir(quint32 Uid)
{
    const QString root = RunUserRoot();
    const files::UniqueFd parent(OpenTrustedParent(root));
    if (parent.Get() < 0)
        return QString();
    const QByteArray name = QByteArray::number(Uid);
    const files::UniqueFd dir(OpenPrivateChild(parent.Get(), name, uid_t(Uid)));
    return dir.Get() >= 0 ? root + QLatin1Char('/') + QString::fromLatin1(name) : QString();
}

QString PrivateRuntimeDir()
{
    const QString named = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (named.startsWith(QLatin1Char('/')) && IsPrivateDir(named))
        return QDir::cleanPath(named);
    const QString temp = QDir::tempPath();
    if (!temp.startsWith(QLatin1Char('/')))
        return QString();
    const QString dir = QDir::cleanPath(temp) + QStringLiteral("/taskvane-%1").arg(::geteuid());
    const QByteArray native = QFile::encodeName(dir);
    const bool made = ::mkdir(native.constData(), 0700) == 0;
    if (!made && errno != EEXIST)
        return QString();
    const files::UniqueFd fd(OpenDir(dir));
    if (fd.Get() < 0)
        return QString();
    // The umask may have taken bits away from a folder just made; no more than 0700 was asked for.
    if (made)
        ::fchmod(fd.Get(), 0700);
    return IsPrivateDirFd(fd.Get(), ::geteuid()) ? dir : QString();
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

std::optional<quint32> AbstractSocketOwner(const QByteArray &Name)
{
    struct sockaddr_un addr = {};
    if (Name.isEmpty() || std::size_t(Name.size()) >= sizeof addr.sun_path)
        return std::nullopt;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, Name.constData(), std::size_t(Name.size()));
    const files::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0)
        return std::nullopt;
    const auto length = socklen_t(offsetof(struct sockaddr_un, sun_path) + 1 + std::size_t(Name.size()));
    // A local connect is made or refused at once; a full backlog counts as nobody answering.
    if (::connect(fd.Get(), reinterpret_cast<const struct sockaddr *>(&addr), length) != 0)
        return std::nullopt;
    return PeerUserId(fd.Get());
}

} // namespace platform::system
