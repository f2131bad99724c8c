#pragma once

#include "ui/FormControls.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>

class QChartView;
class QLineSeries;
class TSystemStatus;

// The system page: system figures on the left, live CPU and memory charts on the right, and the
// CPU and memory share in the window's status line on every page.
class TSystemPage : public QObject
{
public:
    // The status line belongs to the window; the page writes it on every tick.
    TSystemPage(QWidget *Page, TLabel *StatusBar);

    TSystemStatus *objSystemStatus = nullptr;
    QChartView *chtCPU = nullptr, *chtMEM = nullptr;
    TSkinGroupBox *grpSysVersion = nullptr, *grpSysPM = nullptr, *grpSysPF = nullptr, *grpSysKM = nullptr,
                  *grpSysCount = nullptr, *grpSysTime = nullptr;
    TLabel *lblSysVersion = nullptr;
    TLabel *lblSysPM = nullptr, *lblSysPMValue = nullptr, *lblSysPF = nullptr, *lblSysPFValue = nullptr;
    TLabel *lblSysKM = nullptr, *lblSysKMValue = nullptr, *lblSysCount = nullptr, *lblSysCountValue = nullptr;
    TLabel *lblSysTime = nullptr, *lblSysTimeValue = nullptr;
    QLineSeries *tsCPU = nullptr, *tsPM = nullptr, *tsPF = nullptr;
    // Whether the CPU chart's legend entries switch their lines on and off.
    bool SysCPULegendCheckBoxes = true;

    // Both ask for a reading beside the window and return at once; the page's texts and charts
    // follow when it is in.
    void BuildSystemPage();
    void SystemTick();
    void tmrSystemTimer(QObject *Sender);
    // Lays the two charts out in the page's current size.
    void LayoutCharts();
    // Puts another status component (made over a scripted source) in place of the page's own and
    // builds the page anew on it; the page takes ownership.
    void UseSystemStatus(TSystemStatus *Status);

    // Draws what the ticks gathered while the page was hidden: the charts keep sampling on every
    // page, and draw when shown.
    void FlushCharts();

private:
    void BuildSystemControls();
    // A reading is in: what the requests since the last one asked for is shown.
    void StatusRefreshed(quint32 Flags);
    void ShowSystemPage();
    void ShowSystemTick();
    // Writes the CPU and memory share of the last reading into the status line.
    void WriteStatusBar(int &CPU, int &Memory);
    void WriteSystemValues();
    // One sample of a line, and the chart's step to the next one.
    void Plot(QLineSeries *Series, double X, int Percent, const QString &Name);
    void Advance(QChartView *View);
    double NextX(QChartView *View) const;

    QWidget *m_Page;
    TLabel *m_StatusBar;
    struct TPendingLine
    {
        QList<QPointF> Points;
        QString Name;
    };
    QHash<QLineSeries *, TPendingLine> m_Pending;
    QHash<QChartView *, int> m_PendingSteps;
    bool m_ValuesStale = false;
    // What the readings asked for and not shown yet are to show.
    bool m_BuildWanted = false;
    bool m_TickWanted = false;
};
