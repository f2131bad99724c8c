#pragma once

#include <QString>
#include <QStringList>

#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char **environ;

namespace tvtest {

// A child process this test started; killed and reaped when it goes out of scope.
class Child
{
public:
    explicit Child(const QStringList &argv)
    {
        std::vector<std::string> store;
        for (const QString &a : argv)
            store.push_back(a.toStdString());
        std::vector<char *> args;
        for (std::string &s : store)
            args.push_back(s.data());
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
            m_pid = -1;
    }
    ~Child() { kill(); }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return m_pid; }
    bool running() const { return m_pid > 0 && !m_reaped; }
    void kill()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            reap();
        }
    }
    // Waits for the child to end; its status.
    int reap()
    {
        if (m_pid <= 0 || m_reaped)
            return m_status;
        while (::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
        return m_status;
    }
    // Reaps it when it has ended; true then.
    bool tryReap()
    {
        if (m_reaped)
            return true;
        const pid_t r = ::waitpid(m_pid, &m_status, WNOHANG);
        if (r == m_pid)
            m_reaped = true;
        return m_reaped;
    }

protected:
    Child() = default;

    pid_t m_pid = -1;
    int m_status = 0;
    bool m_reaped = false;
};

// A child forked from the test that waits at a pipe before each step it takes, and then
// sleeps until it is ended. Its steps may only make system calls.
class Forked : public Child
{
public:
    explicit Forked(std::vector<std::function<void()>> steps)
    {
        if (::pipe2(m_gate, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(m_gate[1]);
            for (const auto &step : steps) {
                char c = 0;
                if (::read(m_gate[0], &c, 1) != 1)
                    ::_exit(1);
                step();
            }
            for (;;)
                ::pause();
        }
        ::close(m_gate[0]);
        m_gate[0] = -1;
    }
    ~Forked()
    {
        if (m_gate[1] >= 0)
            ::close(m_gate[1]);
    }
    // Lets the child take its next step.
    bool step() { return m_gate[1] >= 0 && ::write(m_gate[1], "x", 1) == 1; }

private:
    int m_gate[2] = {-1, -1};
};

// A named pipe that a shell child waits at (`read x < gate`) until the test opens it.
class Gate
{
public:
    explicit Gate(const QString &path) : m_path(path.toLocal8Bit()) { m_ok = ::mkfifo(m_path.constData(), 0600) == 0; }
    bool isValid() const { return m_ok; }
    QString path() const { return QString::fromLocal8Bit(m_path); }
    // Waits up to five seconds for the reader, then lets it through.
    bool open()
    {
        for (int i = 0; i < 500; ++i) {
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                const bool ok = ::write(fd, "\n", 1) == 1;
                ::close(fd);
                return ok;
            }
            if (errno != ENXIO)
                return false;
            QThread::msleep(10);
        }
        return false;
    }

private:
    QByteArray m_path;
    bool m_ok = false;
};

} // namespace tvtest
