// What the benchmarks share: sleeping children to fill the process table, a window's first paint, CPU time over
// repetitions run in random order, and a report of each benchmark's minimum and median with
// ratios between benchmarks measured in the same run.

#pragma once

#include <benchmark/benchmark.h>

#include <QEvent>
#include <QObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tvbench {

// Notes the first paint of any widget.
class FirstPaint : public QObject
{
public:
    bool Painted = false;

protected:
    bool eventFilter(QObject *, QEvent *Event) override
    {
        if (Event->type() == QEvent::Paint)
            Painted = true;
        return false;
    }
};

// Children that sleep for ten minutes; only they are ever signalled, and only by their own
// identifiers.
class SleepingChildren
{
public:
    SleepingChildren() = default;
    SleepingChildren(const SleepingChildren &) = delete;
    SleepingChildren &operator=(const SleepingChildren &) = delete;
    ~SleepingChildren() { stopAll(); }

    // Starts children until there are `total`.
    void growTo(std::size_t total)
    {
        char sleepPath[] = "/bin/sleep";
        char arg[] = "600";
        char *argv[] = {sleepPath, arg, nullptr};
        while (m_pids.size() < total) {
            pid_t pid = 0;
            if (::posix_spawn(&pid, sleepPath, nullptr, nullptr, argv, environ) != 0)
                break;
            m_pids.push_back(pid);
        }
    }
    std::size_t size() const { return m_pids.size(); }

    // Ends the `count` oldest children and starts as many new ones.
    void replaceOldest(std::size_t count)
    {
        count = std::min(count, m_pids.size());
        for (std::size_t i = 0; i < count; ++i)
            ::kill(m_pids[i], SIGKILL);
        for (std::size_t i = 0; i < count; ++i) {
            while (::waitpid(m_pids[i], nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        m_pids.erase(m_pids.begin(), m_pids.begin() + std::ptrdiff_t(count));
        growTo(m_pids.size() + count);
    }

    void stopAll()
    {
        for (const pid_t pid : m_pids)
            ::kill(pid, SIGKILL);
        for (const pid_t pid : m_pids) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        m_pids.clear();
    }

private:
    std::vector<pid_t> m_pids;
};

// The flags every benchmark program runs with unless the command line says otherwise:
// repetitions of all benchmarks interleaved in random order, aggregates only.
inline std::vector<char *> DefaultFlags(int argc, char **argv)
{
    static std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char *> args(argv, argv + argc);
    bool given = false;
    for (int i = 1; i < argc; ++i)
        given = given || std::strstr(argv[i], "random_interleaving") != nullptr;
    if (!given)
        args.insert(args.begin() + 1, interleave.data());
    return args;
}

// CPU time of the whole process, repeated, with the minimum beside the median.
inline benchmark::internal::Benchmark *Measured(benchmark::internal::Benchmark *b, int repetitions = 9)
{
    return b->MeasureProcessCPUTime()
        ->Repetitions(repetitions)
        ->ComputeStatistics("min", [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); })
        ->ReportAggregatesOnly(true);
}

// Keeps the CPU time per iteration (ns) of every aggregate, and the counters of the medians.
class Collector : public benchmark::ConsoleReporter
{
public:
    struct Figures
    {
        double median = 0, min = 0;
        std::map<std::string, double> counters;
    };
    std::map<std::string, Figures> Results; // by benchmark name without the repetitions suffix

    void ReportRuns(const std::vector<Run> &Runs) override
    {
        ConsoleReporter::ReportRuns(Runs);
        for (const Run &r : Runs) {
            if (r.run_type != Run::RT_Aggregate)
                continue;
            std::string name = r.run_name.function_name;
            if (!r.run_name.args.empty())
                name += "/" + r.run_name.args;
            const double ns = r.GetAdjustedCPUTime() * NsPer(r.time_unit);
            Figures &f = Results[name];
            if (r.aggregate_name == "median") {
                f.median = ns;
                for (const auto &[key, counter] : r.counters)
                    f.counters[key] = counter.value;
            } else if (r.aggregate_name == "min") {
                f.min = ns;
            }
        }
    }

    const Figures *Find(const std::string &name) const
    {
        const auto it = Results.find(name);
        return it == Results.end() ? nullptr : &it->second;
    }

    // "a / b: median R (min R)"; nothing when either is missing.
    void PrintRatio(const char *label, const std::string &a, const std::string &b) const
    {
        const Figures *fa = Find(a), *fb = Find(b);
        if (!fa || !fb || fb->median <= 0 || fb->min <= 0)
            return;
        std::printf("%-48s median %6.2fx   min %6.2fx\n", label, fa->median / fb->median, fa->min / fb->min);
    }

private:
    static double NsPer(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kSecond:
            return 1e9;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kMicrosecond:
            return 1e3;
        default:
            return 1.0;
        }
    }
};

} // namespace tvbench
