#include "ui/frmAbout.h"

#include "dictdb/DBTools.h"
#include "sysinfo/Utils.h"
#include "ui/PageCommon.h"
#include "ui/PngImage.h"
#include "ui/frmMessage.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

namespace {

constexpr int kFormWidth = 439;
constexpr int kFormHeight = 359;
constexpr int kTitleHeight = 28;
constexpr int kBottomHeight = 21;
constexpr int kSideWidth = 2;
constexpr int kTopLeftWidth = 19;
constexpr int kTopRightWidth = 71;
constexpr int kBottomCornerWidth = 21;

// The box's title is black: its title band is the message box's, washed light enough for it.
QPixmap LightBand(const QPixmap &Picture)
{
    QPixmap light = Picture;
    QPainter p(&light);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.fillRect(light.rect(), QColor(255, 255, 255, 190));
    return light;
}

// The message box's close cross is white for its dark band; on this box's light band the resting
// and disabled states draw it dark, keeping its shape and shading.
QPixmap DarkCross(const QPixmap &Picture)
{
    QImage dark = Picture.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&dark);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(dark.rect(), QColor(0x20, 0x20, 0x20));
    p.end();
    return QPixmap::fromImage(dark);
}

// The box wears the message box's frame, stretched to its own measures.
TImage *FramePiece(QWidget *Parent, const char *Name, const char16_t *Picture, bool TitleBand = false)
{
    auto *img = new TImage(Parent);
    img->setObjectName(QLatin1String(Name));
    const QPixmap picture = MessagePicture(QStringView(Picture));
    img->SetPicture(TitleBand ? LightBand(picture) : picture);
    img->SetStretch(true);
    return img;
}

TLabel *NewLabel(QWidget *Parent, const char *Name, const QFont &Font)
{
    auto *l = new TLabel(Parent);
    l->setObjectName(QLatin1String(Name));
    l->setTextFormat(Qt::PlainText);
    l->setFont(Font);
    l->setAttribute(Qt::WA_TranslucentBackground);
    return l;
}

// "\r" breaks a line in the texts of the program.
QString Lines(QString Text)
{
    return Text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

} // namespace

TFormAbout::TFormAbout(QWidget *AOwner) : QDialog(AOwner)
{
    setObjectName(QStringLiteral("FormAbout"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    setFont(PageFont(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    resize(kFormWidth, kFormHeight);

    imgBorder_TopLeft = FramePiece(this, "imgBorder_TopLeft", u"border_topleft", true);
    imgBorder_Top = FramePiece(this, "imgBorder_Top", u"border_top", true);
    imgBorder_TopRight = FramePiece(this, "imgBorder_TopRight", u"border_topright", true);
    imgBorder_Left = FramePiece(this, "imgBorder_Left", u"border_left");
    imgBorder_Right = FramePiece(this, "imgBorder_Right", u"border_right");
    imgBorder_BottomLeft = FramePiece(this, "imgBorder_BottomLeft", u"border_bottomleft");
    imgBorder_Bottom = FramePiece(this, "imgBorder_Bottom", u"border_bottom");
    imgBorder_BottomRight = FramePiece(this, "imgBorder_BottomRight", u"border_bottomright");

    lblTitle = NewLabel(this, "lblTitle", PageFont(12, true));
    lblTitle->setGeometry(25, 6, 300, 16);
    {
        QPalette p = lblTitle->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        lblTitle->setPalette(p);
    }

    btnClose = new TPicButton(this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->SetPicNormal(DarkCross(MessagePicture(u"close_normal")));
    btnClose->SetPicMouseHover(MessagePicture(u"close_hover"));
    btnClose->SetPicMouseDown(MessagePicture(u"close_down"));
    btnClose->SetPicDisabled(DarkCross(MessagePicture(u"close_disabled")));
    btnClose->SetTransparent(true);
    btnClose->setGeometry(404, 3, 16, 16);
    btnClose->OnClick = [this](QObject *S) { btnCloseClick(S); };

    imgLogo = new TImage(this);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->SetPicture(LoadPicture(QStringLiteral("logo")));
    imgLogo->SetStretch(true);
    imgLogo->setGeometry(48, 48, 98, 98);

    lblTilte = NewLabel(this, "lblTilte", PageFont(16, true));
    lblTilte->setGeometry(175, 43, 240, 22);
    lblTilte->setText(QStringLiteral("Taskvane"));

    lblText = NewLabel(this, "lblText", PageFont(11));
    lblText->setGeometry(175, 68, 250, 106);
    lblText->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    shpLine = new QFrame(this);
    shpLine->setObjectName(QStringLiteral("shpLine"));
    shpLine->setFrameShape(QFrame::HLine);
    shpLine->setFrameShadow(QFrame::Plain);
    shpLine->setGeometry(40, 176, 359, 1);
    {
        QPalette p = shpLine->palette();
        p.setColor(QPalette::WindowText, QColor(0xA0, 0xA0, 0xA0));
        shpLine->setPalette(p);
    }

    lblNotice = NewLabel(this, "lblNotice", PageFont(11));
    lblNotice->setGeometry(40, 186, 359, kFormHeight - 186 - kBottomHeight - 10);
    lblNotice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblNotice->setWordWrap(true);
    {
        QPalette p = lblNotice->palette();
        p.setColor(QPalette::WindowText, QColor(0x50, 0x50, 0x50));
        lblNotice->setPalette(p);
    }

    // Keys reach the form first, whichever child has the focus.
    installEventFilter(this);
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);

    PlaceFrame();
    FormCreate(this);

    if (QScreen *s = QGuiApplication::primaryScreen()) {
        const QRect area = s->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

TFormAbout::~TFormAbout() = default;

QString TFormAbout::InformationText(const QString &ProgramVersion, const QString &DictVersion)
{
    return QStringLiteral("主程序版本：%1\r数据库版本：%2\r支持平台：Linux (Debian 12 及兼容系统)\r"
                          "授权方式：免费软件\r网站：%3\r邮箱：%4\r%5")
        .arg(ProgramVersion, DictVersion, QStringLiteral("http://") + maker::kWebHost, maker::kMailAddress,
             maker::kRightsLine);
}

void TFormAbout::FormCreate(QObject *)
{
    lblTitle->setText(QStringLiteral("关于 Taskvane"));

    QString programVersion, dictVersion;
    GetFileVersion(QString(), programVersion);
    GetDictVersion(dictVersion);
    lblText->setText(Lines(InformationText(programVersion, dictVersion)));
    lblNotice->setText(Lines(
        QStringLiteral("使用条款：本软件为免费软件，您可以自由地使用、复制和分发，但不得出售或用于其他商业目的。"
                       "本软件按“现状”提供，不附带任何明示或暗示的担保；因使用本软件而造成的任何损失，作者不承担责任。"
                       "结束进程、停止服务或修改启动项之前，请确认您了解该操作的后果。")));

    auto drag = [this](QObject *S, Qt::MouseButton B, Qt::KeyboardModifiers M, int X, int Y) {
        DragMouseDown(S, B, M, X, Y);
    };
    lblTitle->OnMouseDown = drag;
    imgBorder_TopLeft->OnMouseDown = drag;
    imgBorder_Top->OnMouseDown = drag;
    imgBorder_TopRight->OnMouseDown = drag;
}

void TFormAbout::FormKeyPress(QObject *, QChar &Key)
{
    if (Key == QChar(27))
        close();
}

void TFormAbout::btnCloseClick(QObject *)
{
    close();
}

void TFormAbout::DragMouseDown(QObject *Sender, Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y)
{
    m_Drag.Begin(this, Sender, X, Y);
}

bool TFormAbout::eventFilter(QObject *Watched, QEvent *Event)
{
    switch (Event->type()) {
    case QEvent::KeyPress: {
        auto *k = static_cast<QKeyEvent *>(Event);
        if (k->key() == Qt::Key_Escape) {
            QChar key(27);
            FormKeyPress(this, key);
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

void TFormAbout::keyPressEvent(QKeyEvent *Event)
{
    // Esc is handled by the event filter; no other key closes the box.
    Event->accept();
}

void TFormAbout::resizeEvent(QResizeEvent *Event)
{
    QDialog::resizeEvent(Event);
    PlaceFrame();
}

void TFormAbout::PlaceFrame()
{
    PlaceFramePieces({imgBorder_TopLeft, imgBorder_Top, imgBorder_TopRight, imgBorder_Left, imgBorder_Right,
                      imgBorder_BottomLeft, imgBorder_Bottom, imgBorder_BottomRight},
                     size(),
                     {kTitleHeight, kTopLeftWidth, kTopRightWidth, kSideWidth, kBottomHeight, kBottomCornerWidth});
    btnClose->move(width() - 35, 3);
}
