// The details panel of the main form: a labelled description of the item behind the clicked row
// of the current list page, and the pin that keeps the panel open beside the lists.

#include "ui/frmMainDetails.h"

#include "skin/SkinPng.h"
#include "platform/files/FileHandle.h"
#include "platform/processes/ProcessActions.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/HandOff.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/FormFrame.h"
#include "ui/PageCommon.h"
#include "ui/PngImage.h"

#include <QByteArrayView>
#include <QCursor>
#include <QDeadlineTimer>
#include <QEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QStringView>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

const char16_t kHint[] = u"(请点击列表查看相关详细信息)";

const QColor kLabelColor(0x00, 0x00, 0x80); // navy
const QColor kValueColor(0x00, 0x00, 0x00);
const QColor kWarningColor(0xFF, 0x00, 0x00);
const QColor kDisclaimerColor(0x80, 0x80, 0x80);

// A pinned panel leaves this gap between the lists and itself.
constexpr int kPinnedGap = 6;
// How long the panel's end waits for a digest's worker to notice it was dropped.
constexpr int kDigestEndWaitMs = 200;
constexpr int kButtonSize = 16;

QPixmap DetailsPicture(const QString &Name)
{
    return PngPixmap(EmbeddedPng(u":/pictures/details/", Name));
}

TImage *FramePiece(QWidget *Panel, const char *Name, const QString &Picture, bool Stretch)
{
    auto *img = new TImage(Panel);
    img->setObjectName(QLatin1String(Name));
    img->SetPicture(DetailsPicture(Picture));
    img->SetStretch(Stretch);
    return img;
}

TPicButton *DetailsButton(QWidget *Parent, const char *Name, const QString &Picture, const QString &Hint)
{
    auto *b = new TPicButton(Parent);
    b->setObjectName(QLatin1String(Name));
    b->setFixedSize(kButtonSize, kButtonSize);
    b->SetTransparent(true);
    b->SetPicNormal(DetailsPicture(Picture + QStringLiteral("_normal")));
    b->SetPicMouseHover(DetailsPicture(Picture + QStringLiteral("_hover")));
    b->SetPicMouseDown(DetailsPicture(Picture + QStringLiteral("_down")));
    b->SetPicDisabled(DetailsPicture(Picture + QStringLiteral("_disabled")));
    b->setCursor(Qt::PointingHandCursor);
    if (!Hint.isEmpty())
        b->setToolTip(Hint);
    return b;
}

// The measures follow the pictures, so a redrawn frame needs no change here.
TFrameMeasures DetailsFrameMeasures(const TDetailsPanel &F)
{
    return {F.imgDetailsBorder_TopLeft->Picture().height(), F.imgDetailsBorder_TopLeft->Picture().width(),
            F.imgDetailsBorder_TopRight->Picture().width(), F.imgDetailsBorder_Left->Picture().width(),
            F.imgDetailsBorder_Bottom->Picture().height(),  F.imgDetailsBorder_BottomLeft->Picture().width()};
}

// Inserts text at the caret in the given attributes, which stay the attributes of what follows.
void InsertAt(QTextEdit *Edit, const QString &Text, const QTextCharFormat &Format)
{
    QTextCursor c = Edit->textCursor();
    c.insertText(Text, Format);
    Edit->setTextCursor(c);
    Edit->setCurrentCharFormat(Format);
}

QTextCharFormat Attributes(bool Bold, const QColor &Color)
{
    QTextCharFormat f;
    f.setFontWeight(Bold ? QFont::Bold : QFont::Normal);
    f.setForeground(Color);
    return f;
}

#if TASKVANE_TEST_SEAMS
std::atomic<int> s_DigestsRunning{0};
#endif

} // namespace

// A digest on its way: its worker stops at its next read once it is dropped, and the panel joins it.
struct TDetailsPanel::TDigest
{
    explicit TDigest(QObject *Context) : HandOff(Context) {}
    THandOff HandOff;
    std::atomic<bool> Dropped{false};
    int Position = 0; // where the value goes in the panel's text
    std::thread Worker;
};

TDetailsPanel::TDetailsPanel(QWidget *Window, const QRect &Geometry)
{
    pnlDetails = new TSkinImagePanel(Window);
    pnlDetails->setObjectName(QStringLiteral("pnlDetails"));
    pnlDetails->SetColor(QColor(0xF0, 0xF0, 0xF0));
    pnlDetails->setGeometry(Geometry);
    auto *panelLayout = new QVBoxLayout(pnlDetails);
    lblDetailsTitle = new TLabel(pnlDetails);
    lblDetailsTitle->setObjectName(QStringLiteral("lblDetailsTitle"));
    lblDetailsTitle->setText(QStringLiteral("详细信息"));
    lblDetailsTitle->setFont(PageFont(12, true));
    redtDetails = new QTextEdit(pnlDetails);
    redtDetails->setObjectName(QStringLiteral("redtDetails"));
    panelLayout->addWidget(redtDetails);
    pnlDetails->hide();

    objFileProperties = new TFileProperties(this);

    // Read-only white text area with its vertical scroll bar always there.
    QFont font = redtDetails->font();
    QStringList families = font.families();
    families.prepend(QStringLiteral("Tahoma"));
    font.setFamilies(families);
    font.setPixelSize(11);
    redtDetails->setFont(font);
    redtDetails->setReadOnly(true);
    redtDetails->setAcceptRichText(false);
    redtDetails->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    {
        QPalette p = redtDetails->palette();
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::Text, Qt::black);
        redtDetails->setPalette(p);
    }

    // The pictures draw the panel's edge; the title row lies in the band of the top pieces.
    pnlDetails->setFrameShape(QFrame::NoFrame);
    imgDetailsBorder_TopLeft =
        FramePiece(pnlDetails, "imgDetailsBorder_TopLeft", QStringLiteral("details_border_topleft"), false);
    imgDetailsBorder_Top = FramePiece(pnlDetails, "imgDetailsBorder_Top", QStringLiteral("details_border_top"), true);
    imgDetailsBorder_TopRight =
        FramePiece(pnlDetails, "imgDetailsBorder_TopRight", QStringLiteral("details_border_topright"), false);
    imgDetailsBorder_Left =
        FramePiece(pnlDetails, "imgDetailsBorder_Left", QStringLiteral("details_border_left"), true);
    imgDetailsBorder_Right =
        FramePiece(pnlDetails, "imgDetailsBorder_Right", QStringLiteral("details_border_right"), true);
    imgDetailsBorder_BottomLeft =
        FramePiece(pnlDetails, "imgDetailsBorder_BottomLeft", QStringLiteral("details_border_bottomleft"), false);
    imgDetailsBorder_Bottom =
        FramePiece(pnlDetails, "imgDetailsBorder_Bottom", QStringLiteral("details_border_bottom"), true);
    imgDetailsBorder_BottomRight =
        FramePiece(pnlDetails, "imgDetailsBorder_BottomRight", QStringLiteral("details_border_bottomright"), false);
    const TFrameMeasures frame = DetailsFrameMeasures(*this);
    lblDetailsTitle->setFixedHeight(frame.TitleHeight);

    btnRefreshDetails = DetailsButton(pnlDetails, "btnRefreshDetails", QStringLiteral("details_refresh"), QString());
    btnNailUp = DetailsButton(pnlDetails, "btnNailUp", QStringLiteral("details_nailup"), QStringLiteral("固定"));
    btnNailDown =
        DetailsButton(pnlDetails, "btnNailDown", QStringLiteral("details_naildown"), QStringLiteral("取消固定"));
    btnDetailsClose = DetailsButton(pnlDetails, "btnDetailsClose", QStringLiteral("details_close"), QString());
    btnRefreshDetails->OnClick = [this](QObject *S) { btnRefreshDetailsClick(S); };
    btnNailUp->OnClick = [this](QObject *S) { btnNailUpClick(S); };
    btnNailDown->OnClick = [this](QObject *S) { btnNailDownClick(S); };
    btnDetailsClose->OnClick = [this](QObject *S) { btnDetailsCloseClick(S); };
    btnNailDown->hide();

    // The title row: the caption, then the buttons; the two nails share one place.
    panelLayout->setContentsMargins(frame.SideWidth + 2, 0, frame.SideWidth + 2, frame.BottomHeight + 3);
    panelLayout->setSpacing(3);
    auto *row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(lblDetailsTitle, 1);
    row->addWidget(btnRefreshDetails);
    row->addWidget(btnNailUp);
    row->addWidget(btnNailDown);
    row->addWidget(btnDetailsClose);
    panelLayout->insertLayout(0, row);

    PlaceDetailsFrame();
    // The lists follow a pinned panel when the form or a page changes size, as anchored controls
    // would, and the frame follows the panel's size.
    pnlDetails->installEventFilter(this);
}

TDetailsPanel::~TDetailsPanel()
{
    // Every digest is dropped now, so each worker stops at its next read, and none waits for this
    // thread: a dropped digest's hand-off is closed. A read that does not return (a file system
    // that does not answer) does not hold the window's end: its worker is let go.
    DropDigest();
    JoinDigestWorkers(kDigestEndWaitMs);
    for (const auto &entry : m_Lists)
        if (entry.first)
            entry.first->removeEventFilter(this);
    if (pnlDetails)
        pnlDetails->removeEventFilter(this);
}

bool TDetailsPanel::eventFilter(QObject *Watched, QEvent *Event)
{
    // Only these two: the rest arrive while the form is being torn down as well.
    if (Event->type() != QEvent::Resize && Event->type() != QEvent::Move)
        return false;
    FitListsToDetails();
    if (Watched == pnlDetails && Event->type() == QEvent::Resize)
        PlaceDetailsFrame();
    return false;
}

void TDetailsPanel::AddList(QWidget *Page, QTreeView *List)
{
    m_Lists.append({Page, List});
    Page->installEventFilter(this);
}

void TDetailsPanel::PlaceDetailsFrame()
{
    if (!imgDetailsBorder_TopLeft)
        return;
    PlaceFramePieces({imgDetailsBorder_TopLeft, imgDetailsBorder_Top, imgDetailsBorder_TopRight, imgDetailsBorder_Left,
                      imgDetailsBorder_Right, imgDetailsBorder_BottomLeft, imgDetailsBorder_Bottom,
                      imgDetailsBorder_BottomRight},
                     pnlDetails->size(), DetailsFrameMeasures(*this));
}

void TDetailsPanel::AddDetailLine(const QString &Label, const QString &Value, bool LineBreak)
{
    InsertAt(redtDetails, Label + QStringLiteral(": "), Attributes(true, kLabelColor));
    const QTextCharFormat value = Attributes(false, kValueColor);
    InsertAt(redtDetails, Value, value);
    if (LineBreak)
        InsertAt(redtDetails, QStringLiteral("\r"), value);
}

void TDetailsPanel::AddVersionLines(const QString &ProductName, const QString &FileDescription,
                                    const QString &CompanyName, const QString &LegalCopyright)
{
    AddDetailLine(QStringLiteral("产品名"), VisibleText(ProductName), true);
    AddDetailLine(QStringLiteral("文件描述"), VisibleText(FileDescription), true);
    AddDetailLine(QStringLiteral("公司名"), VisibleText(CompanyName), true);
    AddDetailLine(QStringLiteral("版权"), VisibleText(LegalCopyright), false);
}

#if TASKVANE_TEST_SEAMS
int TDetailsPanel::DigestsRunning()
{
    return s_DigestsRunning.load();
}
#endif

void TDetailsPanel::DropDigest()
{
    if (!m_Digest)
        return;
    m_Digest->Dropped = true;
    m_Digest->HandOff.Close();
    m_Digest.reset();
}

void TDetailsPanel::JoinDigestWorkers(std::optional<int> Ms)
{
    if (Ms) {
        const QDeadlineTimer deadline(*Ms);
        auto running = [this] {
            return std::any_of(m_DigestWorkers.begin(), m_DigestWorkers.end(),
                               [](const std::shared_ptr<TDigest> &Digest) { return !Digest->HandOff.Finished(); });
        };
        while (running() && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::erase_if(m_DigestWorkers, [&Ms](const std::shared_ptr<TDigest> &Digest) {
        // A finished worker only returns; a dropped one stops at its next read.
        if (Digest->HandOff.Finished()) {
            if (Digest->Worker.joinable())
                Digest->Worker.join();
            return true;
        }
        if (!Ms)
            return false;
        // It keeps its digest (and so this thread object) alive until its read returns.
        if (Digest->Worker.joinable())
            Digest->Worker.detach();
        return true;
    });
}

void TDetailsPanel::AddDigestLine(const QString &Label, int Image, bool LineBreak)
{
    if (Image < 0) {
        AddDigestLine(Label, std::function<int()>(), LineBreak);
        return;
    }
    AddDigestLine(
        Label, [Image] { return Image; }, LineBreak);
}

void TDetailsPanel::AddDigestLine(const QString &Label, std::function<int()> Open, bool LineBreak)
{
    DropDigest();
    JoinDigestWorkers(std::nullopt);
    AddDetailLine(Label, QString(), LineBreak);
    if (!Open)
        return;
    auto digest = std::make_shared<TDigest>(this);
    QTextCursor end = redtDetails->textCursor();
    digest->Position = end.position() - (LineBreak ? 1 : 0);
    m_Digest = digest;
    m_DigestWorkers.push_back(digest);
    TASKVANE_TEST_SEAM(++s_DigestsRunning);
    // A program file may be of any size, and its file system may keep its open or its reads
    // waiting: it is opened and read on a thread of its own, never on the window's.
    digest->Worker = std::thread([this, digest, open = std::move(Open)] {
        QString text;
        const int image = open();
        if (image >= 0) {
            FileMD5Text(image, text, [&] { return digest->Dropped.load(); });
            platform::files::CloseHandle(image);
        }
        // Runs only while the hand-off is open, that is while this panel lives and shows this fill.
        digest->HandOff.Synchronize([&] {
            if (m_Digest != digest || text.isEmpty())
                return;
            QTextCursor at(redtDetails->document());
            at.setPosition(digest->Position);
            at.insertText(text, Attributes(false, kValueColor));
            DropDigest();
        });
        TASKVANE_TEST_SEAM(--s_DigestsRunning);
        digest->HandOff.Finish();
    });
}

void TDetailsPanel::AddWarning(const QString &Text)
{
    InsertAt(redtDetails, Text, Attributes(true, kWarningColor));
}

void TDetailsPanel::AddDisclaimer(const QString &Text)
{
    QTextCharFormat grey = redtDetails->currentCharFormat();
    grey.setForeground(kDisclaimerColor);
    InsertAt(redtDetails, Text, grey);
}

void TDetailsPanel::ShowHint()
{
    DropDigest();
    redtDetails->setPlainText(QString::fromUtf16(kHint));
}

void TDetailsPanel::FillDetails()
{
    DropDigest();
    redtDetails->clear();
    if (Source && !Source->AddDetails(*this)) {
        ShowHint();
        return; // the hint stays; the panel keeps its visibility
    }
    QTextCursor c = redtDetails->textCursor();
    c.movePosition(QTextCursor::Start);
    redtDetails->setTextCursor(c);
    redtDetails->verticalScrollBar()->setValue(0);
    pnlDetails->show();
    pnlDetails->raise();
    HoverPoint = QCursor::pos();
}

void TDetailsPanel::RefreshDetails()
{
    if (pnlDetails->isVisible())
        FillDetails();
}

void TDetailsPanel::PlaceBeside(const QWidget *List)
{
    const QWidget *page = List->parentWidget();
    if (QLayout *l = page->layout())
        l->activate();
    pnlDetails->move(pnlDetails->x(), List->y() + page->y());
    pnlDetails->resize(pnlDetails->width(), List->height());
}

void TDetailsPanel::PointerMoved(const QPoint &ScreenPoint)
{
    if (DetailsPinned)
        return;
    if (qAbs(ScreenPoint.y() - HoverPoint.y()) > 25) {
        pnlDetails->hide();
        HoverPoint.setY(-1);
    }
}

void TDetailsPanel::EscapePressed()
{
    if (pnlDetails->isVisible() && !DetailsPinned)
        pnlDetails->hide();
}

void TDetailsPanel::FitListsToDetails()
{
    if (!pnlDetails)
        return;
    for (const auto &[page, list] : m_Lists) {
        if (!page || !list)
            continue;
        const int left = page->x() + list->x();
        const int width =
            DetailsPinned ? pnlDetails->x() - left - kPinnedGap : pnlDetails->x() + pnlDetails->width() - left;
        if (list->maximumWidth() == qMax(0, width))
            continue;
        list->setMaximumWidth(qMax(0, width));
        if (QLayout *l = page->layout())
            l->activate();
    }
}

void TDetailsPanel::SetDetailsPinned(bool Pinned)
{
    DetailsPinned = Pinned;
    if (Pinned) {
        pnlDetails->show();
        btnNailUp->hide();
        btnNailDown->show();
    } else {
        btnNailUp->show();
        btnNailDown->hide();
    }
    FitListsToDetails();
}

void TDetailsPanel::btnRefreshDetailsClick(QObject *)
{
    FillDetails();
}

void TDetailsPanel::btnNailUpClick(QObject *)
{
    SetDetailsPinned(true);
}

void TDetailsPanel::btnNailDownClick(QObject *)
{
    SetDetailsPinned(false);
}

void TDetailsPanel::btnDetailsCloseClick(QObject *)
{
    pnlDetails->hide();
    if (DetailsPinned)
        SetDetailsPinned(false);
}
