#include "ui/frmMessage.h"

#include "skin/SkinPng.h"
#include "ui/PngImage.h"
#include "ui/UiHooks.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTextLayout>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kFormWidth = 320;
constexpr int kDesignHeight = 186;
constexpr int kTitleBarHeight = 31;
constexpr int kBottomBandHeight = 31;
constexpr int kSideWidth = 4;
constexpr int kCornerRadius = 5;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 20;
constexpr int kDesignButtonTop = 120;
// Distance of the buttons' bottom edge from the form's bottom edge.
constexpr int kButtonBottomGap = kDesignHeight - kDesignButtonTop - kButtonHeight;
constexpr int kTextTop = 48;

QFont SansFont(int PixelSize, bool Bold = false)
{
    QFont f = QApplication::font();
    f.setPixelSize(PixelSize);
    f.setBold(Bold);
    return f;
}

QPixmap PicturePixmap(const char16_t *Name)
{
    return MessagePicture(QStringView(Name));
}

TImage *NewPicture(QWidget *Parent, const char *ObjectName, const char16_t *Picture, bool Stretch)
{
    auto *l = new TImage(Parent);
    l->setObjectName(QLatin1String(ObjectName));
    l->SetPicture(PicturePixmap(Picture));
    l->SetStretch(Stretch);
    return l;
}

TPicButton *NewButton(QWidget *Parent, const char *ObjectName, const char *Pictures, int FontSize)
{
    auto *b = new TPicButton(Parent);
    b->setObjectName(QLatin1String(ObjectName));
    const QString base = QLatin1String(Pictures);
    b->SetPicNormal(MessagePicture(base + QStringLiteral("_normal")));
    b->SetPicMouseHover(MessagePicture(base + QStringLiteral("_hover")));
    b->SetPicMouseDown(MessagePicture(base + QStringLiteral("_down")));
    b->SetPicDisabled(MessagePicture(base + QStringLiteral("_disabled")));
    b->SetTransparent(true);
    b->SetFont(SansFont(FontSize));
    b->SetFontColor(Qt::white);
    b->SetFontMouseHoverColor(Qt::white);
    b->SetFontMouseDownColor(Qt::white);
    b->SetFontDisabledColor(QColor(0xF4, 0xF4, 0xF4));
    return b;
}

// Texts of the program break lines at carriage returns.
QString DisplayText(const QString &Text)
{
    QString s = Text;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

// Lays the text out at the width; the layout's lines hold the wrapped text.
qreal LayOutText(QTextLayout &Layout, const QString &Text, const QFont &Font, int Width)
{
    QString lines = Text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    Layout.setText(lines);
    Layout.setFont(Font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Layout.setTextOption(option);
    qreal y = 0;
    Layout.beginLayout();
    for (;;) {
        QTextLine line = Layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(qMax(1, Width));
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    Layout.endLayout();
    return y;
}

// Result code of each button by button set; 0 where the set has no code.
TMessageResult CodeOf(int Button, TMessageButtons Set)
{
    using R = TMessageResult;
    static constexpr TMessageResult kCodes[4][4] = {
        // btnButton1, btnButton2, btnButton3, btnClose
        {R::Ok, R::None, R::None, R::Cancel},
        {R::Ok, R::Cancel, R::None, R::Cancel},
        {R::Yes, R::No, R::None, R::No},
        {R::Yes, R::No, R::Cancel, R::Cancel},
    };
    return quint8(Set) < 4 ? kCodes[quint8(Set)][Button] : R::None;
}

} // namespace

QPixmap MessagePicture(QStringView Name)
{
    return PngPixmap(EmbeddedPng(u":/pictures/message/", Name));
}

// ---------------------------------------------------------------------------

TMessageText::TMessageText(QWidget *Parent) : QLabel(Parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFont(SansFont(12));
}

int TMessageText::TextHeight(int Width) const
{
    QTextLayout layout;
    return int(std::ceil(LayOutText(layout, text(), font(), Width)));
}

void TMessageText::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    QTextLayout layout;
    LayOutText(layout, text(), font(), width());
    layout.draw(&p, QPointF(0, 0));
}

// ---------------------------------------------------------------------------

TFormMessage::TFormMessage(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("FormMessage"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Details"));
    setModal(true);
    setFont(SansFont(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    // The window paints its colour itself; left off here so that the
    // transparent buttons show the frame pictures beneath them.
    setAutoFillBackground(false);
    resize(kFormWidth, kDesignHeight);

    imgBorder_TopLeft = NewPicture(this, "imgBorder_TopLeft", u"border_topleft", false);
    imgBorder_Top = NewPicture(this, "imgBorder_Top", u"border_top", true);
    imgBorder_TopRight = NewPicture(this, "imgBorder_TopRight", u"border_topright", false);
    imgBorder_Left = NewPicture(this, "imgBorder_Left", u"border_left", true);
    imgBorder_Right = NewPicture(this, "imgBorder_Right", u"border_right", true);
    imgBorder_BottomLeft = NewPicture(this, "imgBorder_BottomLeft", u"border_bottomleft", false);
    imgBorder_Bottom = NewPicture(this, "imgBorder_Bottom", u"border_bottom", true);
    imgBorder_BottomRight = NewPicture(this, "imgBorder_BottomRight", u"border_bottomright", false);

    lblTitle = new TLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setTextFormat(Qt::PlainText);
    lblTitle->setFont(SansFont(12, true));
    lblTitle->setAttribute(Qt::WA_TranslucentBackground);
    {
        QPalette p = lblTitle->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        lblTitle->setPalette(p);
    }
    // The title sits in the 31-pixel bar, centred on the close button's height.
    lblTitle->setGeometry(24, 3, kFormWidth - 24 - 40, kTitleBarHeight - 6);
    lblTitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    lblText = new TMessageText(this);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setGeometry(72, kTextTop, 216, 15);

    struct
    {
        TImage *&Member;
        const char *Name;
        const char16_t *Picture;
    } icons[] = {
        {imgIcon_Information, "imgIcon_Information", u"icon_information"},
        {imgIcon_Question, "imgIcon_Question", u"icon_question"},
        {imgIcon_Warning, "imgIcon_Warning", u"icon_warning"},
        {imgIcon_Ban, "imgIcon_Ban", u"icon_ban"},
        {imgIcon_Error, "imgIcon_Error", u"icon_error"},
    };
    for (auto &i : icons) {
        i.Member = NewPicture(this, i.Name, i.Picture, false);
        i.Member->setGeometry(24, 42, 32, 32);
    }

    struct
    {
        TPicButton *&Member;
        const char *Name;
        int Left;
        void (TFormMessage::*Handler)();
    } buttons[] = {
        {btnButton1, "btnButton1", 24, &TFormMessage::btnButton1Click},
        {btnButton2, "btnButton2", 120, &TFormMessage::btnButton2Click},
        {btnButton3, "btnButton3", 216, &TFormMessage::btnButton3Click},
    };
    for (auto &b : buttons) {
        b.Member = NewButton(this, b.Name, "button", 11);
        b.Member->setGeometry(b.Left, kDesignButtonTop, kButtonWidth, kButtonHeight);
        b.Member->OnClick = [this, handler = b.Handler](QObject *) { (this->*handler)(); };
    }

    btnClose = NewButton(this, "btnClose", "close", 11);
    btnClose->setGeometry(kFormWidth - 34, 7, 16, 16);
    btnClose->OnClick = [this](QObject *) { btnCloseClick(); };

    // Keys reach the form first, whichever child has the focus.
    installEventFilter(this);
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    FormCreate();
    PlaceFrame();
}

TFormMessage::~TFormMessage() = default;

TMessageResult TFormMessage::MessageBox(const QString &Text, const QString &Title, TMessageIcon IconKind,
                                        TMessageButtons ButtonSet)
{
    // Without a widget application there is no form to show.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return TMessageResult::None;
    // Each call has its own form, freed when the call ends.
    auto form = std::make_unique<TFormMessage>();
    form->lblTitle->setText(Title);
    form->lblText->setText(DisplayText(Text));
    form->SetIconKind(IconKind);
    form->SetButtonSet(ButtonSet);
    if (Title.trimmed().isEmpty())
        form->lblTitle->setText(QGuiApplication::applicationDisplayName());
    UiHooks().ExecModal(form.get());
    return form->Result();
}

void TFormMessage::FormCreate()
{
    m_LayoutPending = true;
    auto drag = [this](QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y) {
        DragMouseDown(Sender, Button, Shift, X, Y);
    };
    lblTitle->OnMouseDown = drag;
    imgBorder_TopLeft->OnMouseDown = drag;
    imgBorder_Top->OnMouseDown = drag;
    imgBorder_TopRight->OnMouseDown = drag;
}

void TFormMessage::FormShow()
{
    if (!m_LayoutPending)
        return;
    for (TImage *icon : {imgIcon_Information, imgIcon_Question, imgIcon_Warning, imgIcon_Ban, imgIcon_Error})
        icon->hide();

    TImage *shown = nullptr;
    bool sound = true;
    switch (m_IconKind) {
    case TMessageIcon::None:
        shown = nullptr;
        break;
    case TMessageIcon::Information:
        shown = imgIcon_Information;
        break;
    case TMessageIcon::Question:
        shown = imgIcon_Question;
        break;
    case TMessageIcon::Warning:
        shown = imgIcon_Warning;
        break;
    case TMessageIcon::Ban:
        shown = imgIcon_Ban;
        break;
    case TMessageIcon::Error:
        shown = imgIcon_Error;
        break;
    default:
        sound = false;
        break;
    }
    const int textLeft = m_IconKind == TMessageIcon::None ? 30 : imgIcon_Information->width() + 40;
    const int textWidth = width() - textLeft - 30;
    if (shown)
        shown->show();
    // The desktop has one bell for every kind of message.
    if (sound)
        QApplication::beep();
    int textHeight = qMax(1, lblText->TextHeight(textWidth));
    // A text taller than the screen would push the buttons out of reach: the
    // box stops at the screen's height and the text's end is cut off.
    if (QScreen *s = TargetScreen())
        textHeight = qMin(textHeight, qMax(1, s->availableGeometry().height() - kTextTop - 90));
    lblText->setGeometry(textLeft, kTextTop, textWidth, textHeight);

    // Each set's buttons: where each stands and what it says, by button set.
    struct TPlace
    {
        int Left;
        const char16_t *Caption;
    };
    static const std::vector<TPlace> kPlaces[] = {
        {{120, u"确认"}},
        {{70, u"确认"}, {170, u"取消"}},
        {{70, u"是"}, {170, u"否"}},
        {{24, u"是"}, {120, u"否"}, {216, u"取消"}},
    };
    TPicButton *const buttons[] = {btnButton1, btnButton2, btnButton3};
    for (TPicButton *b : buttons)
        b->hide();
    const auto set = std::size_t(m_ButtonSet);
    if (set < std::size(kPlaces)) {
        for (std::size_t i = 0; i < kPlaces[set].size(); ++i) {
            TPicButton *b = buttons[i];
            b->SetCaption(QString::fromUtf16(kPlaces[set][i].Caption));
            b->move(kPlaces[set][i].Left, b->y());
            b->show();
        }
    }

    // Buttons and bottom pieces keep their distance to the bottom edge.
    resize(width(), lblText->y() + lblText->height() + 90);
    m_LayoutPending = false;
}

void TFormMessage::FormKeyPress(quint16 &Key)
{
    if (Key == 13) {
        btnButton1Click();
    } else if (Key == 27) {
        if (m_ButtonSet == TMessageButtons::YesNoCancel)
            btnButton3Click();
        else
            btnButton2Click();
    }
}

void TFormMessage::CloseWithResult(int Button)
{
    const TMessageResult code = CodeOf(Button, m_ButtonSet);
    if (code != TMessageResult::None)
        m_Result = code;
    m_ClosedByButton = true;
    close();
}

void TFormMessage::btnButton1Click()
{
    CloseWithResult(0);
}

void TFormMessage::btnButton2Click()
{
    CloseWithResult(1);
}

void TFormMessage::btnButton3Click()
{
    CloseWithResult(2);
}

void TFormMessage::btnCloseClick()
{
    CloseWithResult(3);
}

void TFormMessage::done(int Code)
{
    if (!m_ClosedByButton) {
        m_ClosedByButton = true;
        m_Result = CodeOf(3, m_ButtonSet);
    }
    QDialog::done(Code);
}

void TFormMessage::DragMouseDown(QObject *Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y)
{
    m_Drag.Begin(this, Sender, X, Y);
}

bool TFormMessage::eventFilter(QObject *Watched, QEvent *Event)
{
    switch (Event->type()) {
    case QEvent::KeyPress: {
        auto *k = static_cast<QKeyEvent *>(Event);
        quint16 key = 0;
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
            key = 13;
        else if (k->key() == Qt::Key_Escape)
            key = 27;
        if (key != 0) {
            FormKeyPress(key);
            return true;
        }
        break;
    }
    default:
        break;
    }
    if (m_Drag.Follow(this, Event))
        return true;
    return QDialog::eventFilter(Watched, Event);
}

void TFormMessage::keyPressEvent(QKeyEvent *Event)
{
    // Enter and Esc are handled in the event filter; nothing else closes the box.
    Event->accept();
}

void TFormMessage::showEvent(QShowEvent *Event)
{
    FormShow();
    CentreOnScreen();
    QDialog::showEvent(Event);
}

void TFormMessage::resizeEvent(QResizeEvent *Event)
{
    QDialog::resizeEvent(Event);
    PlaceFrame();
}

QScreen *TFormMessage::TargetScreen() const
{
    QScreen *s = nullptr;
    if (QWidget *active = QApplication::activeWindow(); active && active != this)
        s = active->screen();
    if (!s)
        s = QGuiApplication::screenAt(QCursor::pos());
    if (!s)
        s = QGuiApplication::primaryScreen();
    return s;
}

void TFormMessage::CentreOnScreen()
{
    QScreen *s = TargetScreen();
    if (!s)
        return;
    const QRect area = s->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void TFormMessage::PlaceFrame()
{
    const int w = width(), h = height();
    PlaceFramePieces({imgBorder_TopLeft, imgBorder_Top, imgBorder_TopRight, imgBorder_Left, imgBorder_Right,
                      imgBorder_BottomLeft, imgBorder_Bottom, imgBorder_BottomRight},
                     size(), {kTitleBarHeight, 18, 68, kSideWidth, kBottomBandHeight, 53});

    btnClose->move(w - 34, 7);
    for (TPicButton *b : {btnButton1, btnButton2, btnButton3})
        b->move(b->x(), h - kButtonBottomGap - kButtonHeight);

    // Round the window's corners as the frame pictures are drawn (headless
    // platforms have no window shapes).
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal") || m_Shaped == size())
        return;
    m_Shaped = size();
    QRegion shape(0, 0, w, h);
    for (int y = 0; y < kCornerRadius; ++y) {
        const double dy = kCornerRadius - y - 0.5;
        const int cut = int(std::lround(kCornerRadius - std::sqrt(double(kCornerRadius * kCornerRadius) - dy * dy)));
        if (cut <= 0)
            continue;
        shape -= QRegion(0, y, cut, 1);
        shape -= QRegion(w - cut, y, cut, 1);
        shape -= QRegion(0, h - 1 - y, cut, 1);
        shape -= QRegion(w - cut, h - 1 - y, cut, 1);
    }
    setMask(shape);
}
