#pragma once

#include <QString>

namespace platform::files {

struct StatTime
{
    qint64 Seconds = 0;
    quint32 Nanoseconds = 0;
};

enum class FileKind { Regular, Directory, SymLink, CharDevice, BlockDevice, Fifo, Socket, Other };

// What statx reports about a path (symbolic links followed).
struct FileStatus
{
    FileKind Kind = FileKind::Other;
    quint32 Mode = 0; // permission bits
    quint32 OwnerUid = 0;
    quint64 Device = 0; // the file system's device and the file's inode: its identity
    quint64 Inode = 0;
    qint64 Size = 0;           // bytes
    qint64 Allocated = 0;      // bytes the file's blocks take on disk
    bool HasBirthTime = false; // only where the file system records it
    StatTime BirthTime;
    StatTime ModifyTime;
    StatTime AccessTime;
    bool Compressed = false;
    bool Encrypted = false;
    bool Immutable = false;
    bool NoDump = false;
};

// False when the path cannot be examined (missing, no permission on a directory on the way).
bool StatFile(const QString &Path, FileStatus &Status);
// The same of the path's last name itself: a link there is described, not followed.
bool StatNoFollow(const QString &Path, FileStatus &Status);
// The same of an open descriptor (one opened only to look at a file too).
bool StatHandle(int Fd, FileStatus &Status);

} // namespace platform::files
