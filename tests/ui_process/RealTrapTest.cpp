// The trap on a real kernel: a process of the test holds its own memory-map lock (one thread
// reads, through /proc/self/mem, a page of a file on a file system that another child of the test
// serves and does not answer; a second thread's mmap then waits for the lock and holds up every new
// reader of the process's command line and memory map). The real window, over the real process
// table, holds its thread no longer than 100 ms at start and on its ticks, and reads the process in
// full once the file system answers; so it does when a process that shares the held memory map
// appears later. The file system lives in a mount namespace of the test's own.

#include "Fixture.h"

#include "common/Pinger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace ptest;

namespace {

constexpr const char *kChildArgument = "--taskvane-trap-child=";
constexpr const char *kHeldArgument = "--taskvane-trap-held=";
constexpr quint64 kFileSize = 16 * 4096;
constexpr quint64 kRootNode = 1, kFileNode = 2;

// The file system of the child: one file whose reads are held while `Holding`. While they are,
// the child's memory-map lock is held: nothing here allocates or maps memory then (an allocation
// may map memory, and mapping waits for that lock), so every buffer is made and touched before.
class TrapFileSystem
{
public:
    explicit TrapFileSystem(int Fd) : m_fd(Fd)
    {
        m_request.assign(FUSE_MIN_READ_BUFFER + kMaxRead, '\0');
        m_serverReply.assign(sizeof(fuse_out_header) + kMaxRead, '\0');
        m_releaseReply.assign(sizeof(fuse_out_header) + kMaxRead, '\0');
        m_held.reserve(256);
    }

    std::atomic<bool> Holding{false};

    // Serves requests until the connection ends.
    void Serve()
    {
        for (;;) {
            const ssize_t n = ::read(m_fd, m_request.data(), m_request.size());
            if (n < 0 && (errno == EINTR || errno == ENOENT))
                continue;
            if (n < ssize_t(sizeof(fuse_in_header)))
                return;
            const auto *in = reinterpret_cast<const fuse_in_header *>(m_request.data());
            Answer(*in, m_request.data() + sizeof(fuse_in_header));
        }
    }

    // Answers the held reads with zeros.
    void Release()
    {
        std::lock_guard g(m_lock);
        Holding = false;
        for (const quint64 unique : m_held)
            Reply(m_releaseReply, unique, 0, kPage);
        m_held.clear();
    }

private:
    static constexpr std::size_t kMaxRead = 128 * 1024;
    static constexpr std::size_t kPage = 4096;

    // Sends the reply in `Buffer`, whose payload of `Size` bytes follows the header.
    void Reply(std::vector<char> &Buffer, quint64 Unique, int Error, std::size_t Size)
    {
        auto *h = reinterpret_cast<fuse_out_header *>(Buffer.data());
        h->len = quint32(sizeof(fuse_out_header) + Size);
        h->error = Error;
        h->unique = Unique;
        (void)!::write(m_fd, Buffer.data(), h->len);
    }
    template <typename T>
    void Reply(quint64 Unique, const T &Value)
    {
        std::memcpy(m_serverReply.data() + sizeof(fuse_out_header), &Value, sizeof Value);
        Reply(m_serverReply, Unique, 0, sizeof Value);
    }
    void Fail(quint64 Unique, int Error) { Reply(m_serverReply, Unique, -Error, 0); }
    static fuse_attr Attr(quint64 Node)
    {
        fuse_attr a{};
        a.ino = Node;
        a.mode = Node == kRootNode ? (S_IFDIR | 0755) : (S_IFREG | 0644);
        a.nlink = Node == kRootNode ? 2 : 1;
        a.size = Node == kRootNode ? 0 : kFileSize;
        a.blocks = a.size / 512;
        a.blksize = 4096;
        return a;
    }
    void Answer(const fuse_in_header &In, const char *Body)
    {
        switch (In.opcode) {
        case FUSE_INIT: {
            const auto *init = reinterpret_cast<const fuse_init_in *>(Body);
            fuse_init_out out{};
            out.major = FUSE_KERNEL_VERSION;
            out.minor = FUSE_KERNEL_MINOR_VERSION;
            out.max_readahead = init->max_readahead;
            out.max_write = 65536;
            out.time_gran = 1;
            out.max_pages = 16;
            Reply(In.unique, out);
            return;
        }
        case FUSE_LOOKUP: {
            if (std::strcmp(Body, "file") != 0 || In.nodeid != kRootNode)
                return Fail(In.unique, ENOENT);
            fuse_entry_out out{};
            out.nodeid = kFileNode;
            out.entry_valid = 3600;
            out.attr_valid = 3600;
            out.attr = Attr(kFileNode);
            Reply(In.unique, out);
            return;
        }
        case FUSE_GETATTR: {
            fuse_attr_out out{};
            out.attr_valid = 3600;
            out.attr = Attr(In.nodeid);
            Reply(In.unique, out);
            return;
        }
        case FUSE_OPEN: {
            fuse_open_out out{};
            out.fh = 1;
            Reply(In.unique, out);
            return;
        }
        case FUSE_READ: {
            std::lock_guard g(m_lock);
            if (Holding) {
                m_held.push_back(In.unique); // within the room kept for it
                return;
            }
            const auto *read = reinterpret_cast<const fuse_read_in *>(Body);
            const std::size_t size = std::min<std::size_t>(read->size, kMaxRead);
            std::memset(m_serverReply.data() + sizeof(fuse_out_header), 0, size);
            Reply(m_serverReply, In.unique, 0, size);
            return;
        }
        case FUSE_FLUSH:
        case FUSE_RELEASE:
        case FUSE_DESTROY:
            Reply(m_serverReply, In.unique, 0, 0);
            return;
        case FUSE_FORGET:
        case FUSE_BATCH_FORGET:
        case FUSE_INTERRUPT:
            return; // nothing is answered to these
        default:
            Fail(In.unique, ENOSYS);
            return;
        }
    }

    int m_fd;
    std::mutex m_lock;
    std::vector<char> m_request, m_serverReply, m_releaseReply;
    std::vector<quint64> m_held;
};

// The server's wake-up: whichever thread takes SIGUSR1 writes into it.
int g_wake[2] = {-1, -1};

void NoteSignal(int)
{
    const int saved = errno;
    (void)!::write(g_wake[1], "x", 1);
    errno = saved;
}

// The lines of `Output` that have ended.
QList<QByteArray> WholeLines(const QByteArray &Output)
{
    QList<QByteArray> lines = Output.split('\n');
    lines.removeLast();
    return lines;
}

void Say(int Fd, const char *Line, const char *More = nullptr)
{
    (void)!::write(Fd, Line, std::strlen(Line));
    if (More)
        (void)!::write(Fd, More, std::strlen(More));
    (void)!::write(Fd, "\n", 1);
}

// The held process's twin: a process of its own that shares the held memory map, so that it comes
// held when it appears. It only waits for its end, on a stack made before the lock was held, and
// touches nothing else of the held process's.
alignas(64) char g_twinStack[64 * 1024];
int g_twinWake[2] = {-1, -1};

int RunTwin(void *)
{
    ::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    for (;;)
        ::syscall(SYS_pause);
}

void NoteTwin(int)
{
    const int saved = errno;
    (void)!::write(g_twinWake[1], "x", 1);
    errno = saved;
}

// The held process: reads, through /proc/self/mem, a page of the file the server does not
// answer for, so that the reading thread holds the process's memory-map lock; a second thread's
// mmap then waits for that lock and holds up every new reader. Says "held" and waits to be ended;
// on SIGUSR2 it starts its twin.
int RunHeld(const QString &Mount)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::memset(g_twinStack, 0, sizeof g_twinStack);
    if (::pipe2(g_twinWake, O_CLOEXEC) != 0) {
        Say(1, "skip: no pipe: ", std::strerror(errno));
        return 0;
    }
    struct sigaction note = {};
    note.sa_handler = NoteTwin;
    ::sigaction(SIGUSR2, &note, nullptr);
    const QByteArray file = QFile::encodeName(Mount) + "/file";
    const int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC);
    void *page = fd < 0 ? MAP_FAILED : ::mmap(nullptr, kFileSize, PROT_READ, MAP_SHARED, fd, 0);
    const int mem = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    if (page == MAP_FAILED || mem < 0) {
        Say(1, "skip: the file cannot be mapped: ", std::strerror(errno));
        return 0;
    }
    // Both threads exist before the lock is held: a new thread's stack is a new mapping. Nothing
    // here allocates or maps memory once it is held.
    std::atomic<int> step{0};
    std::thread reader([&] {
        while (step < 1)
            ::usleep(1000);
        char c = 0;
        (void)!::pread(mem, &c, 1, off_t(reinterpret_cast<quintptr>(page)));
    });
    std::thread mapper([&] {
        while (step < 2)
            ::usleep(1000);
        void *more = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (more != MAP_FAILED)
            ::munmap(more, 4096);
    });
    step = 1;
    ::usleep(300000);
    step = 2;
    ::usleep(300000);
    Say(1, "held");
    for (;;) {
        char c = 0;
        if (::read(g_twinWake[0], &c, 1) == 1)
            (void)::clone(RunTwin, g_twinStack + sizeof g_twinStack, CLONE_VM | SIGCHLD, nullptr);
    }
}

// The server: mounts the file system in a mount namespace of its own, starts the held process
// in it, says "ready <its identifier>" (or "skip: why"), and answers on SIGUSR1 (sent to it when
// the test ends too), or after a minute whatever happens; a second SIGUSR1 ends the held process. Kept apart from the
// held process, so that a server that ends, however it ends, ends the file system and so the wait.
int RunServer(const QString &Mount)
{
    if (::pipe2(g_wake, O_CLOEXEC) != 0) {
        Say(1, "skip: no pipe: ", std::strerror(errno));
        return 0;
    }
    struct sigaction note = {};
    note.sa_handler = NoteSignal;
    ::sigaction(SIGUSR1, &note, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGUSR1);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        Say(1, "skip: no mount namespace of its own: ", std::strerror(errno));
        return 0;
    }
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
        Say(1, "skip: no /dev/fuse: ", std::strerror(errno));
        return 0;
    }
    const QByteArray dir = QFile::encodeName(Mount);
    const QByteArray options = "fd=" + QByteArray::number(fuse) + ",rootmode=40000,user_id=0,group_id=0";
    if (::mount("taskvane-trap", dir.constData(), "fuse", MS_NOSUID | MS_NODEV, options.constData()) != 0) {
        Say(1, "skip: the file system cannot be mounted: ", std::strerror(errno));
        return 0;
    }
    TrapFileSystem fs(fuse);
    fs.Holding = true;
    std::thread server([&fs] { fs.Serve(); });
    server.detach(); // it ends with the process

    QProcess held;
    held.setProgram(QCoreApplication::applicationFilePath());
    held.setArguments({QStringLiteral("--gtest_filter=RealTrap.*"), QLatin1String(kHeldArgument) + Mount});
    held.start();
    QByteArray output, said;
    if (held.waitForStarted(10000)) {
        for (QDeadlineTimer deadline(20000); said.isEmpty() && !deadline.hasExpired();) {
            if (held.waitForReadyRead(100))
                output += held.readAllStandardOutput();
            for (const QByteArray &line : WholeLines(output))
                if (line == "held" || line.startsWith("skip:"))
                    said = line;
        }
    }
    if (said == "held")
        Say(1, "ready ", QByteArray::number(held.processId()).constData());
    else
        Say(1, "skip: the held process did not hold: ", said.constData());
    // The first word lets the held process go; the second (or a minute) ends it.
    auto await = [] {
        pollfd wake{g_wake[0], POLLIN, 0};
        while (::poll(&wake, 1, 60000) < 0 && errno == EINTR) {
        }
        char c = 0;
        if (wake.revents & POLLIN)
            (void)!::read(g_wake[0], &c, 1);
    };
    if (said == "held")
        await();
    fs.Release();
    if (said == "held")
        await();
    held.kill();
    held.waitForFinished(10000);
    ::umount2(dir.constData(), MNT_DETACH);
    return 0;
}

// The value of one of the arguments a copy of the test is started with; empty when none.
QString ArgumentValue(const char *Name)
{
    for (const QString &a : QCoreApplication::arguments())
        if (a.startsWith(QLatin1String(Name)))
            return a.mid(int(std::strlen(Name)));
    return QString();
}

// Reads a process's command line on a thread of its own; false when the read has not returned
// after `Ms` (the thread then stays until it does).
bool CommandLineAnswers(quint32 Pid, int Ms, std::thread &Reader, std::atomic<bool> &Done)
{
    Reader = std::thread([Pid, &Done] {
        (void)platform::processes::ReadCmdline(qint32(Pid));
        Done = true;
    });
    for (QDeadlineTimer deadline(Ms); !Done && !deadline.hasExpired();)
        QThread::msleep(5);
    return Done;
}

class RealTrap : public FormTest
{
protected:
    void TearDown() override
    {
        if (child.state() == QProcess::Running) {
            Release();
            QThread::msleep(100);
            Release();
            if (!child.waitForFinished(20000))
                child.kill();
        }
        if (lookout.joinable())
            lookout.join();
        FormTest::TearDown();
    }
    // Lets the child's file system answer: the child ends then.
    void Release()
    {
        if (childPid > 0)
            ::kill(childPid, SIGUSR1);
    }

    tvtest::TempDir mount;
    QProcess child;
    pid_t childPid = 0;
    std::thread lookout;
    std::atomic<bool> lookedOut{false};
};

} // namespace

TEST_F(RealTrap, TheRealWindowHoldsItsThreadNoLongerThan100MsWhileAProcessHoldsItsOwnMemoryMapLock)
{
    // The same test started as the server or the held process.
    if (const QString mountPoint = ArgumentValue(kChildArgument); !mountPoint.isEmpty())
        ::_exit(RunServer(mountPoint));
    if (const QString mountPoint = ArgumentValue(kHeldArgument); !mountPoint.isEmpty())
        ::_exit(RunHeld(mountPoint));
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting the child's file system needs root";
    ASSERT_TRUE(mount.isValid());
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=RealTrap.*"), QLatin1String(kChildArgument) + mount.path()});
    ASSERT_TRUE(child.waitForStarted(10000));
    childPid = pid_t(child.processId());
    // Its word comes on a line of its own, among the test framework's.
    QByteArray output, said;
    for (QDeadlineTimer deadline(30000); said.isEmpty() && !deadline.hasExpired();) {
        if (child.waitForReadyRead(100))
            output += child.readAllStandardOutput();
        for (const QByteArray &line : WholeLines(output))
            if (line.startsWith("ready ") || line.startsWith("skip:"))
                said = line;
    }
    if (said.startsWith("skip:"))
        GTEST_SKIP() << said.toStdString();
    ASSERT_TRUE(said.startsWith("ready ")) << output.toStdString();
    const quint32 pid = said.mid(6).toUInt();
    ASSERT_NE(pid, 0u);
    if (CommandLineAnswers(pid, 1000, lookout, lookedOut))
        GTEST_SKIP() << "the held lock does not hold up readers of the command line on this kernel";

    // The window is made and shown as the program makes it, over the real process table.
    std::atomic<bool> made{false}, gaveUp{false};
    std::thread watchdog([&] {
        QDeadlineTimer deadline(20000);
        while (!made && !deadline.hasExpired())
            QThread::msleep(10);
        if (!made) {
            gaveUp = true;
            Release();
        }
    });
    QElapsedTimer making;
    making.start();
    form = std::make_unique<TFormMain>();
    const qint64 madeMs = making.elapsed();
    made = true;
    watchdog.join();
    ASSERT_FALSE(gaveUp) << "the window waited for the trapped process";
    form->tmrProcess->stop();
    form->tmrTraffic->stop();
    form->tmrSystem->stop();
    tvtest::Pinger pinger(form.get());
    form->show();
    ASSERT_TRUE(Settle());
    for (int i = 0; i < 3; ++i)
        Tick();
    // A process that shares the held memory map appears on a later tick, held from its start.
    ASSERT_EQ(::kill(pid_t(pid), SIGUSR2), 0);
    auto twin = [this, pid]() -> quint32 {
        TProcesses *list = form->ProcessPage->objProcesses;
        for (int i = 0; i < list->GetCount(); ++i)
            if (list->GetItem(i)->ParentProcessID == pid)
                return list->GetItem(i)->ProcessID;
        return 0;
    };
    for (int i = 0; i < 10 && twin() == 0; ++i)
        Tick();
    Tick();
    const auto held = pinger.Stop().count();
    std::printf("the window was made in %lld ms; its thread was held at most %lld ms over the ticks\n",
                static_cast<long long>(madeMs), static_cast<long long>(held));
    EXPECT_LT(held, 100) << "the window's thread was held";
    ASSERT_NE(Row(pid), nullptr);
    EXPECT_EQ(Row(pid)->text(1), QString::number(pid));
    TProcessItem *item = form->ProcessPage->objProcesses->ItemByPID(pid);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->CommandLine.isEmpty());
    ASSERT_NE(twin(), 0u) << "the twin is listed";
    EXPECT_NE(Row(twin()), nullptr);
    EXPECT_FALSE(lookedOut) << "the trap held all along";

    // Let go, the child is read in full.
    Release();
    for (QDeadlineTimer deadline(20000); !lookedOut && !deadline.hasExpired();)
        QThread::msleep(5);
    for (int i = 0; i < 4 && item->CommandLine.isEmpty(); ++i) {
        Tick();
        item = form->ProcessPage->objProcesses->ItemByPID(pid);
        ASSERT_NE(item, nullptr);
    }
    EXPECT_TRUE(item->CommandLine.contains(QLatin1String(kHeldArgument))) << item->CommandLine.toStdString();
}
