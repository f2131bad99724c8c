#pragma once

#include "platform/system/TestSeams.h"

#include <QByteArray>
#include <QString>

namespace platform::files {

// Replaces `File` with `Data` so that a reader sees either the old or the new content:
// a temporary file beside it, fsync, rename, then fsync of the directory. The directory
// is created when missing (at most 0755). Only in a folder of the running user's that nobody else
// may write, and only over nothing or a regular file of the user's (never a link): see OwnFolder.
// False (and the old file untouched) on any failure.
bool WriteFileAtomically(const QString &File, const QByteArray &Data);

// Copies `From` to `To` (atomically, as above) when nothing is at `To` yet and `From` is a regular
// file, not a link, of at most `Limit` bytes that the effective user owns. True when the copy was
// made. For taking over what an earlier version kept elsewhere: another user's file is never
// taken, and once `To` exists `From` is never looked at again.
bool AdoptOwnFile(const QString &From, const QString &To, qint64 Limit);

#if TASKVANE_TEST_SEAMS
// Every step that changes a file on disk (here and in the callers that remove files) is
// announced first, through TASKVANE_TEST_SEAM(BeforeStep()), so that a test can end the process
// at any of them and show that what is left behind is whole and that the next run completes the
// interrupted change.
using StepHook = void (*)();
void SetStepHook(StepHook Hook);
// Calls the hook, when one is set.
void BeforeStep();
#endif

} // namespace platform::files
