#pragma once

#include "platform/files/FileStat.h"

#include <QByteArray>
#include <QString>

namespace platform::files {

struct MimeInfo
{
    QString Name;     // e.g. "text/plain"
    QString Comment;  // the type's description in the user's language
    QString IconName; // freedesktop icon name
};

// How much of a file's start the content rules look at.
constexpr qint64 kMimeHeadSize = 16384;

// The type of a regular file from the shared MIME database, by its name and the bytes its start
// holds (read by the caller from the file it opened): nothing is looked up or read by name.
MimeInfo MimeInfoForData(const QString &FileName, const QByteArray &Head);
// The type of anything but a regular file (a folder, device, FIFO or socket), by its kind alone.
MimeInfo MimeInfoForKind(FileKind Kind);

} // namespace platform::files
