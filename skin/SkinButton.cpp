#include "skin/SkinButton.h"

#include "skin/SkinPublic.h"

#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>

TSkinCheckBox::TSkinCheckBox(QWidget *AOwner) : QCheckBox(AOwner)
{
    setCheckable(true);
    setTristate(false);
    resize(93, 17);
    setFocusPolicy(Qt::StrongFocus);
    // The box covers its whole area itself; nothing is erased before it paints.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    m_UIStyle = FormStyleOfOwner(AOwner ? AOwner->window() : nullptr);
}

void TSkinCheckBox::SetChecked(bool Value)
{
    if (Value == isChecked())
        return;
    QCheckBox::setChecked(Value);
    update();
    DoClick();
}

void TSkinCheckBox::SetUIStyle(TSkinUIStyle Value)
{
    m_UIStyle = Value;
    ApplyAutoSize();
    update();
}

void TSkinCheckBox::SetFileTheme(TSkinFileTheme *Value)
{
    if (m_FileTheme != Value) {
        disconnect(m_ThemeConnection);
        m_FileTheme = Value;
        if (Value)
            m_ThemeConnection = connect(Value, &QObject::destroyed, this, [this] { FileThemeRemoved(); });
    }
    SetUIStyle(m_UIStyle);
}

void TSkinCheckBox::FileThemeRemoved()
{
    m_FileTheme = nullptr;
    SetUIStyle(TSkinUIStyle::DeepBlue);
}

void TSkinCheckBox::SetTransparent(bool Value)
{
    m_Transparent = Value;
    update();
}

void TSkinCheckBox::SetAutoSize(bool Value)
{
    m_AutoSize = Value;
    ApplyAutoSize();
    update();
}

void TSkinCheckBox::SetCaption(const QString &Value)
{
    setText(Value);
    ApplyAutoSize();
    update();
}

QColor TSkinCheckBox::Color() const
{
    return m_Color.isValid() ? m_Color : palette().color(backgroundRole());
}

void TSkinCheckBox::SetColor(const QColor &Value)
{
    m_Color = Value;
    update();
}

bool TSkinCheckBox::NeedFocusRect() const
{
    return TabStop() && hasFocus() && isEnabled() && isVisible();
}

void TSkinCheckBox::DoClick()
{
    if (OnClick)
        OnClick(this);
}

void TSkinCheckBox::Toggle()
{
    BeforeToggle();
    SetChecked(!isChecked());
}

void TSkinCheckBox::nextCheckState()
{
    Toggle();
}

void TSkinCheckBox::Click()
{
    Toggle();
}

QImage TSkinCheckBox::StateImage() const
{
    QImage img;
    TSkinUIStyle style;
    const bool enabled = isEnabled();
    if (ThemeFileInEffect(m_FileTheme.data(), m_UIStyle, style)) {
        // The skin's strip has six frames; these four are the two-state box's.
        const int frame = isChecked() ? (enabled ? 1 : 4) : (enabled ? 3 : 6);
        m_FileTheme->GetBitmapFrame(ThemeKey(), img, frame, 6);
    } else {
        const int frame = isChecked() ? (enabled ? 1 : 3) : (enabled ? 2 : 4);
        LoadStyleBitmapFrame(style, ResourceKey(), &img, frame, 4);
    }
    if (ImageTransparent() && !img.isNull())
        img = MaskedImage(img, ColorToQColor(kStyleTransparentColor));
    return img;
}

QSize TSkinCheckBox::AutoSizeFor(const QImage &Image) const
{
    const QFontMetrics fm(font());
    return QSize(Image.width() + 8 + fm.horizontalAdvance(text()), qMax(Image.height(), fm.height() + 2) + 4);
}

// Sized at once as well as at the next paint, so that a hidden box is laid out at its real size.
void TSkinCheckBox::ApplyAutoSize()
{
    if (!m_AutoSize)
        return;
    const QSize wanted = AutoSizeFor(StateImage());
    if (wanted != size())
        resize(wanted);
}

QSize TSkinCheckBox::sizeHint() const
{
    return m_AutoSize ? AutoSizeFor(StateImage()) : size();
}

void TSkinCheckBox::paintEvent(QPaintEvent *)
{
    const QImage image = StateImage();
    const QFontMetrics fm(font());
    const int textHeight = fm.height();
    if (m_AutoSize) {
        const QSize wanted = AutoSizeFor(image);
        if (wanted != size())
            resize(wanted);
    }
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return;

    // Painted off-screen and copied in one go.
    QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
    buffer.fill(Color());
    {
        QPainter canvas(&buffer);
        if (m_Transparent)
            DrawParentBackground(canvas, this);
        const int textTop = (h - textHeight) / 2;
        const int imageTop = (h - image.height()) / 2;
        canvas.setFont(font());
        canvas.setPen(palette().color(QPalette::WindowText));
        const bool rtl = MiddleEastRightToLeft(this);
        const int flags = int(Qt::TextSingleLine | Qt::TextShowMnemonic | Qt::AlignTop);
        if (!rtl) {
            canvas.drawImage(QPoint(1, imageTop), image);
            canvas.drawText(QRect(image.width() + 4, textTop, w - (image.width() + 4), h - textTop),
                            flags | Qt::AlignLeft, text());
        } else {
            canvas.drawImage(QPoint(w - image.width() - 1, imageTop), image);
            canvas.drawText(QRect(0, textTop, w - (image.width() + 4), h - textTop), flags | Qt::AlignRight, text());
        }
        if (NeedFocusRect()) {
            const QRect focus = rtl ? QRect(0, textTop, w - (image.width() + 4) + 2, textHeight + 2)
                                    : QRect(image.width() + 3, textTop, w - (image.width() + 3), textHeight + 2);
            QPen pen(palette().color(QPalette::WindowText), 1, Qt::DotLine);
            canvas.setPen(pen);
            canvas.setBrush(Qt::NoBrush);
            canvas.drawRect(focus.adjusted(0, 0, -1, -1));
        }
    }
    QPainter p(this);
    p.drawImage(0, 0, buffer);
}

void TSkinCheckBox::changeEvent(QEvent *Event)
{
    QCheckBox::changeEvent(Event);
    switch (Event->type()) {
    case QEvent::FontChange:
        ApplyAutoSize();
        update();
        break;
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
    case QEvent::LayoutDirectionChange:
        update();
        break;
    default:
        break;
    }
}

void TSkinCheckBox::focusInEvent(QFocusEvent *Event)
{
    QCheckBox::focusInEvent(Event);
    update();
}

void TSkinCheckBox::focusOutEvent(QFocusEvent *Event)
{
    QCheckBox::focusOutEvent(Event);
    update();
}

void TSkinCheckBox::keyReleaseEvent(QKeyEvent *Event)
{
    // NOLINTNEXTLINE(bugprone-parent-virtual-call): the box clicks itself, not as QAbstractButton would
    QWidget::keyReleaseEvent(Event);
    if (Event->isAutoRepeat() || !KeyToggles())
        return;
    const int key = Event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && hasFocus() && isEnabled()) {
        Event->accept();
        update();
        Click();
    }
}

void TSkinCheckBox::mousePressEvent(QMouseEvent *Event)
{
    // NOLINTNEXTLINE(bugprone-parent-virtual-call): the box clicks itself, not as QAbstractButton would
    QWidget::mousePressEvent(Event);
    if (Event->button() != Qt::LeftButton)
        return;
    m_MouseDown = true;
    if (focusPolicy() & Qt::ClickFocus && isEnabled() && isVisible())
        setFocus(Qt::MouseFocusReason);
}

void TSkinCheckBox::mouseDoubleClickEvent(QMouseEvent *Event)
{
    // A second click in quick succession is another click, not a double click.
    mousePressEvent(Event);
}

void TSkinCheckBox::mouseReleaseEvent(QMouseEvent *Event)
{
    // NOLINTNEXTLINE(bugprone-parent-virtual-call): the box clicks itself, not as QAbstractButton would
    QWidget::mouseReleaseEvent(Event);
    if (Event->button() != Qt::LeftButton || !m_MouseDown)
        return;
    m_MouseDown = false;
    if (isEnabled() && rect().contains(Event->position().toPoint()))
        Click();
}

void TSkinCheckBox::keyPressEvent(QKeyEvent *Event)
{
    // Space and Enter act on key-up only.
    // NOLINTNEXTLINE(bugprone-parent-virtual-call): the box clicks itself, not as QAbstractButton would
    QWidget::keyPressEvent(Event);
}

bool TSkinCheckBox::event(QEvent *Event)
{
    if (Event->type() == QEvent::Shortcut) {
        QWidget *parent = parentWidget();
        if (isEnabled() && isVisible() && (!parent || parent->isEnabled())) {
            if (focusPolicy() != Qt::NoFocus)
                setFocus(Qt::ShortcutFocusReason);
            Click();
            return true;
        }
        return false;
    }
    return QCheckBox::event(Event);
}
