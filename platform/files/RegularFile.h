#pragma once

#include "platform/files/FileHandle.h"
#include "platform/files/FileStat.h"
#include "platform/files/FolderNoFollow.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform::files {

// A regular file opened once for reading, never waited for. What a name leads to is first only
// looked at, through a descriptor that reads nothing (so that a device is never opened and a
// FIFO never waited for); only a regular file of a file system that holds files is then opened,
// as that very file, through that descriptor and never by its name again. Kernel interface
// files (/proc, /sys and their like) count as no regular file: reading one may wait for ever
// or take what a daemon was meant to read (the kernel log). The file stays non-blocking, so that
// a lease another user holds on it costs a refusal, not a wait.
class RegularFileReader
{
public:
    enum class OpenResult { Opened, Missing, NotRegular, Failed };

    RegularFileReader() = default;
    ~RegularFileReader();
    RegularFileReader(const RegularFileReader &) = delete;
    RegularFileReader &operator=(const RegularFileReader &) = delete;

    // Links on the way are followed. `Status`, when given, describes whatever the path names
    // (a device, a FIFO), when it could be looked at.
    OpenResult Open(const QString &Path, FileStatus *Status = nullptr);
    // The same where the last name is not to be followed: a link there is refused as NotRegular.
    OpenResult OpenNoFollow(const QString &Path, FileStatus *Status = nullptr);
    // Opens `Name` in the folder held open as `FolderFd`, never through a link (a link is refused
    // as NotRegular). A name that is no plain file name (IsPlainName) names no entry: Missing.
    OpenResult OpenAt(int FolderFd, const QString &Name);
    // Takes over a descriptor opened elsewhere (the image of a process, opened through the
    // process), refused and closed like anything Open refuses.
    OpenResult Adopt(int Fd, FileStatus *Status = nullptr);
    // Only the running user (or root, when `RootToo`) may change the open file
    // (OnlyOwnerMayChange).
    bool IsPrivate(bool RootToo) const;
    // The device and inode of the open file.
    std::optional<FileIdentity> Identity() const;
    // The path under which this program's mount namespace reaches the open file now; empty when
    // there is none.
    QString CurrentPath() const;
    // Bytes read (0 at the end), -1 on an error.
    qint64 Read(char *Buffer, qint64 Size);
    // The rest of the file; nothing on a read error or when it holds more than `Limit` bytes.
    std::optional<QByteArray> ReadAll(qint64 Limit);
    // At most `Size` bytes from the start of the file, wherever the reading stands; nothing on a
    // read error.
    std::optional<QByteArray> ReadHead(qint64 Size);
    void Close();
    bool IsOpen() const { return m_Fd >= 0; }
    int Handle() const { return m_Fd; }
    // The system's text for the last failure of open or read.
    QString ErrorText() const { return m_Error; }

private:
    OpenResult OpenLooked(int Dir, const QByteArray &Name, bool Follow, FileStatus *Status);
    int m_Fd = -1;
    QString m_Error;
};

// An existing regular file opened once for `Access`, as RegularFileReader opens one (looked at
// first, refused unless a regular file of a file system that holds files, never waited for); -1
// on failure, with the system's text (or "not a regular file") in `Why`.
int OpenRegularFile(const QString &Path, HandleAccess Access, QString &Why);
// The whole of a regular file opened as RegularFileReader opens one; nothing when it cannot be
// opened or read, or holds more than `Limit` bytes.
std::optional<QByteArray> ReadRegularFile(const QString &Path, qint64 Limit);

// True when path names an existing regular file (after following symbolic links).
bool IsRegularFile(const QString &Path);
// True when something exists at path (after following symbolic links).
bool PathExists(const QString &Path);

} // namespace platform::files
