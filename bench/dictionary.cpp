// The dictionary look-up like for like beside SQLite, over the same records (the shipped
// dictionary's names, descriptions enciphered as they are stored, flags) in a file of each:
//  - a look-up that opens the file, finds the name, reads and deciphers its description and
//    closes the file again, as LookupProcess does on every call;
//  - the same look-up on a table that stays open (a prepared statement for SQLite).
// Half the names asked for are in the dictionary, half are not. CPU time, repetitions in random
// order, minimum and median, ratios printed.

#include "BenchSupport.h"

#include "dictdb/DBTools.h"
#include "dictdb/DictTable.h"
#include "sysinfo/AES.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

const QString kShipped = QStringLiteral(TASKVANE_BIN_DIR "/Ravel.db");
const QString kKey = QStringLiteral("5r2t8v3k6m4");

QString g_sqliteFile;

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

// The shipped dictionary's records, copied as they are stored into an SQLite file with an index
// on the name that ignores case, as the dictionary's own index does.
bool WriteSQLiteCopy(const QString &Path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(Path).constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db,
                 "CREATE TABLE process(name TEXT COLLATE NOCASE, description TEXT, virus INTEGER);"
                 "CREATE INDEX byname ON process(name COLLATE NOCASE);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO process VALUES(?, ?, ?)", -1, &ins, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    TDictTable t;
    t.SetDatabaseName(kShipped);
    t.SetTableName(QStringLiteral("Process"));
    int rows = 0;
    try {
        t.Open();
        for (t.First(); !t.Eof(); t.Next()) {
            const QByteArray name = t.FieldByName(QStringLiteral("ProcessName"))->AsString().toUtf8();
            const QByteArray desc = t.FieldByName(QStringLiteral("Description"))->AsString().toUtf8();
            sqlite3_bind_text(ins, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 2, desc.constData(), int(desc.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(ins, 3, t.FieldByName(QStringLiteral("Virus"))->AsBoolean() ? 1 : 0);
            sqlite3_step(ins);
            sqlite3_reset(ins);
            ++rows;
        }
        t.Close();
    } catch (const dataaccess::Exception &) {
        rows = 0;
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(ins);
    sqlite3_close(db);
    return rows > 0;
}

// One look-up through a prepared statement: the description read and deciphered.
bool SQLiteLookup(sqlite3_stmt *Query, const QString &Name, QString &Description, bool &Virus)
{
    const QByteArray key = Name.toLower().toUtf8();
    sqlite3_bind_text(Query, 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
    bool found = false;
    if (sqlite3_step(Query) == SQLITE_ROW) {
        const QString hex = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(Query, 0)),
                                              sqlite3_column_bytes(Query, 0));
        TAES::DecryptHexString(hex, kKey, 0, Description);
        Virus = sqlite3_column_int(Query, 1) != 0;
        found = true;
    }
    sqlite3_reset(Query);
    return found;
}

constexpr const char *kQuery = "SELECT description, virus FROM process WHERE name = ?";

// Per call: open, look up, close.
void BM_OpenEachCall_Dictionary(benchmark::State &state)
{
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

void BM_OpenEachCall_SQLite(benchmark::State &state)
{
    const QStringList &names = Names();
    const QByteArray file = QFile::encodeName(g_sqliteFile);
    qsizetype i = 0, hits = 0;
    QString desc;
    bool virus = false;
    for (auto _ : state) {
        sqlite3 *db = nullptr;
        sqlite3_stmt *q = nullptr;
        if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, kQuery, -1, &q, nullptr) == SQLITE_OK)
            hits += SQLiteLookup(q, names.at(i), desc, virus) ? 1 : 0;
        sqlite3_finalize(q);
        sqlite3_close(db);
        i = (i + 1) % names.size();
    }
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}

// On a table that stays open.
void BM_OpenTable_Dictionary(benchmark::State &state)
{
    TDictTable t;
    t.SetDatabaseName(kShipped);
    t.SetTableName(QStringLiteral("Process"));
    t.Open();
    const QStringList &names = Names();
    qsizetype i = 0, hits = 0;
    QString desc;
    for (auto _ : state) {
        if (t.Locate(QStringLiteral("ProcessName"), names.at(i).toLower(), loCaseInsensitive)) {
            TAES::DecryptHexString(t.FieldByName(QStringLiteral("Description"))->AsString(), kKey, 0, desc);
            benchmark::DoNotOptimize(t.FieldByName(QStringLiteral("Virus"))->AsBoolean());
            ++hits;
        }
        i = (i + 1) % names.size();
    }
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}

void BM_OpenTable_SQLite(benchmark::State &state)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *q = nullptr;
    sqlite3_open_v2(QFile::encodeName(g_sqliteFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_prepare_v2(db, kQuery, -1, &q, nullptr);
    const QStringList &names = Names();
    qsizetype i = 0, hits = 0;
    QString desc;
    bool virus = false;
    for (auto _ : state) {
        hits += SQLiteLookup(q, names.at(i), desc, virus) ? 1 : 0;
        i = (i + 1) % names.size();
    }
    state.counters["hit_ratio"] = double(hits) / double(state.iterations());
    sqlite3_finalize(q);
    sqlite3_close(db);
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<char *> args = tvbench::DefaultFlags(argc, argv);
    int n = int(args.size());
    QCoreApplication app(n, args.data());
    benchmark::Initialize(&n, args.data());

    QString version;
    GetDictVersionIn(kShipped, version);
    QTemporaryDir tmp;
    g_sqliteFile = tmp.filePath(QStringLiteral("processes.sqlite"));
    if (version == QLatin1String("0000-00-00") || !WriteSQLiteCopy(g_sqliteFile)) {
        std::fprintf(stderr, "no generated dictionary at %s\n", qPrintable(kShipped));
        return 1;
    }
    using tvbench::Measured;
    Measured(benchmark::RegisterBenchmark("OpenEachCall_Dictionary", BM_OpenEachCall_Dictionary)
                 ->Unit(benchmark::kMicrosecond));
    Measured(
        benchmark::RegisterBenchmark("OpenEachCall_SQLite", BM_OpenEachCall_SQLite)->Unit(benchmark::kMicrosecond));
    Measured(
        benchmark::RegisterBenchmark("OpenTable_Dictionary", BM_OpenTable_Dictionary)->Unit(benchmark::kMicrosecond));
    Measured(benchmark::RegisterBenchmark("OpenTable_SQLite", BM_OpenTable_SQLite)->Unit(benchmark::kMicrosecond));

    tvbench::Collector c;
    benchmark::RunSpecifiedBenchmarks(&c);
    std::printf("\n");
    for (const char *name :
         {"OpenEachCall_Dictionary", "OpenEachCall_SQLite", "OpenTable_Dictionary", "OpenTable_SQLite"}) {
        if (const auto *f = c.Find(name))
            std::printf("%-26s %9.2f us per look-up (median), %9.2f (min)\n", name, f->median / 1e3, f->min / 1e3);
    }
    c.PrintRatio("open, look up, close: dictionary / SQLite", "OpenEachCall_Dictionary", "OpenEachCall_SQLite");
    c.PrintRatio("on an open table: dictionary / SQLite", "OpenTable_Dictionary", "OpenTable_SQLite");
    benchmark::Shutdown();
    return 0;
}
