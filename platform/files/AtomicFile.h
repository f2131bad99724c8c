#pragma once

#include <QByteArray>
#include <QString>

namespace platform::files {

// Replaces `file` with `data` so that a reader sees either the old or the new content:
// a temporary file beside it, fsync, rename, then fsync of the directory. The directory
// is created when missing. False (and the old file untouched) on any failure.
bool writeFileAtomically(const QString &file, const QByteArray &data);

// Every step that changes a file on disk (here and in the callers that remove files) is
// announced first, so that a test can end the process at any of them and show that what is
// left behind is whole and that the next run completes the interrupted change.
using StepHook = void (*)();
void setStepHook(StepHook hook);
// Calls the hook, when one is set.
void beforeStep();

} // namespace platform::files
