#include "Fixture.h"

#include "common/ServiceList.h"

#include "ui/DisplayTexts.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>

using namespace ptest;

namespace {

FakeProc Proc(quint32 pid, const QString &name, quint64 rss = 0)
{
    FakeProc p;
    p.pid = pid;
    p.name = name;
    p.exe = QStringLiteral("/opt/fake/") + name;
    p.mem.VmRss = rss;
    p.mem.RssAnon = rss / 2;
    return p;
}

QString Kb(quint64 bytes)
{
    QString t;
    ByteCountText(qint64(bytes), t);
    return t;
}

class ProcessPage : public FormTest
{};

} // namespace

TEST_F(ProcessPage, RowsFollowTheProcessesOnEveryPage)
{
    const quint32 a = kNoSuchPid + 1, b = kNoSuchPid + 2;
    source.procs = {Proc(a, QStringLiteral("alpha"), 8 << 20)};
    Create();
    EXPECT_EQ(RowPids(), (QList<quint32>{0, a}));
    EXPECT_EQ(Row(a)->text(0), QStringLiteral("alpha"));
    EXPECT_EQ(Row(a)->text(1), QString::number(a));
    EXPECT_EQ(Row(a)->text(2), QStringLiteral("user1000"));
    EXPECT_EQ(Row(a)->text(6), QStringLiteral("/opt/fake/alpha"));

    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    // The service page's own reading changes the status line once it is in.
    ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices));
    const QString status = form->lblTopBarInfo->text();
    source.procs.push_back(Proc(b, QStringLiteral("beta"), 4 << 20));
    Tick();
    ASSERT_NE(Row(b), nullptr) << "a new process gets its row while another page is shown";
    source.remove(a);
    Tick();
    EXPECT_EQ(Row(a), nullptr) << "an ended process loses its row while another page is shown";
    EXPECT_EQ(form->lblTopBarInfo->text(), status);
    // A removal for an identifier without a row changes nothing.
    form->ProcessPage->objProcessesProcessRemoved(form->ProcessPage->objProcesses, kNoSuchPid + 99);
    EXPECT_EQ(RowPids(), (QList<quint32>{0, b}));
}

TEST_F(ProcessPage, CellsAndStatusFollowOnlyWhileThePageIsVisible)
{
    const quint32 a = kNoSuchPid + 1;
    source.procs = {Proc(a, QStringLiteral("alpha"), 8 << 20)};
    Create();
    EXPECT_EQ(Row(a)->text(4), Kb(8 << 20));
    EXPECT_EQ(Row(a)->text(5), Kb(4 << 20));
    EXPECT_EQ(Row(a)->text(3), QStringLiteral("00"));

    source.find(a)->mem.VmRss = 16 << 20;
    Tick();
    EXPECT_EQ(Row(a)->text(4), Kb(16 << 20));
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[进程管理] 进程: 2"));

    form->btnLeftMenu_NetworkClick(form->btnLeftMenu_Network);
    source.find(a)->mem.VmRss = 32 << 20;
    source.procs.push_back(Proc(kNoSuchPid + 2, QStringLiteral("beta"), 1 << 20));
    Tick();
    EXPECT_EQ(Row(a)->text(4), Kb(16 << 20)) << "hidden page: cells keep their text";
    EXPECT_NE(form->lblTopBarInfo->text(), QStringLiteral("[进程管理] 进程: 3"));
}

TEST_F(ProcessPage, MemoryCellsForZeroSmallAndLargeCounters)
{
    const quint32 a = kNoSuchPid + 1, b = kNoSuchPid + 2;
    source.procs = {Proc(a, QStringLiteral("alpha"), 512)};
    source.procs[0].mem.RssAnon = 0;
    Create();
    EXPECT_EQ(Row(a)->text(4), QStringLiteral("0 K"));
    EXPECT_EQ(Row(a)->text(5), QStringLiteral("N/A"));

    // A new row has empty cells for zero counters until a tick of the visible page fills them.
    form->btnLeftMenu_SystemClick(form->btnLeftMenu_System);
    source.procs.push_back(Proc(b, QStringLiteral("beta"), 0));
    Tick();
    ASSERT_NE(Row(b), nullptr);
    EXPECT_EQ(Row(b)->text(4), QString());
    EXPECT_EQ(Row(b)->text(5), QString());
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    Tick();
    EXPECT_EQ(Row(b)->text(4), QStringLiteral("N/A"));

    // Halves round to even; counters beyond 4 GiB are shown whole.
    source.find(a)->mem.VmRss = 1536;
    source.find(b)->mem.VmRss = 2560;
    Tick();
    EXPECT_EQ(Row(a)->text(4), QStringLiteral("2 K"));
    EXPECT_EQ(Row(b)->text(4), QStringLiteral("2 K"));
    source.find(b)->mem.VmRss = 7ull << 30;
    source.find(b)->mem.RssAnon = 6ull << 30;
    Tick();
    EXPECT_EQ(Row(b)->text(4), Kb(7ull << 30));
    EXPECT_EQ(Row(b)->text(5), Kb(6ull << 30));
    EXPECT_EQ(Kb(6ull << 30), QLocale().toString(6 << 20) + QStringLiteral(" K"));
}

TEST_F(ProcessPage, DictionaryStateColoursTheRows)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString dict = dir.file(QStringLiteral("Ravel.db"));
    WriteDictionary(dict, {{QStringLiteral("harmless"), false}, {QStringLiteral("EVIL"), true}});
    const quint32 h = kNoSuchPid + 1, e = kNoSuchPid + 2, u = kNoSuchPid + 3;
    source.procs = {Proc(h, QStringLiteral("harmless")), Proc(e, QStringLiteral("evil")),
                    Proc(u, QStringLiteral("stranger"))};
    Create();
    auto colour = [this](quint32 pid) {
        QColor c(1, 2, 3);
        form->ProcessPage->lvProcessesCustomDrawItem(List(), RowIndex(pid), c);
        return c;
    };
    // No dictionary beside the program: nothing is known, every row is blue.
    for (quint32 pid : {h, e, u})
        EXPECT_EQ(colour(pid), QColor(0, 0, 0xFF)) << pid;

    QString version;
    GetDictVersionIn(dict, version);
    ASSERT_EQ(version, QStringLiteral("2031-02-03"));
    Fill();
    EXPECT_EQ(colour(h), QColor(0, 0, 0));
    EXPECT_EQ(colour(e), QColor(0xFF, 0, 0)) << "the look-up ignores case";
    EXPECT_EQ(colour(u), QColor(0, 0, 0xFF));
    EXPECT_EQ(form->ProcessPage->objProcesses->ItemByPID(e)->UserData, 1);

    // A row without an item, or a state outside the table, keeps the default colour.
    form->ProcessPage->objProcesses->ItemByPID(u)->UserData = 7;
    QColor c(1, 2, 3);
    EXPECT_FALSE(form->ProcessPage->lvProcessesCustomDrawItem(List(), RowIndex(u), c));
    EXPECT_FALSE(form->ProcessPage->lvProcessesCustomDrawItem(List(), List()->topLevelItemCount(), c));
    EXPECT_EQ(c, QColor(1, 2, 3));
}

TEST_F(ProcessPage, SortingByColumnsAndDirections)
{
    // Identifiers of different lengths, so that text order and number order differ.
    const quint32 nine = 9999999, ten = 10000000, mid = 9999998;
    source.procs = {Proc(ten, QStringLiteral("beta")), Proc(nine, QStringLiteral("Alpha")),
                    Proc(mid, QStringLiteral("gamma"))};
    Create();
    form->ProcessPage->lvProcessesColumnClick(List(), 1);
    EXPECT_EQ(RowPids(), (QList<quint32>{0, mid, nine, ten})) << "numbers, ascending on the first click";
    form->ProcessPage->lvProcessesColumnClick(List(), 1);
    EXPECT_EQ(RowPids(), (QList<quint32>{ten, nine, mid, 0})) << "the second click flips the direction";
    form->ProcessPage->lvProcessesColumnClick(List(), 0);
    QStringList names;
    for (int i = 0; i < List()->topLevelItemCount(); ++i)
        names << List()->topLevelItem(i)->text(0);
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("gamma"),
                           QStringLiteral("System Idle Process")}))
        << "another column starts ascending, letters without regard to case";
    form->ProcessPage->lvProcessesColumnClick(List(), 1);
    EXPECT_EQ(RowPids(), (QList<quint32>{0, mid, nine, ten})) << "each column keeps its own direction";

    // The tick sorts a new row in.
    source.procs.push_back(Proc(5000000, QStringLiteral("delta")));
    Tick();
    EXPECT_EQ(RowPids(), (QList<quint32>{0, 5000000, mid, nine, ten}));
}

TEST_F(ProcessPage, SystemProcessesGetNoMenuAndNoButtons)
{
    const quint32 kernel = kNoSuchPid + 1, plain = kNoSuchPid + 2;
    source.procs = {Proc(kernel, QStringLiteral("kworker/0:1")), Proc(plain, QStringLiteral("plain"))};
    source.procs[0].kernel = true;
    source.procs[0].exe.clear();
    Create();
    EXPECT_FALSE(form->ProcessPage->btnTerminateProcess->isEnabled());
    EXPECT_FALSE(form->ProcessPage->btnTerminateProcessTree->isEnabled());
    EXPECT_TRUE(form->ProcessPage->IsSystemPID(0));
    EXPECT_TRUE(form->ProcessPage->IsSystemPID(kernel));
    EXPECT_FALSE(form->ProcessPage->IsSystemPID(plain));

    for (quint32 pid : {0u, kernel}) {
        Select({pid});
        EXPECT_FALSE(form->ProcessPage->btnTerminateProcess->isEnabled()) << pid;
        EXPECT_FALSE(form->ProcessPage->btnTerminateProcessTree->isEnabled()) << pid;
        form->ProcessPage->lvProcessesMouseDown(List(), Qt::RightButton, Qt::NoModifier, 5, 5);
        EXPECT_FALSE(form->ProcessPage->pmProcess->isVisible()) << pid;
        form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
        EXPECT_TRUE(shown.empty()) << "a system process is passed over without a word";
    }

    Select({plain});
    EXPECT_TRUE(form->ProcessPage->btnTerminateProcess->isEnabled());
    EXPECT_TRUE(form->ProcessPage->btnTerminateProcessTree->isEnabled());
    form->ProcessPage->lvProcessesMouseDown(List(), Qt::LeftButton, Qt::NoModifier, 5, 5);
    EXPECT_FALSE(form->ProcessPage->pmProcess->isVisible());
    // The right button, as the window system delivers it.
    const QPoint at = List()->visualItemRect(Row(plain)).center();
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, List()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(List()->viewport(), &menu);
    EXPECT_TRUE(form->ProcessPage->pmProcess->isVisible());
    form->ProcessPage->pmProcess->hide();

    List()->clearSelection();
    EXPECT_FALSE(form->ProcessPage->btnTerminateProcess->isEnabled());
    form->ProcessPage->lvProcessesMouseDown(List(), Qt::RightButton, Qt::NoModifier, 5, 5);
    EXPECT_FALSE(form->ProcessPage->pmProcess->isVisible());
}

TEST_F(ProcessPage, DeleteKeyAsksToTerminate)
{
    const quint32 plain = kNoSuchPid + 2;
    source.procs = {Proc(plain, QStringLiteral("plain"))};
    Create();
    Select({plain});
    List()->setFocus();
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(List(), &del);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].Text.endsWith(QStringLiteral("\n\n结束进程：plain [%1]").arg(plain)))
        << shown[0].Text.toStdString();
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告"));
}

TEST_F(ProcessPage, CompletedDetailsReachTheRow)
{
    const quint32 late = kNoSuchPid + 3;
    source.procs = {Proc(late, QStringLiteral("late"))};
    source.procs[0].exe.clear();
    Create();
    EXPECT_EQ(Row(late)->text(6), QString());
    Tick();
    source.find(late)->exe = QStringLiteral("/opt/fake/late-binary");
    Tick();
    EXPECT_EQ(Row(late)->text(6), QStringLiteral("/opt/fake/late-binary"));
    EXPECT_EQ(Row(late)->text(2), QStringLiteral("user1000"));
}

TEST_F(ProcessPage, RowsAreAsTallAsTheirIconsWhateverTheFirstRowHolds)
{
    // The idle process comes first and has no icon; a kernel thread has none either.
    FakeProc kthread = Proc(kNoSuchPid + 1, QStringLiteral("kworker/0:1"));
    kthread.kernel = true;
    kthread.exe.clear();
    source.procs = {kthread, Proc(kNoSuchPid + 2, QStringLiteral("bash"), 1 << 20)};
    Create();
    form->resize(800, 600);
    QApplication::processEvents();
    QTreeWidget *list = List();
    ASSERT_GE(list->topLevelItemCount(), 3);
    const QSize icon = list->iconSize();
    ASSERT_TRUE(icon.isValid());
    const int first = list->visualItemRect(list->topLevelItem(0)).height();
    EXPECT_GE(first, icon.height()) << "the icon-less first row sets the height of every row";
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        EXPECT_EQ(list->visualItemRect(list->topLevelItem(i)).height(), first) << i;
    // Rows without an icon keep its place, so their names start where the others' do.
    QStyleOptionViewItem option;
    option.initFrom(list);
    const QSize withoutIcon = list->itemDelegate()->sizeHint(option, list->model()->index(0, 0));
    EXPECT_GE(withoutIcon.width(),
              icon.width() + QFontMetrics(list->font()).horizontalAdvance(list->topLevelItem(0)->text(0)));
}

TEST_F(ProcessPage, ViewStaysOnItsProcessesWhileRowsComeAndGoAboveIt)
{
    // Identifiers ten apart, so that new ones sort in between.
    auto pidOf = [](int i) { return kNoSuchPid + 10 * quint32(i); };
    for (int i = 1; i <= 150; ++i)
        source.procs.push_back(Proc(pidOf(i), QStringLiteral("p%1").arg(i)));
    Create();
    QApplication::processEvents();
    auto pidAt = [this](int y) {
        quint32 pid = 0;
        TProcessPage::RowPid(List()->itemAt(5, y), pid);
        return pid;
    };
    const int middle = List()->viewport()->height() / 2;
    auto aim = [&](quint32 top) {
        List()->scrollToItem(Row(top), QAbstractItemView::PositionAtTop);
        EXPECT_EQ(pidAt(1), top);
        return pidAt(middle);
    };
    struct Step
    {
        const char *what;
        int sortColumn;            // -1: the list's own order
        QList<int> ended, started; // by their number i of pidOf(i); a started one sorts in after i
        int top;                   // the process aimed at the top of the view
        int stays;                 // the process then at the top: -1 for `top`
    };
    const Step steps[] = {
        {"unsorted, rows ended above", -1, {2, 3, 5, 8, 13}, {}, 60, -1},
        {"sorted, rows ended and started above", 1, {21, 22, 23, 40}, {20, 30, 31, 32, 33, 34, 35, 50}, 70, -1},
        {"sorted, the process at the top ended", 1, {80, 41, 42}, {43, 44}, 80, 79},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        if (step.sortColumn >= 0 && form->ProcessPage->SortColumn != step.sortColumn)
            form->ProcessPage->lvProcessesColumnClick(List(), step.sortColumn);
        const quint32 pointed = aim(pidOf(step.top));
        ASSERT_NE(pointed, 0u);
        for (int i : step.ended)
            source.remove(pidOf(i));
        for (int i : step.started)
            source.procs.push_back(Proc(pidOf(i) + 5, QStringLiteral("new%1").arg(i)));
        Tick();
        // An ended process at the top leaves its place to the one before it, as the next one
        // keeps its own.
        EXPECT_EQ(pidAt(1), pidOf(step.stays < 0 ? step.top : step.stays));
        EXPECT_EQ(pidAt(middle), pointed) << "the process under the pointer stays under it";
        // The rows are what the process list and the sort make them; only the view moved.
        const QList<quint32> rows = RowPids();
        EXPECT_EQ(rows.size(), qsizetype(source.procs.size()) + 1);
        if (step.sortColumn >= 0) {
            EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end()));
        }
    }

    // A sort still brings the selected row into view.
    Select({pidOf(100)});
    aim(pidOf(20));
    source.procs.push_back(Proc(pidOf(10) + 5, QStringLiteral("late")));
    Tick();
    const QRect selected = List()->visualItemRect(Row(pidOf(100)));
    EXPECT_TRUE(List()->viewport()->rect().contains(selected)) << selected.y();
}

TEST_F(ProcessPage, ViewAtTheTopStaysThereAndInAnOrderThatMovesKeepsItsOffset)
{
    auto pidOf = [](int i) { return kNoSuchPid + quint32(i); };
    for (int i = 1; i <= 150; ++i)
        source.procs.push_back(Proc(pidOf(i), QStringLiteral("p%1").arg(i), 1 << 20));
    source.frozenClock = true;
    Create();
    QApplication::processEvents();
    // Clock ticks per second each busy process uses: a quarter of a percent each on four processors.
    QHash<quint32, quint64> busy;
    auto tick = [&] {
        for (auto it = busy.cbegin(); it != busy.cend(); ++it)
            source.find(it.key())->cpuTicks += it.value();
        source.clock += 10000000;
        Tick();
    };
    // The process takes the lead of the CPU or memory order (descending: the top consumers first).
    int leads = 0;
    auto lead = [&](int column, quint32 pid) {
        ++leads;
        if (column == 3)
            busy[pid] = 10 * quint64(leads);
        else
            source.find(pid)->mem.VmRss = quint64(leads) << 30;
    };
    auto topInView = [this] { return List()->indexAt(QPoint(5, 1)).row(); };

    for (int column : {0, 3, 4}) {
        SCOPED_TRACE(column);
        form->ProcessPage->lvProcessesColumnClick(List(), column);
        if (column != 0)
            form->ProcessPage->lvProcessesColumnClick(List(), column);
        // At the top, whatever becomes first shows first (by name: a new process sorts in first).
        List()->scrollToTop();
        const quint32 first = column == 0 ? pidOf(200) : pidOf(150);
        if (column == 0)
            source.procs.push_back(Proc(first, QStringLiteral("a")));
        else
            lead(column, first);
        tick();
        EXPECT_EQ(RowIndex(first), 0);
        EXPECT_EQ(topInView(), 0);
        if (column == 0)
            continue; // further down, orders by name or identifier stay on their processes (above)

        // Further down, the view keeps its row offset while processes below it take the lead and
        // one above it ends.
        List()->scrollToItem(List()->topLevelItem(40), QAbstractItemView::PositionAtTop);
        ASSERT_EQ(topInView(), 40);
        lead(column, pidOf(149));
        lead(column, pidOf(148));
        quint32 above = 0;
        ASSERT_TRUE(TProcessPage::RowPid(List()->topLevelItem(10), above));
        source.remove(above);
        tick();
        EXPECT_EQ(RowIndex(pidOf(148)), 0);
        EXPECT_EQ(topInView(), 40);

        // A selected row that leaves the view is brought back into it.
        quint32 selected = 0;
        ASSERT_TRUE(TProcessPage::RowPid(List()->topLevelItem(45), selected));
        Select({selected});
        lead(column, selected);
        tick();
        EXPECT_EQ(RowIndex(selected), 0);
        EXPECT_EQ(topInView(), 0);
        List()->clearSelection();
    }
}

TEST_F(ProcessPage, BringingTheSelectedRowIntoViewKeepsTheListScrolledSideways)
{
    for (int i = 1; i <= 60; ++i)
        source.procs.push_back(Proc(kNoSuchPid + quint32(i), QStringLiteral("p%1").arg(i)));
    Create();
    List()->header()->resizeSection(6, 2000);
    QApplication::processEvents();
    QScrollBar *across = List()->horizontalScrollBar();
    ASSERT_GT(across->maximum(), 300);
    Select({kNoSuchPid + 50});
    List()->scrollToTop();
    across->setValue(300);
    // A header click, then a tick that sorts a new row in: each brings the selected row into view.
    form->ProcessPage->lvProcessesColumnClick(List(), 1);
    EXPECT_EQ(across->value(), 300);
    List()->scrollToTop();
    source.procs.push_back(Proc(kNoSuchPid + 100, QStringLiteral("late")));
    Tick();
    EXPECT_EQ(across->value(), 300);
    const QRect selected = List()->visualItemRect(Row(kNoSuchPid + 50));
    EXPECT_GE(selected.top(), 0);
    EXPECT_LE(selected.bottom(), List()->viewport()->height());
}
