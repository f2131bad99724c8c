#pragma once

#include <QString>

namespace platform::files {

struct MimeInfo
{
    QString name;     // e.g. "text/plain"
    QString comment;  // the type's description in the user's language
    QString iconName; // freedesktop icon name
};

// The type of a file from the shared MIME database (by name and, for regular files,
// by content). Special files get their inode/* type; nothing is read from them.
MimeInfo mimeInfoForFile(const QString &path);

} // namespace platform::files
