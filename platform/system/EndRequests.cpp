#include "platform/system/EndRequests.h"

#include "platform/Logging.h"

#include <QList>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace platform::system {

namespace {

// The handler only writes a byte: everything else happens on the watching thread.
int g_WriteEnd = -1;

void NoteRequest(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request; nothing is lost by a failed write.
    [[maybe_unused]] const ssize_t n = ::write(g_WriteEnd, &byte, 1);
    errno = saved;
}

} // namespace

bool WatchEndRequests(QObject *Context, std::function<void()> OnRequest)
{
    static std::atomic<bool> watching{false};
    if (watching.exchange(true))
        return false;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) {
        qCWarning(lcPlatform) << "end requests: no socket pair:" << std::strerror(errno);
        return false;
    }
    g_WriteEnd = fds[0];
    auto *notifier = new QSocketNotifier(fds[1], QSocketNotifier::Read, Context);
    QObject::connect(notifier, &QSocketNotifier::activated, Context, [fd = fds[1], onRequest = std::move(OnRequest)] {
        char bytes[64];
        while (::read(fd, bytes, sizeof bytes) > 0) {
        }
        onRequest();
    });
    QList<int> handled;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old = {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = NoteRequest;
        ::sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(signal, &action, nullptr) == 0)
            handled << signal;
    }
    // Nobody is left to answer a request once the watcher is gone: the signals end the process
    // again, so that a teardown that hangs can still be ended.
    QObject::connect(Context, &QObject::destroyed, [handled] {
        for (const int signal : handled)
            ::signal(signal, SIG_DFL);
    });
    return true;
}

} // namespace platform::system
