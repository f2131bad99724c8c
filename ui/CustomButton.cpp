#include "ui/CustomButton.h"

#include <QApplication>
#include <QBitmap>
#include <QDialog>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTimer>

TCustomButton::TCustomButton(QWidget *AOwner) : QWidget(AOwner)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover, false);
    setMouseTracking(false);
    m_FontMouseHover = font();
    m_FontMouseDown = font();
    m_FontDisabled = font();
    m_Color = palette().color(QPalette::Button);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *Now) { FocusChanged(Now); });
}

TCustomButton::~TCustomButton()
{
    StopRepeat();
}

void TCustomButton::SetCaption(const QString &Value)
{
    m_Caption = Value;
    setAccessibleName(Value);
    UpdateAccelerator();
    update();
}

void TCustomButton::SetDefault(bool Value)
{
    m_Default = Value;
    // Recompute the default state against the form's focused control, as a focus change would.
    FocusChanged(QApplication::focusWidget());
    WatchWindow();
}

void TCustomButton::SetTransparent(bool Value)
{
    if (m_Transparent == Value)
        return;
    m_Transparent = Value;
    update();
}

void TCustomButton::SetEnableTransparentColor(bool Value)
{
    if (m_EnableTransparentColor == Value)
        return;
    m_EnableTransparentColor = Value;
    update();
}

void TCustomButton::SetTransparentColor(const QColor &Value)
{
    if (m_TransparentColor == Value)
        return;
    m_TransparentColor = Value;
    update();
}

void TCustomButton::SetFocusedRectMargin(int Value)
{
    if (m_FocusedRectMargin == Value)
        return;
    m_FocusedRectMargin = Value;
    update();
}

void TCustomButton::SetTextAlign(TAlignment Value)
{
    if (m_TextAlign == Value)
        return;
    m_TextAlign = Value;
    update();
}

void TCustomButton::SetPictureAlign(TAlignment Value)
{
    if (m_PictureAlign == Value)
        return;
    m_PictureAlign = Value;
    update();
}

void TCustomButton::SetTextX(int Value)
{
    if (m_TextX == Value)
        return;
    m_TextX = Value;
    update();
}

void TCustomButton::SetTextY(int Value)
{
    if (m_TextY == Value)
        return;
    m_TextY = Value;
    update();
}

void TCustomButton::SetPictureX(int Value)
{
    if (m_PictureX == Value)
        return;
    m_PictureX = Value;
    update();
}

void TCustomButton::SetPictureY(int Value)
{
    if (m_PictureY == Value)
        return;
    m_PictureY = Value;
    update();
}

void TCustomButton::SetMultiLines(bool Value)
{
    if (m_MultiLines == Value)
        return;
    m_MultiLines = Value;
    update();
}

void TCustomButton::SetShowDisabledShadow(bool Value)
{
    m_ShowDisabledShadow = Value;
    update();
}

void TCustomButton::SetEnableStatesFont(bool Value)
{
    m_EnableStatesFont = Value;
    update();
}

void TCustomButton::SetFont(const QFont &Value)
{
    setFont(Value);
    update();
}

void TCustomButton::SetFontMouseHover(const QFont &Value)
{
    m_FontMouseHover = Value;
    update();
}

void TCustomButton::SetFontMouseDown(const QFont &Value)
{
    m_FontMouseDown = Value;
    update();
}

void TCustomButton::SetFontDisabled(const QFont &Value)
{
    m_FontDisabled = Value;
    update();
}

void TCustomButton::SetFontColor(const QColor &Value)
{
    m_FontColor = Value;
    update();
}

void TCustomButton::SetFontMouseHoverColor(const QColor &Value)
{
    m_FontMouseHoverColor = Value;
    update();
}

void TCustomButton::SetFontMouseDownColor(const QColor &Value)
{
    m_FontMouseDownColor = Value;
    update();
}

void TCustomButton::SetFontDisabledColor(const QColor &Value)
{
    m_FontDisabledColor = Value;
    update();
}

void TCustomButton::SetStretch(bool Value)
{
    if (m_Stretch == Value)
        return;
    m_Stretch = Value;
    update();
}

void TCustomButton::SetDrawFocused(bool Value)
{
    if (m_DrawFocused == Value)
        return;
    m_DrawFocused = Value;
    update();
}

void TCustomButton::SetDrawBorder(bool Value)
{
    if (m_DrawBorder == Value)
        return;
    m_DrawBorder = Value;
    update();
}

void TCustomButton::SetTabStop(bool Value)
{
    setFocusPolicy(Value ? Qt::StrongFocus : Qt::NoFocus);
}

void TCustomButton::SetColor(const QColor &Value)
{
    m_Color = Value;
    update();
}

void TCustomButton::SetEnabled(bool Value)
{
    setEnabled(Value);
    update();
}

void TCustomButton::StartRepeat()
{
    if (m_RepeatTimer)
        return;
    m_RepeatTimer = new QTimer(this);
    m_RepeatTimer->setInterval(qMax(0, m_RepeatInterval));
    connect(m_RepeatTimer, &QTimer::timeout, this, [this] {
        if (OnMouseContinuouslyDown)
            OnMouseContinuouslyDown(this);
    });
    m_RepeatTimer->start();
}

void TCustomButton::StopRepeat()
{
    delete m_RepeatTimer;
    m_RepeatTimer = nullptr;
}

void TCustomButton::ResetMouseState()
{
    if (!m_Hover && !m_Down)
        return;
    m_Hover = false;
    m_Down = false;
    update();
}

void TCustomButton::Click()
{
    if (m_Down) {
        StopRepeat();
        m_Down = false;
        m_Hover = true;
        update();
    }
    if (auto *form = qobject_cast<QDialog *>(window()); form && m_ModalResult != 0)
        form->done(m_ModalResult);
    if (OnClick)
        OnClick(this);
}

// ---- painting ------------------------------------------------------------------------------

bool TCustomButton::GetStatePicture(QPixmap &)
{
    return false;
}

QPixmap TCustomButton::KeyedPicture(const QPixmap &Picture) const
{
    if (Picture.isNull())
        return Picture;
    QPixmap keyed = Picture;
    keyed.setMask(Picture.createMaskFromColor(m_TransparentColor, Qt::MaskInColor));
    return keyed;
}

void TCustomButton::PaintPicture(QPainter &Canvas, const QPixmap &Picture)
{
    if (Picture.width() == 0 || Picture.height() == 0)
        return;
    const QPoint at =
        AlignedPicturePos(m_PictureAlign, width(), height(), Picture.width(), Picture.height(), m_PictureX, m_PictureY);
    if (m_Stretch)
        Canvas.drawPixmap(QRect(at, QPoint(width() - 1, height() - 1)), Picture);
    else
        Canvas.drawPixmap(at, Picture);
}

void TCustomButton::PaintText(QPainter &Canvas)
{
    Canvas.setBrush(Qt::NoBrush);
    QRect r = rect();
    if (m_TextAlign == alCustom)
        r = QRect(QPoint(m_TextX, m_TextY), QPoint(width() - 1, height() - 1));
    const int flags = AlignedTextFlags(m_TextAlign, m_MultiLines);
    if (!isEnabled()) {
        Canvas.setFont(m_EnableStatesFont ? m_FontDisabled : font());
        Canvas.setPen(m_EnableStatesFont ? m_FontDisabledColor : m_FontColor);
        Canvas.drawText(r, flags, m_Caption);
        if (m_ShowDisabledShadow) {
            Canvas.setPen(QColor(0x80, 0x80, 0x80));
            Canvas.drawText(r.translated(1, 1), flags, m_Caption);
        }
    } else if (m_Down) {
        Canvas.setFont(m_EnableStatesFont ? m_FontMouseDown : font());
        Canvas.setPen(m_EnableStatesFont ? m_FontMouseDownColor : m_FontColor);
        // A custom placement keeps its exact origin when pressed.
        Canvas.drawText(m_TextAlign == alCustom ? r : r.translated(1, 1), flags, m_Caption);
    } else if (m_Hover) {
        Canvas.setFont(m_EnableStatesFont ? m_FontMouseHover : font());
        Canvas.setPen(m_EnableStatesFont ? m_FontMouseHoverColor : m_FontColor);
        Canvas.drawText(r, flags, m_Caption);
    } else {
        Canvas.setFont(font());
        Canvas.setPen(m_FontColor);
        Canvas.drawText(r, flags, m_Caption);
    }
}

void TCustomButton::PaintFocusRect(QPainter &Canvas)
{
    QStyleOptionFocusRect opt;
    opt.initFrom(this);
    opt.rect = rect().adjusted(m_FocusedRectMargin, m_FocusedRectMargin, -m_FocusedRectMargin, -m_FocusedRectMargin);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &Canvas, this);
}

void TCustomButton::PaintBorder(QPainter &Canvas)
{
    Canvas.setBrush(Qt::NoBrush);
    Canvas.setPen(isEnabled() ? QColor(Qt::black) : QColor(0x80, 0x80, 0x80));
    Canvas.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TCustomButton::paintEvent(QPaintEvent *)
{
    // Everything is composed off screen and copied in one go, so the button never flickers.
    QPixmap buffer(size());
    buffer.fill(Qt::transparent);
    {
        QPainter canvas(&buffer);
        if (m_Transparent)
            PaintParentBackground(canvas, this);
        else
            canvas.fillRect(rect(), m_Color);
        QPixmap picture;
        if (GetStatePicture(picture))
            PaintPicture(canvas, picture);
        if (m_DrawBorder)
            PaintBorder(canvas);
        if (m_DrawFocused && hasFocus() && TabStop())
            PaintFocusRect(canvas);
        if (!m_Caption.trimmed().isEmpty())
            PaintText(canvas);
    }
    QPainter p(this);
    p.drawPixmap(0, 0, buffer);
}

// ---- mouse and keys ------------------------------------------------------------------------

void TCustomButton::enterEvent(QEnterEvent *Event)
{
    QWidget::enterEvent(Event);
    m_Hover = true;
    m_Down = false;
    update();
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TCustomButton::leaveEvent(QEvent *Event)
{
    QWidget::leaveEvent(Event);
    if (!m_Down) {
        m_Hover = false;
        m_Down = false;
        StopRepeat();
        update();
    }
    if (OnMouseExit)
        OnMouseExit(this);
}

void TCustomButton::mousePressEvent(QMouseEvent *Event)
{
    if (Event->button() == Qt::LeftButton) {
        m_Down = true;
        m_Hover = false;
        StartRepeat();
        if (TabStop() && isEnabled() && isVisible())
            setFocus(Qt::MouseFocusReason);
        update();
    }
    QWidget::mousePressEvent(Event);
}

void TCustomButton::mouseMoveEvent(QMouseEvent *Event)
{
    QWidget::mouseMoveEvent(Event);
    if (!rect().contains(Event->position().toPoint()) && !m_Down && m_Hover) {
        m_Hover = false;
        update();
    }
}

void TCustomButton::mouseReleaseEvent(QMouseEvent *Event)
{
    QWidget::mouseReleaseEvent(Event);
    if (Event->button() != Qt::LeftButton)
        return;
    const bool wasDown = m_Down;
    const bool inside = rect().contains(Event->position().toPoint());
    m_Hover = inside;
    StopRepeat();
    update();
    if (inside && wasDown)
        Click(); // turns the press into a click; Click clears the pressed state itself
    else
        m_Down = false;
}

void TCustomButton::mouseDoubleClickEvent(QMouseEvent *Event)
{
    // Double clicks are not taken: a second press is just a press.
    mousePressEvent(Event);
}

static bool IsPressKey(int Key)
{
    return Key == Qt::Key_Space || Key == Qt::Key_Return || Key == Qt::Key_Enter;
}

void TCustomButton::keyPressEvent(QKeyEvent *Event)
{
    if (IsPressKey(Event->key()) && hasFocus() && isEnabled()) {
        if (!Event->isAutoRepeat()) {
            m_Down = true;
            m_Hover = false;
            update();
        }
        Event->accept();
        return;
    }
    QWidget::keyPressEvent(Event);
}

void TCustomButton::keyReleaseEvent(QKeyEvent *Event)
{
    if (IsPressKey(Event->key()) && !Event->isAutoRepeat() && hasFocus() && m_Down && isEnabled()) {
        m_Down = false;
        update();
        Click();
        Event->accept();
        return;
    }
    QWidget::keyReleaseEvent(Event);
}

void TCustomButton::focusInEvent(QFocusEvent *Event)
{
    QWidget::focusInEvent(Event);
    update();
}

void TCustomButton::focusOutEvent(QFocusEvent *Event)
{
    QWidget::focusOutEvent(Event);
    update();
}

void TCustomButton::changeEvent(QEvent *Event)
{
    QWidget::changeEvent(Event);
    if (Event->type() == QEvent::FontChange || Event->type() == QEvent::EnabledChange)
        update();
    if (Event->type() == QEvent::ParentChange)
        WatchWindow();
}

void TCustomButton::FocusChanged(QWidget *Now)
{
    // A focused standard push button takes the default role from every picture button.
    const bool active = qobject_cast<QPushButton *>(Now) ? false : m_Default;
    if (active != m_ActiveDefault) {
        m_ActiveDefault = active;
        update();
    }
}

void TCustomButton::WatchWindow()
{
    QWidget *w = window();
    if (w == m_WatchedWindow)
        return;
    if (m_WatchedWindow)
        m_WatchedWindow->removeEventFilter(this);
    m_WatchedWindow = (w && w != this) ? w : nullptr;
    if (m_WatchedWindow)
        m_WatchedWindow->installEventFilter(this);
}

bool TCustomButton::eventFilter(QObject *Watched, QEvent *Event)
{
    // Dialog keys: Enter for the active default button, Esc for the cancel button.
    if (Watched == m_WatchedWindow && Event->type() == QEvent::KeyPress) {
        auto *e = static_cast<QKeyEvent *>(Event);
        const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        const bool canFocus = isEnabled() && isVisible();
        if (plain && canFocus && ((enter && m_ActiveDefault) || (e->key() == Qt::Key_Escape && m_Cancel))) {
            // A focused button of our own handles its Enter itself.
            if (!(enter && qobject_cast<TCustomButton *>(QApplication::focusWidget()))) {
                Click();
                return true;
            }
        }
    }
    return QWidget::eventFilter(Watched, Event);
}

void TCustomButton::UpdateAccelerator()
{
    delete m_Accelerator;
    m_Accelerator = nullptr;
    const QKeySequence seq = QKeySequence::mnemonic(m_Caption);
    if (seq.isEmpty())
        return;
    m_Accelerator = new QShortcut(seq, this);
    m_Accelerator->setContext(Qt::WindowShortcut);
    connect(m_Accelerator, &QShortcut::activated, this, [this] {
        if (isEnabled())
            Click();
    });
}
