#include "platform/files/AtomicFile.h"

#include "platform/Logging.h"
#include "platform/files/FileHandle.h"
#include "platform/files/OwnFolder.h"
#include "platform/files/RegularFile.h"

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

#if TASKVANE_TEST_SEAMS
namespace {

std::atomic<StepHook> s_stepHook{nullptr};

} // namespace

void SetStepHook(StepHook Hook)
{
    s_stepHook.store(Hook);
}

void BeforeStep()
{
    if (const StepHook hook = s_stepHook.load())
        hook();
}
#endif

bool WriteFileAtomically(const QString &File, const QByteArray &Data)
{
    const QFileInfo info(File);
    if (File.isEmpty() || info.fileName().isEmpty())
        return false;
    const auto folder = OwnFolder::Make(info.absolutePath(), 0755);
    return folder && folder->WriteFile(info.fileName(), Data, 0644);
}

bool AdoptOwnFile(const QString &From, const QString &To, qint64 Limit)
{
    if (From.isEmpty() || To.isEmpty())
        return false;
    struct stat st = {};
    if (::lstat(QFile::encodeName(To).constData(), &st) == 0 || errno != ENOENT)
        return false;
    RegularFileReader file;
    FileStatus from;
    if (file.OpenNoFollow(From, &from) != RegularFileReader::OpenResult::Opened || from.OwnerUid != ::geteuid() ||
        from.Size > Limit)
        return false;
    const std::optional<QByteArray> data = file.ReadAll(Limit);
    return data && WriteFileAtomically(To, *data);
}

} // namespace platform::files
