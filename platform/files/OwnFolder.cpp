#include "platform/files/OwnFolder.h"

#include "platform/files/AtomicFile.h"
#include "platform/files/FileHandle.h"
#include "platform/files/OwnerOnly.h"
#include "platform/files/PlainName.h"
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

// Someone else could rename or add entries in this folder.
bool OthersMayChange(const struct stat &St)
{
    return S_ISDIR(St.st_mode) && (St.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (St.st_mode & S_ISVTX) == 0;
}

// A relative path would be taken from the working folder, which whoever started the program chose:
// it names nothing here.
QString AbsoluteClean(const QString &Path)
{
    return Path.startsWith(QLatin1Char('/')) ? QDir::cleanPath(Path) : QString();
}

// Every existing part of `Clean` (an absolute, clean path), examined without following it; the
// path of the last part that exists in `Existing`.
bool ChainTrusted(const QString &Clean, QString *Existing)
{
    QString prefix = QStringLiteral("/");
    const QStringList parts = Clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = -1; i < parts.size(); ++i) {
        if (i >= 0)
            prefix = (i == 0 ? QString() : prefix) + QLatin1Char('/') + parts[i];
        struct stat st = {};
        if (::lstat(QFile::encodeName(prefix).constData(), &st) != 0) {
            if (errno == ENOENT)
                return true;
            return false;
        }
        if (!IsTrustedOwner(quint32(st.st_uid)) || OthersMayChange(st))
            return false;
        if (Existing)
            *Existing = prefix;
    }
    return true;
}

// Whatever is at `Name` may be replaced: nothing, or a regular file (not a link) of the user's.
bool Replaceable(int DirFd, const QByteArray &Name)
{
    struct stat st = {};
    if (::fstatat(DirFd, Name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// Opens (creating when missing) a regular file of the user's without following a link; -1 else.
int OpenOwnRegular(int DirFd, const QByteArray &Name, int Access, unsigned Mode)
{
    const int fd = ::openat(DirFd, Name.constData(), Access | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                            mode_t(Mode));
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

// The folder at `Clean` (a link followed) is one nobody but the user or root may add a file to,
// sticky bit or not. The way to it is the caller's to judge.
bool IsClosedFolder(const QString &Clean)
{
    FileStatus st;
    return StatFile(Clean, st) && st.Kind == FileKind::Directory && OnlyTrustedOwnerMayChange(st);
}

} // namespace

bool IsTrustedPath(const QString &Path)
{
    const QString clean = AbsoluteClean(Path);
    if (clean.isEmpty())
        return false;
    QString existing;
    if (!ChainTrusted(clean, &existing))
        return false;
    // The links on the way lead somewhere: that place must pass as well.
    char real[PATH_MAX];
    if (!::realpath(QFile::encodeName(existing).constData(), real))
        return false;
    const QString canonical = QFile::decodeName(real);
    return canonical == existing || ChainTrusted(canonical, nullptr);
}

bool IsTrustedFolder(const QString &Path)
{
    const QString clean = AbsoluteClean(Path);
    if (clean.isEmpty() || !IsTrustedPath(clean))
        return false;
    // The folder itself is followed: IsTrustedPath has looked at where a link leads.
    return IsClosedFolder(clean);
}

bool IsTrustedFile(const QString &Path)
{
    const QString clean = AbsoluteClean(Path);
    if (clean.isEmpty())
        return false;
    char real[PATH_MAX];
    if (!::realpath(QFile::encodeName(clean).constData(), real))
        return false;
    const QString canonical = QFile::decodeName(real);
    const QString folder = canonical.left(qMax(qsizetype(1), canonical.lastIndexOf(QLatin1Char('/'))));
    // IsTrustedPath walks where the links lead as well, the real folder included.
    FileStatus st;
    return StatFile(clean, st) && st.Kind == FileKind::Regular && OnlyTrustedOwnerMayChange(st) &&
        IsTrustedPath(clean) && IsClosedFolder(folder);
}

bool IsFolderOnlyUserMayChange(const QString &Path, bool FollowLink)
{
    const QString clean = AbsoluteClean(Path);
    if (clean.isEmpty())
        return false;
    FileStatus st;
    return (FollowLink ? StatFile(clean, st) : StatNoFollow(clean, st)) && st.Kind == FileKind::Directory &&
        OnlyOwnerMayChange(st, ::geteuid()) && IsTrustedPath(clean);
}

bool IsOwnFile(const QString &Path)
{
    const QString clean = AbsoluteClean(Path);
    if (clean.isEmpty())
        return false;
    FileStatus st;
    return StatNoFollow(clean, st) && st.Kind == FileKind::Regular && OnlyOwnerMayChange(st, ::geteuid()) &&
        IsFolderOnlyUserMayChange(clean.section(QLatin1Char('/'), 0, -2));
}

std::optional<OwnFolder> OwnFolder::Open(const QString &Path)
{
    const QString clean = AbsoluteClean(Path);
    if (clean.isEmpty() || !IsTrustedPath(clean))
        return std::nullopt;
    const int fd = ::open(QFile::encodeName(clean).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    if (!IsFolderOnlyOwnerMayChange(fd, ::geteuid())) {
        ::close(fd);
        return std::nullopt;
    }
    return OwnFolder(fd, clean);
}

std::optional<OwnFolder> OwnFolder::Make(const QString &Path, unsigned Mode)
{
    const QString clean = AbsoluteClean(Path);
    // Nothing is made in a place that someone else controls.
    if (clean.isEmpty() || !IsTrustedPath(clean))
        return std::nullopt;
    QString prefix;
    for (const QString &part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        prefix += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(prefix);
        if (::mkdir(native.constData(), mode_t(Mode)) == 0) {
            // The umask may have taken bits away; no more than `Mode` was asked for.
            ::chmod(native.constData(), mode_t(Mode));
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return Open(clean);
}

bool OwnFolder::WriteFile(const QString &Name, const QByteArray &Data, unsigned Mode) const
{
    if (!IsPlainName(Name))
        return false;
    const QByteArray target = QFile::encodeName(Name);
    if (!Replaceable(m_Fd.Get(), target))
        return false;
    TASKVANE_TEST_SEAM(BeforeStep());
    QByteArray tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = target + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::openat(m_Fd.Get(), tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    TASKVANE_TEST_SEAM(BeforeStep());
    bool ok = WriteHandle(fd, Data.constData(), Data.size()) == Data.size();
    ok = ok && ::fchmod(fd, mode_t(Mode)) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    // Looked at again just before the rename: a link put there meanwhile is not replaced either.
    ok = ok && Replaceable(m_Fd.Get(), target);
    if (ok) {
        TASKVANE_TEST_SEAM(BeforeStep());
        ok = ::renameat(m_Fd.Get(), tmp.constData(), m_Fd.Get(), target.constData()) == 0;
    }
    if (!ok) {
        ::unlinkat(m_Fd.Get(), tmp.constData(), 0);
        return false;
    }
    TASKVANE_TEST_SEAM(BeforeStep());
    ::fsync(m_Fd.Get());
    return true;
}

int OwnFolder::CreateFile(const QString &Name, unsigned Mode) const
{
    if (!IsPlainName(Name))
        return -1;
    const int fd = OpenOwnRegular(m_Fd.Get(), QFile::encodeName(Name), O_WRONLY, Mode);
    // Emptied only once it is known to be the user's own file.
    if (fd >= 0 && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int OwnFolder::OpenLockFile(const QString &Name) const
{
    if (!IsPlainName(Name))
        return -1;
    const int fd = OpenOwnRegular(m_Fd.Get(), QFile::encodeName(Name), O_RDWR, 0600);
    // A lock file an earlier version left readable would let anyone hold the lock.
    if (fd >= 0)
        ::fchmod(fd, 0600);
    return fd;
}

bool OwnFolder::RemoveFile(const QString &Name) const
{
    if (!IsPlainName(Name))
        return false;
    const QByteArray native = QFile::encodeName(Name);
    struct stat st = {};
    if (::fstatat(m_Fd.Get(), native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
        return false;
    return ::unlinkat(m_Fd.Get(), native.constData(), 0) == 0;
}

std::optional<QByteArray> OwnFolder::ReadFile(const QString &Name, qint64 Limit, bool *Missing) const
{
    if (Missing)
        *Missing = false;
    if (!IsPlainName(Name))
        return std::nullopt;
    RegularFileReader reader;
    switch (reader.OpenAt(m_Fd.Get(), Name)) {
    case RegularFileReader::OpenResult::Opened:
        break;
    case RegularFileReader::OpenResult::Missing:
        if (Missing)
            *Missing = true;
        return std::nullopt;
    default:
        return std::nullopt;
    }
    if (!reader.IsPrivate(false))
        return std::nullopt;
    return reader.ReadAll(Limit);
}

namespace {

// The folder and the name of a file's full path.
std::optional<std::pair<OwnFolder, QString>> Split(const QString &File)
{
    const QString clean = AbsoluteClean(File);
    if (clean.isEmpty() || File.endsWith(QLatin1Char('/')))
        return std::nullopt;
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    auto folder = OwnFolder::Open(slash == 0 ? QStringLiteral("/") : clean.left(slash));
    if (!folder)
        return std::nullopt;
    return std::make_pair(std::move(*folder), clean.mid(slash + 1));
}

} // namespace

bool WriteOwnFile(const QString &File, const QByteArray &Data, unsigned Mode)
{
    const auto place = Split(File);
    return place && place->first.WriteFile(place->second, Data, Mode);
}

bool RemoveOwnFile(const QString &File)
{
    const auto place = Split(File);
    return place && place->first.RemoveFile(place->second);
}

int CreateOwnFile(const QString &File, unsigned Mode)
{
    const auto place = Split(File);
    return place ? place->first.CreateFile(place->second, Mode) : -1;
}

std::optional<QByteArray> ReadOwnFile(const QString &File, qint64 Limit, bool *Missing)
{
    if (Missing)
        *Missing = false;
    const auto place = Split(File);
    if (!place) {
        // No folder at all is no file at all.
        if (Missing && !AbsoluteClean(File).isEmpty()) {
            struct stat st = {};
            *Missing = ::lstat(QFile::encodeName(AbsoluteClean(File).section(QLatin1Char('/'), 0, -2)).constData(),
                               &st) != 0 &&
                errno == ENOENT;
        }
        return std::nullopt;
    }
    return place->first.ReadFile(place->second, Limit, Missing);
}

} // namespace platform::files
