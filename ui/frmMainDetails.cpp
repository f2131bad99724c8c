// The details panel of the main form: a labelled description of the item behind the clicked row
// of the current list page, and the pin that keeps the panel open beside the lists.

#include "ui/frmMain.h"

#include "dictdb/DBTools.h"
#include "sysinfo/Autoruns.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/NetworkMonitor.h"
#include "sysinfo/Processes.h"
#include "sysinfo/Services.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/FormFrame.h"
#include "ui/PngImage.h"

#include <QByteArrayView>
#include <QCursor>
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

namespace details_pictures {
QByteArrayView Find(QStringView Name);
}

namespace {

const char16_t kHint[] = u"(请点击列表查看相关详细信息)";
const char16_t kNotFound[] = u"抱歉！没有找到该进程相关信息。";
const char16_t kDangerous[] = u"[警告 - 危险进程]\r";
const char16_t kDisclaimer[] = u"\r(声明：进程描述信息均搜集自网络，仅供参考！)";

const QColor kLabelColor(0x00, 0x00, 0x80); // navy
const QColor kValueColor(0x00, 0x00, 0x00);
const QColor kWarningColor(0xFF, 0x00, 0x00);
const QColor kDisclaimerColor(0x80, 0x80, 0x80);

// A pinned panel leaves this gap between the lists and itself.
constexpr int kPinnedGap = 6;
constexpr int kButtonSize = 16;

QPixmap DetailsPicture(const QString &Name)
{
    return PngPixmap(details_pictures::Find(Name));
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
TFrameMeasures DetailsFrameMeasures(const TFormMain &F)
{
    return {F.imgDetailsBorder_TopLeft->Picture().height(), F.imgDetailsBorder_TopLeft->Picture().width(),
            F.imgDetailsBorder_TopRight->Picture().width(),  F.imgDetailsBorder_Left->Picture().width(),
            F.imgDetailsBorder_Bottom->Picture().height(),   F.imgDetailsBorder_BottomLeft->Picture().width()};
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

// The lists follow a pinned panel when the form or a page changes size, as anchored controls
// would, and the frame follows the panel's size.
class TDetailsLayoutWatcher : public QObject
{
public:
    explicit TDetailsLayoutWatcher(TFormMain *Form) : QObject(Form), m_Form(Form), m_Panel(Form->pnlDetails) {}

    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        // Only these two: the rest arrive while the form is being torn down as well.
        if (Event->type() != QEvent::Resize && Event->type() != QEvent::Move)
            return false;
        m_Form->FitListsToDetails();
        if (Watched == m_Panel && Event->type() == QEvent::Resize)
            m_Form->PlaceDetailsFrame();
        return false;
    }

private:
    TFormMain *m_Form;
    QObject *m_Panel;
};

} // namespace

void TFormMain::BuildDetailsPanel()
{
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
    btnRefreshDetails->OnClick = [this](QObject *s) { btnRefreshDetailsClick(s); };
    btnNailUp->OnClick = [this](QObject *s) { btnNailUpClick(s); };
    btnNailDown->OnClick = [this](QObject *s) { btnNailDownClick(s); };
    btnDetailsClose->OnClick = [this](QObject *s) { btnDetailsCloseClick(s); };
    btnNailDown->hide();

    // The title row: the caption, then the buttons; the two nails share one place.
    if (auto *layout = qobject_cast<QVBoxLayout *>(pnlDetails->layout())) {
        layout->setContentsMargins(frame.SideWidth + 2, 0, frame.SideWidth + 2, frame.BottomHeight + 3);
        layout->setSpacing(3);
        layout->removeWidget(lblDetailsTitle);
        auto *row = new QHBoxLayout;
        row->setSpacing(2);
        row->addWidget(lblDetailsTitle, 1);
        row->addWidget(btnRefreshDetails);
        row->addWidget(btnNailUp);
        row->addWidget(btnNailDown);
        row->addWidget(btnDetailsClose);
        layout->insertLayout(0, row);
    }

    PlaceDetailsFrame();

    auto *watcher = new TDetailsLayoutWatcher(this);
    pnlDetails->installEventFilter(watcher);
    for (QWidget *page : {static_cast<QWidget *>(pnlTab_Process), static_cast<QWidget *>(pnlTab_Service),
                          static_cast<QWidget *>(pnlTab_Autorun), static_cast<QWidget *>(pnlTab_Network)})
        page->installEventFilter(watcher);
}

void TFormMain::PlaceDetailsFrame()
{
    if (!imgDetailsBorder_TopLeft)
        return;
    PlaceFramePieces({imgDetailsBorder_TopLeft, imgDetailsBorder_Top, imgDetailsBorder_TopRight,
                      imgDetailsBorder_Left, imgDetailsBorder_Right, imgDetailsBorder_BottomLeft,
                      imgDetailsBorder_Bottom, imgDetailsBorder_BottomRight},
                     pnlDetails->size(), DetailsFrameMeasures(*this));
}

void TFormMain::AddDetailLine(const QString &Label, const QString &Value, bool LineBreak)
{
    InsertAt(redtDetails, Label + QStringLiteral(": "), Attributes(true, kLabelColor));
    const QTextCharFormat value = Attributes(false, kValueColor);
    InsertAt(redtDetails, Value, value);
    if (LineBreak)
        InsertAt(redtDetails, QStringLiteral("\r"), value);
}

void TFormMain::AddFileVersionLines(const QString &FileName)
{
    objFileProperties->LoadFromFile(FileName);
    const TVersionInfo &v = *objFileProperties->VersionInfo();
    AddDetailLine(QStringLiteral("产品名"), v.ProductName, true);
    AddDetailLine(QStringLiteral("文件描述"), v.FileDescription, true);
    AddDetailLine(QStringLiteral("公司名"), v.CompanyName, true);
    AddDetailLine(QStringLiteral("版权"), v.LegalCopyright, false);
    objFileProperties->Clear();
}

bool TFormMain::FillProcessDetails()
{
    TProcessItem *item = SelectedProcess();
    if (!item) {
        redtDetails->setPlainText(QString::fromUtf16(kHint));
        return false;
    }
    item->Memory->Refresh();
    item->Times->Refresh();
    QString text;
    AddDetailLine(QStringLiteral("进程名"), item->Name, true);
    AddDetailLine(QStringLiteral("进程 ID"), QString::number(item->ProcessID), true);
    AddDetailLine(QStringLiteral("父进程 ID"), QString::number(item->ParentProcessID), true);
    AddDetailLine(QStringLiteral("会话 ID"), QString::number(item->SessionID), true);
    DateTimeText(item->Times->StartTime, text);
    AddDetailLine(QStringLiteral("创建时间"), text, true);
    AddDetailLine(QStringLiteral("用户"), QStringLiteral("%1\\%2").arg(item->Domain, item->UserName), true);
    AddDetailLine(QStringLiteral("路径"), item->Path, true);
    AddDetailLine(QStringLiteral("命令行"), item->CommandLine, true);
    PriorityText(item->GetPriority(), text);
    AddDetailLine(QStringLiteral("优先级"), text, true);
    AddDetailLine(QStringLiteral("线程数"), QString::number(item->GetThreadCount()), true);
    AddDetailLine(QStringLiteral("模块数"), QString::number(item->GetModuleCount()), true);
    AddDetailLine(QStringLiteral("句柄数"), QString::number(item->GetHandleCount()), true);
    const TProcessMemory &m = *item->Memory;
    ByteCountText(qint64(m.WorkingSetSize), text);
    AddDetailLine(QStringLiteral("物理内存使用"), text, true);
    ByteCountText(qint64(m.PeakWorkingSetSize), text);
    AddDetailLine(QStringLiteral("物理内存峰值"), text, true);
    ByteCountText(qint64(m.PagefileUsage), text);
    AddDetailLine(QStringLiteral("虚拟内存使用"), text, true);
    ByteCountText(qint64(m.PeakPagefileUsage), text);
    AddDetailLine(QStringLiteral("虚拟内存峰值"), text, true);
    // An empty name would give this program's own version: a process without a readable file
    // has none.
    text.clear();
    if (!item->Path.trimmed().isEmpty())
        GetFileVersion(item->Path, text);
    AddDetailLine(QStringLiteral("文件版本"), text, true);
    FileMD5Text(item->Path, text);
    AddDetailLine(QStringLiteral("MD5 值"), text, true);

    QString description;
    bool dangerous = false;
    const bool found = LookupProcess(item->Name, description, dangerous);
    if (found && dangerous)
        InsertAt(redtDetails, QString::fromUtf16(kDangerous), Attributes(true, kWarningColor));
    AddDetailLine(QStringLiteral("进程描述"), found ? description : QString::fromUtf16(kNotFound), true);
    QTextCharFormat grey = redtDetails->currentCharFormat();
    grey.setForeground(kDisclaimerColor);
    InsertAt(redtDetails, QString::fromUtf16(kDisclaimer), grey);
    return true;
}

bool TFormMain::FillServiceDetails()
{
    const TServiceItem *item = SelectedService();
    if (!item) {
        redtDetails->setPlainText(QString::fromUtf16(kHint));
        return false;
    }
    QString text;
    AddDetailLine(QStringLiteral("服务名"), item->Name, true);
    AddDetailLine(QStringLiteral("显示名"), item->DisplayName, true);
    AddDetailLine(QStringLiteral("命令行"), item->BinaryPath, true);
    AddDetailLine(QStringLiteral("宿主进程 ID"),
                  item->ProcessID == 0 ? QStringLiteral("N/A") : QString::number(item->ProcessID), true);
    ServiceStateText(item->State, text);
    AddDetailLine(QStringLiteral("当前状态"), text, true);
    StartTypeText(item->StartType, text);
    AddDetailLine(QStringLiteral("启动类型"), text, true);
    ServiceTypeText(item->ServiceType, text);
    AddDetailLine(QStringLiteral("服务类型"), text, true);
    AddDetailLine(QStringLiteral("描述"), item->Description, false);
    return true;
}

bool TFormMain::FillAutorunDetails()
{
    const TAutorunItem *item = SelectedAutorun();
    if (!item) {
        redtDetails->setPlainText(QString::fromUtf16(kHint));
        return false;
    }
    QString text;
    AddDetailLine(QStringLiteral("标题"), item->Name, true);
    EnabledText(item->Active, text);
    AddDetailLine(QStringLiteral("状态"), text, true);
    AddDetailLine(QStringLiteral("命令行"), item->Command, true);
    AddDetailLine(QStringLiteral("位置"), item->Location, true);
    QString path;
    ParseCommandLine(item->Command, 0, path);
    AddFileVersionLines(path);
    return true;
}

bool TFormMain::FillConnectionDetails()
{
    const TConnectionItem *item = SelectedConnection();
    if (!item) {
        redtDetails->setPlainText(QString::fromUtf16(kHint));
        return false;
    }
    QString text;
    if (const auto *tcp = dynamic_cast<const TTCPItem *>(item)) {
        AddDetailLine(QStringLiteral("连接类型"), QStringLiteral("TCP"), true);
        IPv4Text(tcp->LocalAddress, text);
        AddDetailLine(QStringLiteral("本地 IP"), text, true);
        AddDetailLine(QStringLiteral("本地端口"), QString::number(tcp->LocalPort), true);
        IPv4Text(tcp->RemoteAddress, text);
        AddDetailLine(QStringLiteral("远程 IP"), text, true);
        AddDetailLine(QStringLiteral("远程端口"), QString::number(tcp->RemotePort), true);
        TCPStateText(tcp->State, text);
        AddDetailLine(QStringLiteral("当前状态"), text, true);
    } else if (const auto *udp = dynamic_cast<const TUDPItem *>(item)) {
        AddDetailLine(QStringLiteral("连接类型"), QStringLiteral("UDP"), true);
        IPv4Text(udp->LocalAddress, text);
        AddDetailLine(QStringLiteral("本地 IP"), text, true);
        AddDetailLine(QStringLiteral("本地端口"), QString::number(udp->LocalPort), true);
    }
    AddDetailLine(QStringLiteral("进程名"), item->ProcessName, true);
    AddDetailLine(QStringLiteral("进程 ID"), QString::number(item->ProcessID), true);
    AddDetailLine(QStringLiteral("进程路径"), item->ProcessPath, true);
    AddFileVersionLines(item->ProcessPath);
    return true;
}

void TFormMain::FillDetails()
{
    redtDetails->clear();
    bool filled = true;
    switch (CurrentPage) {
    case pgProcess:
        filled = FillProcessDetails();
        break;
    case pgService:
        filled = FillServiceDetails();
        break;
    case pgAutorun:
        filled = FillAutorunDetails();
        break;
    case pgNetwork:
        filled = FillConnectionDetails();
        break;
    default:
        break;
    }
    if (!filled)
        return; // the hint stays; the panel keeps its visibility
    QTextCursor c = redtDetails->textCursor();
    c.movePosition(QTextCursor::Start);
    redtDetails->setTextCursor(c);
    redtDetails->verticalScrollBar()->setValue(0);
    pnlDetails->show();
    pnlDetails->raise();
    HoverPoint = QCursor::pos();
}

void TFormMain::FitListsToDetails()
{
    if (!pnlDetails)
        return;
    const std::pair<QWidget *, QTreeWidget *> lists[] = {
        {pnlTab_Process, lvProcesses}, {pnlTab_Service, lvServices},
        {pnlTab_Autorun, lvAutoruns},  {pnlTab_Network, lvConnections}};
    for (const auto &[page, list] : lists) {
        if (!page || !list)
            continue;
        const int left = page->x() + list->x();
        const int width = DetailsPinned ? pnlDetails->x() - left - kPinnedGap
                                        : pnlDetails->x() + pnlDetails->width() - left;
        if (list->maximumWidth() == qMax(0, width))
            continue;
        list->setMaximumWidth(qMax(0, width));
        if (QLayout *l = page->layout())
            l->activate();
    }
}

void TFormMain::SetDetailsPinned(bool Pinned)
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

void TFormMain::LayoutDetailsPanel()
{
    SetDetailsPinned(DetailsPinned);
}

void TFormMain::btnRefreshDetailsClick(QObject *)
{
    FillDetails();
}

void TFormMain::btnNailUpClick(QObject *)
{
    SetDetailsPinned(true);
}

void TFormMain::btnNailDownClick(QObject *)
{
    SetDetailsPinned(false);
}

void TFormMain::btnDetailsCloseClick(QObject *)
{
    pnlDetails->hide();
    if (DetailsPinned)
        SetDetailsPinned(false);
}
