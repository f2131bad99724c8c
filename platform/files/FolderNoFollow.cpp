#include "platform/files/FolderNoFollow.h"

#include "platform/Logging.h"

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

bool isPlainName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

int openWithOpenat2(const QByteArray &path)
{
#ifdef SYS_openat2
    open_how how = {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.constData(), &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN)
            return int(fd);
    }
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Where openat2 is missing or filtered: one name at a time, none of them followed.
int openOneByOne(const QList<QByteArray> &names)
{
    int fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const QByteArray &name : names) {
        if (fd < 0)
            return -1;
        const int next = ::openat(fd, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

} // namespace

std::optional<FolderNoFollow> FolderNoFollow::open(const QByteArray &path)
{
    if (!path.startsWith('/') || path.contains('\0'))
        return std::nullopt;
    QList<QByteArray> names;
    for (const QByteArray &name : path.split('/')) {
        if (name.isEmpty())
            continue;
        if (!isPlainName(name))
            return std::nullopt;
        names.append(name);
    }
    int fd = openWithOpenat2(path);
    if (fd < 0 && (errno == ENOSYS || errno == EPERM))
        fd = openOneByOne(names);
    if (fd < 0)
        return std::nullopt;
    return FolderNoFollow(fd);
}

std::optional<FileIdentity> FolderNoFollow::identityOf(const QByteArray &name) const
{
    struct stat st = {};
    if (m_fd.get() < 0 || !isPlainName(name) || ::fstatat(m_fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

bool FolderNoFollow::remove(const QByteArray &name) const
{
    if (m_fd.get() < 0 || !isPlainName(name))
        return false;
    if (::unlinkat(m_fd.get(), name.constData(), 0) == 0)
        return true;
    qCWarning(lcPlatform, "unlinkat(%s): %s", name.constData(), std::strerror(errno));
    return false;
}

bool splitFolderAndName(const QByteArray &path, QByteArray &folder, QByteArray &name)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (!path.startsWith('/') || slash < 0)
        return false;
    folder = slash == 0 ? QByteArray("/") : path.left(slash);
    name = path.mid(slash + 1);
    return isPlainName(name);
}

std::optional<FileIdentity> identityWithoutLinks(const QByteArray &path)
{
    QByteArray folder, name;
    if (!splitFolderAndName(path, folder, name))
        return std::nullopt;
    const auto dir = FolderNoFollow::open(folder);
    return dir ? dir->identityOf(name) : std::nullopt;
}

} // namespace platform::files
