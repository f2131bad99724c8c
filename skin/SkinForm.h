#pragma once

// A panel that takes over its form's frame: it makes the window frameless, draws its own title
// bar, border and menu bar, shapes the window and maximises it onto the work area.

#include "skin/SkinMgr.h"
#include "skin/SkinThemes.h"
#include "skin/SkinFormMenuBar.h"
#include "skin/SkinTitleBar.h"

#include <QCursor>
#include <QEvent>
#include <QFont>
#include <QImage>
#include <QMargins>
#include <QMdiSubWindow>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include <optional>

class QMenu;
class TSkinMainMenu;

// The border a form had before the component took it over; a form's frame is sizeable with
// bsSizeable and bsSizeToolWin only. A form states it through Qt: a fixed size (or the fixed-size
// hint) gives bsSingle, or bsDialog for a dialog and bsToolWindow for a tool window; a tool
// window that can be sized gives bsSizeToolWin; a window that already has no frame gives bsNone.
enum class TSkinBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

// A child form inside a parent form asks the application's main form for the frame of its
// window with this event (Which: 0x87D0 the bottom frame, 0x87D1 the left frame); a main form
// that knows the answer sets Answer. Unanswered, the frame is 0; an answer below 0 or above 12
// is taken as 4.
class TSkinFrameQueryEvent : public QEvent
{
public:
    static QEvent::Type EventType();
    explicit TSkinFrameQueryEvent(int AWhich) : QEvent(EventType()), Which(AWhich) {}
    const int Which;
    int Answer = 0;
};

// A rectangle with corners rounded by an ellipse of Ellipse pixels (none below 2).
QRegion RoundRectRegion(const QRect &Rect, int Ellipse);
// A picture placed at Origin, its rows from FirstRow (-1: 0) to LastRow (up to the bottom when
// not above FirstRow) cut to the runs of pixels that are not Transparent, the other rows whole.
QRegion ScanPictureRegion(const QImage &Picture, const QPoint &Origin, int FirstRow, int LastRow,
                          const QColor &Transparent);

class TSkinForm : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(TSkinUIStyle UIStyle READ UIStyle WRITE SetUIStyle)
    Q_PROPERTY(TSkinFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)
public:
    // AOwner is the form: a window, or a child form inside a parent form (an MDI sub-window);
    // on anything else, or on a form that already has one, the component stays a plain panel.
    explicit TSkinForm(QWidget *AOwner);
    ~TSkinForm() override;

    // Whether the component took over its form's frame.
    bool Active() const { return m_Form != nullptr && !m_Destroying; }
    QWidget *Form() const { return m_Form; }
    // The active component of a form; nil without one.
    static TSkinForm *OfForm(const QWidget *Form);
    // The form as a child form inside a parent form; nil for any other form.
    QMdiSubWindow *MdiChild() const { return m_MdiChild; }

    // The form's border as it was, and as the component keeps it (bsNone, bsSingle and
    // bsToolWindow become bsDialog).
    TSkinBorderStyle InitialBorderStyle() const { return m_InitialBorderStyle; }
    TSkinBorderStyle BorderStyle() const;
    // Whether the drawn frame sizes the form: a sizeable border; a child form unless it started
    // with a single border.
    bool Sizeable() const;
    // The edges a press at Pos (form coordinates) would size: the frame's width of the style
    // around the client area, the corners within kCornerGrip pixels. None while the form cannot
    // be sized (not sizeable, fixed size, maximised or minimised).
    Qt::Edges FrameEdgesAt(const QPoint &Pos) const;
    static constexpr int kCornerGrip = 16;

    bool TitleBarCustom() const { return m_TitleBarCustom; }
    void SetTitleBarCustom(bool Value);
    TSkinFileTheme *FileTheme() const { return m_FileTheme; }
    void SetFileTheme(TSkinFileTheme *Value);
    TSkinUIStyle UIStyle() const { return m_UIStyle; }
    void SetUIStyle(TSkinUIStyle Value);
    bool UIStyleAutoUpdateSub() const { return m_UIStyleAutoUpdateSub; }
    void SetUIStyleAutoUpdateSub(bool Value) { m_UIStyleAutoUpdateSub = Value; }
    TColor BorderColor() const { return m_BorderColor; }
    void SetBorderColor(TColor Value) { m_BorderColor = Value; }
    int BorderWidth() const { return m_BorderWidth; }
    void SetBorderWidth(int Value) { m_BorderWidth = Value; }
    TColor Color() const { return m_Color; }
    void SetColor(TColor Value);
    bool TitleBarVisible() const { return m_TitleBarVisible; }
    void SetTitleBarVisible(bool Value);
    QString Caption() const;
    void SetCaption(const QString &Value);
    QWidget *FormPanel() const { return m_FormPanel; }
    // A panel that fills the client area; the component itself is refused.
    void SetFormPanel(QWidget *Value);
    TSkinTitleBarButtons *TitleBarButtons() const;
    TSkinTitleBarSections *TitleBarSections() const;
    bool TitleBarDrawAppIcon() const;
    void SetTitleBarDrawAppIcon(bool Value);
    QFont TitleFont() const;
    void SetTitleFont(const QFont &Value);
    QMenu *Menu() const { return m_Menu; }
    void SetMenu(QMenu *Value);
    TColor MenuBarColor() const { return m_MenuBarColor; }
    void SetMenuBarColor(TColor Value);
    TColor MenuBarToColor() const { return m_MenuBarToColor; }
    void SetMenuBarToColor(TColor Value);
    // 0 while no menu bar is shown.
    int MenuBarHeight() const;
    void SetMenuBarHeight(int Value);
    int RoundCorner() const;
    void SetRoundCorner(int Value);
    int RoundCornerBottom() const;
    void SetRoundCornerBottom(int Value);
    QString Version() const { return QStringLiteral("6.3"); }
    void SetVersion(const QString &) {}
    TColor InactiveCaptionColor() const;
    void SetInactiveCaptionColor(TColor Value);
    TSkinTitleBarButtonClickEvent OnTitleBarCustomBtnsClick() const;
    void SetOnTitleBarCustomBtnsClick(const TSkinTitleBarButtonClickEvent &Value);
    TSkinTitleBarButtonClickEvent OnTitleBarHelpBtnClick() const;
    void SetOnTitleBarHelpBtnClick(const TSkinTitleBarButtonClickEvent &Value);

    TSkinTitleBar *TitleBar() const { return m_TitleBar; }
    TSkinMenuBar *MenuBar() const { return m_MenuBar; }
    // The title band's height in the window: the bar's height and the 3 frame rows above it.
    int TitleBarHeight() const;
    // The frame of the form around this component.
    QMargins FrameMargins() const;
    // What the title bar asks of the frame: the left picture's width, else the system frame - 1.
    int FrameAnswer() const;
    // The system frame measured when the component took over.
    int SystemBottomFrame() const { return m_BottomFrame; }
    int SystemLeftFrame() const { return m_LeftFrame; }
    // The window's shape for its current size.
    QRegion WindowRegion() const;
    // Applies the shape (not where the window system cannot shape windows).
    void SetRegion();
    // Paints the frame around the client area onto the form.
    void PaintFrame(QPainter &Canvas);
    // The bottom edge composed from the skin file's pictures; null without a skin file.
    QImage BottomPicture() const;
    // Pops the title bar's system menu up at the form's left, under the title bar.
    void PopupSystemMenu();

    // The menu's items changed: the bar's buttons follow their captions and states.
    void MenuItemsChanged();
    // The menu's font changed.
    void MenuFontChanged();

protected:
    void paintEvent(QPaintEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    bool FrameMouseEvent(QMouseEvent *Event);
    void SetFrameCursor(Qt::Edges Edges);
    void MdiStateChanged(Qt::WindowStates OldState, Qt::WindowStates NewState);
    void ApplyMdiState();
    void SetMdiFrameless(bool Frameless);
    // A maximised child form's buttons go to its parent form's title bar, where there is one.
    bool ShowChildButtonsOnParent(bool Show);
    void ApplyStyle();
    void Realign();
    void FormResized();
    void FormStateChanged();
    bool HandleKey(QKeyEvent *Key);
    bool SkinFileInEffect() const;
    void FillMenuBar();
    void ThemeRemoved();

    QPointer<TSkinTitleBar> m_TitleBar;
    QPointer<TSkinMenuBar> m_MenuBar;
    QPointer<QMenu> m_Menu;
    int m_BottomPicHeight = 0;
    int m_BottomFrame = 4;
    int m_LeftPicWidth = 0;
    int m_LeftFrame = 4;
    int m_RightPicWidth = 0;
    QImage m_FrameBitmap;
    QColor m_TransparentColor{255, 0, 255};
    bool m_TitleRegion = false;
    bool m_BottomRegion = false;
    int m_TitleRegionMinY = 0;
    int m_TitleRegionMaxY = 0;
    int m_BottomRegionMinY = 0;
    int m_BottomRegionMaxY = 0;
    // A child form shown maximised; set while the title bar stands aside for the parent's.
    bool m_MdiShownMaximized = false;
    TSkinBorderStyle m_InitialBorderStyle = TSkinBorderStyle::bsSizeable;
    QPointer<QWidget> m_Form;
    QPointer<QMdiSubWindow> m_MdiChild;
    bool m_TitleBarCustom = false;
    QPointer<TSkinFileTheme> m_FileTheme;
    QMetaObject::Connection m_ThemeGone;
    TSkinUIStyle m_UIStyle = TSkinUIStyle::DeepBlue;
    bool m_UIStyleAutoUpdateSub = false;
    TColor m_BorderColor = 0;
    int m_BorderWidth = 1;
    TColor m_Color = 0;
    bool m_TitleBarVisible = true;
    QPointer<QWidget> m_FormPanel;
    TColor m_MenuBarColor = 0;
    TColor m_MenuBarToColor = 0;
    int m_MenuBarHeight = 22;
    bool m_Destroying = false;
    QRect m_CreationBounds;
    bool m_FirstSize = false;
    bool m_WantedTitleBarVisible = true;
    bool m_InternalVisibility = false;
    bool m_Applying = false;
    // Sizing by the drawn frame where the window system does not do it.
    Qt::Edges m_SizingEdges;
    QPoint m_SizingStart;
    QRect m_SizingGeometry;
    bool m_FrameCursor = false;
    std::optional<QCursor> m_FormCursor;
};
