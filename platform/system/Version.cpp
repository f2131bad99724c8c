#include "platform/system/Version.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace platform {

FileVersion programVersion()
{
    return {TASKVANE_VERSION_MAJOR, TASKVANE_VERSION_MINOR, TASKVANE_VERSION_PATCH, TASKVANE_VERSION_TWEAK};
}

bool isProgramFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    const QFileInfo other(path);
    return other.exists() && self.canonicalFilePath() == other.canonicalFilePath();
}

} // namespace platform
