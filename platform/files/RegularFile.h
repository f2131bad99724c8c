#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform::files {

// A regular file opened for reading. Devices, FIFOs and directories are refused, so that a
// reader can never block on a pipe or read an endless device.
class RegularFileReader
{
public:
    enum class OpenResult { Opened, Missing, NotRegular, Failed };

    RegularFileReader() = default;
    ~RegularFileReader();
    RegularFileReader(const RegularFileReader &) = delete;
    RegularFileReader &operator=(const RegularFileReader &) = delete;

    OpenResult open(const QString &path);
    // Opens `name` in the folder held open as `folderFd`, never through a link (a link is refused
    // as NotRegular).
    OpenResult openAt(int folderFd, const QString &name);
    // The open file belongs to the running user (or to root, when `rootToo`) and nobody else may
    // write it.
    bool isPrivate(bool rootToo) const;
    // Bytes read (0 at the end), -1 on an error.
    qint64 read(char *buffer, qint64 size);
    // The rest of the file; nothing on a read error or when it holds more than limit bytes.
    std::optional<QByteArray> readAll(qint64 limit);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // The system's text for the last failure of open or read.
    QString errorText() const { return m_error; }

private:
    OpenResult finishOpen(int fd);
    int m_fd = -1;
    QString m_error;
};

// True when path names an existing regular file (after following symbolic links).
bool isRegularFile(const QString &path);
// True when something exists at path (after following symbolic links).
bool pathExists(const QString &path);

} // namespace platform::files
