#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform::files {

// A regular file opened for reading, once and without waiting. Devices, FIFOs, directories and the
// kernel's own files (/proc, /sys and their kind) are refused, so that a reader can never block on
// a pipe, read an endless device or drain the kernel log.
class RegularFileReader
{
public:
    enum class OpenResult { Opened, Missing, NotRegular, Failed };

    RegularFileReader() = default;
    ~RegularFileReader();
    RegularFileReader(const RegularFileReader &) = delete;
    RegularFileReader &operator=(const RegularFileReader &) = delete;

    OpenResult Open(const QString &Path);
    // Opens `Name` in the folder held open as `FolderFd`, never through a link (a link is refused
    // as NotRegular).
    OpenResult OpenAt(int FolderFd, const QString &Name);
    // The open file belongs to the running user (or to root, when `RootToo`) and nobody else may
    // write it.
    bool IsPrivate(bool RootToo) const;
    // Bytes read (0 at the end), -1 on an error.
    qint64 Read(char *Buffer, qint64 Size);
    // The rest of the file; nothing on a read error or when it holds more than limit bytes.
    std::optional<QByteArray> ReadAll(qint64 Limit);
    void Close();
    bool IsOpen() const { return m_Fd >= 0; }
    // The system's text for the last failure of open or read.
    QString ErrorText() const { return m_Error; }

private:
    OpenResult FinishOpen(int Fd);
    int m_Fd = -1;
    QString m_Error;
};

// True when path names an existing regular file (after following symbolic links).
bool IsRegularFile(const QString &Path);
// True when something exists at path (after following symbolic links).
bool PathExists(const QString &Path);

} // namespace platform::files
