#pragma once

#include <QString>

namespace platform::files {

// The process-wide list of file icons that list rows refer to by index. An entry is a
// freedesktop icon name; an index, once handed out, keeps its name for the life of the
// process. Thread-safe.

// The index of `IconName`, added when new; -1 for an empty name.
int SystemImageIndex(const QString &IconName);
// The icon name at `Index`; empty when out of range.
QString SystemImageName(int Index);

} // namespace platform::files
