#pragma once

// The places the autorun list reads and writes, moved into one private directory: the key
// store, both autostart folders and the backup file. Nothing of the user's own is touched.

#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "sysinfo/Utils.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <optional>

namespace autotest {

inline const QString kUserRun = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
inline const QString kUserRunOnce =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
inline const QString kMachineRun =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
inline const QString kMachineRunServicesOnce =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce");

using tvtest::ScopedEnv;

class AutorunEnv
{
public:
    AutorunEnv()
        : m_home("XDG_CONFIG_HOME", m_dir.file(QStringLiteral("home"))),
          m_dirs("XDG_CONFIG_DIRS",
                 m_dir.file(QStringLiteral("xdg")) + QLatin1Char(':') + m_dir.file(QStringLiteral("xdg2"))),
          m_registry("TASKVANE_REGISTRY_DIR", m_dir.file(QStringLiteral("registry"))),
          m_userHome(m_dir.file(QStringLiteral("user")))
    {
        QDir().mkpath(UserDir());
        QDir().mkpath(AllUsersDir());
        QDir().mkpath(m_dir.file(QStringLiteral("registry")));
    }

    QString Root() const { return m_dir.path(); }
    QString UserDir() const { return m_dir.file(QStringLiteral("home/autostart")) + QLatin1Char('/'); }
    QString AllUsersDir() const { return m_dir.file(QStringLiteral("xdg/autostart")) + QLatin1Char('/'); }
    // Where the components find the user's data directory (HOME and XDG_DATA_HOME point here).
    QString DataDir() const { return m_userHome.DataDir(); }
    QString BackupFile() const { return DataDir() + QStringLiteral("Backup/autoruns.dat"); }
    QString File(const QString &Name) const { return m_dir.file(Name); }

    static bool Write(const QString &Path, const QByteArray &Data)
    {
        QFile f(Path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(Data) == Data.size();
    }
    static std::optional<QByteArray> Read(const QString &Path)
    {
        QFile f(Path);
        if (!f.open(QIODevice::ReadOnly))
            return std::nullopt;
        return f.readAll();
    }
    // A desktop entry that starts Program with Arguments (Exec words as written).
    static QByteArray Entry(const QString &Exec)
    {
        return QByteArray("# made by the test\r\n[Desktop Entry]\nType=Application\nName=x\nExec=") + Exec.toUtf8() +
            QByteArray("\nX-Extra=\xC3\xA4\n");
    }
    static bool SetRun(const QString &Key, const QString &Name, const QString &Command)
    {
        return WriteRegistryString(Key, Name, Command, true);
    }
    static QStringList RunNames(const QString &Key)
    {
        QStringList names;
        ListRegistryValues(Key, names);
        return names;
    }

private:
    tvtest::TempDir m_dir;
    ScopedEnv m_home, m_dirs, m_registry;
    tvtest::PrivateHome m_userHome;
};

} // namespace autotest
