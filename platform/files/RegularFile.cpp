#include "platform/files/RegularFile.h"

#include "platform/files/OwnerOnly.h"
#include "platform/files/PlainName.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace platform::files {

namespace {

QString SystemText(int Error)
{
    return QString::fromLocal8Bit(std::strerror(Error));
}

// The kernel's interface file systems: their "files" are views of kernel state, where a read may
// wait for an event or consume it.
bool HoldsFiles(int Fd)
{
    struct statfs fs = {};
    if (::fstatfs(Fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case 0x62656570: // configfs
    case EFIVARFS_MAGIC:
    case BPF_FS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case PSTOREFS_MAGIC:
    case BINFMTFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case 0x19800202: // mqueue
    case 0x65735543: // fusectl
    case 0x67596969: // rpc_pipefs
        return false;
    default:
        return true;
    }
}

bool IsMissing(int Error)
{
    return Error == ENOENT || Error == ENOTDIR;
}

// What a name leads to, looked at through a descriptor that reads nothing (so that a device is
// never opened and a FIFO never waited for), then, when it is a regular file of a file system that
// holds files, that very file opened with `Access` through its own descriptor, never by its name
// again. -1 with the system's error number in `Error`, or 0 there for what is no such file.
int LookThenOpen(int Dir, const QByteArray &Name, bool Follow, int Access, FileStatus *Status, int &Error)
{
    Error = 0;
    if (Status)
        *Status = FileStatus();
    if (Name.isEmpty() || Name.contains('\0')) {
        Error = ENOENT;
        return -1;
    }
    const UniqueFd look(::openat(Dir, Name.constData(), O_PATH | O_CLOEXEC | (Follow ? 0 : O_NOFOLLOW)));
    if (look.Get() < 0) {
        Error = errno;
        return -1;
    }
    FileStatus st;
    if (!StatHandle(look.Get(), st)) {
        Error = errno;
        return -1;
    }
    if (Status)
        *Status = st;
    if (st.Kind != FileKind::Regular || !HoldsFiles(look.Get()))
        return -1;
    char self[48];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", look.Get());
    // Non-blocking for good: a lease another user holds on the file costs a refusal, not a wait.
    const int fd = ::open(self, Access | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        Error = errno;
    return fd;
}

} // namespace

RegularFileReader::~RegularFileReader()
{
    Close();
}

RegularFileReader::OpenResult RegularFileReader::OpenLooked(int Dir, const QByteArray &Name, bool Follow,
                                                            FileStatus *Status)
{
    Close();
    m_Error.clear();
    int error = 0;
    const int fd = LookThenOpen(Dir, Name, Follow, O_RDONLY, Status, error);
    if (fd >= 0) {
        m_Fd = fd;
        return OpenResult::Opened;
    }
    if (error == 0) {
        m_Error = QStringLiteral("not a regular file");
        return OpenResult::NotRegular;
    }
    m_Error = SystemText(error);
    return IsMissing(error) ? OpenResult::Missing : OpenResult::Failed;
}

RegularFileReader::OpenResult RegularFileReader::Open(const QString &Path, FileStatus *Status)
{
    return OpenLooked(AT_FDCWD, QFile::encodeName(Path), true, Status);
}

RegularFileReader::OpenResult RegularFileReader::OpenNoFollow(const QString &Path, FileStatus *Status)
{
    return OpenLooked(AT_FDCWD, QFile::encodeName(Path), false, Status);
}

RegularFileReader::OpenResult RegularFileReader::OpenAt(int FolderFd, const QString &Name)
{
    if (!IsPlainName(Name)) {
        Close();
        m_Error = SystemText(ENOENT);
        return OpenResult::Missing;
    }
    return OpenLooked(FolderFd, QFile::encodeName(Name), false, nullptr);
}

RegularFileReader::OpenResult RegularFileReader::Adopt(int Fd, FileStatus *Status)
{
    Close();
    m_Error.clear();
    if (Status)
        *Status = FileStatus();
    if (Fd < 0) {
        m_Error = SystemText(EBADF);
        return OpenResult::Failed;
    }
    FileStatus st;
    if (!StatHandle(Fd, st)) {
        const int err = errno;
        ::close(Fd);
        m_Error = SystemText(err);
        return OpenResult::Failed;
    }
    if (Status)
        *Status = st;
    if (st.Kind != FileKind::Regular || !HoldsFiles(Fd)) {
        ::close(Fd);
        m_Error = QStringLiteral("not a regular file");
        return OpenResult::NotRegular;
    }
    const int flags = ::fcntl(Fd, F_GETFL);
    if (flags < 0 || ::fcntl(Fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        m_Error = SystemText(errno);
        ::close(Fd);
        return OpenResult::Failed;
    }
    m_Fd = Fd;
    return OpenResult::Opened;
}

bool RegularFileReader::IsPrivate(bool RootToo) const
{
    FileStatus st;
    if (m_Fd < 0 || !StatHandle(m_Fd, st))
        return false;
    return RootToo ? OnlyTrustedOwnerMayChange(st) : OnlyOwnerMayChange(st, ::geteuid());
}

std::optional<FileIdentity> RegularFileReader::Identity() const
{
    struct stat st = {};
    if (m_Fd < 0 || ::fstat(m_Fd, &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

QString RegularFileReader::CurrentPath() const
{
    if (m_Fd < 0)
        return QString();
    char self[48];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_Fd);
    char buf[PATH_MAX + 1];
    const ssize_t n = ::readlink(self, buf, PATH_MAX);
    // Only a path of this namespace starts at its root ("/…"); a file beyond it has none.
    if (n <= 0 || buf[0] != '/')
        return QString();
    return QFile::decodeName(QByteArray(buf, n));
}

qint64 RegularFileReader::Read(char *Buffer, qint64 Size)
{
    if (m_Fd < 0 || Size < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(m_Fd, Buffer, std::size_t(Size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        m_Error = SystemText(errno);
        return -1;
    }
}

std::optional<QByteArray> RegularFileReader::ReadAll(qint64 Limit)
{
    QByteArray data;
    char buffer[65536];
    for (;;) {
        const qint64 n = Read(buffer, sizeof buffer);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return data;
        if (data.size() + n > Limit)
            return std::nullopt;
        data.append(buffer, n);
    }
}

std::optional<QByteArray> RegularFileReader::ReadHead(qint64 Size)
{
    if (m_Fd < 0 || Size < 0)
        return std::nullopt;
    QByteArray data(Size, Qt::Uninitialized);
    qint64 got = 0;
    while (got < Size) {
        const ssize_t n = ::pread(m_Fd, data.data() + got, std::size_t(Size - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_Error = SystemText(errno);
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += n;
    }
    data.truncate(got);
    return data;
}

void RegularFileReader::Close()
{
    if (m_Fd >= 0) {
        ::close(m_Fd);
        m_Fd = -1;
    }
}

int OpenRegularFile(const QString &Path, HandleAccess Access, QString &Why)
{
    const int flags = Access == HandleAccess::Write ? O_WRONLY : Access == HandleAccess::ReadWrite ? O_RDWR : O_RDONLY;
    int error = 0;
    const int fd = LookThenOpen(AT_FDCWD, QFile::encodeName(Path), true, flags, nullptr, error);
    if (fd < 0)
        Why = error == 0 ? QStringLiteral("not a regular file") : SystemText(error);
    return fd;
}

bool IsRegularFile(const QString &Path)
{
    if (Path.isEmpty())
        return false;
    struct stat st = {};
    return ::stat(QFile::encodeName(Path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const QString &Path)
{
    if (Path.isEmpty())
        return false;
    struct stat st = {};
    return ::stat(QFile::encodeName(Path).constData(), &st) == 0;
}

std::optional<QByteArray> ReadRegularFile(const QString &Path, qint64 Limit)
{
    RegularFileReader reader;
    if (reader.Open(Path) != RegularFileReader::OpenResult::Opened)
        return std::nullopt;
    return reader.ReadAll(Limit);
}

} // namespace platform::files
