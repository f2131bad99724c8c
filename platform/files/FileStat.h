#pragma once

#include <QString>

namespace platform::files {

struct StatTime
{
    qint64 seconds = 0;
    quint32 nanoseconds = 0;
};

enum class FileKind { Regular, Directory, SymLink, CharDevice, BlockDevice, Fifo, Socket, Other };

// What statx reports about a path (symbolic links followed).
struct FileStatus
{
    FileKind kind = FileKind::Other;
    quint32 mode = 0; // permission bits
    quint32 ownerUid = 0;
    quint64 device = 0; // the file system's device and the file's inode: its identity
    quint64 inode = 0;
    qint64 size = 0;           // bytes
    qint64 allocated = 0;      // bytes the file's blocks take on disk
    bool hasBirthTime = false; // only where the file system records it
    StatTime birthTime;
    StatTime modifyTime;
    StatTime accessTime;
    bool compressed = false;
    bool encrypted = false;
    bool immutable = false;
    bool noDump = false;
};

// False when the path cannot be examined (missing, no permission on a directory on the way).
bool statFile(const QString &path, FileStatus &status);

} // namespace platform::files
