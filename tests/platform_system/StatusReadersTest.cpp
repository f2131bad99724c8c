#include "platform/system/StatusReaders.h"
#include "platform/system/StatusSource.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QRandomGenerator>

#include <unistd.h>

using namespace platform::system;

namespace {

const QByteArray kMemInfo = "MemTotal:       16303428 kB\n"
                            "MemFree:         1203344 kB\n"
                            "MemAvailable:    9876543 kB\n"
                            "Buffers:          345678 kB\n"
                            "Cached:          7654321 kB\n"
                            "SwapCached:            0 kB\n"
                            "SwapTotal:       2097148 kB\n"
                            "SwapFree:        2097148 kB\n"
                            "SReclaimable:     456789 kB\n"
                            "SUnreclaim:       123456 kB\n"
                            "KernelStack:       23456 kB\n"
                            "PageTables:        34567 kB\n"
                            "CommitLimit:    10248860 kB\n"
                            "Committed_AS:   12345678 kB\n"
                            "HugePages_Total:       0\n"
                            "Hugepagesize:       2048 kB\n";

const QByteArray kStat = "cpu  100 20 300 4000 50 6 7 8 0 0\n"
                         "cpu0 60 10 200 1000 20 4 5 8 0 0\n"
                         "cpu2 40 10 100 3000 30 2 2 0 0 0\n"
                         "intr 12345 1 2 3\n"
                         "ctxt 99\n"
                         "btime 1700000000\n"
                         "processes 4242\n";

const QByteArray kMountInfo = "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
                              "27 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                              "28 27 8:2 / /mnt/my\\040disk rw,relatime shared:2 master:1 - vfat /dev/sda2 rw\n"
                              "29 27 8:1 /srv/data /data rw - ext4 /dev/sda1 rw\n"
                              "30 27 8:1 / /again rw - ext4 /dev/sda1 rw\n"
                              "31 27 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
                              "32 27 0:40 / /net rw - nfs4 server:/export rw\n";

// Every prefix and a run of random corruptions of a good text: the parser answers or refuses.
template <typename Parse>
void Hammer(const QByteArray &good, Parse parse)
{
    for (qsizetype n = 0; n <= good.size(); ++n)
        parse(good.first(n));
    QRandomGenerator rng(1234);
    for (int round = 0; round < 400; ++round) {
        QByteArray t = good;
        const int edits = 1 + int(rng.bounded(6));
        for (int e = 0; e < edits; ++e)
            t[qsizetype(rng.bounded(quint32(t.size())))] = char(rng.bounded(256));
        parse(t);
    }
}

} // namespace

TEST(MemInfo, ReadsFiguresAndRefusesMalformedText)
{
    const auto m = ParseMemInfo(kMemInfo);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->Total, 16303428ull * 1024);
    EXPECT_EQ(m->Available, 9876543ull * 1024);
    EXPECT_EQ(m->Cached, 7654321ull * 1024);
    EXPECT_EQ(m->Committed, 12345678ull * 1024);
    EXPECT_EQ(m->PageTables, 34567ull * 1024);
    // Kernels without MemAvailable: what is free or only holds caches, never more than there is.
    EXPECT_EQ(ParseMemInfo("MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 20 kB\nCached: 300 kB\n")->Available,
              420ull * 1024);
    EXPECT_EQ(ParseMemInfo("MemTotal: 100 kB\nMemFree: 100 kB\nCached: 300 kB\n")->Available, 100ull * 1024);

    for (const char *bad :
         {"", "MemFree: 100 kB\n", "MemTotal: 0 kB\n", "MemTotal: 12x kB\n", "MemTotal: -5 kB\n", "MemTotal: 100\n",
          "MemTotal: 100 MB\n", "MemTotal: 100 kB\nMemTotal: 200 kB\n", "MemTotal: 18446744073709551615 kB\n",
          "MemTotal: 99999999999999999999999 kB\n", "MemTotal 100 kB\n", "MemTotal: 10 kB\nMemAvailable: 20 kB\n"})
        EXPECT_FALSE(ParseMemInfo(bad)) << bad;
    Hammer(kMemInfo, [](const QByteArray &t) {
        if (const auto r = ParseMemInfo(t)) {
            EXPECT_GT(r->Total, 0u);
            EXPECT_LE(r->Available, r->Total);
        }
    });
}

TEST(ProcStat, ReadsProcessorsAndRefusesMalformedText)
{
    const auto s = ParseProcStat(kStat, 100);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->BootTime, 1700000000);
    ASSERT_EQ(s->Processors.size(), 2u);
    EXPECT_EQ(s->Processors[1].Number, 2); // a gap where a processor is offline
    // Ticks of 10 ms become 100-ns units; idle counts iowait; kernel time includes idle time.
    const ProcessorTimes &t = s->Processors[0].Times;
    EXPECT_DOUBLE_EQ(t.Idle, 1020 * 1e5);
    EXPECT_DOUBLE_EQ(t.Kernel, (200 + 1020) * 1e5);
    EXPECT_DOUBLE_EQ(t.User, 70 * 1e5);
    EXPECT_DOUBLE_EQ(t.Interrupt, 4 * 1e5);
    EXPECT_DOUBLE_EQ(t.Dpc, 5 * 1e5);
    EXPECT_DOUBLE_EQ(s->All.Idle, 4050 * 1e5);
    EXPECT_DOUBLE_EQ(ParseProcStat("cpu 1 2 3 4\ncpu0 1 2 3 4\n", 250)->All.Idle, 4 * 4e4); // old kernels

    for (const char *bad :
         {"", "cpu0 1 2 3 4\n", "cpu 1 2 3\n", "cpu 1 2 3 x\n", "cpu 1 2 3 4\ncpu 1 2 3 4\n",
          "cpu 1 2 3 4\ncpu0 1 2 3 4\ncpu0 1 2 3 4\n", "cpu 1 2 3 4\ncpuX 1 2 3 4\n", "cpu 1 2 3 4\nbtime -3\n"})
        EXPECT_FALSE(ParseProcStat(bad, 100)) << bad;
    EXPECT_FALSE(ParseProcStat("cpu 1 2 3 4\n", 0));
    Hammer(kStat, [](const QByteArray &t) { ParseProcStat(t, 100); });
}

TEST(SmallFiles, UptimeHandlesThreadsAndBuildNumber)
{
    EXPECT_DOUBLE_EQ(*ParseUptime("2684.95 15106.92\n"), 2684.95);
    EXPECT_DOUBLE_EQ(*ParseUptime("12\n"), 12.0);
    for (const char *bad : {"", "-1.0 2.0\n", "1e9 2\n", "1.2.3 4\n", "99999999999999 1\n", "1 2 3\n"})
        EXPECT_FALSE(ParseUptime(bad)) << bad;
    EXPECT_EQ(*ParseFileNr("874\t0\t2465873\n"), 874u);
    EXPECT_FALSE(ParseFileNr("874\n"));
    EXPECT_EQ(*ParseLoadAvgThreads("2.33 2.27 2.51 2/192 13066\n"), 192u);
    for (const char *bad : {"", "2.33 2.27 2.51 2-192 13066\n", "2.33 2.27 2.51 /192 1\n", "2.33 2.27 2.51 2/ 1\n"})
        EXPECT_FALSE(ParseLoadAvgThreads(bad)) << bad;
    EXPECT_EQ(ParseBuildNumber(QStringLiteral("#152-Ubuntu SMP")), 152);
    for (const char *bad : {"SMP #3", "#", "#99999999999", ""})
        EXPECT_EQ(ParseBuildNumber(QString::fromLatin1(bad)), -1) << bad;
}

// A drive's figures are asked for only where no server or file-system process can keep the
// query waiting, and only where its mount point still reaches it.
TEST(Mounts, OnlyMountPointsNoServedFileSystemHoldsAreAskedForTheirFigures)
{
    const auto all = ParseMountInfo("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                    "2 1 0:40 / /net rw - nfs4 server:/export rw\n"
                                    "3 2 8:2 / /net/disk rw - ext4 /dev/sdb1 rw\n"
                                    "4 1 8:3 / /win rw - fuseblk /dev/sdc1 rw\n"
                                    "5 1 8:4 / /data rw - ext4 /dev/sdd1 rw\n"
                                    "6 5 0:50 / /data rw - fuse.sshfs host: rw\n"
                                    "7 1 8:5 / /home rw - xfs /dev/sde1 rw\n"
                                    "8 7 0:51 / /home/u/remote rw - fuse.sshfs h: rw\n"
                                    "9 1 8:6 / /srv rw - ext4 /dev/sdf1 rw\n"
                                    "10 9 8:7 / /srv/inner rw - btrfs /dev/sdg1 rw\n"
                                    "11 12 8:8 / /loop/a rw - ext4 /dev/sdh1 rw\n"
                                    "12 11 8:9 / /loop/b rw - ext4 /dev/sdi1 rw\n");
    ASSERT_TRUE(all);
    const struct
    {
        const char *MountPoint;
        bool Answers;
    } cases[] = {
        {"/", true},     {"/net/disk", false}, {"/win", false},      {"/data", false},
        {"/home", true}, {"/srv", true},       {"/srv/inner", true}, {"/loop/a", false},
    };
    for (const auto &c : cases) {
        const auto m = std::find_if(all->begin(), all->end(), [&](const MountEntry &e) {
            return e.MountPoint == QLatin1String(c.MountPoint) && e.Source.startsWith(QLatin1String("/dev/"));
        });
        ASSERT_NE(m, all->end()) << c.MountPoint;
        EXPECT_EQ(MountPointAnswers(*m, *all), c.Answers) << c.MountPoint;
    }
    for (const char *fs : {"fuse", "fuseblk", "fuse.sshfs", "NFS", "cifs", "9p"})
        EXPECT_TRUE(IsServedFileSystem(QString::fromLatin1(fs))) << fs;
    for (const char *fs : {"ext4", "xfs", "vfat", "tmpfs", "overlay"})
        EXPECT_FALSE(IsServedFileSystem(QString::fromLatin1(fs))) << fs;
}

TEST(OsRelease, ReadsValuesAndRefusesMalformedText)
{
    const auto r = ParseOsRelease("# comment\n\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                  "NAME='Debian GNU/Linux'\nVERSION=\"12 \\\"bookworm\\\" \\$x\"\nID=debian\nEMPTY=\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Name, QStringLiteral("Debian GNU/Linux"));
    EXPECT_EQ(r->PrettyName, QStringLiteral("Debian GNU/Linux 12 (bookworm)"));
    EXPECT_EQ(r->Version, QStringLiteral("12 \"bookworm\" $x"));
    EXPECT_EQ(r->Id, QStringLiteral("debian"));
    EXPECT_EQ(ParseOsRelease("NAME=\"Fedora 中文\"\n")->Name, QStringLiteral("Fedora 中文"));
    for (const char *bad : {"", "# only a comment\n", "NAME=\"unterminated\n", "NAME=two words\n", "NAME=\"a\"b\"\n",
                            "1NAME=x\n", "NA-ME=x\n", "just text\n", "NAME=\"ends in backslash\\\"\n"})
        EXPECT_FALSE(ParseOsRelease(bad)) << bad;
    EXPECT_FALSE(ParseOsRelease(QByteArray("NAME=a\0b\n", 9)));
    Hammer("NAME=\"Debian GNU/Linux\"\nVERSION=\"12 (bookworm)\"\nID=debian\n",
           [](const QByteArray &t) { ParseOsRelease(t); });
}

TEST(Mounts, PicksDeviceMountsAndRefusesMalformedLines)
{
    const auto all = ParseMountInfo(kMountInfo);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 7u);
    EXPECT_EQ((*all)[2].MountPoint, QStringLiteral("/mnt/my disk"));
    EXPECT_EQ((*all)[2].FsType, QStringLiteral("vfat"));
    EXPECT_EQ((*all)[2].Source, QStringLiteral("/dev/sda2"));
    // Each device once, at its first whole mount; pseudo and network file systems are no drives.
    const auto drives = DeviceMounts(*all);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].MountPoint, QStringLiteral("/"));
    EXPECT_EQ(drives[1].MountPoint, QStringLiteral("/mnt/my disk"));
    EXPECT_EQ(drives[2].MountPoint, QStringLiteral("/media/cd"));
    EXPECT_EQ(ClassifyDrive(drives[0], QStringLiteral("vda"), std::nullopt), dtFixed);
    EXPECT_EQ(ClassifyDrive(drives[1], QStringLiteral("sdb1"), true), dtRemovable);
    EXPECT_EQ(ClassifyDrive(drives[2], QStringLiteral("sr0"), true), dtOptical);
    EXPECT_EQ(ClassifyDrive(drives[0], QStringLiteral("loop3"), false), dtUnknown);
    EXPECT_EQ(ClassifyDrive(drives[0], QStringLiteral("zram0"), false), dtRamDisk);

    EXPECT_TRUE(ParseMountInfo("")->empty());
    for (const char *bad :
         {"27 1 8:1 / / rw - ext4\n", "27 1 8:1 / / rw ext4 /dev/sda1 rw\n", "27 1 81 / / rw - ext4 /dev/sda1 rw\n",
          "27 1 8:x / / rw - ext4 /dev/sda1 rw\n", "27 1 8:1 / /a\\04 rw - ext4 /dev/sda1 rw\n",
          "27 1 8:1 / /a\\999 rw - ext4 /dev/sda1 rw\n", "27 1 8:1 / relative rw - ext4 /dev/sda1 rw\n"})
        EXPECT_FALSE(ParseMountInfo(bad)) << bad;
    Hammer(kMountInfo, [](const QByteArray &t) {
        if (const auto m = ParseMountInfo(t))
            DeviceMounts(*m);
    });
    EXPECT_EQ(UnescapeDiskLinkName(QStringLiteral("My\\x20Disk\\x2")), QStringLiteral("My Disk\\x2"));
    EXPECT_EQ(SerialFromUuid(QStringLiteral("0f3e9a1c-77aa-4bcd")), QStringLiteral("0F3E9A1C"));
    EXPECT_EQ(SerialFromUuid(QStringLiteral("12-34")), QString());
    EXPECT_EQ(SerialFromUuid(QStringLiteral("12g45678")), QString());
}

TEST(RealSource, ValuesWithinSaneBounds)
{
    StatusSource &src = DefaultStatusSource();
    const auto mem = src.Memory();
    ASSERT_TRUE(mem);
    EXPECT_GT(mem->Total, 16ull << 20);
    const auto cpu = src.Cpu();
    ASSERT_TRUE(cpu);
    EXPECT_EQ(long(cpu->Processors.size()), ::sysconf(_SC_NPROCESSORS_ONLN));
    const auto up = src.UptimeSeconds();
    ASSERT_TRUE(up);
    qint64 now = 0;
    quint32 ns = 0;
    src.RealtimeNow(now, ns);
    EXPECT_NEAR(double(cpu->BootTime) + *up, double(now), 5.0);
    const auto counts = src.Counts();
    ASSERT_TRUE(counts);
    EXPECT_GE(counts->Processes, 1u);
    EXPECT_GE(counts->Threads, counts->Processes);
    const auto drives = src.Drives();
    ASSERT_TRUE(drives);
    for (const DriveEntry &d : *drives) {
        EXPECT_TRUE(d.Root.startsWith(QLatin1Char('/')));
        EXPECT_LE(d.AvailableBytes, d.FreeBytes);
        EXPECT_LE(d.FreeBytes, d.TotalBytes);
    }
    ASSERT_TRUE(src.Kernel());
    EXPECT_EQ(src.Kernel()->SysName, QStringLiteral("Linux"));
}
