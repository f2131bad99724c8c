// The dictionary look-up as the process page does it (LookupProcess opens the file, builds
// the table's lists, locates and closes, on every call) beside the same look-ups in an
// in-memory SQLite table with an index on the name. Also the two halves of our look-up,
// opening and locating, so that the report shows where the time goes.

#include "dictdb/DBTools.h"
#include "dictdb/DictTable.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <map>
#include <string>

namespace {

const QString kShipped = QStringLiteral(TASKVANE_BIN_DIR "/Ravel.db");

// Every name of the shipped list, then as many names that are not in it.
QStringList &Names()
{
    static QStringList names = [] {
        QStringList out;
        QFile f(QStringLiteral(TASKVANE_SOURCE_DIR "/resources/dictionary/processes.txt"));
        if (f.open(QIODevice::ReadOnly))
            for (const QString &line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
                if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
                    out << line.section(QLatin1Char('\t'), 0, 0);
        const qsizetype known = out.size();
        for (qsizetype i = 0; i < known; ++i)
            out << QStringLiteral("absent-%1").arg(out.at(i));
        return out;
    }();
    return names;
}

void BM_LookupProcess(benchmark::State &state)
{
    QString version;
    GetDictVersionIn(kShipped, version);
    if (version == QLatin1String("0000-00-00")) {
        state.SkipWithError("no generated dictionary");
        return;
    }
    const QStringList &names = Names();
    qsizetype i = 0, hits = 0;
    QString desc;
    bool virus = false;
    for (auto _ : state) {
        hits += LookupProcess(names.at(i), desc, virus) ? 1 : 0;
        i = (i + 1) % names.size();
    }
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}

// One open and close of the "Process" table: the fixed part of every look-up.
void BM_OpenClose(benchmark::State &state)
{
    TDictTable t;
    t.SetDatabaseName(kShipped);
    t.SetTableName(QStringLiteral("Process"));
    for (auto _ : state) {
        t.Open();
        t.Close();
    }
}

// The locate alone, on a table that stays open.
void BM_LocateOpenTable(benchmark::State &state)
{
    TDictTable t;
    t.SetDatabaseName(kShipped);
    t.SetTableName(QStringLiteral("Process"));
    t.Open();
    const QStringList &names = Names();
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.Locate(QStringLiteral("ProcessName"), names.at(i).toLower(), loCaseInsensitive));
        i = (i + 1) % names.size();
    }
}

void BM_SQLite(benchmark::State &state)
{
    sqlite3 *db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db, "CREATE TABLE process(name TEXT PRIMARY KEY COLLATE NOCASE, description TEXT, virus INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO process VALUES(?, ?, ?)", -1, &ins, nullptr);
    const QStringList &names = Names();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (qsizetype i = 0; i < names.size() / 2; ++i) {
        const QByteArray n = names.at(i).toLower().toUtf8();
        sqlite3_bind_text(ins, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, "description", -1, SQLITE_STATIC);
        sqlite3_bind_int(ins, 3, 0);
        sqlite3_step(ins);
        sqlite3_reset(ins);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(ins);
    sqlite3_stmt *q = nullptr;
    sqlite3_prepare_v2(db, "SELECT description, virus FROM process WHERE name = ?", -1, &q, nullptr);
    qsizetype i = 0, hits = 0;
    for (auto _ : state) {
        const QByteArray n = names.at(i).toLower().toUtf8();
        sqlite3_bind_text(q, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(q) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(q, 0));
            ++hits;
        }
        sqlite3_reset(q);
        i = (i + 1) % names.size();
    }
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
    sqlite3_finalize(q);
    sqlite3_close(db);
}

BENCHMARK(BM_LookupProcess);
BENCHMARK(BM_OpenClose);
BENCHMARK(BM_LocateOpenTable);
BENCHMARK(BM_SQLite);

// Keeps the time per iteration of every run for the closing comparison.
class Reporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> NsPerLookup;
    void ReportRuns(const std::vector<Run> &Runs) override
    {
        for (const Run &r : Runs)
            if (r.iterations > 0)
                NsPerLookup[r.benchmark_name()] = r.GetAdjustedRealTime()
                                                  * (r.time_unit == benchmark::kMicrosecond   ? 1e3
                                                     : r.time_unit == benchmark::kMillisecond ? 1e6
                                                                                              : 1.0);
        ConsoleReporter::ReportRuns(Runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto &t = reporter.NsPerLookup;
    const auto get = [&](const char *n) {
        const auto it = t.find(n);
        return it == t.end() ? 0.0 : it->second;
    };
    const double ours = get("BM_LookupProcess"), lite = get("BM_SQLite");
    if (ours > 0 && lite > 0)
        std::printf("\nLookupProcess %.0f ns per look-up, SQLite %.0f ns: ratio %.1f\n"
                    "of which opening and closing the table %.0f ns, the locate on an open table %.0f ns\n",
                    ours, lite, ours / lite, get("BM_OpenClose"), get("BM_LocateOpenTable"));
    benchmark::Shutdown();
    return 0;
}
