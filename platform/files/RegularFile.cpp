#include "platform/files/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform::files {

namespace {

// The kernel's own files: they pass for regular files, yet a read may wait for the kernel (the
// kernel log) or change what it reads. No file the program reads lives there.
bool OnKernelFileSystem(int Fd)
{
    struct statfs fs = {};
    if (::fstatfs(Fd, &fs) != 0)
        return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case EFIVARFS_MAGIC:
    case PSTOREFS_MAGIC:
        return true;
    default:
        return false;
    }
}

} // namespace

RegularFileReader::~RegularFileReader()
{
    Close();
}

RegularFileReader::OpenResult RegularFileReader::Open(const QString &Path)
{
    Close();
    m_Error.clear();
    if (Path.isEmpty()) {
        m_Error = QString::fromLocal8Bit(std::strerror(ENOENT));
        return OpenResult::Missing;
    }
    const QByteArray native = QFile::encodeName(Path);
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    return FinishOpen(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

RegularFileReader::OpenResult RegularFileReader::OpenAt(int FolderFd, const QString &Name)
{
    Close();
    m_Error.clear();
    if (Name.isEmpty() || Name.contains(QLatin1Char('/'))) {
        m_Error = QString::fromLocal8Bit(std::strerror(ENOENT));
        return OpenResult::Missing;
    }
    const int fd = ::openat(FolderFd, QFile::encodeName(Name).constData(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0 && errno == ELOOP) {
        m_Error = QStringLiteral("not a regular file");
        return OpenResult::NotRegular;
    }
    return FinishOpen(fd);
}

RegularFileReader::OpenResult RegularFileReader::FinishOpen(int Fd)
{
    if (Fd < 0) {
        const int err = errno;
        m_Error = QString::fromLocal8Bit(std::strerror(err));
        return (err == ENOENT || err == ENOTDIR) ? OpenResult::Missing : OpenResult::Failed;
    }
    struct stat st = {};
    if (::fstat(Fd, &st) != 0 || !S_ISREG(st.st_mode) || OnKernelFileSystem(Fd)) {
        ::close(Fd);
        m_Error = QStringLiteral("not a regular file");
        return OpenResult::NotRegular;
    }
    // O_NONBLOCK stays: a file of a real file system reads the same with it, and anything that
    // would still wait gives an error instead.
    m_Fd = Fd;
    return OpenResult::Opened;
}

bool RegularFileReader::IsPrivate(bool RootToo) const
{
    struct stat st = {};
    if (m_Fd < 0 || ::fstat(m_Fd, &st) != 0)
        return false;
    const bool owner = st.st_uid == ::geteuid() || (RootToo && st.st_uid == 0);
    return owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

qint64 RegularFileReader::Read(char *Buffer, qint64 Size)
{
    if (m_Fd < 0 || Size < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(m_Fd, Buffer, std::size_t(Size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        m_Error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
}

std::optional<QByteArray> RegularFileReader::ReadAll(qint64 Limit)
{
    QByteArray data;
    char buffer[65536];
    for (;;) {
        const qint64 n = Read(buffer, sizeof buffer);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return data;
        if (data.size() + n > Limit)
            return std::nullopt;
        data.append(buffer, n);
    }
}

void RegularFileReader::Close()
{
    if (m_Fd >= 0) {
        ::close(m_Fd);
        m_Fd = -1;
    }
}

bool IsRegularFile(const QString &Path)
{
    if (Path.isEmpty())
        return false;
    struct stat st = {};
    return ::stat(QFile::encodeName(Path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const QString &Path)
{
    if (Path.isEmpty())
        return false;
    struct stat st = {};
    return ::stat(QFile::encodeName(Path).constData(), &st) == 0;
}

} // namespace platform::files
