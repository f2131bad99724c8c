#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform::processes {

// The file a program name stands for: a name with a slash as it is, else the first
// executable regular file of that name on $PATH. Nothing when there is none.
std::optional<QString> FindProgram(const QString &Name);

// Starts `words[0]` (searched on $PATH) with `Words` as its argument vector, detached: in
// its own session, reparented at once (nothing is left for us to reap), no descriptor of
// ours inherited but the standard three. False when the program cannot be started; the
// new process's identifier goes to `Pid` when given. The program gets `Environment`
// ("NAME=value" entries) when given, else this program's own.
bool SpawnDetached(const QStringList &Words, qint32 *Pid = nullptr,
                   const std::optional<QStringList> &Environment = std::nullopt);

} // namespace platform::processes
