// The services page's whole list read at 1,000 services: `TServices::Reload` beside
// `SYSTEMCTL_FORCE_BUS=1 systemctl --user show` of the same units and properties, through the same
// message bus, against a real systemd user manager that this program starts in namespaces of its
// own (as the service tests do; needs root) with 1,000 active oneshot services. Each side's figure
// is its CPU time (the reading process, plus the manager and the bus daemon, whose cgroup's usage
// is read before and after) and its wall time; repetitions interleaved in random order. Printed at
// the end: the medians, the ratios of the two sides, and the messages the list sends per service.
// The program's first listing, which meets the manager as it was started, is measured once before
// the repetitions and printed beside systemctl show too.
//
//   bench_services [--benchmark_repetitions=N]

#include "BenchSupport.h"

#include "platform/services/ServiceManager.h"
#include "sysinfo/Services.h"
#include "sysinfo_services/RealManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

constexpr int kServices = 1000;

realsd::UserManager *g_manager = nullptr;
QStringList g_units; // the manager's service units, as systemctl is given them
// The properties the list reads (its rows and the details panel), as systemctl is asked them.
const char *const kProperties = "Id,Description,LoadState,ActiveState,FreezerState,Job,Documentation,CanStop,"
                                "CanFreeze,RequiredBy,BoundBy,WantedBy,UnitFileState,ExecStart,User,MainPID";

struct Sample
{
    double cpu = 0, wall = 0; // seconds
};
std::map<std::string, std::vector<Sample>> g_samples;
// Once each, against a manager just started: the program's first listing, and systemctl's first
// show on a second manager (the manager reckons each unit's file state once, on the first question,
// for whoever asks).
Sample g_first, g_firstSystemctl;
double g_messagesPerService = 0;

double ProcessCpu()
{
    timespec ts = {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The CPU time of the manager and everything it runs (its bus daemon among them).
double ManagerCpu()
{
    QFile stat(g_manager->cgroup() + QStringLiteral("/cpu.stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : stat.readAll().split('\n'))
        if (line.startsWith("usage_usec "))
            return line.mid(11).toDouble() / 1e6;
    return 0;
}

class CallCounter : public platform::services::CallObserver
{
public:
    std::atomic<int> Calls{0};
    void Sent(const QString &, const QString &) override { ++Calls; }
    void Answered(const QString &, const QString &) override {}
};

void Services_Reload(benchmark::State &state)
{
    TServices list;
    CallCounter counter;
    for (auto _ : state) {
        QElapsedTimer wall;
        const double ownBefore = ProcessCpu(), managerBefore = ManagerCpu();
        wall.start();
        platform::services::SetCallObserver(&counter);
        list.Reload();
        platform::services::SetCallObserver(nullptr);
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        const double cpu = ProcessCpu() - ownBefore + ManagerCpu() - managerBefore;
        state.SetIterationTime(seconds);
        if (list.GetCount() < kServices)
            state.SkipWithError("the list misses services");
        g_samples["reload"].push_back({cpu, seconds});
        g_messagesPerService = double(counter.Calls.exchange(0)) / double(list.GetCount());
    }
}

// One `systemctl show` of every unit, its output thrown away; false when it fails.
bool RunSystemctl(Sample &Out)
{
    const QString systemctl = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    std::vector<std::string> argv = {systemctl.toStdString(), "--user", "--no-pager", "show", "-p", kProperties};
    for (const QString &u : g_units)
        argv.push_back(u.toStdString());
    const std::string address =
        "DBUS_SESSION_BUS_ADDRESS=" + qEnvironmentVariable(platform::services::kBusAddressVariable).toStdString();
    std::vector<std::string> env = {"SYSTEMCTL_FORCE_BUS=1", address, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    std::vector<char *> args, envp;
    for (std::string &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer wall;
    const double managerBefore = ManagerCpu();
    wall.start();
    pid_t pid = 0;
    const bool spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned)
        return false;
    int status = 0;
    rusage usage = {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    Out.wall = double(wall.nsecsElapsed()) / 1e9;
    const double own = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    Out.cpu = own + ManagerCpu() - managerBefore;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Systemctl_Show(benchmark::State &state)
{
    for (auto _ : state) {
        Sample sample;
        if (!RunSystemctl(sample)) {
            state.SkipWithError("systemctl failed");
            break;
        }
        state.SetIterationTime(sample.wall);
        g_samples["systemctl"].push_back(sample);
    }
}

BENCHMARK(Services_Reload)->Iterations(1)->Repetitions(7)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Systemctl_Show)->Iterations(1)->Repetitions(7)->UseManualTime()->Unit(benchmark::kMillisecond);

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A manager with its services started, in g_manager; 0 when it runs, otherwise the exit code.
int StartManager()
{
    delete g_manager;
    g_manager = new realsd::UserManager(kServices);
    if (!g_manager->skipReason().isEmpty()) {
        std::printf("no private systemd user manager: %s\n", qPrintable(g_manager->skipReason()));
        return 2;
    }
    if (!g_manager->settle(300000)) {
        std::printf("the manager did not start its services in time\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (const int code = StartManager()) {
        delete g_manager;
        return code == 2 ? 0 : code;
    }
    {
        TServices list;
        QElapsedTimer wall;
        const double ownBefore = ProcessCpu(), managerBefore = ManagerCpu();
        wall.start();
        list.Reload();
        g_first = {ProcessCpu() - ownBefore + ManagerCpu() - managerBefore, double(wall.nsecsElapsed()) / 1e9};
        std::printf("first listing: CPU %.1f ms, wall %.1f ms\n", g_first.cpu * 1e3, g_first.wall * 1e3);
        if (list.RefreshFailed())
            std::printf("the list cannot be read\n");
        for (int i = 0; i < list.GetCount(); ++i)
            g_units.append(list.GetItem(i)->Name + QStringLiteral(".service"));
        std::printf("%lld services\n", static_cast<long long>(g_units.size()));
    }
    if (const int code = StartManager()) {
        delete g_manager;
        return code;
    }
    if (!RunSystemctl(g_firstSystemctl))
        std::printf("systemctl failed\n");
    std::printf("first systemctl show: CPU %.1f ms, wall %.1f ms\n", g_firstSystemctl.cpu * 1e3,
                g_firstSystemctl.wall * 1e3);

    {
        // systemctl answers for every unit (it is measured with its output thrown away).
        QProcess check;
        QProcessEnvironment env;
        env.insert(QStringLiteral("SYSTEMCTL_FORCE_BUS"), QStringLiteral("1"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   qEnvironmentVariable(platform::services::kBusAddressVariable));
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        check.setProcessEnvironment(env);
        check.start(QStandardPaths::findExecutable(QStringLiteral("systemctl")),
                    QStringList{QStringLiteral("--user"), QStringLiteral("--no-pager"), QStringLiteral("show"),
                                QStringLiteral("-p"), QString::fromLatin1(kProperties)} +
                        g_units);
        check.waitForFinished(120000);
        const QByteArray out = check.readAllStandardOutput();
        std::printf("systemctl show: exit %d, %lld units shown; %s\n", check.exitCode(),
                    static_cast<long long>(out.count("\nId=") + (out.startsWith("Id=") ? 1 : 0)),
                    check.readAllStandardError().left(300).constData());
    }

    std::vector<char *> args = tvbench::DefaultFlags(argc, argv);
    int n = int(args.size());
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();

    std::map<std::string, Sample> median;
    for (auto &[name, samples] : g_samples) {
        std::vector<double> cpu, wall;
        for (const Sample &s : samples) {
            cpu.push_back(s.cpu);
            wall.push_back(s.wall);
        }
        median[name] = {Median(cpu), Median(wall)};
        std::printf("%-10s CPU (reader + manager + bus) %8.1f ms   wall %8.1f ms   (median of %zu)\n", name.c_str(),
                    median[name].cpu * 1e3, median[name].wall * 1e3, samples.size());
    }
    const Sample &r = median["reload"], &s = median["systemctl"];
    std::printf("%-10s CPU (reader + manager + bus) %8.1f ms   wall %8.1f ms   (once)\n", "first", g_first.cpu * 1e3,
                g_first.wall * 1e3);
    std::printf("%-10s CPU (reader + manager + bus) %8.1f ms   wall %8.1f ms   (once)\n", "first show",
                g_firstSystemctl.cpu * 1e3, g_firstSystemctl.wall * 1e3);
    if (s.cpu > 0 && s.wall > 0) {
        std::printf("TServices::Reload / systemctl show:        CPU %.2fx   wall %.2fx\n", r.cpu / s.cpu,
                    r.wall / s.wall);
        std::printf("first listing / systemctl show:            CPU %.2fx   wall %.2fx\n", g_first.cpu / s.cpu,
                    g_first.wall / s.wall);
    }
    if (g_firstSystemctl.cpu > 0 && g_firstSystemctl.wall > 0)
        std::printf("first listing / first systemctl show:      CPU %.2fx   wall %.2fx\n",
                    g_first.cpu / g_firstSystemctl.cpu, g_first.wall / g_firstSystemctl.wall);
    std::printf("messages the list sends per service: %.2f\n", g_messagesPerService);
    benchmark::Shutdown();
    delete g_manager;
    return 0;
}
