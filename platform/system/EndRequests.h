#pragma once

#include <QObject>

#include <functional>

namespace platform::system {

// Calls `OnRequest` on the thread of `Context` when the process is asked to end: SIGTERM (the
// session ends, a service manager or `kill` asks), SIGINT (Ctrl-C in its terminal) or SIGHUP (its
// terminal went away). A signal the process was started with ignored stays ignored; the others
// end the process again once `Context` is destroyed. Once per process; false when the signals
// cannot be watched (they then end the process as before).
bool WatchEndRequests(QObject *Context, std::function<void()> OnRequest);

} // namespace platform::system
