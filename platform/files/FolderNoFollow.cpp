#include "platform/files/FolderNoFollow.h"

#include "platform/Logging.h"
#include "platform/files/PlainName.h"

#include <QList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::files {

namespace {

int OpenWithOpenat2(const QByteArray &Path)
{
#ifdef SYS_openat2
    open_how how = {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = ::syscall(SYS_openat2, AT_FDCWD, Path.constData(), &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN)
            return int(fd);
    }
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Where openat2 is missing or filtered: one name at a time, none of them followed.
int OpenOneByOne(const QList<QByteArray> &Names)
{
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const QByteArray &name : Names) {
        if (fd < 0)
            return -1;
        const int next = ::openat(fd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

} // namespace

std::optional<FolderNoFollow> FolderNoFollow::Open(const QByteArray &Path)
{
    if (!Path.startsWith('/') || Path.contains('\0'))
        return std::nullopt;
    QList<QByteArray> names;
    for (const QByteArray &name : Path.split('/')) {
        if (name.isEmpty())
            continue;
        if (!IsPlainName(name))
            return std::nullopt;
        names.append(name);
    }
    int fd = OpenWithOpenat2(Path);
    if (fd < 0 && (errno == ENOSYS || errno == EPERM))
        fd = OpenOneByOne(names);
    if (fd < 0)
        return std::nullopt;
    return FolderNoFollow(fd);
}

std::optional<FileIdentity> FolderNoFollow::IdentityOf(const QByteArray &Name) const
{
    struct stat st = {};
    if (m_Fd.Get() < 0 || !IsPlainName(Name) || ::fstatat(m_Fd.Get(), Name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

bool FolderNoFollow::Remove(const QByteArray &Name) const
{
    if (m_Fd.Get() < 0 || !IsPlainName(Name))
        return false;
    if (::unlinkat(m_Fd.Get(), Name.constData(), 0) == 0)
        return true;
    qCWarning(lcPlatform, "unlinkat(%s): %s", Name.constData(), std::strerror(errno));
    return false;
}

bool SplitFolderAndName(const QByteArray &Path, QByteArray &Folder, QByteArray &Name)
{
    const qsizetype slash = Path.lastIndexOf('/');
    if (!Path.startsWith('/') || slash < 0)
        return false;
    Folder = slash == 0 ? QByteArray("/") : Path.left(slash);
    Name = Path.mid(slash + 1);
    return IsPlainName(Name);
}

std::optional<FileIdentity> IdentityWithoutLinks(const QByteArray &Path)
{
    QByteArray folder, name;
    if (!SplitFolderAndName(Path, folder, name))
        return std::nullopt;
    const auto dir = FolderNoFollow::Open(folder);
    return dir ? dir->IdentityOf(name) : std::nullopt;
}

} // namespace platform::files
