#pragma once

#include <QString>
#include <QStringList>

#include <csignal>
#include <spawn.h>
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

private:
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_reaped = false;
};

} // namespace tvtest
