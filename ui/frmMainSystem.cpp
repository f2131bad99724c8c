// The system page of the main window: system figures on the left, live CPU and memory charts on
// the right, and the CPU and memory share in the status line on every page.

#include "ui/frmMainSystem.h"

#include "sysinfo/SystemStatus.h"
#include "ui/ColorBox.h"
#include "ui/DisplayTexts.h"

#include <QChart>
#include <QChartView>
#include <QPainter>
#include <QFontDatabase>
#include <QGraphicsSimpleTextItem>
#include <QGroupBox>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QValueAxis>

namespace {

// The charts' dark blue (colour value 4194304).
const QColor kChartBackground(0x00, 0x00, 0x40);
const QColor kChartText(0xFF, 0xFF, 0xFF);
const QColor kChartGrid(0x30, 0x30, 0x70);

// Part x 100 / Whole to the nearest integer; 0 when there is no whole to measure against.
int Share(double Part, double Whole)
{
    return Whole == 0 ? 0 : RoundEven(Part * 100.0 / Whole);
}

int MegaBytes(qint64 Bytes)
{
    return RoundEven(double(Bytes) / 1024.0 / 1024.0);
}

// Kilobytes to the nearest integer, halves to even.
qint64 KiloBytes(qint64 Bytes)
{
    return DivRoundHalfEven(Bytes, 1024);
}

// A figure with the user's thousands separators and no decimals.
QString Figure(qint64 Value)
{
    return Value == 0 ? QStringLiteral("0") : QLocale().toString(qlonglong(Value));
}

QString Lines(std::initializer_list<QString> Parts)
{
    // The labels break their lines at a carriage return; on this system that is a line feed.
    return QStringList(Parts).join(QLatin1Char('\n'));
}

QValueAxis *BottomAxis(QChartView *View)
{
    const auto axes = View->chart()->axes(Qt::Horizontal);
    return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis *>(axes.first());
}

QChart *MakeChart(QChartView *View, const QString &Title)
{
    auto *chart = new QChart();
    chart->setBackgroundBrush(kChartBackground);
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(5, 25, 10, 0));
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setDropShadowEnabled(false);
    auto *title = new QGraphicsSimpleTextItem(Title, chart);
    title->setBrush(kChartText);
    title->setFont(View->font());
    title->setPos(25, 5);

    QLegend *legend = chart->legend();
    legend->setAlignment(Qt::AlignBottom);
    legend->setBackgroundVisible(false);
    QFont small = View->font();
    small.setPixelSize(10);
    legend->setFont(small);
    // Entries cut short for want of room show their whole text on hover.
    legend->setShowToolTips(true);

    auto *x = new QValueAxis(chart);
    x->setRange(0, 100);
    x->setTickInterval(1);
    x->setVisible(false);
    chart->addAxis(x, Qt::AlignBottom);
    auto *y = new QValueAxis(chart);
    y->setRange(0, 100);
    y->setTickCount(11);
    y->setLabelFormat(QStringLiteral("%.0f"));
    // Plain figures in a face without the tall CJK line spacing: a label taller than the gap
    // between two ticks would be cut to an ellipsis on a small chart.
    QFont figures = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    figures.setPixelSize(9);
    y->setLabelsFont(figures);
    y->setLabelsBrush(kChartText);
    y->setLinePenColor(kChartText);
    y->setGridLineColor(kChartGrid);
    chart->addAxis(y, Qt::AlignLeft);
    // Steps of 10 where the figures fit between the lines, else steps of 20, so that a small
    // window still shows the scale rather than a row of ellipses.
    QObject::connect(chart, &QChart::plotAreaChanged, y, [y](const QRectF &Area) {
        const int ticks = Area.height() >= 200 ? 11 : 6;
        if (y->tickCount() != ticks)
            y->setTickCount(ticks);
    });
    // The view gives up its first, empty chart without deleting it.
    QChart *empty = View->chart();
    View->setChart(chart);
    if (empty != chart)
        delete empty;
    View->setBackgroundBrush(kChartBackground);
    return chart;
}

QLineSeries *AddSeries(QChart *Chart, const QString &Name, const QColor &Color, const QString &ObjectName = QString())
{
    auto *series = new QLineSeries(Chart);
    series->setObjectName(ObjectName);
    series->setName(Name);
    series->setPen(QPen(Color, 1));
    Chart->addSeries(series);
    for (QAbstractAxis *a : Chart->axes())
        series->attachAxis(a);
    return series;
}

// Legend entries are written in their line's colour, dimmed while the line is switched off.
void PaintLegend(QChart *Chart)
{
    for (QLegendMarker *m : Chart->legend()->markers()) {
        auto *s = qobject_cast<QLineSeries *>(m->series());
        if (!s)
            continue;
        QColor c = s->pen().color();
        if (!s->isVisible())
            c.setAlpha(90);
        m->setLabelBrush(c);
    }
}

// A click on a legend entry switches its line on or off, as the check box beside it would; the
// CPU chart of a one-processor machine has no such boxes.
void BindLegendMarker(TSystemPage *Page, QChartView *View, QLegendMarker *Marker)
{
    QObject::connect(Marker, &QLegendMarker::clicked, Page, [Page, View, Marker] {
        if (View == Page->chtCPU && !Page->SysCPULegendCheckBoxes)
            return;
        if (QAbstractSeries *s = Marker->series())
            s->setVisible(!s->isVisible());
        Marker->setVisible(true);
        PaintLegend(View->chart());
    });
}

} // namespace

TSystemPage::TSystemPage(QWidget *Page, TLabel *StatusBar) : m_Page(Page), m_StatusBar(StatusBar)
{
    chtCPU = new QChartView(Page);
    chtCPU->setObjectName(QStringLiteral("chtCPU"));
    chtMEM = new QChartView(Page);
    chtMEM->setObjectName(QStringLiteral("chtMEM"));
    for (QChartView *c : {chtCPU, chtMEM})
        c->setRenderHint(QPainter::Antialiasing);
    BuildSystemControls();
}

void TSystemPage::LayoutCharts()
{
    const int w = m_Page->width();
    const int h = m_Page->height();
    const int m = RoundEven((h - 6) / 2.0);
    chtCPU->setGeometry(214, 0, w - 214, m);
    chtMEM->setGeometry(214, chtCPU->y() + chtCPU->height() + 6, w - 214, m - 1);
}

void TSystemPage::BuildSystemControls()
{
    // Nothing is read here: the page fills when the first reading is in.
    objSystemStatus = new TSystemStatus(this, nullptr, TSystemStatus::TBootInfo::ReadLater);
    objSystemStatus->setObjectName(QStringLiteral("objSystemStatus"));
    objSystemStatus->OnRefreshed = [this](quint32 Flags) { StatusRefreshed(Flags); };

    struct TBox
    {
        TSkinGroupBox **Box;
        const char *Name;
        const char16_t *Caption;
        int Top;
        TLabel **Label;
        const char *LabelName;
        const char16_t *Lines;
        TLabel **Value;
        const char *ValueName;
    };
    const TBox boxes[] = {
        {&grpSysVersion, "grpSysVersion", u"系统版本", 0, &lblSysVersion, "lblSysVersion", u"", nullptr, nullptr},
        {&grpSysPM, "grpSysPM", u"物理内存 (KB)", 90, &lblSysPM, "lblSysPM", u"总数:\n可用数:\n系统缓存:",
         &lblSysPMValue, "lblSysPMValue"},
        {&grpSysPF, "grpSysPF", u"页面文件 (KB)", 170, &lblSysPF, "lblSysPF", u"总数:\n使用数:\n峰值:", &lblSysPFValue,
         "lblSysPFValue"},
        {&grpSysKM, "grpSysKM", u"核心内存 (KB)", 250, &lblSysKM, "lblSysKM", u"总数:\n已分页数:\n未分页数:",
         &lblSysKMValue, "lblSysKMValue"},
        {&grpSysCount, "grpSysCount", u"性能计数", 330, &lblSysCount, "lblSysCount", u"句柄数:\n线程数:\n进程数:",
         &lblSysCountValue, "lblSysCountValue"},
        {&grpSysTime, "grpSysTime", u"时间信息", 410, &lblSysTime, "lblSysTime", u"当前时间:\n启动时间:\n使用时长:",
         &lblSysTimeValue, "lblSysTimeValue"},
    };
    for (const TBox &b : boxes) {
        auto *box = new TSkinGroupBox(m_Page);
        box->SetUIStyle(TSkinUIStyle::DeepBlue);
        box->SetCaption(QString::fromUtf16(b.Caption));
        box->setObjectName(QLatin1String(b.Name));
        const int height = b.Top == 0 ? 85 : 75;
        box->setGeometry(0, b.Top, 208, height);
        auto *label = new TLabel(box);
        label->setObjectName(QLatin1String(b.LabelName));
        label->setText(QString::fromUtf16(b.Lines));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (b.Value) {
            label->setGeometry(8, 20, 80, height - 24);
            auto *value = new TLabel(box);
            value->setObjectName(QLatin1String(b.ValueName));
            value->setAlignment(Qt::AlignRight | Qt::AlignTop);
            value->setGeometry(88, 20, 112, height - 24);
            *b.Value = value;
        } else {
            label->setGeometry(8, 20, 192, height - 24);
        }
        *b.Box = box;
        *b.Label = label;
    }

    QChart *cpu = MakeChart(chtCPU, QStringLiteral("CPU 使用率"));
    tsCPU = AddSeries(cpu, QStringLiteral("00 %"), Qt::white, QStringLiteral("tsCPU"));
    QChart *mem = MakeChart(chtMEM, QStringLiteral("物理内存 & 页面文件 使用率"));
    tsPM = AddSeries(mem, QStringLiteral("物理内存: 0 MB / 0 MB - 00 %"), QColor(0x00, 0xFF, 0xFF),
                     QStringLiteral("tsPM"));
    tsPF = AddSeries(mem, QStringLiteral("页面文件: 0 MB / 0 MB - 00 %"), QColor(0x00, 0xFF, 0x00),
                     QStringLiteral("tsPF"));
    for (QChartView *view : {chtCPU, chtMEM}) {
        for (QLegendMarker *m : view->chart()->legend()->markers())
            BindLegendMarker(this, view, m);
        PaintLegend(view->chart());
    }
}

void TSystemPage::tmrSystemTimer(QObject *)
{
    SystemTick();
}

void TSystemPage::WriteSystemValues()
{
    const TSystemStatus *s = objSystemStatus;
    auto kb = [](qint64 Bytes) { return Figure(KiloBytes(Bytes)); };
    lblSysPMValue->setText(Lines({kb(s->PhysicalTotal), kb(s->PhysicalAvailable), kb(s->SystemCache)}));
    lblSysPFValue->setText(Lines({kb(s->CommitLimit), kb(s->CommitTotal), kb(s->CommitPeak)}));
    lblSysKMValue->setText(Lines({kb(s->KernelTotal), kb(s->KernelPaged), kb(s->KernelNonpaged)}));
    lblSysCountValue->setText(Lines({Figure(s->HandleCount), Figure(s->ThreadCount), Figure(s->ProcessCount)}));
    QString now, boot, span;
    DateTimeText(s->CurrentTime, now);
    DateTimeText(s->BootTime, boot);
    SpanText(s->UpTime, span);
    lblSysTimeValue->setText(Lines({now, boot, span}));
}

void TSystemPage::WriteStatusBar(int &CPU, int &Memory)
{
    const TSystemStatus *s = objSystemStatus;
    CPU = s->GetCPUUsage(0);
    Memory = Share(double(s->PhysicalTotal - s->PhysicalAvailable), double(s->PhysicalTotal));
    m_StatusBar->setText(QStringLiteral("CPU: %1 % | MEM: %2 %").arg(CPU).arg(Memory));
}

void TSystemPage::BuildSystemPage()
{
    // What the ticks gathered while the page was hidden is drawn now; the texts follow the
    // reading asked for here.
    FlushCharts();
    m_BuildWanted = true;
    objSystemStatus->RefreshInBackground(TSystemStatus::rfCPU | TSystemStatus::rfPerformance | TSystemStatus::rfUpTime |
                                         TSystemStatus::rfOSInfo);
}

void TSystemPage::SystemTick()
{
    // However many ticks pass while a reading waits in the kernel, one more reading follows it.
    m_TickWanted = true;
    objSystemStatus->RefreshInBackground(TSystemStatus::rfCPU | TSystemStatus::rfPerformance | TSystemStatus::rfUpTime);
}

void TSystemPage::StatusRefreshed(quint32 Flags)
{
    if (m_BuildWanted && (Flags & TSystemStatus::rfOSInfo)) {
        m_BuildWanted = false;
        ShowSystemPage();
    }
    if (m_TickWanted) {
        m_TickWanted = false;
        ShowSystemTick();
    }
}

void TSystemPage::ShowSystemPage()
{
    int cpu = 0, mem = 0;
    WriteStatusBar(cpu, mem);
    TSystemStatus *s = objSystemStatus;

    const TOSInfo &os = s->OSInfo;
    lblSysVersion->setText(
        Lines({VisibleText(os.Name), VisibleText(os.Edition), VisibleText(os.ServicePack), VisibleText(os.Build)}));
    WriteSystemValues();
    m_ValuesStale = false;

    QChart *chart = chtCPU->chart();
    if (s->CPUCount <= 1) {
        SysCPULegendCheckBoxes = false;
        tsCPU->setName(QStringLiteral("%1 %").arg(cpu));
        chart->legend()->setAlignment(Qt::AlignBottom);
    } else {
        SysCPULegendCheckBoxes = true;
        // One entry a line beside the chart: a row under it has no room for the whole text of
        // every processor's entry.
        chart->legend()->setAlignment(Qt::AlignRight);
        if (chart->series().size() <= 1) {
            for (quint32 i = 1; i <= s->CPUCount; ++i) {
                quint32 value = 0;
                TColorBox::GetColor(value, false);
                const QColor color(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
                QLineSeries *series =
                    AddSeries(chart, QStringLiteral("CPU %1: %2 %").arg(i).arg(s->GetCPUUsage(int(i))), color);
                for (QLegendMarker *m : chart->legend()->markers(series))
                    BindLegendMarker(this, chtCPU, m);
            }
        }
        tsCPU->setName(QStringLiteral("总计: %1 %").arg(cpu));
        QPen pen = tsCPU->pen();
        pen.setWidth(2);
        tsCPU->setPen(pen);
    }
    PaintLegend(chart);
}

double TSystemPage::NextX(QChartView *View) const
{
    const QValueAxis *x = BottomAxis(View);
    return (x ? x->max() : 100.0) + m_PendingSteps.value(View) + 1.0;
}

void TSystemPage::Plot(QLineSeries *Series, double X, int Percent, const QString &Name)
{
    TPendingLine &line = m_Pending[Series];
    line.Points.append(QPointF(X, Percent));
    // A page hidden for days keeps only what its 100-step window can show.
    if (line.Points.size() > 102)
        line.Points.remove(0, line.Points.size() - 102);
    line.Name = Name;
}

void TSystemPage::Advance(QChartView *View)
{
    ++m_PendingSteps[View];
}

void TSystemPage::FlushCharts()
{
    if (m_ValuesStale) {
        WriteSystemValues();
        m_ValuesStale = false;
    }
    for (QChartView *view : {chtCPU, chtMEM}) {
        const int steps = m_PendingSteps.take(view);
        bool named = false;
        for (QAbstractSeries *a : view->chart()->series()) {
            auto *series = qobject_cast<QLineSeries *>(a);
            if (!series)
                continue;
            const auto pending = m_Pending.constFind(series);
            if (pending == m_Pending.cend())
                continue;
            if (!pending->Points.isEmpty())
                series->append(pending->Points);
            if (series->name() != pending->Name) {
                series->setName(pending->Name);
                named = true;
            }
        }
        QValueAxis *x = BottomAxis(view);
        if (x && steps > 0) {
            // The visible window is 100 steps wide; points that have left it are dropped so that
            // a chart running for days stays small and fast.
            x->setRange(x->min() + steps, x->max() + steps);
            const double keepFrom = x->min() - 1.0;
            for (QAbstractSeries *a : view->chart()->series()) {
                auto *series = qobject_cast<QLineSeries *>(a);
                int gone = 0;
                while (series && gone < series->count() && series->at(gone).x() < keepFrom)
                    ++gone;
                if (gone > 0)
                    series->removePoints(0, gone);
            }
        }
        if (named || steps > 0)
            PaintLegend(view->chart());
    }
    m_Pending.clear();
}

void TSystemPage::ShowSystemTick()
{
    int cpu = 0, mem = 0;
    WriteStatusBar(cpu, mem);
    TSystemStatus *s = objSystemStatus;
    const int pf = Share(double(s->CommitTotal), double(s->CommitLimit));
    // The figures and charts of a hidden page are gathered here and drawn when it shows.
    m_ValuesStale = true;

    const double x = NextX(chtCPU);
    const QList<QAbstractSeries *> series = chtCPU->chart()->series();
    if (series.size() == 1) {
        Plot(tsCPU, x, cpu, QStringLiteral("%1 %").arg(cpu));
    } else if (series.size() > 1) {
        Plot(tsCPU, x, cpu, QStringLiteral("总计: %1 %").arg(cpu));
        for (int i = 1; i < series.size(); ++i) {
            auto *line = qobject_cast<QLineSeries *>(series[i]);
            if (!line)
                continue;
            const int usage = s->GetCPUUsage(i);
            Plot(line, x, usage, QStringLiteral("CPU %1: %2 %").arg(i).arg(usage));
        }
    }
    Advance(chtCPU);

    const double xm = NextX(chtMEM);
    Plot(tsPM, xm, mem,
         QStringLiteral("物理内存: %1 MB / %2 MB %3 %")
             .arg(MegaBytes(s->PhysicalTotal - s->PhysicalAvailable))
             .arg(MegaBytes(s->PhysicalTotal))
             .arg(mem));
    Plot(tsPF, xm, pf,
         QStringLiteral("页面文件: %1 MB / %2 MB %3 %")
             .arg(MegaBytes(s->CommitTotal))
             .arg(MegaBytes(s->CommitLimit))
             .arg(pf));
    Advance(chtMEM);
    if (!m_Page->isHidden())
        FlushCharts();
}

void TSystemPage::UseSystemStatus(TSystemStatus *Status)
{
    if (!Status || Status == objSystemStatus)
        return;
    // A reading of the old one under way hands nothing over any more.
    delete objSystemStatus;
    objSystemStatus = Status;
    Status->setParent(this);
    Status->OnRefreshed = [this](quint32 Flags) { StatusRefreshed(Flags); };
    m_BuildWanted = false;
    m_TickWanted = false;
    m_Pending.clear();
    m_PendingSteps.clear();
    QChart *cpu = chtCPU->chart();
    for (QAbstractSeries *a : cpu->series()) {
        if (a == tsCPU)
            continue;
        cpu->removeSeries(a);
        delete a;
    }
    tsCPU->setPen(QPen(Qt::white, 1));
    tsCPU->setVisible(true);
    for (QChartView *view : {chtCPU, chtMEM}) {
        for (QAbstractSeries *a : view->chart()->series())
            if (auto *line = qobject_cast<QLineSeries *>(a))
                line->clear();
        if (QValueAxis *x = BottomAxis(view))
            x->setRange(0, 100);
    }
    BuildSystemPage();
}
