#include "platform/system/Version.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace platform {

FileVersion ProgramVersion()
{
    return {TASKVANE_VERSION_MAJOR, TASKVANE_VERSION_MINOR, TASKVANE_VERSION_PATCH, TASKVANE_VERSION_TWEAK};
}

bool IsProgramFile(const QString &Path)
{
    // A relative path would be taken from the working folder.
    if (!Path.startsWith(QLatin1Char('/')))
        return false;
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    const QFileInfo other(Path);
    return other.exists() && self.canonicalFilePath() == other.canonicalFilePath();
}

} // namespace platform
