#pragma once

// Running a program as another uid: the one way the tests do it.
//
// The rule: what another uid runs and reads lies where that uid can reach it. The clone, and the
// build folder in it, may sit under a folder no other user may enter (root's home, a folder of
// mktemp -d), so a test never runs a program of the build folder as another uid, nor lets such a
// run load a library or read a file of the build or source folder. It makes an OtherUserCopy of
// the program instead: the program, the libraries it loads from where others cannot reach, the
// data files it is given and the sanitizers' suppression files go into a folder of the copy's
// own that every user may enter, and the copy runs from there through setpriv. Where that cannot
// be done (not root, no setpriv that works, a temporary folder closed to others) the test skips with
// SkipReason(). A forked child that changes its uid and then only makes system calls runs
// nothing and needs none of this.

#include "common/TempDir.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace tvtest {

// Why setpriv cannot make a program another user's here; empty when it can. Its being installed
// is not enough: root in a user namespace of a container, or without the capabilities to change
// user, cannot become an unmapped uid. Asked once per test program.
inline QString SetprivUnavailable()
{
    static const QString why = [] {
        if (!QFileInfo(QStringLiteral("/usr/bin/setpriv")).isExecutable())
            return QStringLiteral("no setpriv to become another user with");
        // An uid no account has, as the tests use.
        QProcess p;
        p.start(QStringLiteral("/usr/bin/setpriv"),
                {QStringLiteral("--reuid=4202"), QStringLiteral("--regid=4202"), QStringLiteral("--clear-groups"),
                 QStringLiteral("--"), QStringLiteral("/bin/true")});
        if (!p.waitForStarted(10000) || !p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return QStringLiteral("setpriv cannot become another user here: ") +
                QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return QString();
    }();
    return why;
}

// Whether a user who is neither the owner nor in the group may open Path (and search every
// folder on the way to it).
inline bool OthersCanReach(const QString &Path)
{
    const QString canonical = QFileInfo(Path).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    struct stat st = {};
    if (::stat(QFile::encodeName(canonical).constData(), &st) != 0)
        return false;
    if (!(st.st_mode & (S_ISDIR(st.st_mode) ? S_IXOTH : S_IROTH)))
        return false;
    for (QString dir = canonical; dir != QStringLiteral("/");) {
        dir = dir.left(qMax(1, int(dir.lastIndexOf(QLatin1Char('/')))));
        if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !(st.st_mode & S_IXOTH))
            return false;
    }
    return true;
}

struct UserRun
{
    bool finished = false;
    int exitCode = -1; // -1 when it did not end by itself
    QString output;    // standard output and error, merged
};

class OtherUserCopy
{
public:
    // Copy: the program goes into the copy's folder. InPlace: it stays where it is (a folder of
    // the test's own, already open to others, where it finds its data beside it); only what it
    // loads from elsewhere is copied.
    enum Placement { Copy, InPlace };

    // Program: the test program itself when empty. Files: data files the run reads, copied into
    // the copy's folder; File() tells the run where (never TASKVANE_BIN_DIR or TASKVANE_SOURCE_DIR).
    explicit OtherUserCopy(const QString &Program = QString(), Placement How = Copy, const QStringList &Files = {})
    {
        if (::geteuid() != 0) {
            m_skip = QStringLiteral("needs root to run a program as another user");
            return;
        }
        if (const QString why = SetprivUnavailable(); !why.isEmpty()) {
            m_skip = why;
            return;
        }
        const QString source =
            QFileInfo(Program.isEmpty() ? QStringLiteral("/proc/self/exe") : Program).canonicalFilePath();
        m_dir = std::make_unique<TempDir>();
        if (!m_dir->isValid() || !Open(m_dir->path())) {
            m_skip = QStringLiteral("cannot make a folder of its own in %1").arg(m_dir->path());
            return;
        }
        if (!OthersCanReach(m_dir->path())) {
            m_skip = QStringLiteral("the temporary folder %1 is closed to other users").arg(m_dir->path());
            return;
        }
        m_program = source;
        if (How == Copy) {
            m_program = m_dir->file(QFileInfo(source).fileName());
            if (!Place(source, m_program, true)) {
                m_skip = QStringLiteral("cannot copy %1 to %2").arg(source, m_program);
                return;
            }
        } else if (!OthersCanReach(source)) {
            m_skip = QStringLiteral("%1 is closed to other users").arg(source);
            return;
        }
        for (const QString &file : Files)
            if (!Place(file, File(QFileInfo(file).fileName()), false)) {
                m_skip = QStringLiteral("cannot copy %1").arg(file);
                return;
            }
        if (!CopyLibraries(source))
            m_skip = QStringLiteral("cannot copy the libraries of %1 where others reach them").arg(source);
    }

    // Empty when the copy is ready to run.
    QString SkipReason() const { return m_skip; }
    QString Program() const { return m_program; }
    QString File(const QString &Name) const { return m_dir ? m_dir->file(QStringLiteral("files/") + Name) : QString(); }

    // Runs the program with Arguments as Uid and Gid, without supplementary groups, in WorkDir
    // (the copy's folder when empty), with Environment and nothing else of the caller's: the
    // sanitizers' suppression files it names are copied, and the copied libraries come first.
    UserRun Run(uid_t Uid, gid_t Gid, const QStringList &Arguments, QProcessEnvironment Environment, int TimeoutMs,
                const QString &WorkDir = QString()) const
    {
        UserRun r;
        if (!m_skip.isEmpty()) {
            r.output = m_skip;
            return r;
        }
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const QString variable = QString::fromLatin1(name);
            if (!Environment.contains(variable))
                continue;
            QStringList options = Environment.value(variable).split(QLatin1Char(':'));
            for (QString &option : options) {
                const QString key = QStringLiteral("suppressions=");
                if (!option.startsWith(key))
                    continue;
                const QString copy = m_dir->file(variable + QStringLiteral(".supp"));
                if (!Place(option.mid(key.size()), copy, false)) {
                    r.output = QStringLiteral("cannot copy the suppressions of %1").arg(variable);
                    return r;
                }
                option = key + copy;
            }
            Environment.insert(variable, options.join(QLatin1Char(':')));
        }
        if (m_haveLibraries) {
            const QString old = Environment.value(QStringLiteral("LD_LIBRARY_PATH"));
            Environment.insert(QStringLiteral("LD_LIBRARY_PATH"),
                               LibDir() + (old.isEmpty() ? QString() : QLatin1Char(':') + old));
        }
        // A session folder the uid does not own would make the toolkit make one of its own in the
        // machine's temporary folder and leave it there: the run's lies in the copy's folder.
        struct stat runtime = {};
        const QByteArray named = QFile::encodeName(Environment.value(QStringLiteral("XDG_RUNTIME_DIR")));
        if (named.isEmpty() || ::stat(named.constData(), &runtime) != 0 || runtime.st_uid != Uid) {
            const QByteArray own = QFile::encodeName(m_dir->file(QStringLiteral("runtime-%1").arg(Uid)));
            if ((::mkdir(own.constData(), 0700) != 0 && errno != EEXIST) || ::chown(own.constData(), Uid, Gid) != 0) {
                r.output = QStringLiteral("cannot make a session folder for uid %1").arg(Uid);
                return r;
            }
            Environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QFile::decodeName(own));
        }
        QProcess run;
        run.setProcessEnvironment(Environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.setWorkingDirectory(WorkDir.isEmpty() ? m_dir->path() : WorkDir);
        run.start(QStringLiteral("/usr/bin/setpriv"),
                  QStringList{QStringLiteral("--reuid=%1").arg(Uid), QStringLiteral("--regid=%1").arg(Gid),
                              QStringLiteral("--clear-groups"), QStringLiteral("--"), m_program} +
                      Arguments);
        if (!run.waitForStarted(10000)) {
            r.output = QStringLiteral("setpriv did not start");
            return r;
        }
        r.finished = run.waitForFinished(TimeoutMs);
        if (!r.finished) {
            run.kill();
            run.waitForFinished(5000);
        }
        r.output = QString::fromUtf8(run.readAll());
        r.exitCode = r.finished && run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
        return r;
    }

private:
    QString LibDir() const { return m_dir->file(QStringLiteral("lib")); }

    static bool Open(const QString &Dir)
    {
        return QFile::setPermissions(Dir,
                                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                         QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    }

    // A copy that every user may read (and run, for a program); its folder is made as needed.
    static bool Place(const QString &From, const QString &To, bool Executable)
    {
        const QString dir = QFileInfo(To).absolutePath();
        if (!QFileInfo(dir).isDir() && (!QDir().mkpath(dir) || !Open(dir)))
            return false;
        QFile::remove(To);
        QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        if (Executable)
            mode |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        return QFile::copy(From, To) && QFile::setPermissions(To, mode);
    }

    // Every shared library the program loads (as the loader lists them) that others cannot reach,
    // such as one found in the build folder through the program's run path.
    bool CopyLibraries(const QString &Source)
    {
        QProcess ldd;
        ldd.setProcessChannelMode(QProcess::SeparateChannels);
        ldd.start(QStringLiteral("/usr/bin/ldd"), {Source});
        if (!ldd.waitForFinished(30000) || ldd.exitStatus() != QProcess::NormalExit || ldd.exitCode() != 0)
            return false;
        for (const QByteArray &raw : ldd.readAllStandardOutput().split('\n')) {
            // "\tname => /path (0x...)" or "\t/path (0x...)"
            QByteArray line = raw.trimmed();
            const int arrow = line.indexOf("=> ");
            if (arrow >= 0)
                line = line.mid(arrow + 3);
            const int paren = line.lastIndexOf(" (");
            if (paren >= 0)
                line = line.left(paren);
            const QString path = QFile::decodeName(line);
            if (!path.startsWith(QLatin1Char('/')) || OthersCanReach(path))
                continue;
            if (!Place(path, LibDir() + QLatin1Char('/') + QFileInfo(path).fileName(), false))
                return false;
            m_haveLibraries = true;
        }
        return true;
    }

    QString m_skip;
    std::unique_ptr<TempDir> m_dir;
    QString m_program;
    bool m_haveLibraries = false;
};

// Another user acting against the program run as root: an unused uid, reached through setpriv,
// in folders of the test's own that this uid can enter.

// No account has it: nothing of a real user is touched.
constexpr quint32 kOtherUid = 4202;

inline QStringList asOtherUser(const QStringList &Argv)
{
    const QString id = QString::number(kOtherUid);
    return QStringList{QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                       QStringLiteral("--clear-groups"), QStringLiteral("--")} +
        Argv;
}

// Runs a system tool as the other user and waits for it; true when it exits with 0.
inline bool runAsOtherUser(const QStringList &Argv)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/setpriv"), asOtherUser(Argv));
    return p.waitForStarted(10000) && p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit &&
        p.exitCode() == 0;
}

// A folder of the test's own, owned by root and open for the other user to enter, with a
// subfolder `user` that the other user owns.
class SharedDir
{
public:
    SharedDir()
    {
        m_ok = m_dir.isValid() && ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) == 0;
        m_ok = m_ok && makeOwned(user());
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString &Name) const { return m_dir.file(Name); }
    QString user() const { return m_dir.file(QStringLiteral("user")); }
    // Why the other user cannot act here; empty when it can.
    QString unusable() const
    {
        if (!m_ok)
            return QStringLiteral("the test's folder could not be prepared");
        if (!runAsOtherUser({QStringLiteral("/usr/bin/test"), QStringLiteral("-w"), user()}))
            return QStringLiteral("the other user cannot reach the test's folder (it lies below a closed folder)");
        return QString();
    }
    // A folder or file that belongs to the other user.
    static bool makeOwned(const QString &Path, bool Folder = true)
    {
        const QByteArray p = QFile::encodeName(Path);
        if (Folder && ::mkdir(p.constData(), 0755) != 0)
            return false;
        return ::chown(p.constData(), kOtherUid, kOtherUid) == 0;
    }
    // A copy of a system program that the other user owns and may run.
    static bool copyOwned(const QString &From, const QString &To)
    {
        return QFile::copy(From, To) && ::chmod(QFile::encodeName(To).constData(), 0755) == 0 && makeOwned(To, false);
    }

private:
    TempDir m_dir;
    bool m_ok = false;
};

// Why root-only tests that act as another user cannot run here; empty when they can.
inline QString otherUserUnavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root: it acts as another user against the program run as root");
    return SetprivUnavailable();
}

} // namespace tvtest
