#pragma once

#include "platform/files/UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform::files {

// A path the running user can rely on: every part of it that exists, examined without following
// it, belongs to the running user or to root, and no folder on the way can be changed by anyone
// else (written by group or others without the sticky bit). Parts still to be made are skipped.
bool isTrustedPath(const QString &path);

// True when `path` is an existing folder that the running user owns and nobody else may write
// into, reached by a trusted path; a link in its place is refused unless `followLink` (for reading).
bool isPrivateFolder(const QString &path, bool followLink = false);

// True when `path` is a regular file (not a link) of the running user's that nobody else may write,
// in a folder of the user's alone: a file of the user's own folders that may be read.
bool isOwnFile(const QString &path);

// A folder the program creates, writes, locks and deletes files in, held open: a directory that
// the running user owns and nobody else may write into, reached by a trusted path and opened
// without following a link at its own name. Every file is reached by name relative to the held
// folder, never through a link, and only a file of the running user's is replaced, locked or
// deleted. Names are plain file names (no "/", not "." or "..").
class OwnFolder
{
public:
    // Nothing when the folder is missing or fails the rules above.
    static std::optional<OwnFolder> open(const QString &path);
    // Makes missing folders first, each with at most `mode` (whatever the umask); an existing
    // folder keeps its mode and must pass the rules.
    static std::optional<OwnFolder> make(const QString &path, unsigned mode);

    OwnFolder(OwnFolder &&) noexcept = default;
    OwnFolder &operator=(OwnFolder &&) noexcept = default;

    QString path() const { return m_path; }

    // Replaces `name` by `data` so that a reader sees the old or the new file: a temporary file in
    // the folder, fsync, rename, fsync of the folder. Refused (false, nothing changed) when the name
    // is a link, not a regular file, or another user's. The file gets `mode`.
    bool writeFile(const QString &name, const QByteArray &data, unsigned mode = 0644) const;
    // Opens `name` for writing from its start (made with `mode` when missing); -1 when it is a
    // link, not a regular file, or another user's. The caller closes it.
    int createFile(const QString &name, unsigned mode = 0600) const;
    // Opens `name` for reading and writing to lock it (made 0600 when missing); -1 when it is a
    // link, not a regular file, or another user's. The caller closes it.
    int openLockFile(const QString &name) const;
    // Deletes `name`: a link itself, never what it leads to. False when nothing is there, it is a
    // folder, or it is another user's.
    bool removeFile(const QString &name) const;
    // The content of `name`, a regular file (not a link) of the running user's that nobody else may
    // write, of at most `limit` bytes. `missing` tells a missing file from a refused one.
    std::optional<QByteArray> readFile(const QString &name, qint64 limit, bool *missing = nullptr) const;

private:
    OwnFolder(int fd, const QString &path) : m_fd(fd), m_path(path) {}
    UniqueFd m_fd;
    QString m_path;
};

// The same for one file named by its full path, through its folder.
bool writeOwnFile(const QString &file, const QByteArray &data, unsigned mode = 0644);
bool removeOwnFile(const QString &file);
int createOwnFile(const QString &file, unsigned mode = 0600);
std::optional<QByteArray> readOwnFile(const QString &file, qint64 limit, bool *missing = nullptr);

} // namespace platform::files
