#pragma once

// A real systemd user manager for the tests, started in namespaces of its own: a mount namespace
// with its own /run (so nothing of the machine's /run/systemd or system bus is reachable), empty
// system-wide user unit folders and a cgroup2 hierarchy mounted from a cgroup this object makes
// (a cgroup namespace rooted there, so that freezing works and every process stays inside it),
// and a pid namespace. Its message bus is started by the manager itself from units written here,
// in a runtime folder of this object. The program's service layer is pointed at that bus. The
// manager, its bus and every unit it runs end with this object (the cgroup is killed whole).

#include "common/TempDir.h"
#include "platform/services/ServiceManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace realsd {

class UserManager
{
public:
    // ManyUnits more oneshot services "tv-many-NNNN" that stay active once started, all started
    // with the manager. Each of Refused is one more service, enabled and started with the
    // manager, whose properties the bus refuses to tell anyone.
    explicit UserManager(int ManyUnits = 0, const QStringList &Refused = {}) : m_many(ManyUnits), m_refused(Refused)
    {
        m_skip = start();
        if (!m_skip.isEmpty())
            stop();
    }
    ~UserManager() { stop(); }
    UserManager(const UserManager &) = delete;
    UserManager &operator=(const UserManager &) = delete;

    // Empty when the manager runs; otherwise why it could not be started here.
    const QString &skipReason() const { return m_skip; }
    // Where the tests put their units (a folder of the manager's search path that is not the
    // one enabling and masking write to).
    QString unitDir() const { return m_dir.file(QStringLiteral("data/systemd/user")); }
    // Where enabling and masking write.
    QString configUnitDir() const { return m_dir.file(QStringLiteral("config/systemd/user")); }
    // The manager's cgroup, seen from the machine: it holds the manager and all it runs.
    const QString &cgroup() const { return m_cgroup; }
    // The cgroup of a unit, seen from the machine.
    QString unitCgroup(const QString &Unit) const { return m_cgroup + QStringLiteral("/app.slice/") + Unit; }
    QString scratch(const QString &Name) const { return m_dir.file(Name); }

    // Waits until the manager has no job left (every unit it was to start has started); false
    // when it still has some after TimeoutMs.
    bool settle(int TimeoutMs) const
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(m_address, connectionName());
        QDeadlineTimer deadline(TimeoutMs);
        do {
            QDBusMessage get = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
            get.setArguments({QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("NJobs")});
            const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                reply.arguments().first().value<QDBusVariant>().variant().toUInt() == 0)
                return true;
            QThread::msleep(50);
        } while (!deadline.hasExpired());
        return false;
    }
    // The name of the nth of the many units.
    static QString ManyName(int Index) { return QStringLiteral("tv-many-%1").arg(Index, 4, 10, QLatin1Char('0')); }

    static bool Write(const QString &Path, const QByteArray &Text)
    {
        QDir().mkpath(QFileInfo(Path).absolutePath());
        QFile f(Path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(Text) == Text.size();
    }

    // The units the tests use, written before the manager starts.
    static QByteArray Unit(const QByteArray &Description, const QByteArray &UnitLines, const QByteArray &Install,
                           const QByteArray &Sleep)
    {
        QByteArray text = "[Unit]\nDescription=" + Description + "\nDefaultDependencies=no\nStartLimitIntervalSec=0\n" +
            UnitLines + "\n[Service]\nExecStart=" + Sleep + " infinity\n";
        if (!Install.isEmpty())
            text += "[Install]\n" + Install + "\n";
        return text;
    }

private:
    QString start()
    {
        if (::geteuid() != 0)
            return QStringLiteral("needs root to make mount, cgroup and pid namespaces");
        const QString systemd = QFileInfo::exists(QStringLiteral("/lib/systemd/systemd"))
            ? QStringLiteral("/lib/systemd/systemd")
            : QStringLiteral("/usr/lib/systemd/systemd");
        const QString dbusDaemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        const QString sleep = QStandardPaths::findExecutable(QStringLiteral("sleep"));
        if (!QFileInfo(systemd).isExecutable() || dbusDaemon.isEmpty() || sleep.isEmpty())
            return QStringLiteral("no systemd, dbus-daemon or sleep on this machine");
        if (!m_dir.isValid())
            return QStringLiteral("no scratch directory");

        // A cgroup of its own, below this process's own cgroup2 group.
        QString hierarchy;
        for (const char *candidate : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
            struct statfs fs = {};
            if (::statfs(candidate, &fs) == 0 && fs.f_type == 0x63677270) { // CGROUP2_SUPER_MAGIC
                hierarchy = QLatin1String(candidate);
                break;
            }
        }
        if (hierarchy.isEmpty())
            return QStringLiteral("no cgroup2 hierarchy is mounted");
        QFile self(QStringLiteral("/proc/self/cgroup"));
        QString own;
        if (self.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : self.readAll().split('\n'))
                if (line.startsWith("0::"))
                    own = QString::fromUtf8(line.mid(3)).trimmed();
        }
        if (own.isEmpty())
            return QStringLiteral("this process has no cgroup2 group");
        static int s_count = 0;
        m_cgroup = QStringLiteral("%1%2/taskvane-test-%3-%4")
                       .arg(hierarchy, own == QLatin1String("/") ? QString() : own)
                       .arg(::getpid())
                       .arg(++s_count);
        if (::mkdir(QFile::encodeName(m_cgroup).constData(), 0755) != 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            m_cgroup.clear();
            return QStringLiteral("cannot make a cgroup: ") + why;
        }

        // The manager's folders, its bus and the target it starts.
        const QString runtime = m_dir.file(QStringLiteral("runtime"));
        for (const char *d : {"home", "config", "data/systemd/user", "runtime"})
            QDir().mkpath(m_dir.file(QLatin1String(d)));
        ::chmod(QFile::encodeName(runtime).constData(), 0700);
        const QString busConfig = m_dir.file(QStringLiteral("bus.conf"));
        QByteArray refusals;
        for (const QString &name : m_refused) {
            // The unit's object, as the manager names it: letters and digits kept, every other
            // byte as "_xx".
            QByteArray object = "/org/freedesktop/systemd1/unit/";
            for (const char c : (name + QStringLiteral(".service")).toUtf8())
                object +=
                    std::isalnum(static_cast<unsigned char>(c)) ? QByteArray(1, c) : "_" + QByteArray(1, c).toHex();
            refusals += "<deny send_destination=\"org.freedesktop.systemd1\" "
                        "send_interface=\"org.freedesktop.DBus.Properties\" send_path=\"" +
                object + "\"/>";
        }
        Write(busConfig,
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>systemd:</listen><auth>EXTERNAL</auth>\n"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/>" +
                  refusals + "</policy></busconfig>\n");
        Write(unitDir() + QStringLiteral("/dbus.socket"),
              "[Unit]\nDefaultDependencies=no\n[Socket]\nListenStream=%t/bus\n");
        Write(unitDir() + QStringLiteral("/dbus.service"),
              "[Unit]\nDefaultDependencies=no\nRequires=dbus.socket\n[Service]\nExecStart=" +
                  QFile::encodeName(dbusDaemon) + " --config-file=" + QFile::encodeName(busConfig) +
                  " --nofork --nopidfile --systemd-activation\n");
        // The many units are wanted by the target itself: a thousand links in one folder would
        // make every listing of the unit files scan them all for each file.
        QByteArray wants = "Wants=dbus.socket dbus.service tv-static.service tv-generated.service\n";
        for (int i = 0; i < m_many; ++i)
            wants += "Wants=" + ManyName(i).toUtf8() + ".service\n";
        Write(unitDir() + QStringLiteral("/taskvane-test.target"),
              "[Unit]\nDescription=Taskvane test\nDefaultDependencies=no\n" + wants);
        const QByteArray sleepPath = QFile::encodeName(sleep);
        Write(unitDir() + QStringLiteral("/tv-base.service"),
              Unit("Taskvane test base", "", "WantedBy=taskvane-test.target", sleepPath));
        Write(unitDir() + QStringLiteral("/tv-dep.service"),
              Unit("Taskvane test dependent", "Requires=tv-base.service\nAfter=tv-base.service",
                   "WantedBy=taskvane-test.target", sleepPath));
        Write(unitDir() + QStringLiteral("/tv-static.service"), Unit("Taskvane test static", "", "", sleepPath));
        for (const QString &name : m_refused) {
            const QString unit = name + QStringLiteral(".service");
            Write(unitDir() + QLatin1Char('/') + unit,
                  Unit("Taskvane test refused", "", "WantedBy=taskvane-test.target", sleepPath));
            const QString wants = configUnitDir() + QStringLiteral("/taskvane-test.target.wants");
            QDir().mkpath(wants);
            QFile::link(unitDir() + QLatin1Char('/') + unit, wants + QLatin1Char('/') + unit);
        }
        Write(unitDir() + QStringLiteral("/tv-indirect.service"),
              Unit("Taskvane test indirect", "", "Also=tv-base.service", sleepPath));
        for (int i = 0; i < m_many; ++i) {
            const QString unit = ManyName(i) + QStringLiteral(".service");
            Write(unitDir() + QLatin1Char('/') + unit,
                  "[Unit]\nDescription=Taskvane test many " + QByteArray::number(i) +
                      "\nDefaultDependencies=no\n[Service]\nType=oneshot\nRemainAfterExit=yes\nExecStart=" +
                      QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("true"))) + "\n");
        }
        // A generator of its own, run by the manager at start and at every reload, makes a unit
        // with the start type of generated units.
        const QString generated = m_dir.file(QStringLiteral("generated/tv-generated.service"));
        Write(generated, Unit("Taskvane test generated", "", "", sleepPath));
        const QString generators = m_dir.file(QStringLiteral("generators"));
        Write(generators + QStringLiteral("/tv-generator"),
              "#!/bin/sh\nexec cp '" + QFile::encodeName(generated) + "' \"$1/tv-generated.service\"\n");
        ::chmod(QFile::encodeName(generators + QStringLiteral("/tv-generator")).constData(), 0755);
        const std::string generatorSource = generators.toStdString();

        // Everything the children need is made before the fork: after it, only system calls.
        m_address = QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
        const std::vector<std::string> argv = {systemd.toStdString(), "--user", "--unit=taskvane-test.target",
                                               "--log-target=console"};
        const std::vector<std::string> envp = {
            "HOME=" + m_dir.file(QStringLiteral("home")).toStdString(),
            "XDG_CONFIG_HOME=" + m_dir.file(QStringLiteral("config")).toStdString(),
            "XDG_DATA_HOME=" + m_dir.file(QStringLiteral("data")).toStdString(),
            "XDG_RUNTIME_DIR=" + runtime.toStdString(),
            "DBUS_SESSION_BUS_ADDRESS=" + m_address.toStdString(),
            "PATH=/usr/local/bin:/usr/bin:/bin",
            "LANG=C.UTF-8",
        };
        std::vector<char *> args, env;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string &e : envp)
            env.push_back(const_cast<char *>(e.c_str()));
        env.push_back(nullptr);
        const std::string procs = (m_cgroup + QStringLiteral("/cgroup.procs")).toStdString();
        const std::string console = m_dir.file(QStringLiteral("console.log")).toStdString();
        Write(QString::fromStdString(console), QByteArray());
        const char *hidden[] = {"/etc/systemd/user",
                                "/usr/lib/systemd/user",
                                "/usr/lib/systemd/user-generators",
                                "/usr/lib/systemd/user-environment-generators",
                                "/etc/systemd/user-generators",
                                "/etc/systemd/user-environment-generators",
                                "/usr/local/lib/systemd/user"};
        const pid_t parent = ::getpid();

        m_child = ::fork();
        if (m_child < 0)
            return QStringLiteral("cannot fork");
        if (m_child == 0) {
            // Ends with the test program, whatever happens to it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(9);
            const int fd = ::open(procs.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || ::write(fd, "0", 1) != 1)
                ::_exit(10);
            ::close(fd);
            if (::unshare(CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWPID) != 0)
                ::_exit(11);
            const pid_t init = ::fork();
            if (init < 0)
                ::_exit(12);
            if (init > 0) {
                int status = 0;
                while (::waitpid(init, &status, 0) < 0 && errno == EINTR) {
                }
                ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 13);
            }
            // The first process of the pid namespace: every other one ends with it.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                ::_exit(20);
            if (::mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=755") != 0)
                ::_exit(21);
            // The manager runs only where systemd booted the machine; here it did.
            if (::mkdir("/run/systemd", 0755) != 0 || ::mkdir("/run/systemd/system", 0755) != 0 ||
                ::mkdir("/run/systemd/user-generators", 0755) != 0 ||
                ::mount(generatorSource.c_str(), "/run/systemd/user-generators", nullptr, MS_BIND, nullptr) != 0)
                ::_exit(22);
            for (const char *dir : hidden) {
                struct stat st = {};
                if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) &&
                    ::mount("tmpfs", dir, "tmpfs", MS_NOSUID | MS_NODEV | MS_RDONLY, nullptr) != 0)
                    ::_exit(23);
            }
            if (::mount("cgroup2", "/sys/fs/cgroup", "cgroup2", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
                ::_exit(24);
            if (::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
                ::_exit(25);
            // The manager's own messages land in a file of this object.
            ::mount(console.c_str(), "/dev/console", nullptr, MS_BIND, nullptr);
            const pid_t manager = ::fork();
            if (manager < 0)
                ::_exit(26);
            if (manager == 0) {
                ::execve(args[0], args.data(), env.data());
                ::_exit(27);
            }
            for (;;) {
                int status = 0;
                const pid_t ended = ::waitpid(-1, &status, 0);
                if (ended == manager)
                    ::_exit(WIFEXITED(status) ? 30 + WEXITSTATUS(status) % 50 : 29);
                if (ended < 0 && errno != EINTR)
                    ::_exit(28);
            }
        }

        // Up once the manager answers on the bus it started.
        qputenv(platform::services::kBusAddressVariable, m_address.toUtf8());
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            int status = 0;
            if (::waitpid(m_child, &status, WNOHANG) == m_child) {
                m_child = -1;
                return QStringLiteral("the manager could not be started here (step %1): %2")
                    .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1)
                    .arg(consoleTail());
            }
            if (QFileInfo::exists(runtime + QStringLiteral("/bus"))) {
                platform::services::ServiceManager probe;
                if (probe.Ping())
                    return QString();
                // A failed connection is kept under its name: the next try needs a new one.
                QDBusConnection::disconnectFromBus(connectionName());
            }
            QThread::msleep(50);
        }
        return QStringLiteral("the manager did not answer in time: ") + consoleTail();
    }

    void stop()
    {
        qunsetenv(platform::services::kBusAddressVariable);
        if (!m_address.isEmpty())
            QDBusConnection::disconnectFromBus(connectionName());
        if (!m_cgroup.isEmpty()) {
            // Every process of the manager is in the cgroup: it ends whole.
            QFile kill(m_cgroup + QStringLiteral("/cgroup.kill"));
            if (!kill.open(QIODevice::WriteOnly) || kill.write("1") != 1)
                killEach(m_cgroup);
        }
        if (m_child > 0) {
            ::kill(m_child, SIGKILL);
            while (::waitpid(m_child, nullptr, 0) < 0 && errno == EINTR) {
            }
            m_child = -1;
        }
        if (!m_cgroup.isEmpty()) {
            QDeadlineTimer deadline(5000);
            while (!removeCgroup(m_cgroup) && !deadline.hasExpired())
                QThread::msleep(20);
            m_cgroup.clear();
        }
    }

    // Without cgroup.kill (older kernels): each process of the cgroup and its children.
    static void killEach(const QString &Group)
    {
        QFile procs(Group + QStringLiteral("/cgroup.procs"));
        if (procs.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : procs.readAll().split('\n')) {
                bool ok = false;
                const int pid = line.trimmed().toInt(&ok);
                if (ok && pid > 0)
                    ::kill(pid, SIGKILL);
            }
        }
        for (const QString &sub : QDir(Group).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            killEach(Group + QLatin1Char('/') + sub);
    }

    static bool removeCgroup(const QString &Group)
    {
        for (const QString &sub : QDir(Group).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            removeCgroup(Group + QLatin1Char('/') + sub);
        return ::rmdir(QFile::encodeName(Group).constData()) == 0 || errno == ENOENT;
    }

    QString connectionName() const { return QStringLiteral("taskvane-systemd:") + m_address; }

    QString consoleTail() const
    {
        QFile f(m_dir.file(QStringLiteral("console.log")));
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("(no messages)");
        const QByteArray text = f.readAll().trimmed();
        return text.isEmpty() ? QStringLiteral("(no messages)") : QString::fromUtf8(text.right(600));
    }

    tvtest::TempDir m_dir;
    QString m_cgroup;
    QString m_address;
    QString m_skip;
    int m_many = 0;
    QStringList m_refused;
    pid_t m_child = -1;
};

} // namespace realsd
