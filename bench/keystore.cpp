// The key store as it grows: parsing a store of 2,000 and of 20,000 keys, and refreshing the
// autorun list with 200 and with 2,000 values under one Run key. Both pairs are measured in the
// same run; the program prints how much the tenfold size costs (linear work gives about 10x).
//
//   bench_keystore [--benchmark_filter=...]
//   TVBENCH_REPETITIONS=N overrides the repetitions (a slow build may want 1).

#include "BenchSupport.h"

#include "platform/registry/KeyStore.h"
#include "sysinfo/Autoruns.h"
#include "sysinfo/Utils.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

const QString kRunKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

QTemporaryDir &Scratch()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/taskvane-bench-XXXXXX"));
    return dir;
}

// A store of `keys` keys below two levels of parents, each key with two values, written as the
// store's own writer writes it (made once per size).
const QByteArray &StoreText(int keys)
{
    static std::map<int, QByteArray> made;
    QByteArray &text = made[keys];
    if (!text.isEmpty())
        return text;
    text = "TASKVANE-KEYSTORE 1\nK \"\"\nK \"Software\"\n";
    for (int v = 0; v < 50; ++v)
        text += "K \"Software\\\\Vendor" + QByteArray::number(v) + "\"\n";
    for (int i = 0; i < keys; ++i) {
        text += "K \"Software\\\\Vendor" + QByteArray::number(i % 50) + "\\\\App" + QByteArray::number(i) + "\"\n";
        text += "V \"Path\" SZ \"/opt/app" + QByteArray::number(i) + "/bin\"\n";
        text += "V \"Count\" DWORD " + QByteArray::number(i) + "\n";
    }
    return text;
}

void BM_Parse(benchmark::State &state)
{
    const QByteArray &text = StoreText(int(state.range(0)));
    for (auto _ : state) {
        auto store = platform::registry::Store::Parse(text);
        if (!store)
            state.SkipWithError("the store did not parse");
        benchmark::DoNotOptimize(store);
    }
}

// A registry folder per size, filled once: HKEY_CURRENT_USER's Run key holds `values` values.
QString RegistryDir(int values)
{
    static std::map<int, QString> made;
    const auto it = made.find(values);
    if (it != made.end())
        return it->second;
    const QString dir = Scratch().filePath(QStringLiteral("registry-%1").arg(values));
    QDir().mkpath(dir);
    qputenv("TASKVANE_REGISTRY_DIR", QFile::encodeName(dir));
    // One write of the whole key: the store's own writer would make this setup quadratic.
    using namespace platform::registry;
    platform::registry::Modify(RootKey::CurrentUser, [&](Store &store) {
        Key &k = store.CreateKey(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
        for (int i = 0; i < values; ++i)
            k.Add({QStringLiteral("agent%1").arg(i), ValueType::String, QStringLiteral("/bin/true --n %1").arg(i), 0});
        return Edit::Write;
    });
    made[values] = dir;
    return dir;
}

void BM_AutorunsRefresh(benchmark::State &state)
{
    const int values = int(state.range(0));
    const QString dir = RegistryDir(values);
    qputenv("TASKVANE_REGISTRY_DIR", QFile::encodeName(dir));
    TAutoruns list;
    for (auto _ : state) {
        list.Refresh();
        if (list.GetCount() != values)
            state.SkipWithError("the Run values were not all listed");
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<char *> args = tvbench::DefaultFlags(argc, argv);
    int n = int(args.size());
    QCoreApplication app(n, args.data());
    benchmark::Initialize(&n, args.data());

    // The autostart folders and the user's folders are empty stand-ins of the run's own.
    const QString root = Scratch().path();
    for (const char *sub : {"config", "xdg", "data", "home"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(root + QStringLiteral("/xdg")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));

    int repetitions = 9;
    if (const char *r = std::getenv("TVBENCH_REPETITIONS"); r && std::atoi(r) > 0)
        repetitions = std::atoi(r);
    using tvbench::Measured;
    Measured(benchmark::RegisterBenchmark("Parse", BM_Parse)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond),
             repetitions);
    Measured(benchmark::RegisterBenchmark("AutorunsRefresh", BM_AutorunsRefresh)
                 ->Arg(200)
                 ->Arg(2000)
                 ->Unit(benchmark::kMillisecond),
             repetitions);

    tvbench::Collector c;
    benchmark::RunSpecifiedBenchmarks(&c);
    std::printf("\n");
    for (const char *name : {"Parse/2000", "Parse/20000", "AutorunsRefresh/200", "AutorunsRefresh/2000"}) {
        if (const auto *f = c.Find(name))
            std::printf("%-22s %10.3f ms (median), %10.3f ms (min)\n", name, f->median / 1e6, f->min / 1e6);
    }
    c.PrintRatio("parse 20,000 keys / 2,000 keys (goal <= 12x)", "Parse/20000", "Parse/2000");
    c.PrintRatio("autoruns 2,000 values / 200 values (goal <= 12x)", "AutorunsRefresh/2000", "AutorunsRefresh/200");
    benchmark::Shutdown();
    return 0;
}
