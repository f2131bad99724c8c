#include "platform/system/UserSession.h"

#include "platform/Logging.h"
#include "platform/files/OwnFolder.h"
#include "platform/files/OwnerOnly.h"
#include "platform/files/PlainName.h"
#include "platform/processes/CurrentProcess.h"
#include "platform/system/TestVariables.h"

#include <QDir>
#include <QFile>
#include <QStringList>

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

// `Name` in the folder held as `ParentFd`, without following a link in its place.
int OpenChild(int ParentFd, const QByteArray &Name)
{
    return ::openat(ParentFd, Name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// `Fd` itself when it holds a folder only `Owner` may enter; closed (-1) else. The descriptor is
// examined, not the folder's name a second time: what was tested is what was opened.
int KeptIfPrivate(int Fd, uid_t Owner)
{
    if (Fd >= 0 && !files::IsFolderOnlyOwnerMayEnter(Fd, Owner)) {
        ::close(Fd);
        return -1;
    }
    return Fd;
}

// <RunUserRoot>/<Uid>, held open when it is a folder only that user may enter in a trusted
// parent; -1 else. `Path` gets where it lies.
int OpenUserRuntimeDir(uid_t Uid, QString &Path)
{
    const QString root = RunUserRoot();
    const files::UniqueFd parent(OpenTrustedParent(root));
    if (parent.Get() < 0)
        return -1;
    const QByteArray name = QByteArray::number(Uid);
    const int fd = KeptIfPrivate(OpenChild(parent.Get(), name), Uid);
    if (fd >= 0)
        Path = root + QLatin1Char('/') + QString::fromLatin1(name);
    return fd;
}

QString TempRoot()
{
    const QString custom = TestVariable("TASKVANE_TEMP_DIR");
    return custom.startsWith(QLatin1Char('/')) ? QDir::cleanPath(custom) : QStringLiteral("/tmp");
}

// Where root's own folder is made: a folder only root may make names in.
QString RunRoot()
{
    const QString custom = TestVariable("TASKVANE_RUN_DIR");
    if (custom.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(custom);
    // A test that moved the temporary folder never reaches the real /run either.
    const QString temp = TestVariable("TASKVANE_TEMP_DIR");
    return temp.startsWith(QLatin1Char('/')) ? QDir::cleanPath(temp) : QStringLiteral("/run");
}

// `Name` in the folder held as `ParentFd`, made with mode 0700 when `Make` and missing; held open
// when it is a folder only `Owner` may enter, -1 else. `Taken` tells that something else stands
// at the name.
int OpenPrivateChild(int ParentFd, const QByteArray &Name, uid_t Owner, bool Make, bool &Taken)
{
    Taken = false;
    const bool made = Make && ::mkdirat(ParentFd, Name.constData(), 0700) == 0;
    if (Make && !made && errno != EEXIST)
        return -1;
    int fd = OpenChild(ParentFd, Name);
    if (fd < 0) {
        Taken = errno != ENOENT;
        return -1;
    }
    // The umask may have taken bits away from a folder just made; no more than 0700 was asked for.
    if (made)
        ::fchmod(fd, 0700);
    fd = KeptIfPrivate(fd, Owner);
    Taken = fd < 0;
    return fd;
}

// How many names the temporary folder offers a user for the program's own folder.
constexpr int kTempFolderNames = 16;

QByteArray TempFolderName(uid_t Uid, int Index)
{
    const QByteArray name = "taskvane-" + QByteArray::number(Uid);
    return Index == 0 ? name : name + '-' + QByteArray::number(Index);
}

} // namespace

bool IsFolderOnlyUserMayEnter(const QString &Path)
{
    if (Path.isEmpty())
        return false;
    const files::UniqueFd fd(OpenDir(Path));
    return fd.Get() >= 0 && files::IsFolderOnlyOwnerMayEnter(fd.Get(), ::geteuid());
}

std::optional<Account> AccountOf(quint32 Uid)
{
    // The size the C library suggests is a guess; a longer entry asks for a larger buffer.
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    QByteArray buffer(suggested > 0 && suggested <= (1 << 20) ? qsizetype(suggested) : 16384, Qt::Uninitialized);
    struct passwd pw = {};
    struct passwd *found = nullptr;
    for (;;) {
        const int rc = ::getpwuid_r(uid_t(Uid), &pw, buffer.data(), std::size_t(buffer.size()), &found);
        if (rc == ERANGE && buffer.size() < (qsizetype(1) << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (rc != 0 || !found || !pw.pw_name)
            return std::nullopt;
        break;
    }
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
    QString path;
    const files::UniqueFd dir(OpenUserRuntimeDir(uid_t(Uid), path));
    return dir.Get() >= 0 ? path : QString();
}

std::optional<InstanceFolder> InstanceFolder::Open()
{
    const uid_t me = ::geteuid();
    QString runtime;
    if (const int fd = OpenUserRuntimeDir(me, runtime); fd >= 0)
        return InstanceFolder(fd, runtime);
    bool taken = false;
    // Root's lies where nobody else can make a name first.
    if (me == 0) {
        const QString run = RunRoot();
        const files::UniqueFd parent(OpenTrustedParent(run));
        if (parent.Get() >= 0 && files::IsFolderOnlyOwnerMayChange(parent.Get(), 0))
            if (const int fd = OpenPrivateChild(parent.Get(), "taskvane-0", me, true, taken); fd >= 0)
                return InstanceFolder(fd, run + QStringLiteral("/taskvane-0"));
    }
    // In the temporary folder anyone may take a name first: a name taken is passed over for the
    // next, always in the same order, so that every start of the user finds the same folder. One
    // the user already has comes first: it holds the socket of an instance that runs.
    const QString temp = TempRoot();
    const files::UniqueFd parent(OpenTrustedParent(temp));
    if (parent.Get() < 0)
        return std::nullopt;
    QStringList passedOver;
    for (const bool make : {false, true}) {
        for (int index = 0; index < kTempFolderNames; ++index) {
            const QByteArray name = TempFolderName(me, index);
            const int fd = OpenPrivateChild(parent.Get(), name, me, make, taken);
            const QString path = temp + QLatin1Char('/') + QString::fromLatin1(name);
            if (fd >= 0) {
                if (!passedOver.isEmpty())
                    qCWarning(lcPlatform).noquote()
                        << "instance folder:" << passedOver.join(QStringLiteral(", "))
                        << "is another user's, a link or open to others; the user's own" << path << "is used instead";
                return InstanceFolder(fd, path);
            }
            if (taken && !make)
                passedOver << path;
        }
    }
    qCWarning(lcPlatform).noquote() << "instance folder: none of the user's own could be had in" << temp
                                    << "; taken by others:" << passedOver.join(QStringLiteral(", "));
    return std::nullopt;
}

QString InstanceFolder::Reach(const QString &Name) const
{
    if (!files::IsPlainName(Name))
        return QString();
    return QStringLiteral("/proc/self/fd/") + QString::number(m_Fd.Get()) + QLatin1Char('/') + Name;
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
