#pragma once

#include "platform/files/UniqueFd.h"

#include <QByteArray>

#include <optional>

namespace platform::files {

// A file's device and inode: what tells one file from another, whatever names it.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
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
    static std::optional<FolderNoFollow> open(const QByteArray &path);

    FolderNoFollow(FolderNoFollow &&) noexcept = default;
    FolderNoFollow &operator=(FolderNoFollow &&) noexcept = default;

    // The identity of the entry `name` itself (a link is not followed); nothing when there is
    // none or the name is not a plain file name.
    std::optional<FileIdentity> identityOf(const QByteArray &name) const;
    // Removes the entry `name` (a file, or a link itself); false when that fails.
    bool remove(const QByteArray &name) const;

private:
    explicit FolderNoFollow(int fd) : m_fd(fd) {}

    UniqueFd m_fd;
};

// An absolute path cut into its folder and its last name; false when the path has no plain
// last name (it ends in "/", ".", "..", or is not absolute).
bool splitFolderAndName(const QByteArray &path, QByteArray &folder, QByteArray &name);

// The identity of what `path` names when no link lies on the way to it, the last name included.
std::optional<FileIdentity> identityWithoutLinks(const QByteArray &path);

} // namespace platform::files
