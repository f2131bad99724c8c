#pragma once

#include <QObject>

#include <functional>

namespace platform::system {

// Calls `OnRequest` on the thread of `Context` when the process is asked to end: SIGTERM (the
// session ends, a service manager or `kill` asks), SIGINT (Ctrl-C in its terminal) or SIGHUP (its
// terminal went away). A signal the process was started with ignored stays ignored. Whatever the
// program does meanwhile, it can always be ended:
// - a second request while the first is still unanswered (the thread waits, or the program is
//   still closing) ends the process at once, as the signal would without a watcher;
// - once the application's loop ends (QCoreApplication::aboutToQuit), or `Context` is destroyed,
//   the signals end the process again, before any window or worker is torn down.
// Once per process; false when the signals cannot be watched (they then end the process as before).
bool WatchEndRequests(QObject *Context, std::function<void()> OnRequest);

} // namespace platform::system
