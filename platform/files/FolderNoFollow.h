#pragma once

#include "platform/files/UniqueFd.h"

#include <QByteArray>

#include <optional>

namespace platform::files {

// A file's device and inode: what tells one file from another, whatever names it.
struct FileIdentity
{
    quint64 Device = 0;
    quint64 Inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

// A folder reached without following any symbolic link on the way to it, itself included.
// Its entries are examined and removed through the folder's own descriptor, so a folder that
// is swapped for a link afterwards (by whoever owns its parent) changes nothing that is done here.
class FolderNoFollow
{
public:
    // Nothing for a relative path, a path with "." or ".." in it, a link anywhere on the way,
    // or anything but a folder at its end.
    static std::optional<FolderNoFollow> Open(const QByteArray &Path);

    FolderNoFollow(FolderNoFollow &&) noexcept = default;
    FolderNoFollow &operator=(FolderNoFollow &&) noexcept = default;

    // The identity of the entry `Name` itself (a link is not followed); nothing when there is
    // none or the name is not a plain file name (IsPlainName).
    std::optional<FileIdentity> IdentityOf(const QByteArray &Name) const;
    // Removes the entry `Name` (a file, or a link itself); false when that fails.
    bool Remove(const QByteArray &Name) const;

private:
    explicit FolderNoFollow(int Fd) : m_Fd(Fd) {}

    UniqueFd m_Fd;
};

// An absolute path cut into its folder and its last name; false when the path is not absolute or
// its last name is no plain file name (IsPlainName: it ends in "/", "." or "..").
bool SplitFolderAndName(const QByteArray &Path, QByteArray &Folder, QByteArray &Name);

// The identity of what `Path` names when no link lies on the way to it, the last name included.
std::optional<FileIdentity> IdentityWithoutLinks(const QByteArray &Path);

} // namespace platform::files
