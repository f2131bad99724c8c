// The main window's one-second tick with the process page shown (the process list's pass read by
// its worker and taken in, the memory counters and cells of the rows in view, the traffic and
// system samples, and the painting they cause, offscreen; the CPU time of all the program's
// threads), at the machine's processes plus 1,000 and plus 3,000 sleeping children; beside it
// the list's refresh pass alone, the floor under that pass (list /proc and read every stat file
// once), and selecting the process page again. CPU time of the process, repetitions in random
// order; printed per process and tick. With --hold, how long the window's thread is held instead
// (see Hold below).

#include "BenchSupport.h"

#include "sysinfo/Processes.h"
#include "sysinfo/SystemStatus.h"
#include "ui/frmMain.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainSystem.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>

namespace {

TFormMain *g_form = nullptr;
// A list of its own beside the window's, for its refresh pass alone.
TProcesses *g_list = nullptr;

// Lists /proc and reads each stat file once: what any monitor must do at least.
std::size_t ReadEveryStat()
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
        std::snprintf(path, sizeof path, "%s/stat", e->d_name);
        const int fd = ::openat(::dirfd(dir), path, O_RDONLY | O_CLOEXEC);
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

void Processes(benchmark::State &state, int count)
{
    state.counters["processes"] = double(count);
}

// The list and the system page are read by their workers: the window runs until the pass, what
// the page asks of the worker after it, and the system page's reading are taken in.
void Settle()
{
    while (!g_form->ProcessPage->Settled() || g_form->SystemPage->objSystemStatus->Refreshing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

void BM_Tick(benchmark::State &state)
{
    for (auto _ : state) {
        g_form->ProcessPage->ProcessTick();
        g_form->NetworkPage->TrafficTick();
        g_form->SystemPage->SystemTick();
        Settle();
    }
    Processes(state, g_form->ProcessPage->objProcesses->GetCount());
}

tvbench::SleepingChildren *g_children = nullptr;
constexpr int kNewPerTick = 100;

// A tick in which 100 processes have ended and 100 new ones started since the last one.
void BM_TickWithNewProcesses(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        g_children->replaceOldest(kNewPerTick);
        ::usleep(20000); // the new children are running their program
        state.ResumeTiming();
        g_form->ProcessPage->ProcessTick();
        g_form->NetworkPage->TrafficTick();
        g_form->SystemPage->SystemTick();
        Settle();
    }
    Processes(state, g_form->ProcessPage->objProcesses->GetCount());
}

void BM_RefreshPass(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(g_list->Refresh());
    Processes(state, g_list->GetCount());
}

void BM_StatFloor(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadEveryStat());
    Processes(state, g_form->ProcessPage->objProcesses->GetCount());
}

void BM_SelectProcessPage(benchmark::State &state)
{
    for (auto _ : state) {
        g_form->btnLeftMenu_ProcessClick(g_form->btnLeftMenu_Process);
        Settle();
    }
    Processes(state, g_form->ProcessPage->objProcesses->GetCount());
}

void Register(int children)
{
    using tvbench::Measured;
    Measured(benchmark::RegisterBenchmark("Tick", BM_Tick)->Arg(children)->Unit(benchmark::kMicrosecond));
    Measured(benchmark::RegisterBenchmark("TickWithNewProcesses", BM_TickWithNewProcesses)
                 ->Arg(children)
                 ->Unit(benchmark::kMicrosecond)
                 ->Iterations(20));
    Measured(benchmark::RegisterBenchmark("RefreshPass", BM_RefreshPass)->Arg(children)->Unit(benchmark::kMicrosecond));
    Measured(benchmark::RegisterBenchmark("StatFloor", BM_StatFloor)->Arg(children)->Unit(benchmark::kMicrosecond));
    Measured(benchmark::RegisterBenchmark("SelectProcessPage", BM_SelectProcessPage)
                 ->Arg(children)
                 ->Unit(benchmark::kMillisecond)
                 ->Iterations(5));
}

void PrintPerProcess(const tvbench::Collector &c, int children)
{
    const std::string n = std::to_string(children);
    std::printf("\n-- the machine's processes + %d sleeping children --\n", children);
    for (const char *name : {"Tick", "RefreshPass", "StatFloor"}) {
        const auto *f = c.Find(std::string(name) + "/" + n);
        if (!f || f->counters.count("processes") == 0 || f->counters.at("processes") <= 0)
            continue;
        const double procs = f->counters.at("processes");
        std::printf("%-18s %6.0f processes: %7.2f us per process and tick (median), %7.2f (min)\n", name, procs,
                    f->median / 1e3 / procs, f->min / 1e3 / procs);
    }
    const auto *tick = c.Find("Tick/" + n), *fresh = c.Find("TickWithNewProcesses/" + n);
    if (tick && fresh)
        std::printf("%-18s %8.1f us CPU per new process (median), %8.1f (min)\n", "new process",
                    (fresh->median - tick->median) / 1e3 / kNewPerTick, (fresh->min - tick->min) / 1e3 / kNewPerTick);
    if (const auto *f = c.Find("SelectProcessPage/" + n))
        std::printf("%-18s %8.1f ms CPU (median), %8.1f ms (min)\n", "page selected", f->median / 1e6, f->min / 1e6);
    c.PrintRatio("refresh pass / its floor (every stat read once)", "RefreshPass/" + n, "StatFloor/" + n);
    c.PrintRatio("whole tick / refresh pass", "Tick/" + n, "RefreshPass/" + n);
}

// --hold [children] [seconds]: the window as the program runs it (its timers on) over the
// machine's processes plus `children` sleeping children (3,000 unless given): the wall time from
// making the window to its first painted frame, then the longest the window's thread stayed away
// from its event loop over `seconds` (20 unless given), as a call posted to it every 10 ms by
// another thread waited, in all and in each second.
int Hold(int Children, int Seconds)
{
    tvbench::SleepingChildren children;
    children.growTo(std::size_t(Children));
    ::sleep(1);
    using Clock = std::chrono::steady_clock;
    const auto made = Clock::now();
    tvbench::FirstPaint paint;
    qApp->installEventFilter(&paint);
    auto form = std::make_unique<TFormMain>();
    form->show();
    while (!paint.Painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    qApp->removeEventFilter(&paint);
    const double appeared = std::chrono::duration<double, std::milli>(Clock::now() - made).count();

    std::vector<double> longest(std::size_t(std::max(1, Seconds)), 0.0);
    const auto start = Clock::now();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0}, answered{0};
    std::thread pinger([&] {
        while (!stop) {
            const auto at = Clock::now();
            ++sent;
            QMetaObject::invokeMethod(
                form.get(),
                [&, at] {
                    const auto now = Clock::now();
                    const auto second = std::size_t(std::chrono::duration<double>(now - start).count());
                    const double late = std::chrono::duration<double, std::milli>(now - at).count();
                    if (second < longest.size())
                        longest[second] = std::max(longest[second], late);
                    ++answered;
                },
                Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    QTimer::singleShot(Seconds * 1000, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    stop = true;
    pinger.join();
    while (answered < sent)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::printf("window shown after %.1f ms at %d processes; the longest hold after: %.1f ms; each second:", appeared,
                form->ProcessPage->objProcesses->GetCount(), *std::max_element(longest.begin(), longest.end()));
    for (const double l : longest)
        std::printf(" %.0f", l);
    std::printf("\n");
    form.reset();
    children.stopAll();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hold") == 0) {
            QApplication app(argc, argv);
            const int children = i + 1 < argc ? std::atoi(argv[i + 1]) : 3000;
            const int seconds = i + 2 < argc ? std::atoi(argv[i + 2]) : 20;
            return Hold(children, seconds);
        }
    }
    std::vector<char *> args = tvbench::DefaultFlags(argc, argv);
    int n = int(args.size());
    QApplication app(n, args.data());
    benchmark::Initialize(&n, args.data());

    tvbench::SleepingChildren children;
    tvbench::Collector collector;
    const int sets[] = {1000, 3000};
    for (const int set : sets) {
        children.growTo(std::size_t(set));
        // The window as the program shows it, its timers stopped: each tick is the benchmark's.
        auto form = std::make_unique<TFormMain>();
        for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem})
            t->stop();
        form->resize(900, 650);
        form->show();
        g_form = form.get();
        Settle();
        TProcesses list;
        // Past the first pass and the deferred completion: the steady state of the timer.
        for (int i = 0; i < 8; ++i)
            list.Refresh();
        g_form = form.get();
        g_list = &list;
        g_children = &children;
        Register(set);
        // TVBENCH_ONLY narrows the run to benchmarks whose name it matches (for a profiler).
        std::string filter = std::getenv("TVBENCH_ONLY") ? std::getenv("TVBENCH_ONLY") : "";
        filter.append(".*/");
        filter.append(std::to_string(set));
        filter.append("(/|$)");
        benchmark::RunSpecifiedBenchmarks(&collector, filter);
        benchmark::ClearRegisteredBenchmarks();
        g_list = nullptr;
        g_form = nullptr;
        form.reset();
    }
    children.stopAll();
    for (const int set : sets)
        PrintPerProcess(collector, set);
    benchmark::Shutdown();
    return 0;
}
