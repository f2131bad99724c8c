#include "platform/system/EndRequests.h"

#include "platform/Logging.h"

#include <QCoreApplication>
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
// Set by the first request; the program is ending from then on.
volatile sig_atomic_t g_Requested = 0;

void NoteRequest(int Signal)
{
    const int saved = errno;
    if (g_Requested != 0) {
        // Asked again while the first request is still unanswered: the signal ends the process as
        // it would without a watcher (it is delivered once this handler returns).
        ::signal(Signal, SIG_DFL);
        ::raise(Signal);
        errno = saved;
        return;
    }
    g_Requested = 1;
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
        // One request at a time: a second one is judged after the first is noted.
        ::sigemptyset(&action.sa_mask);
        for (const int other : {SIGTERM, SIGINT, SIGHUP})
            ::sigaddset(&action.sa_mask, other);
        action.sa_flags = SA_RESTART;
        if (::sigaction(signal, &action, nullptr) == 0)
            handled << signal;
    }
    // Nobody is left to answer a request once the loop has ended or the watcher is gone: the
    // signals end the process again, so that a teardown that waits can still be ended.
    const auto restore = [handled] {
        for (const int signal : handled)
            ::signal(signal, SIG_DFL);
    };
    QObject::connect(Context, &QObject::destroyed, restore);
    if (QCoreApplication *app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, Context, restore, Qt::DirectConnection);
    return true;
}

} // namespace platform::system
