#pragma once

#include <QString>

namespace platform {

// The program's own version block, compiled in from the build's project version.
struct FileVersion
{
    int major = 0;
    int minor = 0;
    int release = 0;
    int build = 0;
};

FileVersion programVersion();

// True when `path` is this program's executable (the only file that carries a version block).
bool isProgramFile(const QString &path);

} // namespace platform
