#pragma once

#include "platform/files/UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform::files {

// A path the running user can rely on (an absolute one; a relative path names nothing): every part of it that exists,
// examined without following it, belongs to the running user or to root, and no folder on the way can be changed by
// anyone else (written by group or others without the sticky bit). Parts still to be made are skipped.
bool IsTrustedPath(const QString &Path);

// A folder the program may load code or start programs from: an existing folder (a link followed)
// of the running user's or root's that nobody else may write into, sticky bit or not, reached by
// a trusted path. A relative path is never one.
bool IsTrustedFolder(const QString &Path);
// The same for one file: a regular file of the running user's or root's that nobody else may
// write, in such a folder (links followed, each place on the way trusted).
bool IsTrustedFile(const QString &Path);

// True when `Path` is an existing folder only the running user may change (OnlyOwnerMayChange: others
// may still enter it), reached by a trusted path; a link in its place is refused unless `FollowLink`
// (for reading).
bool IsFolderOnlyUserMayChange(const QString &Path, bool FollowLink = false);

// True when `Path` is a regular file (not a link) of the running user's that nobody else may write,
// in a folder only the user may change: a file of the user's own folders that may be read.
bool IsOwnFile(const QString &Path);

// A folder the program creates, writes, locks and deletes files in, held open: a folder only the
// running user may change (OnlyOwnerMayChange), reached by a trusted path and opened without
// following a link at its own name. Every file is reached by name relative to the held folder,
// never through a link, and only a file of the running user's is replaced, locked or deleted. Names
// are plain file names (IsPlainName).
class OwnFolder
{
public:
    // Nothing when the folder is missing or fails the rules above.
    static std::optional<OwnFolder> Open(const QString &Path);
    // Makes missing folders first, each with at most `Mode` (whatever the umask); an existing
    // folder keeps its mode and must pass the rules.
    static std::optional<OwnFolder> Make(const QString &Path, unsigned Mode);

    OwnFolder(OwnFolder &&) noexcept = default;
    OwnFolder &operator=(OwnFolder &&) noexcept = default;

    QString Path() const { return m_Path; }

    // Replaces `Name` by `Data` so that a reader sees the old or the new file: a temporary file in
    // the folder, fsync, rename, fsync of the folder. Refused (false, nothing changed) when the name
    // is a link, not a regular file, or another user's. The file gets `Mode`.
    bool WriteFile(const QString &Name, const QByteArray &Data, unsigned Mode = 0644) const;
    // Opens `Name` for writing from its start (made with `Mode` when missing); -1 when it is a
    // link, not a regular file, or another user's. The caller closes it.
    int CreateFile(const QString &Name, unsigned Mode = 0600) const;
    // Opens `Name` for reading and writing to lock it (made 0600 when missing); -1 when it is a
    // link, not a regular file, or another user's. The caller closes it.
    int OpenLockFile(const QString &Name) const;
    // Deletes `Name`: a link itself, never what it leads to. False when nothing is there, it is a
    // folder, or it is another user's.
    bool RemoveFile(const QString &Name) const;
    // The content of `Name`, a regular file (not a link) of the running user's that nobody else may
    // write, of at most `Limit` bytes. `Missing` tells a missing file from a refused one.
    std::optional<QByteArray> ReadFile(const QString &Name, qint64 Limit, bool *Missing = nullptr) const;

private:
    OwnFolder(int Fd, const QString &Path) : m_Fd(Fd), m_Path(Path) {}
    UniqueFd m_Fd;
    QString m_Path;
};

// The same for one file named by its full path, through its folder.
bool WriteOwnFile(const QString &File, const QByteArray &Data, unsigned Mode = 0644);
bool RemoveOwnFile(const QString &File);
int CreateOwnFile(const QString &File, unsigned Mode = 0600);
std::optional<QByteArray> ReadOwnFile(const QString &File, qint64 Limit, bool *Missing = nullptr);

} // namespace platform::files
