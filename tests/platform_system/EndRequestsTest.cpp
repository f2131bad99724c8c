// Requests to end the program (SIGTERM, SIGINT, SIGHUP): they reach the watcher while it lives,
// and end the process again once it is gone, so that a teardown that hangs can still be ended.

#include "common/TempDir.h"
#include "platform/system/EndRequests.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

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

// The probe runs only in a child of the test's; the variable names how its run goes.
constexpr char kProbeVariable[] = "TASKVANE_END_REQUESTS_PROBE";

// A child running this program's probe, with a pipe to its standard input (closed: its waits end)
// and one from its standard output (the lines saying where it stands).
class Probe
{
public:
    Probe(const QByteArray &Way, const QString &TempFolder)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
        const QByteArray filter = "--gtest_filter=EndRequests.Probe";
        char *argv[] = {const_cast<char *>(self.constData()), const_cast<char *>(filter.constData()), nullptr};
        // Its private home lies in the test's folder, so that nothing of it is left behind.
        qputenv(kProbeVariable, Way);
        const QByteArray tmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(TempFolder));
        if (::posix_spawn(&m_Pid, self.constData(), &actions, nullptr, argv, environ) != 0)
            m_Pid = -1;
        qunsetenv(kProbeVariable);
        tmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_In = in[1];
        m_Out = out[0];
    }
    ~Probe()
    {
        if (m_Pid > 0 && ::waitpid(m_Pid, nullptr, WNOHANG) == 0) {
            ::kill(m_Pid, SIGKILL);
            ::waitpid(m_Pid, nullptr, 0);
        }
        ::close(m_In);
        ::close(m_Out);
    }
    bool Started() const { return m_Pid > 0; }
    void Signal(int Signal) const { ::kill(m_Pid, Signal); }
    // Whether `Signal` has left the child's pending set within a minute: its handler has run, or
    // runs with the other end requests held back.
    bool Delivered(int Signal) const
    {
        const unsigned long long bit = 1ull << (Signal - 1);
        for (int i = 0; i < 600; ++i) {
            QFile status(QStringLiteral("/proc/%1/status").arg(m_Pid));
            if (!status.open(QIODevice::ReadOnly))
                return false;
            unsigned long long pending = 0;
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("SigPnd:") || line.startsWith("ShdPnd:"))
                    pending |= line.mid(7).trimmed().toULongLong(nullptr, 16);
            if ((pending & bit) == 0)
                return true;
            ::usleep(100 * 1000);
        }
        return false;
    }
    // What the probe says next (the test framework's own lines are passed over); empty when it
    // ends or says nothing for a minute.
    std::string NextLine()
    {
        const std::string mark = "probe: ";
        std::string line;
        char c = 0;
        while (true) {
            pollfd p = {m_Out, POLLIN, 0};
            if (::poll(&p, 1, 60000) <= 0 || ::read(m_Out, &c, 1) != 1)
                return std::string();
            if (c != '\n') {
                line += c;
                continue;
            }
            if (line.starts_with(mark))
                return line.substr(mark.size());
            line.clear();
        }
    }
    // The signal that ended the child, 0 when it left by itself; -1 when it still runs a minute on
    // (its waits still wait: its standard input stays open).
    int End()
    {
        for (int i = 0; i < 600; ++i) {
            int status = 0;
            if (::waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
                m_Pid = -1;
                return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            }
            ::usleep(100 * 1000);
        }
        return -1;
    }

private:
    pid_t m_Pid = -1;
    int m_In = -1, m_Out = -1;
};

void Say(const char *Text)
{
    const std::string line = std::string("probe: ") + Text + "\n";
    [[maybe_unused]] const ssize_t n = ::write(1, line.data(), line.size());
}

// Waits until the parent closes the child's standard input: a wait that does not end by itself.
void WaitForParent()
{
    char c = 0;
    while (::read(0, &c, 1) > 0) {
    }
}

} // namespace

TEST(EndRequests, Probe)
{
    const QByteArray way = qgetenv(kProbeVariable);
    if (way.isEmpty())
        GTEST_SKIP() << "run by EndRequests.EndTheProgramWhateverItsTeardownOrAWaitDoes in a child";
    // As the program does: a request closes the windows and ends the loops.
    ASSERT_TRUE(platform::system::WatchEndRequests(qApp, [] { QCoreApplication::exit(0); }));
    if (way == "loop-ends")
        QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
    else if (way == "blocked")
        QTimer::singleShot(0, qApp, [] {
            Say("ready");
            WaitForParent();
        });
    else if (way == "modal")
        QTimer::singleShot(0, qApp, [] {
            QEventLoop modal;
            Say("ready");
            modal.exec();
        });
    else
        QTimer::singleShot(0, qApp, [] { Say("ready"); });
    const int status = QCoreApplication::exec();
    // A destructor after the loop that waits (a join, a read that hangs).
    Say("teardown");
    WaitForParent();
    ::_exit(status);
}

TEST(EndRequests, EndTheProgramWhateverItsTeardownOrAWaitDoes)
{
    struct Case
    {
        const char *way;
        int request;    // sent once the child is ready (0: none, the loop ends by itself)
        bool teardown;  // the request ends the loop: the child reaches its teardown
        int insistence; // sent then; the child must end by it
    };
    const Case cases[] = {
        // The loop ended by itself; the teardown waits: a request ends the process.
        {"loop-ends", 0, true, SIGTERM},
        // A request ended the loop; the teardown waits: the next one ends the process.
        {"request", SIGTERM, true, SIGINT},
        {"request", SIGHUP, true, SIGTERM},
        // A request came while a modal wait ran its own loop: it is answered there.
        {"modal", SIGTERM, true, SIGINT},
        // A request came while the thread waits outside any loop: the second ends the process.
        {"blocked", SIGTERM, false, SIGINT},
        {"blocked", SIGINT, false, SIGHUP},
    };
    tvtest::TempDir tmp;
    ASSERT_TRUE(tmp.isValid());
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.way) + " " + std::to_string(c.request) + " " + std::to_string(c.insistence));
        Probe child(c.way, tmp.path());
        ASSERT_TRUE(child.Started());
        if (c.request != 0) {
            ASSERT_EQ(child.NextLine(), "ready");
            child.Signal(c.request);
            ASSERT_TRUE(child.Delivered(c.request));
        }
        if (c.teardown) {
            ASSERT_EQ(child.NextLine(), "teardown");
        }
        child.Signal(c.insistence);
        EXPECT_EQ(child.End(), c.insistence);
    }
}

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
