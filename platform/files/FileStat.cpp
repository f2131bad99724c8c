#include "platform/files/FileStat.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace platform::files {

namespace {

StatTime toTime(const struct statx_timestamp &t)
{
    return StatTime{qint64(t.tv_sec), t.tv_nsec};
}

FileKind kindOf(quint32 mode)
{
    switch (mode & S_IFMT) {
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

} // namespace

bool statFile(const QString &path, FileStatus &status)
{
    status = FileStatus();
    if (path.isEmpty())
        return false;
    struct statx stx = {};
    const QByteArray native = QFile::encodeName(path);
    if (::statx(AT_FDCWD, native.constData(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return false;
    status.kind = kindOf(stx.stx_mode);
    status.mode = stx.stx_mode & 07777;
    status.ownerUid = stx.stx_uid;
    status.device = (quint64(stx.stx_dev_major) << 32) | stx.stx_dev_minor;
    status.inode = stx.stx_ino;
    status.size = qint64(stx.stx_size);
    if (stx.stx_mask & STATX_BLOCKS)
        status.allocated = qint64(stx.stx_blocks) * 512;
    if (stx.stx_mask & STATX_BTIME) {
        status.hasBirthTime = true;
        status.birthTime = toTime(stx.stx_btime);
    }
    if (stx.stx_mask & STATX_MTIME)
        status.modifyTime = toTime(stx.stx_mtime);
    if (stx.stx_mask & STATX_ATIME)
        status.accessTime = toTime(stx.stx_atime);
    auto attr = [&](quint64 bit) { return (stx.stx_attributes_mask & bit) && (stx.stx_attributes & bit); };
    status.compressed = attr(STATX_ATTR_COMPRESSED);
    status.encrypted = attr(STATX_ATTR_ENCRYPTED);
    status.immutable = attr(STATX_ATTR_IMMUTABLE);
    status.noDump = attr(STATX_ATTR_NODUMP);
    return true;
}

} // namespace platform::files
