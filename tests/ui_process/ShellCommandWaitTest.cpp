// The file commands and the new process's start look at a file that may lie on a file system whose
// server does not answer: the window keeps answering meanwhile, and what they report comes when the
// file answers.

#include "Fixture.h"

#include "common/Pinger.h"
#include "platform/shell/FileManager.h"

#include <QKeyEvent>
#include <QLineEdit>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace ptest;

namespace {

// A FUSE file system of the test's own whose server never reads its requests: every look-up of a
// path in it waits until it is let go, as on a file system whose server is gone; then it fails.
class Stall
{
public:
    explicit Stall(const QString &Folder) : m_Folder(Folder)
    {
        const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return;
        const QByteArray options = "fd=" + QByteArray::number(fd) +
            ",rootmode=40000,user_id=" + QByteArray::number(::getuid()) + ",group_id=" + QByteArray::number(::getgid());
        if (::mount("taskvane-test", QFile::encodeName(Folder).constData(), "fuse.taskvane-test", MS_NOSUID | MS_NODEV,
                    options.constData()) != 0) {
            ::close(fd);
            return;
        }
        m_Fd = fd;
        m_Mounted = true;
    }
    ~Stall()
    {
        Release();
        if (m_Mounted)
            ::umount2(QFile::encodeName(m_Folder).constData(), MNT_DETACH);
    }
    bool Mounted() const { return m_Mounted; }
    QString File(const char *Name) const { return m_Folder + QLatin1Char('/') + QLatin1String(Name); }
    // Whatever waits fails now.
    void Release()
    {
        const int fd = m_Fd.exchange(-1);
        if (fd >= 0)
            ::close(fd);
    }

private:
    QString m_Folder;
    std::atomic<int> m_Fd{-1};
    bool m_Mounted = false;
};

class ShellCommandWait : public FormTest
{
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        stall = std::make_unique<Stall>(dir.path());
        if (!stall->Mounted())
            GTEST_SKIP() << "no FUSE mount can be made here";
        program = stall->File("program");
        // The file manager is asked for a file that waits, through the program's own calls.
        UiHooks().ShowInFileManager = [file = program](const QString &) {
            return platform::shell::ShowItemInFileManager(file);
        };
        UiHooks().ShowFileProperties = [file = program](const QString &) {
            return platform::shell::ShowItemProperties(file);
        };
    }
    void TearDown() override
    {
        StopReleaser();
        stall.reset();
        FormTest::TearDown();
    }

    // Lets the file system go from another thread once `letGo` is set, or after a while (the
    // window's thread may be the one that waits for it).
    void StartReleaser()
    {
        StopReleaser();
        released = false;
        letGo = false;
        releaser = std::thread([this] {
            for (QDeadlineTimer deadline(5000); !letGo && !stopping && !deadline.hasExpired();)
                QThread::msleep(5);
            released = true;
            stall->Release();
        });
    }
    void StopReleaser()
    {
        stopping = true;
        if (releaser.joinable())
            releaser.join();
        stopping = false;
    }

    // Runs the window until `Done` holds.
    template <class F>
    bool RunUntil(F Done)
    {
        for (QDeadlineTimer deadline(20000); !Done() && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
        }
        return Done();
    }

    tvtest::TempDir dir;
    std::unique_ptr<Stall> stall;
    QString program;
    std::atomic<bool> released{false}, letGo{false}, stopping{false};
    std::thread releaser;
};

} // namespace

TEST_F(ShellCommandWait, FileCommandsLeaveTheWindowFreeRefuseASecondAndReportTheirFailureWhenTheFileAnswers)
{
    Child &c = Spawn();
    source.procs.push_back(c.proc(QStringLiteral("sleeper")));
    Create();
    form->ProcessPage->AnswerWait = 50;
    Select({c.pid});
    struct Case
    {
        quint8 command;
        const char16_t *failure;
    } cases[] = {{7, u"定位文件操作失败！\r\r%1 [%2]"}, {8, u"查看属性操作失败！\r\r%1 [%2]"}};
    for (const Case &k : cases) {
        // A mount of its own for each command: the last one's server is gone.
        StopReleaser();
        stall.reset();
        stall = std::make_unique<Stall>(dir.path());
        ASSERT_TRUE(stall->Mounted());
        shown.clear();
        const QString failure = Shows(QString::fromUtf16(k.failure).arg(QStringLiteral("sleeper")).arg(c.pid));
        StartReleaser();
        {
            tvtest::Pinger pinger(form.get());
            form->ProcessPage->ExecuteProcessCommand(k.command);
            EXPECT_FALSE(released) << int(k.command) << ": the command waited for the file";
            // A second one while the first waits is refused at once, and told.
            form->ProcessPage->ExecuteProcessCommand(k.command);
            ASSERT_EQ(shown.size(), 1u) << int(k.command);
            EXPECT_EQ(shown[0].Text, failure);
            letGo = true;
            // The first one's failure comes when the file answers.
            EXPECT_TRUE(RunUntil([&] { return shown.size() == 2; })) << int(k.command);
            EXPECT_LT(pinger.Stop().count(), 100) << int(k.command) << ": the window's thread was held";
        }
        StopReleaser();
        ASSERT_EQ(shown.size(), 2u) << int(k.command);
        EXPECT_EQ(shown[1].Text, failure);
        EXPECT_EQ(shown[1].Title, QStringLiteral("失败"));
        EXPECT_EQ(shown[1].Icon, 5);
    }
}

TEST_F(ShellCommandWait, NewProcessLeavesTheWindowFreeAndItsFailureAndThePanelsCloseComeWhenTheFileAnswers)
{
    Create();
    form->ProcessPage->AnswerWait = 50;
    TProcessPage *page = form->ProcessPage.get();
    page->btnNewProcessClick(page->btnNewProcess);
    page->edtNewProcessPath->setText(program + QStringLiteral(" --flag"));
    StartReleaser();
    {
        tvtest::Pinger pinger(form.get());
        page->btnNewProcessOkClick(page->btnNewProcessOk);
        EXPECT_FALSE(released) << "the start waited for the file";
        // Until the start has answered the panel stays, and OK (Enter as well) starts nothing more.
        EXPECT_TRUE(page->pnlNewProcess->isVisible());
        EXPECT_FALSE(page->btnNewProcessOk->isEnabled());
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(page->edtNewProcessPath, &enter);
        EXPECT_TRUE(shown.empty());
        letGo = true;
        EXPECT_TRUE(RunUntil([&] { return !shown.empty() && page->pnlNewProcess->isHidden(); }));
        EXPECT_LT(pinger.Stop().count(), 100) << "the window's thread was held";
    }
    StopReleaser();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, QStringLiteral("进程创建失败！请核实目标路径后重试。或者点击“浏览...”按钮查找目标。"));
    EXPECT_EQ(shown[0].Icon, 5);
    EXPECT_TRUE(page->btnNewProcessOk->isEnabled());
}

TEST_F(ShellCommandWait, TheWindowClosesWhileTheyWait)
{
    Child &c = Spawn();
    source.procs.push_back(c.proc(QStringLiteral("sleeper")));
    Create();
    form->ProcessPage->AnswerWait = 50;
    Select({c.pid});
    StartReleaser();
    form->ProcessPage->ExecuteProcessCommand(7);
    TProcessPage *page = form->ProcessPage.get();
    page->btnNewProcessClick(page->btnNewProcess);
    page->edtNewProcessPath->setText(program);
    page->btnNewProcessOkClick(page->btnNewProcessOk);
    EXPECT_FALSE(released) << "a command waited for the file";
    form.reset();
    EXPECT_FALSE(released) << "the window's end waited for the file";
    letGo = true;
    StopReleaser();
    // What they would have reported goes with the window.
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown.empty());
}
