#include "DetailsFixture.h"
#include "ui_process/Fixture.h"

#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QTextEdit>

using namespace ptest;

namespace {

constexpr qint64 kBootTime = 1700000000; // seconds since the epoch
constexpr quint64 kStartTicks = 123456 * 100;

// The scripted table with the counters the panel shows.
class CountingSource : public FakeSource
{
public:
    bool EnumeratePrimary(std::vector<ProcessEntry> &out) override
    {
        FakeSource::EnumeratePrimary(out);
        for (ProcessEntry &e : out)
            e.Session = 7;
        return true;
    }
    std::optional<ProcStat> Stat(const ProcessHandle &h) override
    {
        auto st = FakeSource::Stat(h);
        if (st) {
            st->ParentPid = 4242;
            st->Session = 7;
            st->NumThreads = 5;
        }
        return st;
    }
    int FdCount(const ProcessHandle &h) override { return find(h) ? 33 : -1; }
    int ModuleCount(const ProcessHandle &h) override { return find(h) ? 12 : -1; }
    qint64 BootTimeSeconds() override { return kBootTime; }
    long ClockTicksPerSecond() override { return 100; }
    qint64 RealtimeNowNs() override { return (kBootTime + 200000) * 1000000000ll; }
};

class ProcessDetails : public FormTest
{
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        image = dir.file(QStringLiteral("worker"));
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("abc");
    }

    // A process of the scripted table with an image file of the test's own.
    FakeProc Proc(quint32 pid, const QString &name, const QString &exe = QString())
    {
        FakeProc p;
        p.pid = pid;
        p.name = name;
        p.startTime = kStartTicks;
        p.exe = exe.isNull() ? image : exe;
        p.mem.VmRss = 4096 * 1024;
        p.mem.VmHwm = 6144 * 1024;
        p.mem.RssAnon = 1024 * 1024;
        p.sched = SchedInfo{0, 10};
        return p;
    }
    void CreateOn()
    {
        form = std::make_unique<TFormMain>(nullptr, &counting);
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        form->ProcessPage->AnswerWait = 10000;
        form->show();
        EXPECT_TRUE(Settle());
    }
    void Click(quint32 pid)
    {
        Select({pid});
        form->ProcessPage->lvProcessesClick(List());
        EXPECT_TRUE(Settle());
    }
    QString Text() const { return form->Details->redtDetails->toPlainText(); }

    tvtest::TempDir dir;
    QString image;
    CountingSource counting;
};

QString Kb(quint64 Bytes)
{
    QString t;
    ByteCountText(qint64(Bytes), t);
    return t;
}

const QString kHint = QStringLiteral("(请点击列表查看相关详细信息)");
const QString kDisclaimer = QStringLiteral("(声明：进程描述信息均搜集自网络，仅供参考！)");

} // namespace

TEST_F(ProcessDetails, EveryFieldInOrderWithItsText)
{
    const quint32 pid = kNoSuchPid + 1;
    counting.procs = {Proc(pid, QStringLiteral("worker"))};
    CreateOn(); // reads the program's own dictionary
    ASSERT_TRUE(dtest::UseDictionary(dir.file(QStringLiteral("Ravel.db")),
                                     {{QStringLiteral("worker"), QStringLiteral("A worker of the demo."), false}}));
    ASSERT_FALSE(form->Details->pnlDetails->isVisible());
    Click(pid);
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    ASSERT_TRUE(dtest::WaitForDigests());

    const QString started =
        QDateTime::fromSecsSinceEpoch(kBootTime + 123456).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QString priority;
    PriorityText(0x4000, priority);
    EXPECT_EQ(dtest::Lines(form->Details->redtDetails),
              (QStringList{QStringLiteral("进程名: worker"),
                           QStringLiteral("进程 ID: %1").arg(pid),
                           QStringLiteral("父进程 ID: 4242"),
                           QStringLiteral("会话 ID: 7"),
                           QStringLiteral("创建时间: ") + started,
                           QStringLiteral("用户: host\\user1000"),
                           QStringLiteral("路径: ") + image,
                           QStringLiteral("命令行: ") + image,
                           QStringLiteral("优先级: ") + priority,
                           QStringLiteral("线程数: 5"),
                           QStringLiteral("模块数: 12"),
                           QStringLiteral("句柄数: 33"),
                           QStringLiteral("物理内存使用: ") + Kb(4096 * 1024),
                           QStringLiteral("物理内存峰值: ") + Kb(6144 * 1024),
                           QStringLiteral("虚拟内存使用: ") + Kb(1024 * 1024),
                           QStringLiteral("虚拟内存峰值: ") + Kb(1024 * 1024),
                           QStringLiteral("文件版本: "),
                           QStringLiteral("MD5 值: 900150983CD24FB0D6963F7D28E17F72"),
                           QStringLiteral("进程描述: A worker of the demo."),
                           QString(),
                           kDisclaimer}));
    EXPECT_EQ(priority, QStringLiteral("低于标准"));

    // Labels bold navy, values regular black.
    const dtest::Run label = dtest::RunWith(form->Details->redtDetails, QStringLiteral("线程数: "));
    EXPECT_TRUE(label.Bold);
    EXPECT_EQ(label.Color, dtest::kNavy);
    const dtest::Run value = dtest::RunWith(form->Details->redtDetails, QStringLiteral("A worker of the demo."));
    EXPECT_FALSE(value.Bold);
    EXPECT_EQ(value.Color, dtest::kBlack);
    EXPECT_EQ(form->Details->redtDetails->textCursor().position(), 0) << "the caret goes back to the start";
}

TEST_F(ProcessDetails, DictionaryDescriptionWarningAndDisclaimer)
{
    const quint32 h = kNoSuchPid + 1, e = kNoSuchPid + 2, u = kNoSuchPid + 3;
    counting.procs = {Proc(h, QStringLiteral("harmless")), Proc(e, QStringLiteral("evil")),
                      Proc(u, QStringLiteral("stranger"))};
    CreateOn();
    ASSERT_TRUE(dtest::UseDictionary(dir.file(QStringLiteral("Ravel.db")),
                                     {{QStringLiteral("harmless"), QStringLiteral("Quite harmless."), false},
                                      {QStringLiteral("EVIL"), QStringLiteral("Steals things."), true}}));
    const QString warning = QStringLiteral("[警告 - 危险进程]");

    Click(e);
    QStringList lines = dtest::Lines(form->Details->redtDetails);
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.mid(lines.size() - 4),
              (QStringList{warning, QStringLiteral("进程描述: Steals things."), QString(), kDisclaimer}))
        << "the look-up ignores case; the warning comes just before the description";
    const dtest::Run red = dtest::RunWith(form->Details->redtDetails, warning);
    EXPECT_TRUE(red.Bold);
    EXPECT_EQ(red.Color, dtest::kRed);
    const dtest::Run grey = dtest::RunWith(form->Details->redtDetails, kDisclaimer);
    EXPECT_FALSE(grey.Bold);
    EXPECT_EQ(grey.Color, dtest::kGrey);
    EXPECT_TRUE(Text().endsWith(kDisclaimer));

    Click(h);
    EXPECT_FALSE(Text().contains(warning));
    EXPECT_TRUE(Text().contains(QStringLiteral("\n进程描述: Quite harmless.\n\n") + kDisclaimer));

    Click(u);
    EXPECT_FALSE(Text().contains(warning));
    EXPECT_TRUE(Text().endsWith(QStringLiteral("\n进程描述: 抱歉！没有找到该进程相关信息。\n\n") + kDisclaimer));

    // An unreadable dictionary is a dictionary that knows nothing.
    QFile bad(dir.file(QStringLiteral("broken.db")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, '\x5A'));
    bad.close();
    QString version;
    GetDictVersionIn(bad.fileName(), version);
    Click(e);
    EXPECT_FALSE(Text().contains(warning));
    EXPECT_TRUE(Text().endsWith(QStringLiteral("\n进程描述: 抱歉！没有找到该进程相关信息。\n\n") + kDisclaimer));
}

TEST_F(ProcessDetails, ProcessWithoutFileHasNoVersionOrDigest)
{
    const quint32 pid = kNoSuchPid + 1, gone = kNoSuchPid + 2;
    // No readable image path; and one whose file was removed.
    counting.procs = {Proc(pid, QStringLiteral("nofile"), QStringLiteral("")),
                      Proc(gone, QStringLiteral("gone"), dir.file(QStringLiteral("removed")))};
    CreateOn();
    Click(pid);
    const QStringList lines = dtest::Lines(form->Details->redtDetails);
    EXPECT_TRUE(lines.contains(QStringLiteral("路径: ")));
    EXPECT_TRUE(lines.contains(QStringLiteral("文件版本: "))) << "not the version of the program itself";
    EXPECT_TRUE(lines.contains(QStringLiteral("MD5 值: ")));
    Click(gone);
    EXPECT_TRUE(dtest::Lines(form->Details->redtDetails).contains(QStringLiteral("MD5 值: ")));
}

TEST_F(ProcessDetails, MarkupInNamesIsShownAsItIs)
{
    const quint32 pid = kNoSuchPid + 1;
    counting.procs = {Proc(pid, QStringLiteral("<b>bold</b>&amp;<img src=x>"))};
    CreateOn();
    Click(pid);
    EXPECT_EQ(dtest::Lines(form->Details->redtDetails).first(), QStringLiteral("进程名: <b>bold</b>&amp;<img src=x>"));
}

TEST_F(ProcessDetails, NoSelectionOrVanishedProcessLeavesOnlyTheHint)
{
    const quint32 a = kNoSuchPid + 1, b = kNoSuchPid + 2;
    counting.procs = {Proc(a, QStringLiteral("alpha")), Proc(b, QStringLiteral("beta"))};
    CreateOn();
    // A click without a selected row: the hint, the panel neither shown nor hidden.
    List()->clearSelection();
    form->ProcessPage->lvProcessesClick(List());
    EXPECT_EQ(Text(), kHint);
    EXPECT_FALSE(form->Details->pnlDetails->isVisible());

    Click(a);
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    // The process ends; its row goes on the next refresh and the refresh button finds nothing.
    counting.remove(a);
    Tick();
    EXPECT_EQ(Row(a), nullptr);
    form->Details->btnRefreshDetailsClick(form->Details->btnRefreshDetails);
    EXPECT_EQ(Text(), kHint);
    EXPECT_TRUE(form->Details->pnlDetails->isVisible());

    // Selecting another row refills the visible panel.
    Select({b});
    EXPECT_TRUE(dtest::Lines(form->Details->redtDetails).first().endsWith(QStringLiteral("beta")));
}

TEST_F(ProcessDetails, OtherPagesAddNothingButShowThePanel)
{
    counting.procs = {Proc(kNoSuchPid + 1, QStringLiteral("alpha"))};
    CreateOn();
    form->btnLeftMenu_ConfigClick(form->btnLeftMenu_Config);
    form->Details->btnRefreshDetailsClick(form->Details->btnRefreshDetails);
    EXPECT_TRUE(form->Details->pnlDetails->isVisible());
    EXPECT_TRUE(Text().isEmpty());
    // The system page hides the panel; its hint comes back with a list page.
    form->btnLeftMenu_SystemClick(form->btnLeftMenu_System);
    EXPECT_FALSE(form->Details->pnlDetails->isVisible());
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    EXPECT_EQ(Text(), kHint);
}

namespace {

// Where a list ends, in the form's coordinates.
int RightEdge(const QTreeWidget *List)
{
    return List->parentWidget()->x() + List->x() + List->width();
}

} // namespace

TEST_F(ProcessDetails, PinnedPanelStaysOpenAndListsEndBesideIt)
{
    const quint32 pid = kNoSuchPid + 1;
    counting.procs = {Proc(pid, QStringLiteral("alpha"))};
    CreateOn();
    QApplication::processEvents();
    QWidget *panel = form->Details->pnlDetails;
    EXPECT_EQ(RightEdge(List()), panel->x() + panel->width()) << "unpinned, the list reaches under the panel";
    EXPECT_TRUE(form->Details->btnNailUp->isVisibleTo(panel));
    EXPECT_FALSE(form->Details->btnNailDown->isVisibleTo(panel));
    EXPECT_EQ(form->Details->btnNailUp->toolTip(), QStringLiteral("固定"));
    EXPECT_EQ(form->Details->btnNailDown->toolTip(), QStringLiteral("取消固定"));

    form->Details->btnNailUpClick(form->Details->btnNailUp);
    EXPECT_TRUE(form->Details->DetailsPinned);
    EXPECT_TRUE(panel->isVisible()) << "pinning shows the panel";
    EXPECT_FALSE(form->Details->btnNailUp->isVisibleTo(panel));
    EXPECT_TRUE(form->Details->btnNailDown->isVisibleTo(panel));
    EXPECT_EQ(RightEdge(List()), panel->x() - 6);

    // Neither Esc nor moving the pointer away closes it.
    Click(pid);
    QChar esc(27);
    form->FormKeyPress(form.get(), esc);
    form->ProcessPage->lvProcessesMouseMove(List(), Qt::NoButton, 0, 5000);
    EXPECT_TRUE(panel->isVisible());

    // The gap stays while the window grows, and the pin survives a change of page.
    form->resize(form->width() + 120, form->height() + 40);
    QApplication::processEvents();
    EXPECT_EQ(RightEdge(List()), panel->x() - 6);
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    QApplication::processEvents();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(dtest::Lines(form->Details->redtDetails), QStringList{kHint});
    EXPECT_EQ(RightEdge(form->ServicePage->lvServices), panel->x() - 6);
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);

    // The close button hides it, unpins it and gives the lists their width back.
    form->Details->btnDetailsCloseClick(form->Details->btnDetailsClose);
    QApplication::processEvents();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(form->Details->DetailsPinned);
    EXPECT_TRUE(form->Details->btnNailUp->isVisibleTo(panel));
    EXPECT_EQ(RightEdge(List()), panel->x() + panel->width());

    // Unpinning by the nail keeps the panel open.
    form->Details->btnNailUpClick(form->Details->btnNailUp);
    form->Details->btnNailDownClick(form->Details->btnNailDown);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(form->Details->DetailsPinned);
}

TEST_F(ProcessDetails, UnpinnedPanelClosesByItself)
{
    const quint32 pid = kNoSuchPid + 1;
    counting.procs = {Proc(pid, QStringLiteral("alpha"))};
    CreateOn();
    Click(pid);
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    QChar esc(27);
    form->FormKeyPress(form.get(), esc);
    EXPECT_FALSE(form->Details->pnlDetails->isVisible());

    Click(pid);
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    EXPECT_EQ(form->Details->HoverPoint, QCursor::pos()) << "the fill remembers where the pointer was";
    form->ProcessPage->lvProcessesMouseMove(List(), Qt::NoButton, 0, 5000);
    EXPECT_FALSE(form->Details->pnlDetails->isVisible());
    EXPECT_EQ(form->Details->HoverPoint.y(), -1);
}

TEST_F(ProcessDetails, FileVersionIsThatOfThePackageThatInstalledTheFile)
{
    const quint32 pid = kNoSuchPid + 1, own = kNoSuchPid + 2;
    const QString program = dir.file(QStringLiteral("packaged-tool"));
    QFile f(program);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    dtest::FakePackages packages({program});
    counting.procs = {
        Proc(pid, QStringLiteral("packaged-tool"), program),
        Proc(own, QStringLiteral("taskvane"), QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget())};
    CreateOn();
    Click(pid);
    EXPECT_TRUE(dtest::Lines(form->Details->redtDetails).contains(QStringLiteral("文件版本: 2.5-1")))
        << Text().toStdString();
    // This program's own file keeps its own version.
    Click(own);
    QString version;
    GetFileVersion(QString(), version);
    ASSERT_FALSE(version.isEmpty());
    EXPECT_TRUE(dtest::Lines(form->Details->redtDetails).contains(QStringLiteral("文件版本: ") + version))
        << Text().toStdString();
}

TEST_F(ProcessDetails, TextOfTheProcessKeepsToItsOwnLine)
{
    // A process that writes line breaks into its command line to add lines of its choosing, and
    // a place holder into its name.
    const quint32 pid = kNoSuchPid + 1;
    FakeProc p = Proc(pid, QStringLiteral("sshd [612]%1\r"));
    p.args = QStringList{image, QStringLiteral("-x\r\n路径: /usr/sbin/sshd\n进程描述: \x1b[0m\u2028trusted")};
    counting.procs = {p};
    CreateOn();
    Click(pid);
    const QStringList lines = dtest::Lines(form->Details->redtDetails);
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines[0], QStringLiteral("进程名: sshd [612]%1\\r"));
    EXPECT_EQ(lines[7],
              QStringLiteral("命令行: ") + image +
                  QStringLiteral(" \"-x\\r\\n路径: /usr/sbin/sshd\\n进程描述: \\x1b[0m\\u2028trusted\""));
    EXPECT_EQ(lines.filter(QStringLiteral("路径: /usr/sbin/sshd")).size(), 1) << "only inside the command line";
    EXPECT_FALSE(lines.contains(QStringLiteral("路径: /usr/sbin/sshd")));
    // The row shows the name the same way.
    EXPECT_EQ(Row(pid)->text(0), QStringLiteral("sshd [612]%1\\r"));
}

TEST_F(ProcessDetails, WhatTheProcessSuppliesIsEscapedWhatTheDictionarySaysIsNot)
{
    const quint32 slash = kNoSuchPid + 1, lf = kNoSuchPid + 2, hidden = kNoSuchPid + 3;
    counting.procs = {
        Proc(slash, QStringLiteral("tool\\nx")), Proc(lf, QStringLiteral("tool\nx")),
        Proc(hidden, QString::fromUtf16(u"s\u200Et\u200Fu\u061Cv\u200Bw\uFEFFx\u034Fy\U000E0001z\U0001D173\uFDD0"))};
    CreateOn();
    ASSERT_TRUE(dtest::UseDictionary(dir.file(QStringLiteral("Ravel.db")),
                                     {{QStringLiteral("tool\\nx"), QStringLiteral("第一行\r\n第二行\rthird"), false}}));
    Click(slash);
    const QStringList lines = dtest::Lines(form->Details->redtDetails);
    EXPECT_EQ(lines.first(), QStringLiteral("进程名: tool\\\\nx"));
    EXPECT_EQ(Row(slash)->text(0), QStringLiteral("tool\\\\nx"));
    EXPECT_EQ(Row(lf)->text(0), QStringLiteral("tool\\nx")) << "a line break is not a backslash";
    EXPECT_EQ(lines.mid(lines.indexOf(QStringLiteral("进程描述: 第一行")), 3),
              (QStringList{QStringLiteral("进程描述: 第一行"), QStringLiteral("第二行"), QStringLiteral("third")}));
    // Format characters, in and beyond the first plane, and a noncharacter the panel breaks at.
    Click(hidden);
    const QString shown =
        QStringLiteral("s\\u200et\\u200fu\\u061cv\\u200bw\\ufeffx\\u034fy\\U000e0001z\\U0001d173\\ufdd0");
    EXPECT_EQ(Row(hidden)->text(0), shown);
    EXPECT_EQ(dtest::Lines(form->Details->redtDetails).first(), QStringLiteral("进程名: ") + shown);
}
