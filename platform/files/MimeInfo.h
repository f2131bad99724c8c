#pragma once

#include <QString>

namespace platform::files {

struct MimeInfo
{
    QString Name;     // e.g. "text/plain"
    QString Comment;  // the type's description in the user's language
    QString IconName; // freedesktop icon name
};

// The type of a file from the shared MIME database (by name and, for regular files,
// by content). Special files get their inode/* type; nothing is read from them.
MimeInfo MimeInfoForFile(const QString &Path);

} // namespace platform::files
