// One refresh pass of the process list over every process of the machine plus 1,000
// sleeping children, beside a baseline that only reads every /proc/PID/stat once.

#include <benchmark/benchmark.h>

#include "sysinfo/Processes.h"

#include <QCoreApplication>

#include <cstdio>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::vector<pid_t> g_children;

void startChildren(int count)
{
    char sleepPath[] = "/bin/sleep";
    char arg[] = "600";
    char *argv[] = {sleepPath, arg, nullptr};
    for (int i = 0; i < count; ++i) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, sleepPath, nullptr, nullptr, argv, environ) == 0)
            g_children.push_back(pid);
    }
}

void stopChildren()
{
    for (const pid_t pid : g_children)
        ::kill(pid, SIGKILL); // only the children started above
    for (const pid_t pid : g_children) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    g_children.clear();
}

// Lists /proc and reads each stat file once.
std::size_t readEveryStat()
{
    std::size_t bytes = 0;
    DIR *dir = ::opendir("/proc");
    if (!dir)
        return 0;
    char path[300];
    char buf[1024];
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        std::snprintf(path, sizeof path, "/proc/%s/stat", e->d_name);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
        if (n > 0)
            bytes += std::size_t(n);
    }
    ::closedir(dir);
    return bytes;
}

double g_baselineNs = 0;
double g_refreshNs = 0;

void BM_ReadEveryStat(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(readEveryStat());
}

void BM_RefreshPass(benchmark::State &state)
{
    TProcesses list;
    // Past the first pass and the deferred completion: the steady state of the timer.
    for (int i = 0; i < 8; ++i)
        list.Refresh();
    for (auto _ : state)
        benchmark::DoNotOptimize(list.Refresh());
    state.counters["processes"] = double(list.GetCount());
}

// Reports each run's time per iteration so the ratio can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations == 0)
                continue;
            const double ns = r.GetAdjustedRealTime();
            if (r.benchmark_name().find("BM_ReadEveryStat") != std::string::npos)
                g_baselineNs = ns;
            else if (r.benchmark_name().find("BM_RefreshPass") != std::string::npos)
                g_refreshNs = ns;
        }
    }
};

} // namespace

BENCHMARK(BM_ReadEveryStat)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_RefreshPass)->Unit(benchmark::kMillisecond)->MinTime(0.5);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    startChildren(1000);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    stopChildren();
    benchmark::Shutdown();
    if (g_baselineNs > 0 && g_refreshNs > 0)
        std::printf("refresh pass / stat baseline: %.2fx (aim: at most 1.5x)\n",
                    g_refreshNs / g_baselineNs);
    return 0;
}
