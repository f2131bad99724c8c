#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform::processes {

// The file a program name stands for: an absolute path as it is, else the first executable
// regular file of that name in a folder of $PATH that nobody but root and the running user can
// change (files::IsTrustedFolder). Never the working folder: a relative path, and an empty or
// relative entry of $PATH, find nothing. Nothing when there is none.
std::optional<QString> FindProgram(const QString &Name);

// Starts `Words[0]` (found by FindProgram) with `Words` as its argument vector, detached: in
// its own session, reparented at once (nothing is left for us to reap), no descriptor of
// ours inherited but the standard three, with this program's own environment (settled at start,
// see system::SettleEnvironment). False when the program cannot be started; the new process's
// identifier goes to `Pid` when given.
bool SpawnDetached(const QStringList &Words, qint32 *Pid = nullptr);

} // namespace platform::processes
