#include "platform/files/OwnFolder.h"

#include "platform/files/AtomicFile.h"
#include "platform/files/FileHandle.h"
#include "platform/files/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {

namespace {

bool trustedOwner(uid_t uid)
{
    return uid == ::geteuid() || uid == 0;
}

// Someone else could rename or add entries in this folder.
bool othersMayChange(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0;
}

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
        !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString absoluteClean(const QString &path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

// Every existing part of `clean` (an absolute, clean path), examined without following it; the
// path of the last part that exists in `existing`.
bool chainTrusted(const QString &clean, QString *existing)
{
    QString prefix = QStringLiteral("/");
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = -1; i < parts.size(); ++i) {
        if (i >= 0)
            prefix = (i == 0 ? QString() : prefix) + QLatin1Char('/') + parts[i];
        struct stat st = {};
        if (::lstat(QFile::encodeName(prefix).constData(), &st) != 0) {
            if (errno == ENOENT)
                return true;
            return false;
        }
        if (!trustedOwner(st.st_uid) || othersMayChange(st))
            return false;
        if (existing)
            *existing = prefix;
    }
    return true;
}

bool isOwnPrivateDir(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Whatever is at `name` may be replaced: nothing, or a regular file (not a link) of the user's.
bool replaceable(int dirFd, const QByteArray &name)
{
    struct stat st = {};
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// Opens (creating when missing) a regular file of the user's without following a link; -1 else.
int openOwnRegular(int dirFd, const QByteArray &name, int access, unsigned mode)
{
    const int fd = ::openat(dirFd, name.constData(), access | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                            mode_t(mode));
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace

bool isTrustedPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString clean = absoluteClean(path);
    QString existing;
    if (!chainTrusted(clean, &existing))
        return false;
    // The links on the way lead somewhere: that place must pass as well.
    char real[PATH_MAX];
    if (!::realpath(QFile::encodeName(existing).constData(), real))
        return false;
    const QString canonical = QFile::decodeName(real);
    return canonical == existing || chainTrusted(canonical, nullptr);
}

bool isPrivateFolder(const QString &path, bool followLink)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(absoluteClean(path));
    struct stat st = {};
    const int rc = followLink ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    return rc == 0 && isOwnPrivateDir(st) && isTrustedPath(path);
}

bool isOwnFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString clean = absoluteClean(path);
    struct stat st = {};
    return ::lstat(QFile::encodeName(clean).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && isPrivateFolder(clean.section(QLatin1Char('/'), 0, -2));
}

std::optional<OwnFolder> OwnFolder::open(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QString clean = absoluteClean(path);
    if (!isTrustedPath(clean))
        return std::nullopt;
    const int fd = ::open(QFile::encodeName(clean).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !isOwnPrivateDir(st)) {
        ::close(fd);
        return std::nullopt;
    }
    return OwnFolder(fd, clean);
}

std::optional<OwnFolder> OwnFolder::make(const QString &path, unsigned mode)
{
    if (path.isEmpty())
        return std::nullopt;
    const QString clean = absoluteClean(path);
    // Nothing is made in a place that someone else controls.
    if (!isTrustedPath(clean))
        return std::nullopt;
    QString prefix;
    for (const QString &part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        prefix += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(prefix);
        if (::mkdir(native.constData(), mode_t(mode)) == 0) {
            // The umask may have taken bits away; no more than `mode` was asked for.
            ::chmod(native.constData(), mode_t(mode));
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return open(clean);
}

bool OwnFolder::writeFile(const QString &name, const QByteArray &data, unsigned mode) const
{
    if (!isPlainName(name))
        return false;
    const QByteArray target = QFile::encodeName(name);
    if (!replaceable(m_fd.get(), target))
        return false;
    beforeStep();
    QByteArray tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = target + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::openat(m_fd.get(), tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    beforeStep();
    bool ok = writeHandle(fd, data.constData(), data.size()) == data.size();
    ok = ok && ::fchmod(fd, mode_t(mode)) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    // Looked at again just before the rename: a link put there meanwhile is not replaced either.
    ok = ok && replaceable(m_fd.get(), target);
    if (ok) {
        beforeStep();
        ok = ::renameat(m_fd.get(), tmp.constData(), m_fd.get(), target.constData()) == 0;
    }
    if (!ok) {
        ::unlinkat(m_fd.get(), tmp.constData(), 0);
        return false;
    }
    beforeStep();
    ::fsync(m_fd.get());
    return true;
}

int OwnFolder::createFile(const QString &name, unsigned mode) const
{
    if (!isPlainName(name))
        return -1;
    const int fd = openOwnRegular(m_fd.get(), QFile::encodeName(name), O_WRONLY, mode);
    // Emptied only once it is known to be the user's own file.
    if (fd >= 0 && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int OwnFolder::openLockFile(const QString &name) const
{
    if (!isPlainName(name))
        return -1;
    const int fd = openOwnRegular(m_fd.get(), QFile::encodeName(name), O_RDWR, 0600);
    // A lock file an earlier version left readable would let anyone hold the lock.
    if (fd >= 0)
        ::fchmod(fd, 0600);
    return fd;
}

bool OwnFolder::removeFile(const QString &name) const
{
    if (!isPlainName(name))
        return false;
    const QByteArray native = QFile::encodeName(name);
    struct stat st = {};
    if (::fstatat(m_fd.get(), native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
        return false;
    return ::unlinkat(m_fd.get(), native.constData(), 0) == 0;
}

std::optional<QByteArray> OwnFolder::readFile(const QString &name, qint64 limit, bool *missing) const
{
    if (missing)
        *missing = false;
    if (!isPlainName(name))
        return std::nullopt;
    RegularFileReader reader;
    switch (reader.openAt(m_fd.get(), name)) {
    case RegularFileReader::OpenResult::Opened:
        break;
    case RegularFileReader::OpenResult::Missing:
        if (missing)
            *missing = true;
        return std::nullopt;
    default:
        return std::nullopt;
    }
    if (!reader.isPrivate(false))
        return std::nullopt;
    return reader.readAll(limit);
}

namespace {

// The folder and the name of a file's full path.
std::optional<std::pair<OwnFolder, QString>> split(const QString &file)
{
    if (file.isEmpty() || file.endsWith(QLatin1Char('/')))
        return std::nullopt;
    const QString clean = absoluteClean(file);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    auto folder = OwnFolder::open(slash == 0 ? QStringLiteral("/") : clean.left(slash));
    if (!folder)
        return std::nullopt;
    return std::make_pair(std::move(*folder), clean.mid(slash + 1));
}

} // namespace

bool writeOwnFile(const QString &file, const QByteArray &data, unsigned mode)
{
    const auto place = split(file);
    return place && place->first.writeFile(place->second, data, mode);
}

bool removeOwnFile(const QString &file)
{
    const auto place = split(file);
    return place && place->first.removeFile(place->second);
}

int createOwnFile(const QString &file, unsigned mode)
{
    const auto place = split(file);
    return place ? place->first.createFile(place->second, mode) : -1;
}

std::optional<QByteArray> readOwnFile(const QString &file, qint64 limit, bool *missing)
{
    if (missing)
        *missing = false;
    const auto place = split(file);
    if (!place) {
        // No folder at all is no file at all.
        if (missing && !file.isEmpty()) {
            struct stat st = {};
            *missing = ::lstat(QFile::encodeName(absoluteClean(file).section(QLatin1Char('/'), 0, -2)).constData(),
                               &st) != 0 &&
                errno == ENOENT;
        }
        return std::nullopt;
    }
    return place->first.readFile(place->second, limit, missing);
}

} // namespace platform::files
