#include "platform/files/FileStat.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace platform::files {

namespace {

StatTime ToTime(const struct statx_timestamp &T)
{
    return StatTime{qint64(T.tv_sec), T.tv_nsec};
}

FileKind KindOf(quint32 Mode)
{
    switch (Mode & S_IFMT) {
    case S_IFREG:
        return FileKind::Regular;
    case S_IFDIR:
        return FileKind::Directory;
    case S_IFLNK:
        return FileKind::SymLink;
    case S_IFCHR:
        return FileKind::CharDevice;
    case S_IFBLK:
        return FileKind::BlockDevice;
    case S_IFIFO:
        return FileKind::Fifo;
    case S_IFSOCK:
        return FileKind::Socket;
    default:
        return FileKind::Other;
    }
}

bool StatAt(int Dir, const char *Path, int Flags, FileStatus &Status)
{
    Status = FileStatus();
    struct statx stx = {};
    if (::statx(Dir, Path, Flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return false;
    Status.Kind = KindOf(stx.stx_mode);
    Status.Mode = stx.stx_mode & 07777;
    Status.OwnerUid = stx.stx_uid;
    Status.Device = (quint64(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    Status.Inode = stx.stx_ino;
    Status.Size = qint64(stx.stx_size);
    if (stx.stx_mask & STATX_BLOCKS)
        Status.Allocated = qint64(stx.stx_blocks) * 512;
    if (stx.stx_mask & STATX_BTIME) {
        Status.HasBirthTime = true;
        Status.BirthTime = ToTime(stx.stx_btime);
    }
    if (stx.stx_mask & STATX_MTIME)
        Status.ModifyTime = ToTime(stx.stx_mtime);
    if (stx.stx_mask & STATX_ATIME)
        Status.AccessTime = ToTime(stx.stx_atime);
    auto attr = [&](quint64 Bit) { return (stx.stx_attributes_mask & Bit) && (stx.stx_attributes & Bit); };
    Status.Compressed = attr(STATX_ATTR_COMPRESSED);
    Status.Encrypted = attr(STATX_ATTR_ENCRYPTED);
    Status.Immutable = attr(STATX_ATTR_IMMUTABLE);
    Status.NoDump = attr(STATX_ATTR_NODUMP);
    return true;
}

} // namespace

bool StatFile(const QString &Path, FileStatus &Status)
{
    Status = FileStatus();
    if (Path.isEmpty())
        return false;
    return StatAt(AT_FDCWD, QFile::encodeName(Path).constData(), 0, Status);
}

bool StatNoFollow(const QString &Path, FileStatus &Status)
{
    Status = FileStatus();
    if (Path.isEmpty())
        return false;
    return StatAt(AT_FDCWD, QFile::encodeName(Path).constData(), AT_SYMLINK_NOFOLLOW, Status);
}

bool StatHandle(int Fd, FileStatus &Status)
{
    Status = FileStatus();
    return Fd >= 0 && StatAt(Fd, "", AT_EMPTY_PATH, Status);
}

} // namespace platform::files
