#include "platform/files/FileHandle.h"

#include "platform/files/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {

namespace {

QString ErrorText(int Error)
{
    return QString::fromLocal8Bit(std::strerror(Error));
}

// Repeats Move (one system call for the bytes after the first Done) until Count bytes have moved,
// retrying after an interruption. A call that fails or moves nothing ends it, with the system's
// error number in Error, or Nothing when the call gave none.
template <typename Step>
qint64 Transfer(qint64 Count, Step &&Move, int Nothing, int &Error)
{
    qint64 done = 0;
    while (done < Count) {
        const ssize_t n = Move(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Error = n < 0 ? errno : Nothing;
            break;
        }
        done += n;
    }
    return done;
}

} // namespace

int OpenHandle(const QString &Path, HandleAccess Access, bool Create, QString &Why)
{
    // An existing file is opened as a reader opens one: only a regular file, never waited for.
    if (!Create)
        return OpenRegularFile(Path, Access, Why);
    const QByteArray path = QFile::encodeName(Path);
    const int fd = ::open(path.constData(), O_CLOEXEC | O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        Why = ErrorText(errno);
    return fd;
}

bool LockHandle(int Handle, bool Exclusive, QString &Why)
{
    if (::flock(Handle, (Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
        return true;
    Why = ErrorText(errno);
    return false;
}

void CloseHandle(int Handle)
{
    if (Handle >= 0)
        ::close(Handle);
}

bool MayWriteFile(const QString &Path)
{
    return ::access(QFile::encodeName(Path).constData(), W_OK) == 0;
}

RangeLockResult LockRange(int Handle, qint64 Start, qint64 Length, RangeLock Type, QString &Why)
{
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = short(Type == RangeLock::Exclusive ? F_WRLCK : Type == RangeLock::Shared ? F_RDLCK : F_UNLCK);
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(Start);
    fl.l_len = off_t(Length);
    if (::fcntl(Handle, F_OFD_SETLK, &fl) == 0)
        return RangeLockResult::Done;
    if (errno == EAGAIN || errno == EACCES || errno == EINTR)
        return RangeLockResult::Busy;
    Why = ErrorText(errno);
    return RangeLockResult::Failed;
}

bool SyncHandle(int Handle)
{
    return ::fsync(Handle) == 0;
}

qint64 ReadHandle(int Handle, void *Buffer, qint64 Count)
{
    if (Count <= 0)
        return 0;
    int error = 0;
    return Transfer(
        Count, [&](qint64 Done) { return ::read(Handle, static_cast<char *>(Buffer) + Done, size_t(Count - Done)); }, 0,
        error);
}

qint64 WriteHandle(int Handle, const void *Buffer, qint64 Count)
{
    if (Count <= 0)
        return 0;
    int error = 0;
    return Transfer(
        Count,
        [&](qint64 Done) { return ::write(Handle, static_cast<const char *>(Buffer) + Done, size_t(Count - Done)); }, 0,
        error);
}

qint64 ReadHandleAt(int Handle, qint64 Position, void *Buffer, qint64 Count, int &Error)
{
    if (Count <= 0 || Position < 0)
        return 0;
    return Transfer(
        Count,
        [&](qint64 Done) {
            return ::pread(Handle, static_cast<char *>(Buffer) + Done, size_t(Count - Done), off_t(Position + Done));
        },
        0, Error);
}

qint64 WriteHandleAt(int Handle, qint64 Position, const void *Buffer, qint64 Count, int &Error)
{
    if (Count <= 0 || Position < 0)
        return 0;
    return Transfer(
        Count,
        [&](qint64 Done) {
            return ::pwrite(Handle, static_cast<const char *>(Buffer) + Done, size_t(Count - Done),
                            off_t(Position + Done));
        },
        ENOSPC, Error);
}

qint64 SeekHandle(int Handle, qint64 Offset, HandleSeek Origin)
{
    const int whence = Origin == HandleSeek::Start ? SEEK_SET : Origin == HandleSeek::Current ? SEEK_CUR : SEEK_END;
    return qint64(::lseek(Handle, off_t(Offset), whence));
}

qint64 HandleSize(int Handle)
{
    struct stat st;
    if (::fstat(Handle, &st) != 0)
        return -1;
    return qint64(st.st_size);
}

bool TruncateHandle(int Handle, qint64 Size)
{
    return ::ftruncate(Handle, off_t(Size)) == 0;
}

} // namespace platform::files
