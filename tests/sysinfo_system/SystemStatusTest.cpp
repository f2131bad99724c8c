#include "sysinfo_system/FakeStatus.h"

#include "sysinfo/SystemStatus.h"

#include <gtest/gtest.h>

#include <QThread>

using namespace stest;

namespace {

DriveEntry Drive(const QString &root, int type, bool volumeOk = true, bool sizeOk = true)
{
    DriveEntry d;
    d.Root = root;
    d.Type = type;
    d.VolumeOk = volumeOk;
    d.VolumeName = QStringLiteral("label ") + root;
    d.Serial = QStringLiteral("ABCD1234");
    d.MaxComponentLength = 255;
    d.FileSystem = QStringLiteral("ext4");
    d.SizeOk = sizeOk;
    d.TotalBytes = 1000;
    d.FreeBytes = 600;
    d.AvailableBytes = 500;
    return d;
}

} // namespace

TEST(SystemStatusCPU, FirstSampleStoresOnlyAndIndexesOutsideGiveTheTotal)
{
    FakeStatus src(2);
    TSystemStatus s(nullptr, &src);
    ASSERT_EQ(s.CPUCount, 2u);
    ASSERT_EQ(s.PrevTotal.size(), 3u);
    src.advance(1.0, {0.5, 0.5});
    EXPECT_TRUE(s.RefreshCPUUsage());
    EXPECT_EQ(s.CPUUsage, (std::vector<qint32>{0, 0, 0}));
    src.advance(1.0, {0.30, 0.90});
    EXPECT_TRUE(s.RefreshCPUUsage());
    EXPECT_EQ(s.CPUUsage, (std::vector<qint32>{60, 30, 90}));
    for (int outside : {-1, 3, 1000})
        EXPECT_EQ(s.GetCPUUsage(outside), 60) << outside;

    // One processor: its own entry stays 0, callers use entry 0.
    FakeStatus one(1);
    TSystemStatus s1(nullptr, &one);
    s1.RefreshCPUUsage();
    one.advance(1.0, {0.4});
    s1.RefreshCPUUsage();
    EXPECT_EQ(s1.CPUUsage, (std::vector<qint32>{40, 0}));
}

TEST(SystemStatusCPU, RoundsHalvesToEvenAndStaysWithinPercent)
{
    FakeStatus src(2);
    TSystemStatus s(nullptr, &src);
    s.RefreshCPUUsage();
    src.advance(1.0, {0.125, 0.375});
    s.RefreshCPUUsage();
    EXPECT_EQ(s.CPUUsage, (std::vector<qint32>{25, 12, 38})); // 12.5 and 37.5 go to the even side
    // The clock and the tick counters disagree a little: a share is never below 0 or above 100.
    *src.clock += 0.5e7;
    src.advance(1.0, {1.0, 1.0});
    src.cpu->All.Idle += 50e7;
    s.RefreshCPUUsage();
    EXPECT_EQ(s.GetCPUUsage(0), 0);
    src.advance(1.0, {1.0, 1.0});
    src.cpu->All.Idle -= 60e7;
    s.RefreshCPUUsage();
    EXPECT_EQ(s.GetCPUUsage(0), 100);
}

TEST(SystemStatusCPU, SampleThatCannotBeComputedStoresNothing)
{
    FakeStatus src(2);
    TSystemStatus s(nullptr, &src);
    s.RefreshCPUUsage();
    src.advance(1.0, {0.2, 0.2});
    ASSERT_TRUE(s.RefreshCPUUsage());
    const auto prevTotal = s.PrevTotal;
    EXPECT_FALSE(s.RefreshCPUUsage()); // no time has passed: nothing to divide by
    EXPECT_EQ(s.PrevTotal, prevTotal);
    // The clock moved but the processors' counters did not: not even the total of the
    // half-finished sample is stored.
    *src.clock += 1e7;
    EXPECT_FALSE(s.RefreshCPUUsage());
    EXPECT_EQ(s.PrevTotal, prevTotal);
    EXPECT_EQ(s.CPUUsage, (std::vector<qint32>{20, 20, 20}));
    // The next good sample measures from the last good one.
    src.advance(1.0, {0.8, 0.8});
    ASSERT_TRUE(s.RefreshCPUUsage());
    EXPECT_EQ(s.CPUUsage, (std::vector<qint32>{90, 80, 80})); // the clock moved 2 s, 0.4 s idle of 4
    src.cpu.reset();
    EXPECT_FALSE(s.RefreshCPUUsage());
    EXPECT_EQ(s.GetCPUUsage(1), 80);
}

TEST(SystemStatusCPU, ProcessorGoneOfflineCountsAsUnused)
{
    FakeStatus src(3);
    TSystemStatus s(nullptr, &src);
    s.RefreshCPUUsage();
    src.cpu->Processors.erase(src.cpu->Processors.begin() + 1);
    src.advance(1.0, {0.7, 0.7});
    EXPECT_TRUE(s.RefreshCPUUsage());
    EXPECT_EQ(s.GetCPUUsage(1), 70);
    EXPECT_EQ(s.GetCPUUsage(2), 0);
    EXPECT_EQ(s.GetCPUUsage(3), 70);
}

TEST(SystemStatusMemory, FiguresCountsPeakAndFailure)
{
    FakeStatus src;
    TSystemStatus s(nullptr, &src);
    MemoryInfo m = Memory(8000, 3000, 5000, 4000);
    m.Buffers = 100;
    m.Cached = 900;
    m.SlabReclaimable = 70;
    m.SlabUnreclaimable = 20;
    m.KernelStack = 5;
    m.PageTables = 5;
    src.mem = m;
    EXPECT_TRUE(s.RefreshPerformance());
    EXPECT_EQ(s.PhysicalAvailable, 3000);
    EXPECT_EQ(s.SystemCache, 1000);
    EXPECT_EQ(s.CommitLimit, 5000);
    EXPECT_EQ(s.CommitTotal, 4000);
    EXPECT_EQ(s.KernelPaged, 70);
    EXPECT_EQ(s.KernelNonpaged, 30);
    EXPECT_EQ(s.KernelTotal, 100);
    EXPECT_EQ(s.HandleCount, 100u);
    EXPECT_EQ(s.ThreadCount, 200u);
    EXPECT_EQ(s.ProcessCount, 30u);
    src.mem->Committed = 2000;
    s.RefreshPerformance();
    EXPECT_EQ(s.CommitPeak, 4000); // the peak stays
    // Huge values are held, not wrapped.
    src.mem->Total = ~0ull;
    src.kcounts->Handles = 1ull << 40;
    s.RefreshPerformance();
    EXPECT_EQ(s.PhysicalTotal, std::numeric_limits<qint64>::max());
    EXPECT_EQ(s.HandleCount, 0xFFFFFFFFu);
    // Either half failing leaves every figure.
    src.kcounts.reset();
    src.mem = Memory(1, 1, 1, 1);
    EXPECT_FALSE(s.RefreshPerformance());
    EXPECT_EQ(s.CommitTotal, 2000);
    src.kcounts = KernelCounts{1, 2, 3};
    src.mem.reset();
    EXPECT_FALSE(s.RefreshPerformance());
    EXPECT_EQ(s.ProcessCount, 30u);
}

TEST(SystemStatusTime, BootTimeCurrentTimeAndUpTime)
{
    FakeStatus src(1, 1699990000);
    TSystemStatus s(nullptr, &src);
    const SYSTEMTIME boot = platform::LocalSystemTime(1699990000, 0);
    EXPECT_EQ(s.BootTime.WHour, boot.WHour);
    EXPECT_EQ(s.BootTime.WMinute, boot.WMinute);
    src.uptime = 2 * 86400 + 3 * 3600 + 4 * 60 + 5.678;
    EXPECT_TRUE(s.RefreshUptime());
    const SYSTEMTIME now = platform::LocalSystemTime(src.wallSeconds, 0);
    EXPECT_EQ(s.CurrentTime.WDay, now.WDay);
    EXPECT_EQ(s.CurrentTime.WSecond, now.WSecond);
    const SYSTEMTIME &u = s.UpTime;
    EXPECT_EQ(QList<int>({u.WYear, u.WMonth, u.WDay, u.WHour, u.WMinute, u.WSecond, u.WMilliseconds}),
              QList<int>({0, 0, 2, 3, 4, 5, 678}));
    src.uptime = 70000.0 * 86400; // the day count is held, not wrapped
    EXPECT_TRUE(s.RefreshUptime());
    EXPECT_EQ(s.UpTime.WDay, 0xFFFF);
    src.uptime.reset();
    src.wallSeconds += 100;
    EXPECT_FALSE(s.RefreshUptime());
    EXPECT_EQ(s.CurrentTime.WSecond, now.WSecond);

    // Without the kernel's boot stamp the boot time is the clock less the up-time; without the
    // processor table there is one processor.
    FakeStatus bare(4);
    bare.cpu.reset();
    TSystemStatus b(nullptr, &bare);
    EXPECT_EQ(b.CPUCount, 1u);
    EXPECT_EQ(b.CPUUsage.size(), 2u);
    EXPECT_EQ(b.BootTime.WYear, 2023);
}

TEST(SystemStatusDrives, FixedDrivesOnlyAndRefreshResult)
{
    FakeStatus src;
    TSystemStatus s(nullptr, &src);
    EXPECT_EQ(s.Drives.size(), 1u);
    src.driveList =
        std::vector<DriveEntry>{Drive(QStringLiteral("/media/floppy"), platform::system::dtRemovable),
                                Drive(QStringLiteral("/"), 3), Drive(QStringLiteral("/home"), 3, false, false),
                                Drive(QStringLiteral("/media/cd"), platform::system::dtOptical)};
    EXPECT_TRUE(s.Refresh(TSystemStatus::rfDrives));
    EXPECT_EQ(s.DriveCount, 2);
    ASSERT_EQ(s.Drives.size(), 3u);
    EXPECT_EQ(s.Drives[0].Letter, QStringLiteral("/"));
    EXPECT_EQ(s.Drives[0].VolumeName, QStringLiteral("label /"));
    EXPECT_EQ(s.Drives[0].SerialNumber, QStringLiteral("ABCD1234"));
    EXPECT_EQ(s.Drives[0].AvailableBytes, 500);
    // Failed volume and size queries leave blanks and zeros.
    EXPECT_EQ(s.Drives[1].Letter, QStringLiteral("/home"));
    EXPECT_TRUE(s.Drives[1].FileSystem.isEmpty());
    EXPECT_EQ(s.Drives[1].TotalBytes, 0);
    src.driveList.reset();
    EXPECT_FALSE(s.Refresh(TSystemStatus::rfDrives));
    EXPECT_EQ(s.DriveCount, 2);

    // The result is the last step's; the earlier steps still ran.
    src.mem = Memory(10, 5, 10, 5);
    EXPECT_FALSE(s.Refresh(TSystemStatus::rfPerformance | TSystemStatus::rfDrives));
    EXPECT_EQ(s.PhysicalTotal, 10);
    src.cpu.reset();
    EXPECT_TRUE(s.Refresh(TSystemStatus::rfCPU | TSystemStatus::rfUpTime));
    EXPECT_FALSE(s.Refresh(TSystemStatus::rfCPU));
    EXPECT_FALSE(s.Refresh(0));
}

TEST(SystemStatusOS, NamesTheSystemFromItsFiles)
{
    FakeStatus src;
    TSystemStatus s(nullptr, &src);
    TOSInfo info;
    info.Name = info.Build = QStringLiteral("kept");
    s.GetOSInfo(info);
    EXPECT_EQ(info.Version, 0);
    EXPECT_EQ(info.Name, QStringLiteral("kept")); // nothing could be read
    EXPECT_EQ(info.Build, QStringLiteral("kept"));
    OSRelease os;
    os.Name = QStringLiteral("Debian GNU/Linux");
    os.Version = QStringLiteral("12 (bookworm)");
    os.VersionId = QStringLiteral("12");
    src.os = os;
    src.kinfo = KernelInfo{QStringLiteral("Linux"), QStringLiteral("6.1.0-18-amd64"), QString(), QString(), 1};
    s.GetOSInfo(info);
    EXPECT_EQ(info.Name, QStringLiteral("Debian GNU/Linux"));
    EXPECT_EQ(info.Edition, QStringLiteral("12 (bookworm)"));
    EXPECT_EQ(info.ServicePack, QStringLiteral("Linux 6.1.0-18-amd64"));
    EXPECT_EQ(info.Build, QStringLiteral("Build 1"));
    // Fallbacks: the pretty name, the version number, the family name; a long release is cut.
    src.os->Name.clear();
    src.os->Version.clear();
    src.os->PrettyName = QStringLiteral("Pretty");
    src.kinfo->Release = QString(300, QLatin1Char('r'));
    s.GetOSInfo(info);
    EXPECT_EQ(info.Name, QStringLiteral("Pretty"));
    EXPECT_EQ(info.Edition, QStringLiteral("12"));
    EXPECT_EQ(info.ServicePack.size(), 128);
    src.os = OSRelease{};
    s.GetOSInfo(info);
    EXPECT_EQ(info.Name, QStringLiteral("Linux"));
}

TEST(SystemStatusLive, RealMachineWithinBounds)
{
    TSystemStatus s;
    EXPECT_TRUE(s.RefreshCPUUsage());
    QThread::msleep(250);
    EXPECT_TRUE(s.RefreshCPUUsage());
    for (quint32 i = 0; i <= s.CPUCount; ++i)
        EXPECT_TRUE(s.GetCPUUsage(int(i)) >= 0 && s.GetCPUUsage(int(i)) <= 100) << i;
    ASSERT_TRUE(s.RefreshPerformance());
    EXPECT_LE(s.PhysicalAvailable, s.PhysicalTotal);
    EXPECT_GE(s.ThreadCount, s.ProcessCount);
    ASSERT_TRUE(s.RefreshUptime());
    EXPECT_GE(s.CurrentTime.WYear, s.BootTime.WYear);
    EXPECT_TRUE(s.Refresh(TSystemStatus::rfDrives));
    EXPECT_EQ(s.Drives.size(), size_t(s.DriveCount) + 1);
}
