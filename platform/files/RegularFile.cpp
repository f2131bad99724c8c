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
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
