// Start-up to a shown main window: the window made over the machine's processes (plus 1,000
// sleeping children), shown, and the event loop run until a frame with its process rows is
// painted. CPU time of the process, repetitions in random order, printed per listed process.
//
// With --first-frame the program instead starts once as the real one does, under whatever
// display QT_QPA_PLATFORM names, and prints the wall-clock time from its start (or from the
// CLOCK_MONOTONIC nanoseconds in TVBENCH_SPAWNED_NS, set by whoever started it) to its first
// painted frame with the rows, and the CPU time it had used by then: the figure to set beside
// another program's first frame; and the same for the window's first frame, before its rows.

#include "BenchSupport.h"

#include "sysinfo/Processes.h"
#include "ui/frmMain.h"
#include "ui/frmMainProcess.h"

#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>

namespace {

// Runs the window until it has painted a frame that shows the process rows (the list is read
// beside the window, which shows before its rows are in); `Shown`, when given, runs at its first
// painted frame.
std::unique_ptr<TFormMain> ShowWindow(const std::function<void()> &Shown = {})
{
    tvbench::FirstPaint paint;
    qApp->installEventFilter(&paint);
    auto form = std::make_unique<TFormMain>();
    for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem})
        t->stop();
    form->show();
    while (!paint.Painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (Shown)
        Shown();
    while (form->ProcessPage->lvProcesses->topLevelItemCount() == 0 || !form->ProcessPage->Settled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    paint.Painted = false;
    form->ProcessPage->lvProcesses->viewport()->update();
    while (!paint.Painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    qApp->removeEventFilter(&paint);
    return form;
}

void BM_StartUp(benchmark::State &state)
{
    int processes = 0;
    for (auto _ : state) {
        auto form = ShowWindow();
        state.PauseTiming();
        processes = form->ProcessPage->objProcesses->GetCount();
        form.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["processes"] = processes;
}

double Seconds(clockid_t clock)
{
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The process's start as seconds of the boot clock (10 ms steps), from its stat file.
double ProcessStartBoottime()
{
    FILE *f = std::fopen("/proc/self/stat", "r");
    if (!f)
        return 0;
    char buf[1024] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    const char *p = std::strrchr(buf, ')');
    if (!p || n == 0)
        return 0;
    // Field 22 is the start time; the text after ')' begins with field 3.
    int field = 2;
    for (++p; *p && field < 22; ++p) {
        if (*p == ' ')
            ++field;
    }
    return double(std::strtoull(p, nullptr, 10)) / double(::sysconf(_SC_CLK_TCK));
}

int FirstFrame(int argc, char **argv)
{
    const char *spawned = std::getenv("TVBENCH_SPAWNED_NS");
    const double startMono = spawned ? double(std::strtoull(spawned, nullptr, 10)) / 1e9 : 0;
    const double startBoot = ProcessStartBoottime();
    QApplication app(argc, argv);
    auto since = [&] { return spawned ? Seconds(CLOCK_MONOTONIC) - startMono : Seconds(CLOCK_BOOTTIME) - startBoot; };
    double window = 0, windowCpu = 0;
    auto form = ShowWindow([&] {
        window = since();
        windowCpu = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    });
    const double wall = since();
    std::printf("first frame: %.1f ms wall, %.1f ms CPU, %d processes (the window before its rows: %.1f ms wall, "
                "%.1f ms CPU)\n",
                wall * 1e3, Seconds(CLOCK_PROCESS_CPUTIME_ID) * 1e3, form->ProcessPage->objProcesses->GetCount(),
                window * 1e3, windowCpu * 1e3);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--first-frame") == 0)
            return FirstFrame(argc, argv);
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<char *> args = tvbench::DefaultFlags(argc, argv);
    int n = int(args.size());
    QApplication app(n, args.data());
    benchmark::Initialize(&n, args.data());
    tvbench::SleepingChildren children;
    children.growTo(1000);
    tvbench::Measured(benchmark::RegisterBenchmark("StartUp", BM_StartUp)->Unit(benchmark::kMillisecond)->Iterations(3),
                      7);
    tvbench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    children.stopAll();
    if (const auto *f = collector.Find("StartUp"); f && f->counters.count("processes")) {
        const double procs = f->counters.at("processes");
        std::printf("\nstart-up to a shown window at %.0f processes: %.1f ms CPU (median), %.1f ms (min); "
                    "%.1f us per process (median)\n",
                    procs, f->median / 1e6, f->min / 1e6, f->median / 1e3 / procs);
    }
    benchmark::Shutdown();
    return 0;
}
