// Requests to end the program (SIGTERM, SIGINT, SIGHUP): they reach the watcher while it lives,
// and end the process again once it is gone, so that a teardown that hangs can still be ended.

#include "platform/system/EndRequests.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>

#include <csignal>
#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using Handler = void (*)(int);

Handler Disposition(int Signal)
{
    struct sigaction action = {};
    return ::sigaction(Signal, nullptr, &action) == 0 ? action.sa_handler : nullptr;
}

// How a child of the test's, which raises `Signal` and otherwise leaves, ends: the signal's number
// when it killed the child, 0 when the child left by itself.
int EndOfChildRaising(int Signal)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::raise(Signal);
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

} // namespace

TEST(EndRequests, ReachTheWatcherWhileItLivesAndEndTheProcessOnceItIsGone)
{
    // A signal the process was started with ignored stays ignored throughout.
    struct sigaction hangUp = {};
    ASSERT_EQ(::sigaction(SIGHUP, nullptr, &hangUp), 0);
    ::signal(SIGHUP, SIG_IGN);

    auto context = std::make_unique<QObject>();
    int requests = 0;
    ASSERT_TRUE(platform::system::WatchEndRequests(context.get(), [&requests] { ++requests; }));
    EXPECT_EQ(EndOfChildRaising(SIGTERM), 0);
    ::raise(SIGTERM);
    QElapsedTimer waited;
    waited.start();
    while (requests == 0 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_GE(requests, 1);
    EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);

    context.reset();
    EXPECT_EQ(EndOfChildRaising(SIGTERM), SIGTERM);
    EXPECT_EQ(EndOfChildRaising(SIGINT), SIGINT);
    EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);
    ::sigaction(SIGHUP, &hangUp, nullptr);
}
