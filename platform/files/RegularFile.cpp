#include "platform/files/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {

RegularFileReader::~RegularFileReader()
{
    close();
}

RegularFileReader::OpenResult RegularFileReader::open(const QString &path)
{
    close();
    m_error.clear();
    if (path.isEmpty()) {
        m_error = QString::fromLocal8Bit(std::strerror(ENOENT));
        return OpenResult::Missing;
    }
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    return finishOpen(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
}

RegularFileReader::OpenResult RegularFileReader::openAt(int folderFd, const QString &name)
{
    close();
    m_error.clear();
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) {
        m_error = QString::fromLocal8Bit(std::strerror(ENOENT));
        return OpenResult::Missing;
    }
    const int fd = ::openat(folderFd, QFile::encodeName(name).constData(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0 && errno == ELOOP) {
        m_error = QStringLiteral("not a regular file");
        return OpenResult::NotRegular;
    }
    return finishOpen(fd);
}

RegularFileReader::OpenResult RegularFileReader::finishOpen(int fd)
{
    if (fd < 0) {
        const int err = errno;
        m_error = QString::fromLocal8Bit(std::strerror(err));
        return (err == ENOENT || err == ENOTDIR) ? OpenResult::Missing : OpenResult::Failed;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        m_error = QStringLiteral("not a regular file");
        return OpenResult::NotRegular;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_fd = fd;
    return OpenResult::Opened;
}

bool RegularFileReader::isPrivate(bool rootToo) const
{
    struct stat st = {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return false;
    const bool owner = st.st_uid == ::geteuid() || (rootToo && st.st_uid == 0);
    return owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

qint64 RegularFileReader::read(char *buffer, qint64 size)
{
    if (m_fd < 0 || size < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, std::size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
}

std::optional<QByteArray> RegularFileReader::readAll(qint64 limit)
{
    QByteArray data;
    char buffer[65536];
    for (;;) {
        const qint64 n = read(buffer, sizeof buffer);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return data;
        if (data.size() + n > limit)
            return std::nullopt;
        data.append(buffer, n);
    }
}

void RegularFileReader::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool isRegularFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool pathExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace platform::files
