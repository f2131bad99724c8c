#include "platform/files/AtomicFile.h"

#include "platform/Logging.h"
#include "platform/files/FileHandle.h"
#include "platform/files/OwnFolder.h"

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
    if (file.isEmpty() || info.fileName().isEmpty())
        return false;
    const auto folder = OwnFolder::make(info.absolutePath(), 0755);
    return folder && folder->writeFile(info.fileName(), data, 0644);
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
