#include "ui/PageSwitcher.h"

#include <QBitmap>
#include <QBrush>
#include <QPainter>
#include <QPointer>
#include <QWidget>

TTabPanel::TTabPanel() = default;

TTabPanel::~TTabPanel()
{
    qDeleteAll(m_Tabs);
}

TTabItem *TTabPanel::Item(int Index) const
{
    return (Index >= 0 && Index < m_Tabs.size()) ? m_Tabs[Index] : nullptr;
}

void TTabPanel::Add(QWidget *Button, QWidget *Panel, const QString &Caption, bool Active)
{
    if (!Button || !Panel)
        return;
    auto *tab = new TTabItem;
    tab->Index = int(m_Tabs.size());
    tab->Caption = Caption;
    tab->Button = Button;
    tab->Panel = Panel;
    m_Tabs.append(tab);
    if (Active)
        SelectIndex(tab->Index, nullptr, nullptr);
}

void TTabPanel::SetTabState(TTabItem *Tab, bool Show)
{
    Tab->Panel->setVisible(Show);
    Tab->WasActive = Tab->Active;
    if (Tab->Active)
        m_PreviousIndex = Tab->Index;
    Tab->Active = Show;
    if (Show)
        m_CurrentIndex = Tab->Index;
}

void TTabPanel::SelectIndex(int Index, TTabChangedProc Callback, void *Param)
{
    if (m_Tabs.isEmpty() || Index >= m_Tabs.size())
        return;
    for (int i = 0; i < m_Tabs.size(); ++i)
        SetTabState(m_Tabs[i], i == Index);
    if (Callback)
        Callback(this, Param);
}

void TTabPanel::SelectButton(QWidget *Button, TTabChangedProc Callback, void *Param)
{
    if (m_Tabs.isEmpty())
        return;
    for (TTabItem *tab : std::as_const(m_Tabs))
        SetTabState(tab, tab->Button == Button);
    if (Callback)
        Callback(this, Param);
}

TTabItem *TTabPanel::CurrentTab() const
{
    return Item(m_CurrentIndex);
}

TTabItem *TTabPanel::PreviousTab() const
{
    return Item(m_PreviousIndex);
}

// ---- resize frame --------------------------------------------------------------------------

namespace {

QRect g_lastRect;

// The 8 x 8 halftone: rows alternate between the two checkerboard phases.
const QBrush &HalftoneBrush()
{
    static const QBrush kBrush = [] {
        QImage pattern(8, 8, QImage::Format_Mono);
        pattern.setColor(0, qRgb(255, 255, 255));
        pattern.setColor(1, qRgb(0, 0, 0));
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                pattern.setPixel(x, y, ((x + y) % 2 == 0) ? 1 : 0);
        return QBrush(QBitmap::fromImage(pattern));
    }();
    return kBrush;
}

class TResizeFrameWindow : public QWidget
{
public:
    TResizeFrameWindow()
        : QWidget(nullptr,
                  Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                      Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput)
    {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_DeleteOnClose, false);
        setObjectName(QStringLiteral("ResizeFrame"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.setBrush(HalftoneBrush());
        p.setPen(Qt::NoPen);
        p.setBackgroundMode(Qt::OpaqueMode);
        p.setBackground(Qt::white);
        p.drawRect(rect());
    }
};

QPointer<QWidget> g_frameWindow;

void ShowRing(const QRect &Rect, int Width)
{
    if (!g_frameWindow)
        g_frameWindow = new TResizeFrameWindow;
    g_frameWindow->setGeometry(Rect);
    g_frameWindow->setMask(ResizeFrameRing(Rect, Width).translated(-Rect.topLeft()));
    g_frameWindow->show();
    g_frameWindow->update();
}

} // namespace

QRegion ResizeFrameRing(const QRect &Rect, int Width)
{
    if (Rect.isEmpty())
        return {};
    return QRegion(Rect).xored(QRegion(Rect.adjusted(Width, Width, -Width, -Width)));
}

QRegion ResizeFrameChange(const QRect &LastRect, const QRect &Rect, quint8 Mode, int Width)
{
    const QRegion oldRing = Mode != 0 ? ResizeFrameRing(LastRect, Width) : QRegion();
    const QRegion newRing = Mode != 2 ? ResizeFrameRing(Rect, Width) : QRegion();
    return newRing.xored(oldRing);
}

void DrawResizeFrame(const QRect &Rect, quint8 Mode, int Width)
{
    if (Mode == 2) {
        g_lastRect = QRect();
        if (g_frameWindow) {
            g_frameWindow->hide();
            delete g_frameWindow.data();
        }
        return;
    }
    // An unchanged rectangle changes no pixel: nothing to do.
    if (Mode == 1 && ResizeFrameChange(g_lastRect, Rect, Mode, Width).isEmpty() && g_frameWindow)
        return;
    g_lastRect = Rect;
    ShowRing(Rect, Width);
}

QRect ResizeFrameLastRect()
{
    return g_lastRect;
}

QWidget *ResizeFrameWindow()
{
    return g_frameWindow.data();
}
