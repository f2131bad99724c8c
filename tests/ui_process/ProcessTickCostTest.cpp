// What a tick of the process page costs in row work and reads: items that can never be completed
// (other users' programs, seen by an ordinary user) against items that were, the rows out of view,
// and the dictionary look-ups of one fill of the list.

#include "Fixture.h"

#include "ui/DisplayTexts.h"

#include <QAbstractItemModel>
#include <QApplication>

#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

using namespace ptest;

namespace {

constexpr int kMany = 1000;

QString Kb(quint64 bytes)
{
    QString t;
    ByteCountText(qint64(bytes), t);
    return t;
}

class ProcessTickCost : public FormTest
{
protected:
    struct Cost
    {
        int reads = 0;          // of process files, over the measured ticks
        int cellChanges = 0;    // rows' data changed
        quint64 cellWrites = 0; // cells the page wrote
        int reloaded = 0;       // completion events
    };

    // `count` processes, with a readable program file or (never complete) without one.
    void FillTable(int count, bool complete)
    {
        source.procs.clear();
        for (int i = 1; i <= count; ++i) {
            FakeProc p;
            p.pid = kNoSuchPid + quint32(i);
            p.name = QStringLiteral("proc%1").arg(i);
            p.exe = complete ? QStringLiteral("/opt/fake/proc%1").arg(i) : QString();
            p.mem.VmRss = 4 << 20;
            p.mem.RssAnon = 1 << 20;
            source.procs.push_back(p);
        }
    }

    void CreateSized()
    {
        Create();
        form->resize(800, 600);
        QApplication::processEvents();
    }

    // Ticks until every retry is over, then measures three more.
    Cost Measure(bool complete)
    {
        FillTable(kMany, complete);
        CreateSized();
        for (int i = 0; i < 8; ++i)
            Tick();
        QApplication::processEvents();
        Cost cost;
        TProcesses *list = form->ProcessPage->objProcesses;
        const auto page = list->OnProcessReloaded;
        list->OnProcessReloaded = [&cost, page](QObject *s, quint32 pid) {
            ++cost.reloaded;
            page(s, pid);
        };
        const auto counting =
            QObject::connect(List()->model(), &QAbstractItemModel::dataChanged, [&cost] { ++cost.cellChanges; });
        source.reads = 0;
        const quint64 writes = form->ProcessPage->CellWrites;
        for (int i = 0; i < 3; ++i) {
            Tick();
            QApplication::processEvents();
        }
        cost.reads = source.reads;
        cost.cellWrites = form->ProcessPage->CellWrites - writes;
        QObject::disconnect(counting);
        list->OnProcessReloaded = page;
        return cost;
    }
};

// The inotify opens of one file, counted from now on.
class OpenCounter
{
public:
    explicit OpenCounter(const QString &Path) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            // Closes are watched too: inotify merges events in a row that are the same.
            ::inotify_add_watch(m_fd, QFile::encodeName(Path).constData(), IN_OPEN | IN_CLOSE);
    }
    ~OpenCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenCounter(const OpenCounter &) = delete;
    OpenCounter &operator=(const OpenCounter &) = delete;

    bool valid() const { return m_fd >= 0; }
    int take()
    {
        int n = 0;
        alignas(inotify_event) char buf[4096];
        for (;;) {
            const ssize_t got = ::read(m_fd, buf, sizeof buf);
            if (got <= 0)
                return n;
            for (ssize_t at = 0; at < got;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
                n += (e->mask & IN_OPEN) ? 1 : 0;
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
    }

private:
    int m_fd;
};

} // namespace

TEST_F(ProcessTickCost, ItemsThatNeverCompleteCostTheTickNoMoreThanCompleteOnes)
{
    const Cost complete = Measure(true);
    form.reset();
    const Cost never = Measure(false);

    // The event stays: every item that cannot be completed reports on every pass...
    EXPECT_EQ(never.reloaded, 3 * kMany);
    EXPECT_EQ(complete.reloaded, 0);
    // ...and costs neither a read nor a change to its row.
    EXPECT_LE(never.reads, complete.reads);
    EXPECT_LE(never.cellChanges, complete.cellChanges);
    EXPECT_LE(never.cellWrites, complete.cellWrites);
    EXPECT_EQ(never.cellWrites, 0u);
}

TEST_F(ProcessTickCost, OnlyRowsInViewAreReadAndARowScrolledIntoViewIsCurrentAtOnce)
{
    FillTable(kMany, true);
    CreateSized();
    source.residentReads = 0;
    Tick();
    const int inView = source.residentReads;
    EXPECT_GT(inView, 0);
    EXPECT_LT(inView, kMany / 10) << "a tick reads the memory of the rows in view only";

    const quint32 last = kNoSuchPid + kMany;
    source.find(last)->mem.VmRss = 64 << 20;
    Tick();
    ASSERT_NE(Row(last), nullptr);
    EXPECT_NE(Row(last)->text(4), Kb(64 << 20)) << "out of view: not read";
    List()->scrollToItem(Row(last));
    // Read by the worker as soon as it is asked, off the window's thread.
    EXPECT_TRUE(Settle());
    EXPECT_EQ(Row(last)->text(4), Kb(64 << 20)) << "a row that scrolls into view shows its current value";
    // The rows that left the view are not read on the next tick.
    source.residentReads = 0;
    Tick();
    EXPECT_LT(source.residentReads, kMany / 10);
}

TEST_F(ProcessTickCost, SortingByMemorySortsByCurrentCounters)
{
    FillTable(kMany, true);
    CreateSized();
    Tick();
    // A row far out of view grows, one in view shrinks.
    const quint32 last = kNoSuchPid + kMany, first = kNoSuchPid + 1;
    source.find(last)->mem.VmRss = 512 << 20;
    source.find(first)->mem.VmRss = 1 << 10;
    form->ProcessPage->lvProcessesColumnClick(List(), 4); // ascending
    form->ProcessPage->lvProcessesColumnClick(List(), 4); // descending
    EXPECT_TRUE(Settle());
    quint32 top = 0;
    ASSERT_TRUE(TProcessPage::RowPid(List()->topLevelItem(0), top));
    EXPECT_EQ(top, last);
    EXPECT_EQ(List()->topLevelItem(0)->text(4), Kb(512 << 20));
    // The order follows the counters on every tick.
    source.find(first)->mem.VmRss = 1024 << 20;
    Tick();
    ASSERT_TRUE(TProcessPage::RowPid(List()->topLevelItem(0), top));
    EXPECT_EQ(top, first);
    EXPECT_EQ(List()->topLevelItem(0)->text(4), Kb(1024 << 20)) << "the view at the top shows the new first row";
}

TEST_F(ProcessTickCost, ANameIsLookedUpOncePerFillOfTheList)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString dict = dir.file(QStringLiteral("Ravel.db"));
    WriteDictionary(dict, {{QStringLiteral("same"), true}});

    for (int i = 1; i <= 30; ++i) {
        FakeProc p;
        p.pid = kNoSuchPid + quint32(i);
        p.name = i <= 25 ? QStringLiteral("same") : QStringLiteral("other%1").arg(i);
        p.exe = QStringLiteral("/opt/fake/x");
        source.procs.push_back(p);
    }
    Create();
    // The window reads its own dictionary's version when made; the look-ups read this one now.
    QString version;
    GetDictVersionIn(dict, version);
    ASSERT_EQ(version, QStringLiteral("2031-02-03"));
    OpenCounter opens(dict);
    ASSERT_TRUE(opens.valid());
    Fill();
    // The idle process, "same" and five others: each name opens the dictionary once.
    EXPECT_EQ(opens.take(), 1 + 1 + 5);
    EXPECT_EQ(form->ProcessPage->ItemOfRow(RowIndex(kNoSuchPid + 7))->UserData, 1);

    // Ten new processes of one name in one pass: one look-up; the next pass looks again.
    for (int i = 31; i <= 40; ++i) {
        FakeProc p;
        p.pid = kNoSuchPid + quint32(i);
        p.name = QStringLiteral("same");
        source.procs.push_back(p);
    }
    Tick();
    EXPECT_EQ(opens.take(), 1);
    FakeProc late;
    late.pid = kNoSuchPid + 41;
    late.name = QStringLiteral("same");
    source.procs.push_back(late);
    Tick();
    EXPECT_EQ(opens.take(), 1) << "no cache across fills: a replaced dictionary is seen";
    EXPECT_EQ(form->ProcessPage->ItemOfRow(RowIndex(kNoSuchPid + 41))->UserData, 1);
}
