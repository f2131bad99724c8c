#pragma once

#include <QByteArray>
#include <QString>

namespace platform::files {

// Replaces `file` with `data` so that a reader sees either the old or the new content:
// a temporary file beside it, fsync, rename, then fsync of the directory. The directory
// is created when missing. False (and the old file untouched) on any failure.
bool writeFileAtomically(const QString &file, const QByteArray &data);

} // namespace platform::files
