// A writer stopped before its Nth write, for every N of a short script, and a writer whose
// writes fail from the Nth on: the file must open afterwards with every record committed
// before the interrupted operation, that operation wholly or not at all, and every index
// in agreement with the records. Also a writer that runs out of disk space.

#include "EngineFixture.h"

#include "dictdb/DictDBVerify.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tvtest;

namespace {

const QString kPassword = QStringLiteral("crash");

struct Row
{
    QByteArray name;
    qint32 score = 0;
    QByteArray note;
    bool operator==(const Row &o) const { return name == o.name && score == o.score && note == o.note; }
};

// The model of a table: the live records by record number, and how many were ever appended.
struct State
{
    std::map<int, Row> rows;
    int total = 0;
    bool operator==(const State &o) const { return rows == o.rows && total == o.total; }
};

std::string Describe(const State &s)
{
    // Appended piece by piece: at -O2 and above, GCC 12 warns falsely of overlapping copies
    // (-Wrestrict) in a long chain of string sums here.
    std::string out = "total " + std::to_string(s.total) + ":";
    for (const auto &[rec, row] : s.rows) {
        out += ' ';
        out += std::to_string(rec);
        out += '=';
        out += row.name.toStdString();
        out += '/';
        out += std::to_string(row.score);
        out += '/';
        out += std::to_string(row.note.size());
    }
    return out;
}

struct Op
{
    enum Kind { Append, Modify, Delete } kind;
    int rec = -1;       // modify and delete
    Row row;            // append: the row; modify: the new values of the fields named below
    QStringList fields; // modify: "Name", "Score", "Note"
};

void Apply(State &s, const Op &op)
{
    switch (op.kind) {
    case Op::Append:
        s.rows[s.total++] = op.row;
        break;
    case Op::Modify: {
        Row &r = s.rows[op.rec];
        if (op.fields.contains(QStringLiteral("Name")))
            r.name = op.row.name;
        if (op.fields.contains(QStringLiteral("Score")))
            r.score = op.row.score;
        if (op.fields.contains(QStringLiteral("Note")))
            r.note = op.row.note;
        break;
    }
    case Op::Delete:
        s.rows.erase(op.rec);
        break;
    }
}

int PhysicalPos(TDictTableIO *t, int rec)
{
    const TRecInfoList &list = t->IndexLists[0];
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].RecIndex == rec)
            return int(i);
    DatabaseError(QStringLiteral("record %1 is not in the table").arg(rec));
}

void Run(TDictTableIO *t, const Op &op)
{
    Record r(t);
    switch (op.kind) {
    case Op::Append:
        r.SetText(QStringLiteral("Name"), op.row.name);
        r.Set<qint32>(QStringLiteral("Score"), op.row.score);
        r.SetText(QStringLiteral("Note"), op.row.note);
        t->AppendRecordData(r.Buffers(), false, nullptr);
        break;
    case Op::Modify:
        r.SetText(QStringLiteral("Name"), op.row.name);
        r.Set<qint32>(QStringLiteral("Score"), op.row.score);
        r.SetText(QStringLiteral("Note"), op.row.note);
        r.OnlyActive(op.fields);
        t->ModifyRecordData(r.Buffers(), PhysicalPos(t, op.rec), nullptr, false);
        break;
    case Op::Delete:
        t->DeleteRecordData(PhysicalPos(t, op.rec), false);
        break;
    }
}

TDictDBFileLayout CrashLayout(bool packed)
{
    TDictDBFileLayout layout = PeopleLayout();
    if (packed) {
        layout.Compress = true;
        layout.Encrypt = true;
        layout.Password = kPassword;
    }
    return layout;
}

// Reads the table into a model, checking that every index holds every live record once,
// in key order; "" or what is wrong.
QString ReadState(TDictTableIO *t, State &out)
{
    out = State();
    out.total = t->TableHeader().RecordTotal;
    std::vector<int> live;
    Record r(t);
    for (size_t pos = 0; pos < t->IndexLists[0].size(); ++pos) {
        r.Read(int(pos));
        const int rec = t->IndexLists[0][pos].RecIndex;
        live.push_back(rec);
        out.rows[rec] =
            Row{r.Text(QStringLiteral("Name")), r.Get<qint32>(QStringLiteral("Score")), r.Text(QStringLiteral("Note"))};
    }
    for (int k = 0; k < 2; ++k) {
        std::vector<int> recs;
        for (const TRecInfo &e : t->IndexLists[size_t(k) + 1])
            recs.push_back(e.RecIndex);
        for (size_t i = 1; i < recs.size(); ++i) {
            const Row &a = out.rows[recs[i - 1]], &b = out.rows[recs[i]];
            const bool ordered = k == 0
                ? CompareDBString(QString::fromUtf8(a.name), QString::fromUtf8(b.name), false, true, 0) < 0
                : a.score >= b.score;
            if (!ordered)
                return QStringLiteral("index %1 out of order at record %2").arg(k).arg(recs[i]);
        }
        std::sort(recs.begin(), recs.end());
        if (recs != live)
            return QStringLiteral("index %1 does not hold the live records").arg(k);
    }
    return QString();
}

// Opens the file (a writer's open when it is writable) and reads it; Mended counts the
// chains the open found torn.
QString ReadFile(const QString &path, bool packed, State &out, int *Mended = nullptr)
{
    QString problem;
    const QString err = DbErrorOf([&] {
        Database d(path, QStringLiteral("check"));
        if (packed)
            d.db.SetPassword(kPassword);
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        if (Mended)
            *Mended = int(t->RepairedChains.size());
        problem = ReadState(t, out);
    });
    return err.isEmpty() ? problem : err;
}

// The base file and the script. The script moves records in both chains, moves one to the
// head of a chain, grows and shrinks blobs, deletes, and appends records that go first,
// last and in between.
struct Script
{
    State base;
    std::vector<Op> ops;
};

Script MakeScript(int baseRows, bool shortScript)
{
    Script s;
    for (int i = 0; i < baseRows; ++i) {
        Op op{Op::Append,
              -1,
              Row{"m" + QByteArray::number(100 + i), qint32(10 + (i * 7) % 30),
                  QByteArray(i % 3 == 0 ? 90 : 3, char('a' + i % 26))},
              {}};
        s.ops.push_back(op);
    }
    const int n = baseRows;
    if (shortScript) {
        s.ops.push_back({Op::Append, -1, Row{"mm", 25, QByteArray(150, 'x')}, {}});
        s.ops.push_back({Op::Append, -1, Row{"aa", 1, ""}, {}});
        s.ops.push_back({Op::Modify,
                         n + 1,
                         Row{"zz", 99, QByteArray(70, 'w')},
                         {QStringLiteral("Name"), QStringLiteral("Score"), QStringLiteral("Note")}});
        s.ops.push_back({Op::Delete, 5, {}, {}});
        for (int i = 0; i < baseRows; ++i)
            Apply(s.base, s.ops[size_t(i)]);
        s.ops.erase(s.ops.begin(), s.ops.begin() + baseRows);
        return s;
    }
    s.ops.push_back({Op::Append, -1, Row{"mm", 25, QByteArray(150, 'x')}, {}});
    s.ops.push_back(
        {Op::Modify, 2, Row{"", 99, QByteArray(40, 'y')}, {QStringLiteral("Score"), QStringLiteral("Note")}});
    s.ops.push_back({Op::Modify, 0, Row{"zz", 0, ""}, {QStringLiteral("Name")}});
    s.ops.push_back({Op::Append, -1, Row{"aa", 1, ""}, {}});
    s.ops.push_back({Op::Delete, 1, {}, {}});
    s.ops.push_back({Op::Modify,
                     n,
                     Row{"ab", 5, QByteArray(500, 'w')},
                     {QStringLiteral("Name"), QStringLiteral("Score"), QStringLiteral("Note")}});
    s.ops.push_back({Op::Modify, 3, Row{"m103", 40, ""}, {QStringLiteral("Name"), QStringLiteral("Score")}});
    // The base is what the first baseRows appends make; the script proper follows.
    for (int i = 0; i < baseRows; ++i)
        Apply(s.base, s.ops[size_t(i)]);
    s.ops.erase(s.ops.begin(), s.ops.begin() + baseRows);
    return s;
}

// The write hook's state: counting, stopping the process, or failing writes.
int g_writes = 0;
int g_stopAt = 0;   // _exit before this write
int g_failFrom = 0; // fail this write and every later one

bool Hook(qint64, qint64)
{
    ++g_writes;
    if (g_stopAt > 0 && g_writes >= g_stopAt)
        ::_exit(0);
    return g_failFrom <= 0 || g_writes < g_failFrom;
}

struct HookScope
{
    HookScope() { SetDictDBWriteHook(&Hook); }
    ~HookScope()
    {
        SetDictDBWriteHook(nullptr);
        g_stopAt = g_failFrom = g_writes = 0;
    }
};

void MakeBase(const QString &path, bool packed, const Script &s)
{
    CreateDictDBFile(path, CrashLayout(packed));
    Database d(path, QStringLiteral("base"));
    if (packed)
        d.db.SetPassword(kPassword);
    TDictTableIO *t = d.Table(QStringLiteral("People"));
    for (const auto &[rec, row] : s.base.rows)
        Run(t, Op{Op::Append, -1, row, {}});
}

// Runs the script on a copy of the base; answers the number of writes after each operation.
std::vector<int> RunScript(const QString &path, bool packed, const Script &s)
{
    std::vector<int> after;
    Database d(path, QStringLiteral("script"));
    if (packed)
        d.db.SetPassword(kPassword);
    TDictTableIO *t = d.Table(QStringLiteral("People"));
    for (const Op &op : s.ops) {
        Run(t, op);
        after.push_back(g_writes);
    }
    return after;
}

void CopyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    ASSERT_TRUE(QFile::copy(from, to));
    QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
}

// The checks after an interruption before write n: a read-only open sees the same as a
// writer's open, which mends the file so that the verifier accepts it, and the result is
// the state before or after the operation that was interrupted.
int g_torn = 0; // interruptions that left a chain for the next open to mend

void CheckInterrupted(const QString &path, bool packed, const Script &s, const std::vector<int> &after, int n,
                      const char *mode)
{
    SCOPED_TRACE(std::string(mode) + (packed ? " packed" : " plain") + ", before write " + std::to_string(n));
    size_t op = 0;
    while (op < after.size() && after[op] < n)
        ++op;
    State before = s.base, done;
    for (size_t i = 0; i < op; ++i)
        Apply(before, s.ops[i]);
    done = before;
    if (op < s.ops.size())
        Apply(done, s.ops[op]);

    const QString ro = path + QStringLiteral(".ro");
    CopyFile(path, ro);
    ASSERT_EQ(::chmod(QFile::encodeName(ro).constData(), 0444), 0);
    const QByteArray roBytes = ReadAll(ro);
    State readOnly;
    int mended = 0;
    ASSERT_EQ(ReadFile(ro, packed, readOnly, &mended), QString());
    EXPECT_EQ(ReadAll(ro), roBytes) << "a read-only open wrote";
    QFile::setPermissions(ro, QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(ro);

    // The verifier refuses exactly the torn files, naming the chain.
    QString reason;
    EXPECT_EQ(VerifyDictDatabaseFile(path, {kPassword}, &reason), mended == 0) << qPrintable(reason);
    if (mended > 0) {
        ++g_torn;
        EXPECT_TRUE(reason.contains(QStringLiteral("torn by an interrupted write"))) << qPrintable(reason);
    }

    State got;
    ASSERT_EQ(ReadFile(path, packed, got), QString());
    EXPECT_TRUE(got == before || got == done)
        << "got " << Describe(got) << "\nbefore " << Describe(before) << "\nafter " << Describe(done);
    EXPECT_TRUE(readOnly == got) << "read-only " << Describe(readOnly);
    EXPECT_TRUE(VerifyDictDatabaseFile(path, {kPassword}, &reason)) << qPrintable(reason);
}

void KillAndFailAtEveryWrite(bool packed, int baseRows, bool shortScript = false)
{
    TempDir dir;
    const Script s = MakeScript(baseRows, shortScript);
    g_torn = 0;
    const QString base = dir.file(QStringLiteral("base.db"));
    MakeBase(base, packed, s);
    const QString work = dir.file(QStringLiteral("work.db"));

    // A full run counts the writes of each operation and ends in the model's last state.
    std::vector<int> after;
    {
        CopyFile(base, work);
        HookScope hook;
        after = RunScript(work, packed, s);
    }
    State last = s.base;
    for (const Op &op : s.ops)
        Apply(last, op);
    State got;
    ASSERT_EQ(ReadFile(work, packed, got), QString());
    ASSERT_TRUE(got == last) << Describe(got) << "\n" << Describe(last);
    const int total = after.back();
    ASSERT_GT(total, 10);

    for (int n = 1; n <= total; ++n) {
        // The process stops dead before its nth write.
        CopyFile(base, work);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SetDictDBWriteHook(&Hook);
            g_stopAt = n;
            try {
                RunScript(work, packed, s);
            } catch (...) {
                ::_exit(3);
            }
            ::_exit(4); // the script ended without reaching write n
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status << " at " << n;
        CheckInterrupted(work, packed, s, after, n, "stopped");

        // Every write from the nth on fails; the writer sees database errors only.
        CopyFile(base, work);
        {
            HookScope hook;
            g_failFrom = n;
            Database d(work, QStringLiteral("failing"));
            if (packed)
                d.db.SetPassword(kPassword);
            TDictTableIO *t = d.Table(QStringLiteral("People"));
            int failed = 0;
            for (const Op &op : s.ops)
                if (!DbErrorOf([&] { Run(t, op); }).isEmpty())
                    ++failed;
            EXPECT_GT(failed, 0) << "write " << n;
        }
        CheckInterrupted(work, packed, s, after, n, "failing");
        if (::testing::Test::HasFailure())
            return;
    }
    // The script reaches the states that need mending, in both ways of stopping.
    EXPECT_GE(g_torn, 4);
}

} // namespace

TEST(DictDBCrash, EveryWriteOfAScriptInterruptedOnAPlainFile)
{
    KillAndFailAtEveryWrite(false, 6);
}

TEST(DictDBCrash, EveryWriteOfAScriptInterruptedOnACompressedEncipheredFile)
{
    KillAndFailAtEveryWrite(true, 6);
}

// The same across the first tab block boundary: the append of record 1024 begins new blocks
// of every tab.
TEST(DictDBCrash, EveryWriteInterruptedAcrossATabBlockBoundary)
{
    KillAndFailAtEveryWrite(false, 1023, true);
}

namespace {

// Runs Body in a child process and answers the text it wrote to its pipe.
QByteArray InChild(const std::function<QByteArray()> &Body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        ::close(fds[0]);
        QByteArray out;
        try {
            out = Body();
        } catch (const EDatabaseError &e) {
            out = "unexpected database error: " + e.Message().toUtf8();
        } catch (...) {
            out = "unexpected exception";
        }
        const char *p = out.constData();
        qsizetype left = out.size();
        while (left > 0) {
            const ssize_t n = ::write(fds[1], p, size_t(left));
            if (n <= 0)
                break;
            p += n;
            left -= n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        text.append(buf, int(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return text;
}

// Fills the table with blobs until a write fails; then a blob rewrite must fail the same
// way. Answers "committed=N" and the two errors, one per line.
QByteArray FillUntilFull(const QString &path)
{
    int committed = 0;
    QString appendError, modifyError;
    {
        Database d(path, QStringLiteral("full"));
        TDictTableIO *t = d.Table(QStringLiteral("People"));
        Record r(t);
        for (int i = 0; i < 1000 && appendError.isEmpty(); ++i) {
            r.SetText(QStringLiteral("Name"), "fill" + QByteArray::number(i));
            r.SetText(QStringLiteral("Note"), QByteArray(3000, char('a' + i % 26)));
            appendError = DbErrorOf([&] { t->AppendRecordData(r.Buffers(), false, nullptr); });
            if (appendError.isEmpty())
                ++committed;
        }
        r.OnlyActive({QStringLiteral("Note")});
        r.SetText(QStringLiteral("Note"), QByteArray(6000, 'z'));
        modifyError = DbErrorOf([&] { t->ModifyRecordData(r.Buffers(), 0, nullptr, false); });
    }
    return "committed=" + QByteArray::number(committed) + "\n" + appendError.toUtf8() + "\n" + modifyError.toUtf8();
}

void CheckFull(const QString &path, const QByteArray &report, const char *why)
{
    const QList<QByteArray> lines = report.split('\n');
    ASSERT_EQ(lines.size(), 3) << report.constData();
    ASSERT_TRUE(lines[0].startsWith("committed=")) << report.constData();
    const int committed = lines[0].mid(10).toInt();
    EXPECT_GT(committed, 0);
    EXPECT_LT(committed, 1000);
    const QString expect = QStringLiteral("Cannot write database file '%1': %2").arg(path, QString::fromLatin1(why));
    EXPECT_EQ(QString::fromUtf8(lines[1]), expect);
    EXPECT_EQ(QString::fromUtf8(lines[2]), expect);
}

} // namespace

// The kernel's file size limit in a child that ignores SIGXFSZ stands for a full disk: the
// writer gets a database error, and the file keeps every record it committed, unchanged.
TEST(DictDBCrash, AFileThatCannotGrowGivesADatabaseErrorAndStaysWhole)
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("limited.db"));
    CreateDictDBFile(path, PeopleLayout());
    const qint64 limit = QFileInfo(path).size() + 40000;
    const QByteArray report = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit rl
        {
            rlim_t(limit), rlim_t(limit)
        };
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return QByteArray("setrlimit failed");
        return FillUntilFull(path);
    });
    CheckFull(path, report, std::strerror(EFBIG));
    State got;
    ASSERT_EQ(ReadFile(path, false, got), QString());
    const int committed = report.split('\n').value(0).mid(10).toInt();
    ASSERT_EQ(int(got.rows.size()), committed);
    for (const auto &[rec, row] : got.rows) {
        EXPECT_EQ(row.name, "fill" + QByteArray::number(rec));
        EXPECT_EQ(row.note, QByteArray(3000, char('a' + rec % 26)));
    }
    QString reason;
    EXPECT_TRUE(VerifyDictDatabaseFile(path, &reason)) << qPrintable(reason);
}

// A small file system of its own (tmpfs in a private mount namespace) that fills up.
TEST(DictDBCrash, AFullFileSystemGivesADatabaseErrorAndStaysWhole)
{
    TempDir dir;
    const QString mnt = dir.file(QStringLiteral("mnt"));
    ASSERT_TRUE(QDir().mkpath(mnt));
    const QString path = mnt + QStringLiteral("/full.db");
    const QByteArray report = InChild([&]() -> QByteArray {
        if (::unshare(CLONE_NEWNS) != 0)
            return "skip: no private mount namespace: " + QByteArray(std::strerror(errno));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "skip: mounts cannot be made private: " + QByteArray(std::strerror(errno));
        if (::mount("taskvane-test", QFile::encodeName(mnt).constData(), "tmpfs", 0, "size=128k") != 0)
            return "skip: no tmpfs: " + QByteArray(std::strerror(errno));
        CreateDictDBFile(path, PeopleLayout());
        QByteArray out = FillUntilFull(path);
        // The file exists only in this namespace: it is checked here.
        State got;
        const QString err = ReadFile(path, false, got);
        QString reason;
        const bool whole = VerifyDictDatabaseFile(path, &reason);
        out += "\n" + err.toUtf8() + "\n" + QByteArray::number(int(got.rows.size())) + "\n" +
            (whole ? QByteArray("whole") : reason.toUtf8());
        ::umount(QFile::encodeName(mnt).constData());
        return out;
    });
    if (report.startsWith("skip: "))
        GTEST_SKIP() << report.mid(6).constData();
    QList<QByteArray> lines = report.split('\n');
    ASSERT_EQ(lines.size(), 6) << report.constData();
    CheckFull(path, lines.mid(0, 3).join('\n'), std::strerror(ENOSPC));
    EXPECT_EQ(lines[3], QByteArray());
    EXPECT_EQ(lines[4], lines[0].mid(10));
    EXPECT_EQ(lines[5], QByteArray("whole"));
}
