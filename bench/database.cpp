// The table data set against SQLite 3 on the same workload, measured in the same run: a
// table with an integer key under a unique index, two 30-character texts, a float and a
// date. SQLite runs with synchronous=OFF and one statement per transaction (autocommit), the
// fair match for an engine that commits each Post and does not sync, once with a rollback
// journal and once in WAL mode (its fastest mode that a killed process cannot damage); all
// sides reuse their prepared statement or field objects.
//
// Every operation runs on a table of 1,000 and of 100,000 records. At the end the program
// prints, per operation, the CPU time per operation of the engine and of SQLite in both modes
// with the engine's ratio to each, and the growth of each one's per-operation cost from the
// small to the large table.
//
//   bench_database [--benchmark_filter=...] [--benchmark_repetitions=N]

#include "dictdb/DictDBCreator.h"
#include "dictdb/DictTable.h"
#include "dictdb/DictTableIO.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kSmall = 1000;
constexpr int kLarge = 100000;
constexpr int kMoreRows = 1000; // rows added to a filled table
const char *const kFilter = "Name LIKE '%abc%' AND Score > 100";
const char *const kSqlFilter = "SELECT id, name, score FROM t WHERE name LIKE '%abc%' AND score > 100";

QTemporaryDir &Scratch()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/taskvane-bench-XXXXXX"));
    return dir;
}

// The rows: keys 0, 2, 4, ... in a shuffled order; odd keys are free for more inserts.
struct Row
{
    qint32 Id;
    QByteArray Name, City;
    double Score;
    int BornDay;
};

QByteArray Text30(std::mt19937 &rng, bool withAbc)
{
    QByteArray s(30, 'a');
    for (char &c : s)
        c = char('a' + rng() % 26);
    // The searched text never turns up by chance, only where it is planted.
    for (int i = 0; i + 2 < s.size(); ++i)
        if (s.mid(i, 3) == "abc")
            s[i] = 'x';
    if (withAbc)
        s.replace(int(rng() % 27), 3, "abc");
    return s;
}

std::vector<Row> MakeRows(int Count, int KeyBase, int KeyStep, unsigned Seed)
{
    std::mt19937 rng(Seed);
    std::vector<Row> rows(static_cast<size_t>(Count));
    for (int i = 0; i < Count; ++i) {
        Row &r = rows[size_t(i)];
        r.Id = KeyBase + i * KeyStep;
        r.Name = Text30(rng, rng() % 50 == 0);
        r.City = Text30(rng, false);
        r.Score = double(rng() % 20000) / 100.0;
        r.BornDay = 700000 + int(rng() % 20000);
    }
    std::shuffle(rows.begin(), rows.end(), rng);
    return rows;
}

const std::vector<Row> &TableRows(int N)
{
    static std::map<int, std::vector<Row>> cache;
    auto it = cache.find(N);
    if (it == cache.end())
        it = cache.emplace(N, MakeRows(N, 0, 2, 7u + unsigned(N))).first;
    return it->second;
}

const std::vector<Row> &MoreRows(int N)
{
    static std::map<int, std::vector<Row>> cache;
    auto it = cache.find(N);
    if (it == cache.end())
        it = cache.emplace(N, MakeRows(kMoreRows, 1, 2 * (N / kMoreRows > 0 ? N / kMoreRows : 1), 99u)).first;
    return it->second;
}

// The keys an operation touches: existing keys in a random order.
std::vector<qint32> SomeKeys(int N, int Count)
{
    std::vector<qint32> keys;
    for (const Row &r : TableRows(N))
        keys.push_back(r.Id);
    std::mt19937 rng(12345u + unsigned(N));
    std::shuffle(keys.begin(), keys.end(), rng);
    keys.resize(size_t(Count));
    return keys;
}

int OpsOf(int N)
{
    return N / 10;
}

void CopyFile(const QString &From, const QString &To)
{
    QFile::remove(To);
    if (!QFile::copy(From, To))
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(From));
    QFile::setPermissions(To, QFile::ReadOwner | QFile::WriteOwner);
}

// ---------------------------------------------------------------- the engine

TDictDBFileLayout Layout()
{
    TDictDBTableLayout t;
    t.Name = QStringLiteral("T");
    t.Fields = {{QStringLiteral("ID"), ftInteger, 0, 0},
                {QStringLiteral("Name"), ftString, 30, 0},
                {QStringLiteral("City"), ftString, 30, 0},
                {QStringLiteral("Score"), ftFloat, 0, 0},
                {QStringLiteral("Born"), ftDate, 0, 0}};
    t.Indexes = {{QStringLiteral("ById"), TTDIndexOptions(tiPrimary) | tiUnique, {QStringLiteral("ID")}}};
    TDictDBFileLayout layout;
    layout.Tables = {t};
    return layout;
}

class DictTable
{
public:
    explicit DictTable(const QString &Path)
    {
        t.SetDatabaseName(Path);
        t.SetTableName(QStringLiteral("T"));
        t.Open();
        id = t.FieldByName(QStringLiteral("ID"));
        name = t.FieldByName(QStringLiteral("Name"));
        city = t.FieldByName(QStringLiteral("City"));
        score = t.FieldByName(QStringLiteral("Score"));
        born = t.FieldByName(QStringLiteral("Born"));
    }
    void Insert(const Row &r)
    {
        t.Append();
        id->SetAsInteger(r.Id);
        name->SetAsString(QString::fromLatin1(r.Name));
        city->SetAsString(QString::fromLatin1(r.City));
        score->SetAsFloat(r.Score);
        born->SetAsDateTime(TDateTime(r.BornDay - 693594));
        t.Post();
    }
    bool Locate(qint32 Key) { return t.Locate(QStringLiteral("ID"), Key, {}); }

    TDictTable t;
    TField *id, *name, *city, *score, *born;
};

QString DictTemplate(int N)
{
    static std::map<int, QString> made;
    if (made.count(N))
        return made[N];
    const QString path = Scratch().filePath(QStringLiteral("dict-%1.db").arg(N));
    CreateDictDBFile(path, Layout());
    {
        DictTable d(path);
        for (const Row &r : TableRows(N))
            d.Insert(r);
    }
    made[N] = path;
    return path;
}

QString DictWorkFile(int N)
{
    const QString work = Scratch().filePath(QStringLiteral("dict-work.db"));
    if (N == 0) {
        QFile::remove(work);
        CreateDictDBFile(work, Layout());
    } else {
        CopyFile(DictTemplate(N), work);
    }
    return work;
}

// ---------------------------------------------------------------- SQLite

// SQLite's journal: a rollback journal, or a write-ahead log.
enum class Journal { Rollback, Wal };

class Lite
{
public:
    explicit Lite(const QString &Path, Journal Mode = Journal::Rollback)
    {
        sqlite3_open(QFile::encodeName(Path).constData(), &db);
        Exec(Mode == Journal::Wal ? "PRAGMA journal_mode=WAL" : "PRAGMA journal_mode=DELETE");
        Exec("PRAGMA synchronous=OFF");
        Exec("CREATE TABLE IF NOT EXISTS t(id INTEGER NOT NULL, name TEXT, city TEXT, score REAL, born INTEGER)");
        Exec("CREATE UNIQUE INDEX IF NOT EXISTS t_id ON t(id)");
        sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?, ?, ?, ?)", -1, &ins, nullptr);
        sqlite3_prepare_v2(db, "UPDATE t SET name = ?, score = ? WHERE id = ?", -1, &upd, nullptr);
        sqlite3_prepare_v2(db, "SELECT name, score FROM t WHERE id = ?", -1, &sel, nullptr);
        sqlite3_prepare_v2(db, kSqlFilter, -1, &scan, nullptr);
        sqlite3_prepare_v2(db, "DELETE FROM t WHERE id = ?", -1, &del, nullptr);
    }
    ~Lite()
    {
        for (sqlite3_stmt *s : {ins, upd, sel, scan, del})
            sqlite3_finalize(s);
        sqlite3_close(db);
    }
    void Exec(const char *Sql) { sqlite3_exec(db, Sql, nullptr, nullptr, nullptr); }
    static void Run(sqlite3_stmt *S)
    {
        while (sqlite3_step(S) == SQLITE_ROW) {
        }
        sqlite3_reset(S);
    }
    void Insert(const Row &r)
    {
        sqlite3_bind_int(ins, 1, r.Id);
        sqlite3_bind_text(ins, 2, r.Name.constData(), int(r.Name.size()), SQLITE_STATIC);
        sqlite3_bind_text(ins, 3, r.City.constData(), int(r.City.size()), SQLITE_STATIC);
        sqlite3_bind_double(ins, 4, r.Score);
        sqlite3_bind_int(ins, 5, r.BornDay);
        Run(ins);
    }

    sqlite3 *db = nullptr;
    sqlite3_stmt *ins = nullptr, *upd = nullptr, *sel = nullptr, *scan = nullptr, *del = nullptr;
};

QString LiteTemplate(int N)
{
    static std::map<int, QString> made;
    if (made.count(N))
        return made[N];
    const QString path = Scratch().filePath(QStringLiteral("lite-%1.db").arg(N));
    QFile::remove(path);
    {
        Lite l(path);
        l.Exec("BEGIN");
        for (const Row &r : TableRows(N))
            l.Insert(r);
        l.Exec("COMMIT");
    }
    made[N] = path;
    return path;
}

QString LiteWorkFile(int N)
{
    const QString work = Scratch().filePath(QStringLiteral("lite-work.db"));
    for (const char *side : {"-journal", "-wal", "-shm"})
        QFile::remove(work + QLatin1String(side));
    if (N == 0)
        QFile::remove(work);
    else
        CopyFile(LiteTemplate(N), work);
    return work;
}

// ---------------------------------------------------------------- the operations

// Operations per iteration, kept with the run for the per-operation figures.
void Note(benchmark::State &State, double Ops)
{
    State.counters["ops"] = Ops;
}

// Runs Body once per iteration on the table Open makes; the opening (a fresh copy of the
// filled file) and the closing stay outside the timing.
template <class Open, class Body>
void EachIteration(benchmark::State &state, Open &&open, Body &&body)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto table = open();
        state.ResumeTiming();
        body(*table);
        state.PauseTiming();
        table.reset();
        state.ResumeTiming();
    }
}

auto OpenDict(int N)
{
    return [N] { return std::make_unique<DictTable>(DictWorkFile(N)); };
}

auto OpenLite(int N, Journal Mode)
{
    return [N, Mode] { return std::make_unique<Lite>(LiteWorkFile(N), Mode); };
}

void Dict_Insert(benchmark::State &state)
{
    const int n = int(state.range(0));
    EachIteration(state, OpenDict(0), [&](DictTable &d) {
        for (const Row &r : TableRows(n))
            d.Insert(r);
    });
    Note(state, n);
}

void LiteInsert(benchmark::State &state, Journal Mode)
{
    const int n = int(state.range(0));
    EachIteration(state, OpenLite(0, Mode), [&](Lite &l) {
        for (const Row &r : TableRows(n))
            l.Insert(r);
    });
    Note(state, n);
}

void Dict_InsertMore(benchmark::State &state)
{
    const int n = int(state.range(0));
    EachIteration(state, OpenDict(n), [&](DictTable &d) {
        for (const Row &r : MoreRows(n))
            d.Insert(r);
    });
    Note(state, kMoreRows);
}

void LiteInsertMore(benchmark::State &state, Journal Mode)
{
    const int n = int(state.range(0));
    EachIteration(state, OpenLite(n, Mode), [&](Lite &l) {
        for (const Row &r : MoreRows(n))
            l.Insert(r);
    });
    Note(state, kMoreRows);
}

void Dict_Update(benchmark::State &state)
{
    const int n = int(state.range(0));
    const std::vector<qint32> keys = SomeKeys(n, OpsOf(n));
    EachIteration(state, OpenDict(n), [&](DictTable &d) {
        for (qint32 k : keys) {
            if (!d.Locate(k))
                state.SkipWithError("key not found");
            d.t.Edit();
            d.name->SetAsString(QStringLiteral("updated name %1").arg(k));
            d.score->SetAsFloat(double(k % 1000));
            d.t.Post();
        }
    });
    Note(state, double(keys.size()));
}

void LiteUpdate(benchmark::State &state, Journal Mode)
{
    const int n = int(state.range(0));
    const std::vector<qint32> keys = SomeKeys(n, OpsOf(n));
    EachIteration(state, OpenLite(n, Mode), [&](Lite &l) {
        for (qint32 k : keys) {
            const QByteArray name = QStringLiteral("updated name %1").arg(k).toLatin1();
            sqlite3_bind_text(l.upd, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_double(l.upd, 2, double(k % 1000));
            sqlite3_bind_int(l.upd, 3, k);
            Lite::Run(l.upd);
        }
    });
    Note(state, double(keys.size()));
}

void Dict_Lookup(benchmark::State &state)
{
    const int n = int(state.range(0));
    const std::vector<qint32> keys = SomeKeys(n, OpsOf(n));
    EachIteration(state, OpenDict(n), [&](DictTable &d) {
        double sum = 0;
        for (qint32 k : keys) {
            if (!d.Locate(k))
                state.SkipWithError("key not found");
            sum += d.score->AsFloat() + double(d.name->AsString().size());
        }
        benchmark::DoNotOptimize(sum);
    });
    Note(state, double(keys.size()));
}

void LiteLookup(benchmark::State &state, Journal Mode)
{
    const int n = int(state.range(0));
    const std::vector<qint32> keys = SomeKeys(n, OpsOf(n));
    EachIteration(state, OpenLite(n, Mode), [&](Lite &l) {
        double sum = 0;
        for (qint32 k : keys) {
            sqlite3_bind_int(l.sel, 1, k);
            if (sqlite3_step(l.sel) != SQLITE_ROW)
                state.SkipWithError("key not found");
            sum += sqlite3_column_double(l.sel, 1) +
                double(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(l.sel, 0))).size());
            sqlite3_reset(l.sel);
        }
        benchmark::DoNotOptimize(sum);
    });
    Note(state, double(keys.size()));
}

// Matching rows found by each side, compared at the end.
std::map<int, std::pair<int, int>> &ScanHits()
{
    static std::map<int, std::pair<int, int>> hits;
    return hits;
}

void Dict_Scan(benchmark::State &state)
{
    const int n = int(state.range(0));
    const auto open = [n] {
        auto d = std::make_unique<DictTable>(DictWorkFile(n));
        d->t.SetFilterOptionsValue(TDataSetFilterOptions(dfoCaseInsensitive));
        d->t.SetFilter(QString::fromLatin1(kFilter));
        return d;
    };
    EachIteration(state, open, [&](DictTable &d) {
        d.t.SetFilteredValue(true);
        int hits = 0;
        double sum = 0;
        for (d.t.First(); !d.t.Eof(); d.t.Next()) {
            sum += d.score->AsFloat() + d.id->AsInteger() + double(d.name->AsString().size());
            ++hits;
        }
        benchmark::DoNotOptimize(sum);
        ScanHits()[n].first = hits;
    });
    Note(state, n);
}

void LiteScan(benchmark::State &state, Journal Mode)
{
    const int n = int(state.range(0));
    EachIteration(state, OpenLite(n, Mode), [&](Lite &l) {
        int hits = 0;
        double sum = 0;
        while (sqlite3_step(l.scan) == SQLITE_ROW) {
            sum += sqlite3_column_double(l.scan, 2) + sqlite3_column_int(l.scan, 0) +
                double(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(l.scan, 1))).size());
            ++hits;
        }
        sqlite3_reset(l.scan);
        benchmark::DoNotOptimize(sum);
        ScanHits()[n].second = hits;
    });
    Note(state, n);
}

void Dict_Delete(benchmark::State &state)
{
    const int n = int(state.range(0));
    const std::vector<qint32> keys = SomeKeys(n, OpsOf(n));
    EachIteration(state, OpenDict(n), [&](DictTable &d) {
        for (qint32 k : keys) {
            if (!d.Locate(k))
                state.SkipWithError("key not found");
            d.t.Delete();
        }
    });
    Note(state, double(keys.size()));
}

void LiteDelete(benchmark::State &state, Journal Mode)
{
    const int n = int(state.range(0));
    const std::vector<qint32> keys = SomeKeys(n, OpsOf(n));
    EachIteration(state, OpenLite(n, Mode), [&](Lite &l) {
        for (qint32 k : keys) {
            sqlite3_bind_int(l.del, 1, k);
            Lite::Run(l.del);
        }
    });
    Note(state, double(keys.size()));
}

// The operation of the engine beside SQLite with each journal.
#define PAIR(op)                                                                                                       \
    void Lite_##op(benchmark::State &state)                                                                            \
    {                                                                                                                  \
        Lite##op(state, Journal::Rollback);                                                                            \
    }                                                                                                                  \
    void Wal_##op(benchmark::State &state)                                                                             \
    {                                                                                                                  \
        Lite##op(state, Journal::Wal);                                                                                 \
    }                                                                                                                  \
    BENCHMARK(Dict_##op)->Arg(kSmall)->Arg(kLarge)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();       \
    BENCHMARK(Lite_##op)->Arg(kSmall)->Arg(kLarge)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();       \
    BENCHMARK(Wal_##op)->Arg(kSmall)->Arg(kLarge)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

PAIR(Insert)
PAIR(InsertMore)
PAIR(Update)
PAIR(Lookup)
PAIR(Scan)
PAIR(Delete)

// Keeps the CPU time of every repetition of every run.
class Reporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, std::vector<double>> CpuSeconds; // per operation
    void ReportRuns(const std::vector<Run> &Runs) override
    {
        for (const Run &r : Runs) {
            const auto ops = r.counters.find("ops");
            if (r.run_type == Run::RT_Iteration && !r.error_occurred && r.iterations > 0 && ops != r.counters.end() &&
                ops->second.value > 0)
                CpuSeconds[r.run_name.str()].push_back(r.cpu_accumulated_time / double(r.iterations) /
                                                       ops->second.value);
        }
        ConsoleReporter::ReportRuns(Runs);
    }
    // Microseconds of CPU time per operation, the median over the repetitions; 0 when not run.
    double PerOp(const std::string &Op, const char *Engine, int N) const
    {
        const std::string name = std::string(Engine) + "_" + Op + "/" + std::to_string(N) + "/iterations:1/real_time";
        const auto it = CpuSeconds.find(name);
        if (it == CpuSeconds.end() || it->second.empty())
            return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2] * 1e6;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<char *> args(argv, argv + argc);
    std::string reps = "--benchmark_repetitions=3";
    if (std::none_of(args.begin(), args.end(),
                     [](const char *a) { return std::strncmp(a, "--benchmark_repetitions", 23) == 0; }))
        args.push_back(reps.data());
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nCPU time per operation (median of the repetitions), the engine's table data set"
                " against SQLite with a rollback journal and in WAL mode:\n");
    std::printf("%-12s %8s %14s %14s %8s %14s %8s\n", "operation", "records", "engine us/op", "SQLite us/op", "ratio",
                "WAL us/op", "ratio");
    for (const char *op : {"Insert", "InsertMore", "Update", "Lookup", "Scan", "Delete"})
        for (int n : {kSmall, kLarge}) {
            const double ours = reporter.PerOp(op, "Dict", n), lite = reporter.PerOp(op, "Lite", n),
                         wal = reporter.PerOp(op, "Wal", n);
            if (ours > 0 && lite > 0 && wal > 0)
                std::printf("%-12s %8d %14.3f %14.3f %7.2fx %14.3f %7.2fx\n", op, n, ours, lite, ours / lite, wal,
                            ours / wal);
        }
    std::printf("\nGrowth of the cost per operation from %d to %d records:\n", kSmall, kLarge);
    std::printf("%-12s %10s %10s %10s\n", "operation", "engine", "SQLite", "WAL");
    for (const char *op : {"Insert", "InsertMore", "Update", "Lookup", "Scan", "Delete"}) {
        const double o1 = reporter.PerOp(op, "Dict", kSmall), o2 = reporter.PerOp(op, "Dict", kLarge);
        const double l1 = reporter.PerOp(op, "Lite", kSmall), l2 = reporter.PerOp(op, "Lite", kLarge);
        const double w1 = reporter.PerOp(op, "Wal", kSmall), w2 = reporter.PerOp(op, "Wal", kLarge);
        if (o1 > 0 && o2 > 0 && l1 > 0 && l2 > 0 && w1 > 0 && w2 > 0)
            std::printf("%-12s %9.2fx %9.2fx %9.2fx\n", op, o2 / o1, l2 / l1, w2 / w1);
    }
    for (const auto &[n, hits] : ScanHits())
        if (hits.first != hits.second)
            std::printf("\nThe scans of %d records disagree: %d against %d matching rows\n", n, hits.first,
                        hits.second);
    benchmark::Shutdown();
    return 0;
}
