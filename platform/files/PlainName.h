#pragma once

#include <QByteArrayView>
#include <QStringView>

namespace platform::files {

// The longest plain name, in bytes of the file system's encoding (the kernel's NAME_MAX).
constexpr qsizetype kMaxNameBytes = 255;

// A plain file name: one entry of a folder, never a way out of it or into another. Not empty, not
// "." or "..", without "/" or NUL, and at most kMaxNameBytes bytes as the file system stores it.
// Any other byte may stand in it, line breaks included: a name the system holds is a name.
bool IsPlainName(QByteArrayView Name);
// The same of a name as the program holds it, in the file system's encoding.
bool IsPlainName(QStringView Name);

} // namespace platform::files
