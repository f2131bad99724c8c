#include "platform/files/AtomicFile.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
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
    if (fd < 0)
        return false;
    beforeStep();
    bool ok = true;
    qsizetype done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, std::size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += n;
    }
    ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) {
        beforeStep();
        ok = ::rename(tmp.constData(), file.toLocal8Bit().constData()) == 0;
    }
    if (!ok) {
        ::unlink(tmp.constData());
        return false;
    }
    beforeStep();
    const int dfd = ::open(info.absolutePath().toLocal8Bit().constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

} // namespace platform::files
