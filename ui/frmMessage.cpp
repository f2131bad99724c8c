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

constexpr int FormWidth = 320;
constexpr int DesignHeight = 186;
constexpr int TitleBarHeight = 31;
constexpr int BottomBandHeight = 31;
constexpr int SideWidth = 4;
constexpr int CornerRadius = 5;
constexpr int ButtonWidth = 80;
constexpr int ButtonHeight = 20;
constexpr int DesignButtonTop = 120;
// Distance of the buttons' bottom edge from the form's bottom edge.
constexpr int ButtonBottomGap = DesignHeight - DesignButtonTop - ButtonHeight;
constexpr int TextTop = 48;

QFont SansFont(int PixelSize, bool Bold = false)
{
    QFont F = QApplication::font();
    F.setPixelSize(PixelSize);
    F.setBold(Bold);
    return F;
}

QPixmap PicturePixmap(const char16_t *Name)
{
    return MessagePicture(QStringView(Name));
}

TImage *NewPicture(QWidget *Parent, const char *ObjectName, const char16_t *Picture, bool Stretch)
{
    auto *L = new TImage(Parent);
    L->setObjectName(QLatin1String(ObjectName));
    L->SetPicture(PicturePixmap(Picture));
    L->SetStretch(Stretch);
    return L;
}

TPicButton *NewButton(QWidget *Parent, const char *ObjectName, const char *Pictures, int FontSize)
{
    auto *B = new TPicButton(Parent);
    B->setObjectName(QLatin1String(ObjectName));
    const QString Base = QLatin1String(Pictures);
    B->SetPicNormal(MessagePicture(Base + QStringLiteral("_normal")));
    B->SetPicMouseHover(MessagePicture(Base + QStringLiteral("_hover")));
    B->SetPicMouseDown(MessagePicture(Base + QStringLiteral("_down")));
    B->SetPicDisabled(MessagePicture(Base + QStringLiteral("_disabled")));
    B->SetTransparent(true);
    B->SetFont(SansFont(FontSize));
    B->SetFontColor(Qt::white);
    B->SetFontMouseHoverColor(Qt::white);
    B->SetFontMouseDownColor(Qt::white);
    B->SetFontDisabledColor(QColor(0xF4, 0xF4, 0xF4));
    return B;
}

// Texts of the program break lines at carriage returns.
QString DisplayText(const QString &Text)
{
    QString S = Text;
    S.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    S.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return S;
}

// Lays the text out at the width; the layout's lines hold the wrapped text.
qreal LayOutText(QTextLayout &Layout, const QString &Text, const QFont &Font, int Width)
{
    QString Lines = Text;
    Lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    Layout.setText(Lines);
    Layout.setFont(Font);
    QTextOption Option;
    Option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Layout.setTextOption(Option);
    qreal Y = 0;
    Layout.beginLayout();
    for (;;) {
        QTextLine Line = Layout.createLine();
        if (!Line.isValid())
            break;
        Line.setLineWidth(qMax(1, Width));
        Line.setPosition(QPointF(0, Y));
        Y += Line.height();
    }
    Layout.endLayout();
    return Y;
}

// Result code of each button by button set; 0 where the set has no code.
TMessageResult CodeOf(int Button, TMessageButtons Set)
{
    using R = TMessageResult;
    static constexpr TMessageResult Codes[4][4] = {
        // btnButton1, btnButton2, btnButton3, btnClose
        {R::Ok, R::None, R::None, R::Cancel},
        {R::Ok, R::Cancel, R::None, R::Cancel},
        {R::Yes, R::No, R::None, R::No},
        {R::Yes, R::No, R::Cancel, R::Cancel},
    };
    return quint8(Set) < 4 ? Codes[quint8(Set)][Button] : R::None;
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
    QTextLayout Layout;
    return int(std::ceil(LayOutText(Layout, text(), font(), Width)));
}

void TMessageText::paintEvent(QPaintEvent *)
{
    QPainter P(this);
    P.setPen(palette().color(QPalette::WindowText));
    QTextLayout Layout;
    LayOutText(Layout, text(), font(), width());
    Layout.draw(&P, QPointF(0, 0));
}

// ---------------------------------------------------------------------------

TFormMessage::TFormMessage(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("FormMessage"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Details"));
    setModal(true);
    setFont(SansFont(11));
    QPalette Pal = palette();
    Pal.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    Pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(Pal);
    // The window paints its colour itself; left off here so that the
    // transparent buttons show the frame pictures beneath them.
    setAutoFillBackground(false);
    resize(FormWidth, DesignHeight);

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
        QPalette P = lblTitle->palette();
        P.setColor(QPalette::WindowText, Qt::white);
        lblTitle->setPalette(P);
    }
    // The title sits in the 31-pixel bar, centred on the close button's height.
    lblTitle->setGeometry(24, 3, FormWidth - 24 - 40, TitleBarHeight - 6);
    lblTitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    lblText = new TMessageText(this);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setGeometry(72, TextTop, 216, 15);

    struct
    {
        TImage *&Member;
        const char *Name;
        const char16_t *Picture;
    } Icons[] = {
        {imgIcon_Information, "imgIcon_Information", u"icon_information"},
        {imgIcon_Question, "imgIcon_Question", u"icon_question"},
        {imgIcon_Warning, "imgIcon_Warning", u"icon_warning"},
        {imgIcon_Ban, "imgIcon_Ban", u"icon_ban"},
        {imgIcon_Error, "imgIcon_Error", u"icon_error"},
    };
    for (auto &I : Icons) {
        I.Member = NewPicture(this, I.Name, I.Picture, false);
        I.Member->setGeometry(24, 42, 32, 32);
    }

    struct
    {
        TPicButton *&Member;
        const char *Name;
        int Left;
        void (TFormMessage::*Handler)();
    } Buttons[] = {
        {btnButton1, "btnButton1", 24, &TFormMessage::btnButton1Click},
        {btnButton2, "btnButton2", 120, &TFormMessage::btnButton2Click},
        {btnButton3, "btnButton3", 216, &TFormMessage::btnButton3Click},
    };
    for (auto &B : Buttons) {
        B.Member = NewButton(this, B.Name, "button", 11);
        B.Member->setGeometry(B.Left, DesignButtonTop, ButtonWidth, ButtonHeight);
        B.Member->OnClick = [this, Handler = B.Handler](QObject *) { (this->*Handler)(); };
    }

    btnClose = NewButton(this, "btnClose", "close", 11);
    btnClose->setGeometry(FormWidth - 34, 7, 16, 16);
    btnClose->OnClick = [this](QObject *) { btnCloseClick(); };

    // Keys reach the form first, whichever child has the focus.
    installEventFilter(this);
    for (QWidget *W : findChildren<QWidget *>())
        W->installEventFilter(this);

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
    auto Form = std::make_unique<TFormMessage>();
    Form->lblTitle->setText(Title);
    Form->lblText->setText(DisplayText(Text));
    Form->SetIconKind(IconKind);
    Form->SetButtonSet(ButtonSet);
    if (Title.trimmed().isEmpty())
        Form->lblTitle->setText(QGuiApplication::applicationDisplayName());
    UiHooks().ExecModal(Form.get());
    return Form->Result();
}

void TFormMessage::FormCreate()
{
    FLayoutPending = true;
    auto Drag = [this](QObject *Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y) {
        DragMouseDown(Sender, Button, Shift, X, Y);
    };
    lblTitle->OnMouseDown = Drag;
    imgBorder_TopLeft->OnMouseDown = Drag;
    imgBorder_Top->OnMouseDown = Drag;
    imgBorder_TopRight->OnMouseDown = Drag;
}

void TFormMessage::FormShow()
{
    if (!FLayoutPending)
        return;
    for (TImage *Icon : {imgIcon_Information, imgIcon_Question, imgIcon_Warning, imgIcon_Ban, imgIcon_Error})
        Icon->hide();

    TImage *Shown = nullptr;
    bool Sound = true;
    switch (FIconKind) {
    case TMessageIcon::None:
        Shown = nullptr;
        break;
    case TMessageIcon::Information:
        Shown = imgIcon_Information;
        break;
    case TMessageIcon::Question:
        Shown = imgIcon_Question;
        break;
    case TMessageIcon::Warning:
        Shown = imgIcon_Warning;
        break;
    case TMessageIcon::Ban:
        Shown = imgIcon_Ban;
        break;
    case TMessageIcon::Error:
        Shown = imgIcon_Error;
        break;
    default:
        Sound = false;
        break;
    }
    const int TextLeft = FIconKind == TMessageIcon::None ? 30 : imgIcon_Information->width() + 40;
    const int TextWidth = width() - TextLeft - 30;
    if (Shown)
        Shown->show();
    // The desktop has one bell for every kind of message.
    if (Sound)
        QApplication::beep();
    int TextHeight = qMax(1, lblText->TextHeight(TextWidth));
    // A text taller than the screen would push the buttons out of reach: the
    // box stops at the screen's height and the text's end is cut off.
    if (QScreen *S = TargetScreen())
        TextHeight = qMin(TextHeight, qMax(1, S->availableGeometry().height() - TextTop - 90));
    lblText->setGeometry(TextLeft, TextTop, TextWidth, TextHeight);

    struct TPlace
    {
        TPicButton *Button;
        int Left;
        const char16_t *Caption;
    };
    std::vector<TPlace> Places;
    switch (FButtonSet) {
    case TMessageButtons::Ok:
        Places = {{btnButton1, 120, u"确认"}};
        break;
    case TMessageButtons::OkCancel:
        Places = {{btnButton1, 70, u"确认"}, {btnButton2, 170, u"取消"}};
        break;
    case TMessageButtons::YesNo:
        Places = {{btnButton1, 70, u"是"}, {btnButton2, 170, u"否"}};
        break;
    case TMessageButtons::YesNoCancel:
        Places = {{btnButton1, 24, u"是"}, {btnButton2, 120, u"否"}, {btnButton3, 216, u"取消"}};
        break;
    default:
        break;
    }
    for (TPicButton *B : {btnButton1, btnButton2, btnButton3})
        B->hide();
    for (const TPlace &P : Places) {
        P.Button->SetCaption(QString::fromUtf16(P.Caption));
        P.Button->move(P.Left, P.Button->y());
        P.Button->show();
    }

    // Buttons and bottom pieces keep their distance to the bottom edge.
    resize(width(), lblText->y() + lblText->height() + 90);
    FLayoutPending = false;
}

void TFormMessage::FormKeyPress(quint16 &Key)
{
    if (Key == 13) {
        btnButton1Click();
    } else if (Key == 27) {
        if (FButtonSet == TMessageButtons::YesNoCancel)
            btnButton3Click();
        else
            btnButton2Click();
    }
}

void TFormMessage::CloseWithResult(int Button)
{
    const TMessageResult Code = CodeOf(Button, FButtonSet);
    if (Code != TMessageResult::None)
        FResult = Code;
    FClosedByButton = true;
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
    if (!FClosedByButton) {
        FClosedByButton = true;
        FResult = CodeOf(3, FButtonSet);
    }
    QDialog::done(Code);
}

void TFormMessage::DragMouseDown(QObject *Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y)
{
    FDrag.Begin(this, Sender, X, Y);
}

bool TFormMessage::eventFilter(QObject *Watched, QEvent *Event)
{
    switch (Event->type()) {
    case QEvent::KeyPress: {
        auto *K = static_cast<QKeyEvent *>(Event);
        quint16 Key = 0;
        if (K->key() == Qt::Key_Return || K->key() == Qt::Key_Enter)
            Key = 13;
        else if (K->key() == Qt::Key_Escape)
            Key = 27;
        if (Key != 0) {
            FormKeyPress(Key);
            return true;
        }
        break;
    }
    default:
        break;
    }
    if (FDrag.Follow(this, Event))
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
    QScreen *S = nullptr;
    if (QWidget *Active = QApplication::activeWindow(); Active && Active != this)
        S = Active->screen();
    if (!S)
        S = QGuiApplication::screenAt(QCursor::pos());
    if (!S)
        S = QGuiApplication::primaryScreen();
    return S;
}

void TFormMessage::CentreOnScreen()
{
    QScreen *S = TargetScreen();
    if (!S)
        return;
    const QRect Area = S->availableGeometry();
    move(Area.x() + (Area.width() - width()) / 2, Area.y() + (Area.height() - height()) / 2);
}

void TFormMessage::PlaceFrame()
{
    const int W = width(), H = height();
    PlaceFramePieces({imgBorder_TopLeft, imgBorder_Top, imgBorder_TopRight, imgBorder_Left, imgBorder_Right,
                      imgBorder_BottomLeft, imgBorder_Bottom, imgBorder_BottomRight},
                     size(), {TitleBarHeight, 18, 68, SideWidth, BottomBandHeight, 53});

    btnClose->move(W - 34, 7);
    for (TPicButton *B : {btnButton1, btnButton2, btnButton3})
        B->move(B->x(), H - ButtonBottomGap - ButtonHeight);

    // Round the window's corners as the frame pictures are drawn (headless
    // platforms have no window shapes).
    const QString Platform = QGuiApplication::platformName();
    if (Platform == QLatin1String("offscreen") || Platform == QLatin1String("minimal") || Shaped == size())
        return;
    Shaped = size();
    QRegion Shape(0, 0, W, H);
    for (int y = 0; y < CornerRadius; ++y) {
        const double dy = CornerRadius - y - 0.5;
        const int Cut = int(std::lround(CornerRadius - std::sqrt(double(CornerRadius * CornerRadius) - dy * dy)));
        if (Cut <= 0)
            continue;
        Shape -= QRegion(0, y, Cut, 1);
        Shape -= QRegion(W - Cut, y, Cut, 1);
        Shape -= QRegion(0, H - 1 - y, Cut, 1);
        Shape -= QRegion(W - Cut, H - 1 - y, Cut, 1);
    }
    setMask(Shape);
}
