#pragma once

// The user's own folders, moved into a test's private directory for as long as an object below
// lives: nothing a test makes the program write ever lands in a real home.

#include "common/TempDir.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <sys/stat.h>

namespace tvtest {

// Sets an environment variable and puts the old state back when it goes.
class ScopedEnv
{
public:
    ScopedEnv(const char *Name, const QString &Value) : m_name(Name), m_had(qEnvironmentVariableIsSet(Name))
    {
        m_old = qgetenv(Name);
        qputenv(Name, Value.toLocal8Bit());
    }
    // Unsets the variable for as long as it lives.
    explicit ScopedEnv(const char *Name) : m_name(Name), m_had(qEnvironmentVariableIsSet(Name)), m_old(qgetenv(Name))
    {
        qunsetenv(Name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// HOME and XDG_DATA_HOME below `Root`: the program's data directory is DataDir().
class PrivateHome
{
public:
    explicit PrivateHome(const QString &Root)
        : m_root(Root), m_home("HOME", Root + QStringLiteral("/home")),
          m_data("XDG_DATA_HOME", Root + QStringLiteral("/data"))
    {
        QDir().mkpath(Root + QStringLiteral("/home"));
    }
    QString Home() const { return m_root + QStringLiteral("/home"); }
    QString DataDir() const { return m_root + QStringLiteral("/data/taskvane/"); }

private:
    QString m_root;
    ScopedEnv m_home, m_data;
};

// A private home in a temporary folder of its own, removed when it goes.
class OwnHome
{
public:
    QString Home() const { return m_home.Home(); }
    QString DataDir() const { return m_home.DataDir(); }

private:
    TempDir m_dir;
    PrivateHome m_home{m_dir.path()};
};

// A whole file written or read in one go (an empty text for one that cannot be read).
inline bool WriteFile(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(Data) == Data.size();
}

inline QByteArray ReadFile(const QString &Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The permission bits of a path (links followed); -1 when it cannot be examined.
inline int FileMode(const QString &Path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(Path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace tvtest
