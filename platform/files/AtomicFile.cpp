#include "platform/files/AtomicFile.h"

#include "platform/Logging.h"
#include "platform/files/FileHandle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::files {

namespace {

std::atomic<StepHook> s_stepHook{nullptr};

} // namespace

void setStepHook(StepHook hook)
{
    s_stepHook.store(hook);
}

void beforeStep()
{
    if (const StepHook hook = s_stepHook.load())
        hook();
}

bool writeFileAtomically(const QString &file, const QByteArray &data)
{
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QByteArray tmp = (file + QStringLiteral(".XXXXXX")).toLocal8Bit();
    beforeStep();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        qCWarning(lcPlatform, "mkostemp(%s): %s", tmp.constData(), std::strerror(errno));
        return false;
    }
    beforeStep();
    bool ok = writeHandle(fd, data.constData(), data.size()) == data.size();
    ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) {
        beforeStep();
        ok = ::rename(tmp.constData(), file.toLocal8Bit().constData()) == 0;
    }
    if (!ok) {
        const int err = errno;
        qCWarning(lcPlatform) << "writing" << file << "failed:" << std::strerror(err);
        ::unlink(tmp.constData());
        return false;
    }
    beforeStep();
    const int dfd = ::open(info.absolutePath().toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool adoptOwnFile(const QString &from, const QString &to, qint64 limit)
{
    if (from.isEmpty() || to.isEmpty())
        return false;
    struct stat st = {};
    if (::lstat(QFile::encodeName(to).constData(), &st) == 0 || errno != ENOENT)
        return false;
    const int fd = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    QByteArray data;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_size <= limit;
    if (ok) {
        data.resize(qsizetype(st.st_size));
        ok = readHandle(fd, data.data(), data.size()) == data.size();
    }
    ::close(fd);
    return ok && writeFileAtomically(to, data);
}

} // namespace platform::files
