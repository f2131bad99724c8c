#include "common/UserDirs.h"
#include "sysinfo_system/FakeStatus.h"

#include "platform/processes/ProcessSource.h"
#include "sysinfo/SystemStatus.h"
#include "ui/ColorBox.h"
#include "ui/DisplayTexts.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"
#include "ui/frmMainSystem.h"
#include "ui/frmMainUpdate.h"

#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QApplication>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QGroupBox>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QRegularExpression>
#include <QTimer>
#include <QValueAxis>

#include <memory>
#include <set>

using namespace stest;

namespace {

constexpr quint64 MiB = 1024ull * 1024;

// No processes at all: the process page stays empty and acts on nothing.
class NoProcesses : public platform::processes::ProcessSource
{
public:
    bool EnumeratePrimary(std::vector<platform::processes::ProcessEntry> &) override { return true; }
    bool EnumerateFallback(std::vector<platform::processes::ProcessEntry> &) override { return true; }
    unsigned ProcessorCount() override { return 1; }
};

class SystemPage : public ::testing::Test
{
protected:
    void TearDown() override
    {
        form.reset();
        RestoreDefaultUiHooks();
    }

    // The form over the scripted machine `src`, its timers stopped so that each tick is the test's.
    void Create(FakeStatus *src)
    {
        form = std::make_unique<TFormMain>(nullptr, &procs);
        for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem})
            t->stop();
        if (src) {
            TColorBox::Reset();
            form->SystemPage->UseSystemStatus(new TSystemStatus(nullptr, src));
        }
        // The charts draw on the page's own ticks; those of other pages draw when it shows.
        form->btnLeftMenu_SystemClick(form->btnLeftMenu_System);
        Settle();
    }

    // The page reads beside the window: its texts and charts follow once the readings are in.
    void Settle()
    {
        QDeadlineTimer deadline(10000);
        while (form->SystemPage->objSystemStatus->Refreshing() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_FALSE(form->SystemPage->objSystemStatus->Refreshing());
    }
    void Tick()
    {
        form->SystemPage->SystemTick();
        Settle();
    }
    void ShowSystemPage()
    {
        form->btnLeftMenu_SystemClick(form->btnLeftMenu_System);
        Settle();
    }

    QList<QLineSeries *> Series(QChartView *view) const
    {
        QList<QLineSeries *> out;
        for (QAbstractSeries *a : view->chart()->series())
            out << qobject_cast<QLineSeries *>(a);
        return out;
    }
    QValueAxis *Bottom(QChartView *view) const
    {
        return qobject_cast<QValueAxis *>(view->chart()->axes(Qt::Horizontal).first());
    }
    QLegendMarker *Marker(QChartView *view, QLineSeries *s) const
    {
        return view->chart()->legend()->markers(s).first();
    }

    NoProcesses procs;
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
};

} // namespace

TEST_F(SystemPage, OneProcessorHasOneLineWithoutLegendBoxes)
{
    FakeStatus src(1);
    src.mem = Memory(8192 * MiB, 2048 * MiB, 4096 * MiB, 3072 * MiB);
    Create(&src);
    ASSERT_EQ(Series(form->SystemPage->chtCPU).size(), 1);
    EXPECT_FALSE(form->SystemPage->SysCPULegendCheckBoxes);
    EXPECT_EQ(form->SystemPage->tsCPU->name(), QStringLiteral("0 %"));
    src.advance(1.0, {0.4});
    Tick();
    EXPECT_EQ(form->SystemPage->tsCPU->name(), QStringLiteral("40 %"));
    ASSERT_EQ(form->SystemPage->tsCPU->count(), 1);
    EXPECT_EQ(form->SystemPage->tsCPU->at(0), QPointF(101, 40));
    EXPECT_DOUBLE_EQ(Bottom(form->SystemPage->chtCPU)->min(), 1.0);
    EXPECT_EQ(form->lblStatusBar->text(), QStringLiteral("CPU: 40 % | MEM: 75 %"));
    emit Marker(form->SystemPage->chtCPU, form->SystemPage->tsCPU)->clicked(); // no check boxes: nothing switches
    EXPECT_TRUE(form->SystemPage->tsCPU->isVisible());
}

TEST_F(SystemPage, TwoProcessorsGetTheirOwnLinesOnce)
{
    FakeStatus src(2);
    Create(&src);
    auto lines = Series(form->SystemPage->chtCPU);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(form->SystemPage->SysCPULegendCheckBoxes);
    EXPECT_EQ(lines[0], form->SystemPage->tsCPU);
    EXPECT_EQ(form->SystemPage->tsCPU->pen(), QPen(Qt::white, 2));
    EXPECT_EQ(form->SystemPage->tsCPU->name(), QStringLiteral("总计: 0 %"));
    EXPECT_EQ(lines[2]->name(), QStringLiteral("CPU 2: 0 %"));
    EXPECT_EQ(lines[1]->pen().color(), QColor(0, 255, 255)); // the pool's first two colours
    EXPECT_EQ(lines[2]->pen().color(), QColor(0, 255, 0));
    // Selecting the page again rewrites the texts but adds no second set of lines.
    ShowSystemPage();
    EXPECT_EQ(Series(form->SystemPage->chtCPU).size(), 3);
    src.advance(1.0, {0.30, 0.90});
    Tick();
    EXPECT_EQ(form->SystemPage->tsCPU->name(), QStringLiteral("总计: 60 %"));
    EXPECT_EQ(lines[1]->name(), QStringLiteral("CPU 1: 30 %"));
    EXPECT_EQ(lines[2]->at(0), QPointF(101, 90));
    // A legend entry switches its own line.
    emit Marker(form->SystemPage->chtCPU, lines[1])->clicked();
    EXPECT_FALSE(lines[1]->isVisible());
    EXPECT_TRUE(lines[2]->isVisible());
    emit Marker(form->SystemPage->chtMEM, form->SystemPage->tsPF)->clicked();
    EXPECT_FALSE(form->SystemPage->tsPF->isVisible());

    // Many processors: every line has a colour of its own, none black or white.
    FakeStatus many(8);
    TColorBox::Reset();
    form->SystemPage->UseSystemStatus(new TSystemStatus(nullptr, &many));
    Settle();
    lines = Series(form->SystemPage->chtCPU);
    ASSERT_EQ(lines.size(), 9);
    std::set<QRgb> colours{QColor(Qt::black).rgb(), QColor(Qt::white).rgb()};
    for (int i = 1; i < lines.size(); ++i)
        colours.insert(lines[i]->pen().color().rgb());
    EXPECT_EQ(colours.size(), 10u);
}

TEST_F(SystemPage, ValueLabelsAndMemoryTitles)
{
    FakeStatus src(1);
    src.mem = Memory(8192 * MiB, 2048 * MiB, 4096 * MiB, 3072 * MiB);
    src.mem->Buffers = 1536; // 1.5 KB, written 2
    src.mem->Cached = 1024;  // with the buffers 2.5 KB, written 2
    src.kcounts = KernelCounts{1234567, 0, 42};
    src.uptime = 86400 + 2 * 3600 + 3 * 60 + 4;
    src.os = OSRelease{QStringLiteral("Debian GNU/Linux"), QStringLiteral("12 (bookworm)"), {}, {}, {}};
    src.kinfo = KernelInfo{QStringLiteral("Linux"), QStringLiteral("6.1.0"), {}, {}, 7};
    Create(&src);
    EXPECT_EQ(form->SystemPage->lblSysVersion->text(),
              QStringLiteral("Debian GNU/Linux\n12 (bookworm)\nLinux 6.1.0\nBuild 7"));
    const QLocale l;
    EXPECT_EQ(form->SystemPage->lblSysPMValue->text(),
              l.toString(8192ll * 1024) + QLatin1Char('\n') + l.toString(2048ll * 1024) + QStringLiteral("\n2"));
    EXPECT_EQ(form->SystemPage->lblSysKMValue->text(), QStringLiteral("0\n0\n0"));
    EXPECT_EQ(form->SystemPage->lblSysCountValue->text(), l.toString(1234567ll) + QStringLiteral("\n0\n42"));
    QString now, boot;
    DateTimeText(platform::LocalSystemTime(src.wallSeconds, 0), now);
    DateTimeText(platform::LocalSystemTime(1699990000, 0), boot);
    EXPECT_EQ(form->SystemPage->lblSysTimeValue->text(),
              now + QLatin1Char('\n') + boot + QStringLiteral("\n1 D 02 H 03 M 04 S"));
    EXPECT_EQ(form->SystemPage->lblSysPF->text(), QStringLiteral("总数:\n使用数:\n峰值:"));

    EXPECT_EQ(form->SystemPage->tsPM->name(), QStringLiteral("物理内存: 0 MB / 0 MB - 00 %"));
    Tick();
    EXPECT_EQ(form->SystemPage->tsPM->name(), QStringLiteral("物理内存: 6144 MB / 8192 MB 75 %"));
    EXPECT_EQ(form->SystemPage->tsPF->name(), QStringLiteral("页面文件: 3072 MB / 4096 MB 75 %"));
    EXPECT_EQ(form->SystemPage->tsPM->at(0), QPointF(101, 75));

    // Nothing to measure against: percentages 0 and values "0".
    src.mem = MemoryInfo{};
    Tick();
    EXPECT_EQ(form->lblStatusBar->text(), QStringLiteral("CPU: 0 % | MEM: 0 %"));
    EXPECT_EQ(form->SystemPage->lblSysPMValue->text(), QStringLiteral("0\n0\n0"));
    EXPECT_EQ(form->SystemPage->tsPF->name(), QStringLiteral("页面文件: 0 MB / 0 MB 0 %"));
}

TEST_F(SystemPage, TimerKeepsStatusLineAndChartsGoingOnEveryPage)
{
    FakeStatus src(2);
    src.mem = Memory(1000 * MiB, 900 * MiB, 100, 10);
    Create(&src);
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    ASSERT_EQ(form->CurrentPage, TFormMain::pgProcess);
    src.mem->Available = 500 * MiB;
    src.advance(1.0, {0.25, 0.25});
    const QString labelsBefore = form->SystemPage->lblSysPMValue->text();
    form->tmrSystem->setInterval(1);
    form->tmrSystem->start();
    QDeadlineTimer deadline(5000);
    while (form->lblStatusBar->text() != QStringLiteral("CPU: 25 % | MEM: 50 %") && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    form->tmrSystem->stop();
    EXPECT_EQ(form->lblStatusBar->text(), QStringLiteral("CPU: 25 % | MEM: 50 %"));
    // The hidden page keeps its samples and draws them when it shows.
    EXPECT_EQ(form->SystemPage->tsCPU->count(), 0);
    EXPECT_EQ(form->SystemPage->lblSysPMValue->text(), labelsBefore);
    ShowSystemPage();
    ASSERT_GE(form->SystemPage->tsCPU->count(), 1);
    EXPECT_EQ(form->SystemPage->tsCPU->at(0), QPointF(101, 25));
    EXPECT_NE(form->SystemPage->lblSysPMValue->text(), labelsBefore);

    // Days of ticks, on another page and on its own: the charts keep only what their 100-step
    // window shows.
    form->btnLeftMenu_ProcessClick(form->btnLeftMenu_Process);
    for (int i = 0; i < 250; ++i) {
        src.advance(1.0, {0.5, 0.5});
        Tick();
    }
    ShowSystemPage();
    for (int i = 0; i < 150; ++i) {
        src.advance(1.0, {0.5, 0.5});
        Tick();
    }
    const double last = Bottom(form->SystemPage->chtCPU)->max();
    EXPECT_DOUBLE_EQ(Bottom(form->SystemPage->chtCPU)->min(), last - 100);
    EXPECT_DOUBLE_EQ(Bottom(form->SystemPage->chtMEM)->max(), last);
    for (QChartView *view : {form->SystemPage->chtCPU, form->SystemPage->chtMEM}) {
        for (QLineSeries *s : Series(view)) {
            EXPECT_LE(s->count(), 102);
            EXPECT_DOUBLE_EQ(s->at(s->count() - 1).x(), last);
            EXPECT_LE(s->at(0).x(), last - 100); // the line still enters from the left edge
        }
    }
}

TEST_F(SystemPage, RealMachine)
{
    Create(nullptr);
    const QRegularExpression status(QStringLiteral("^CPU: \\d{1,3} % \\| MEM: \\d{1,3} %$"));
    EXPECT_TRUE(status.match(form->lblStatusBar->text()).hasMatch()) << form->lblStatusBar->text().toStdString();
    const quint32 n = form->SystemPage->objSystemStatus->CPUCount;
    EXPECT_EQ(Series(form->SystemPage->chtCPU).size(), n > 1 ? int(n) + 1 : 1);
    EXPECT_EQ(form->SystemPage->lblSysVersion->text().count(QLatin1Char('\n')), 3);
    Tick();
    EXPECT_TRUE(status.match(form->lblStatusBar->text()).hasMatch());
    EXPECT_FALSE(form->SystemPage->lblSysTimeValue->text().contains(QStringLiteral("N/A")));
}

namespace {

// Texts the chart cut short for want of room.
QStringList CutTexts(QChartView *View)
{
    QStringList out;
    for (QGraphicsItem *item : View->scene()->items()) {
        QString text;
        if (auto *t = dynamic_cast<QGraphicsTextItem *>(item))
            text = t->toPlainText();
        else if (auto *s = dynamic_cast<QGraphicsSimpleTextItem *>(item))
            text = s->text();
        if (item->isVisible() && (text.endsWith(QLatin1String("...")) || text.endsWith(QChar(0x2026))))
            out << text;
    }
    return out;
}

} // namespace

TEST_F(SystemPage, LegendsShowEveryEntryWholeAtTheDefaultSize)
{
    FakeStatus many(8);
    Create(&many);
    form->resize(800, 600);
    form->show();
    ShowSystemPage();
    many.advance(1.0, {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0});
    Tick();
    QApplication::processEvents();
    for (QChartView *view : {form->SystemPage->chtCPU, form->SystemPage->chtMEM}) {
        view->chart()->legend()->update();
        QApplication::processEvents();
        EXPECT_TRUE(CutTexts(view).isEmpty())
            << view->objectName().toStdString() << ": " << CutTexts(view).join(QLatin1String(" | ")).toStdString();
        // The legend lies beside or below the plot, never on it.
        const QRectF legend = view->chart()->legend()->geometry();
        EXPECT_FALSE(legend.intersects(view->chart()->plotArea())) << view->objectName().toStdString();
    }
}
