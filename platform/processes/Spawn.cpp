#include "platform/processes/Spawn.h"

#include "platform/processes/ProcFs.h"

#include "platform/Logging.h"
#include "platform/files/OwnFolder.h"
#include "platform/system/Environment.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/resource.h>
#include <unistd.h>

extern char **environ;

namespace platform::processes {

namespace {

bool IsExecutableFile(const QByteArray &Path)
{
    struct stat st = {};
    return ::stat(Path.constData(), &st) == 0 && S_ISREG(st.st_mode) && ::access(Path.constData(), X_OK) == 0;
}

} // namespace

std::optional<QString> FindProgram(const QString &Name)
{
    if (Name.isEmpty())
        return std::nullopt;
    // A relative path would be found in the working folder, which whoever started the program chose.
    if (Name.contains(QLatin1Char('/'))) {
        if (Name.startsWith(QLatin1Char('/')) && IsExecutableFile(QFile::encodeName(Name)))
            return Name;
        return std::nullopt;
    }
    QByteArray path = qgetenv("PATH");
    if (path.isEmpty())
        path = system::DefaultSearchPath(::geteuid());
    for (const QByteArray &dir : path.split(':')) {
        // An empty or relative entry means the working folder, which a search never uses here; a
        // folder someone else may write into (or change the way to) is passed over as well. The
        // folder is judged only once it holds the program: the judgement costs many calls.
        if (!dir.startsWith('/'))
            continue;
        const QByteArray candidate = dir + '/' + QFile::encodeName(Name);
        if (IsExecutableFile(candidate) && files::IsTrustedFolder(QFile::decodeName(dir)))
            return QFile::decodeName(candidate);
    }
    return std::nullopt;
}

bool SpawnDetached(const QStringList &Words, qint32 *Pid)
{
    if (Words.isEmpty())
        return false;
    const auto program = FindProgram(Words.first());
    if (!program) {
        qCWarning(lcPlatform) << "spawn: no executable" << Words.first() << "on the search path";
        return false;
    }

    // Everything the child needs is prepared before fork: after it only async-signal-safe
    // calls are allowed.
    const QByteArray file = program->toLocal8Bit();
    std::vector<QByteArray> storage;
    storage.reserve(std::size_t(Words.size()));
    for (const QString &w : Words)
        storage.push_back(w.toLocal8Bit());
    std::vector<char *> argv;
    argv.reserve(storage.size() + 1);
    for (QByteArray &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        qCWarning(lcPlatform, "spawn: pipe2: %s", std::strerror(errno));
        return false;
    }

    // Until the child has reset its handlers a signal would run the parent's handler in it (the
    // end-request one writes to the parent's socket): everything stays blocked across fork.
    // The programs started get the limit on open files the program itself started with, not the
    // one it raised for the process files it keeps.
    const rlimit files = StartingFileLimit();
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t child = ::fork();
    const int forkErr = errno;
    if (child != 0)
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (child < 0) {
        qCWarning(lcPlatform, "spawn: fork: %s", std::strerror(forkErr));
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            const int err = errno;
            (void)!::write(report[1], &err, sizeof err);
            ::_exit(1);
        }
        if (grandchild > 0) {
            const qint32 id = grandchild;
            (void)!::write(report[1], &id, sizeof id);
            ::_exit(0);
        }
        ::setsid();
        ::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        for (int s = 1; s < NSIG; ++s) {
            if (s != SIGKILL && s != SIGSTOP)
                ::sigaction(s, &dfl, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (files.rlim_cur != 0)
            ::setrlimit(RLIMIT_NOFILE, &files);
        ::execve(file.constData(), argv.data(), environ);
        const int err = errno;
        (void)!::write(report[1], &err, sizeof err);
        ::_exit(127);
    }

    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // First the grandchild's identifier from the child, then, only when exec failed, an
    // error number from the grandchild.
    qint32 id = 0;
    qint32 err = 0;
    auto readInt = [&](qint32 &V) {
        std::size_t got = 0;
        char *p = reinterpret_cast<char *>(&V);
        while (got < sizeof V) {
            const ssize_t n = ::read(report[0], p + got, sizeof V - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        return got == sizeof V;
    };
    const bool started = WIFEXITED(status) && WEXITSTATUS(status) == 0 && readInt(id);
    const bool execFailed = started && readInt(err);
    ::close(report[0]);
    if (!started || execFailed) {
        // Without a number from the child its fork failed or it died before telling.
        qCWarning(lcPlatform) << "spawn:" << *program << (err != 0 ? std::strerror(err) : "the child did not start it");
        return false;
    }
    if (Pid)
        *Pid = id;
    return true;
}

} // namespace platform::processes
