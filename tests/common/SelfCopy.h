#pragma once

// The arguments and environment to start this test program again, for one test only, with one
// more variable: made before a fork, so that the child only has to exec them.

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <vector>

#include <unistd.h>

extern char **environ;

namespace tvtest {

class SelfCopy
{
public:
    // `Test` as a gtest filter; the variables whose names start with one of `Dropped` are left out.
    SelfCopy(const char *Test, const QByteArray &Variable, const std::vector<QByteArray> &Dropped = {})
        : m_Self(QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())),
          m_Filter(QByteArray("--gtest_filter=") + Test)
    {
        for (char **e = environ; *e; ++e) {
            const QByteArray entry(*e);
            bool drop = false;
            for (const QByteArray &d : Dropped)
                drop = drop || entry.startsWith(d);
            if (!drop)
                m_Env.push_back(entry);
        }
        m_Env.push_back(Variable);
        m_Argv = {m_Self.data(), m_Filter.data(), nullptr};
        for (QByteArray &e : m_Env)
            m_Envp.push_back(e.data());
        m_Envp.push_back(nullptr);
    }
    SelfCopy(const SelfCopy &) = delete;
    SelfCopy &operator=(const SelfCopy &) = delete;

    // Only what a forked child may do: no allocation.
    void Exec() const { ::execve(m_Argv[0], m_Argv.data(), m_Envp.data()); }

private:
    QByteArray m_Self, m_Filter;
    std::vector<QByteArray> m_Env;
    std::vector<char *> m_Argv, m_Envp;
};

} // namespace tvtest
