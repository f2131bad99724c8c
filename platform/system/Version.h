#pragma once

#include <QString>

namespace platform {

// The program's own version block, compiled in from the build's project version.
struct FileVersion
{
    int Major = 0;
    int Minor = 0;
    int Release = 0;
    int Build = 0;
};

FileVersion ProgramVersion();

// True when `Path` is this program's executable (the only file that carries a version block).
bool IsProgramFile(const QString &Path);

} // namespace platform
