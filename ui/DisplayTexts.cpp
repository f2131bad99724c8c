#include "ui/DisplayTexts.h"

#include "platform/files/NameBytes.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SystemImageList.h"
#include "platform/memory/Trim.h"
#include "sysinfo/MD5.h"
#include "ui/Logging.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCursor>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryFile>
#include <QDir>
#include <QTreeView>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

const QString kNa = QStringLiteral("N/A");

bool AllDateFieldsZero(const SYSTEMTIME &T)
{
    return T.WYear == 0 && T.WMonth == 0 && T.WDay == 0 && T.WHour == 0 && T.WMinute == 0 && T.WSecond == 0;
}

QString Two(int V)
{
    return QStringLiteral("%1").arg(V, 2, 10, QLatin1Char('0'));
}

// Code points that are drawn as nothing, or as a blank that passes for none, whatever their
// category: the default-ignorable code points, the unassigned ones among them included, since a
// later font or shaper ignores them as well.
constexpr char32_t kIgnorable[][2] = {
    {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C},   {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
    {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x206F},   {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
    {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

// What a line of the window would break, reorder or hide, and the backslash that starts an escape.
bool NeedsEscape(char32_t C)
{
    if (C < 0x80)
        return C < 0x20 || C == 0x7F || C == u'\\';
    if (C <= 0x9F || C == 0x2028 || C == 0x2029 || QChar::isSurrogate(C))
        return true;
    // Noncharacters are never text (a text document takes two of them for frame marks that break
    // its lines), and the object replacement character is drawn as nothing without its object.
    if ((C >= 0xFDD0 && C <= 0xFDEF) || (C & 0xFFFE) == 0xFFFE || C == 0xFFFC)
        return true;
    for (const auto &range : kIgnorable)
        if (C >= range[0] && C <= range[1])
            return true;
    return QChar::category(C) == QChar::Other_Format;
}

// One code point as its escape. A lone surrogate stands for itself, but one that stands for a byte
// of a name that was not UTF-8 (platform::files::DecodeNameBytes) is that byte, "\x80" to "\xff";
// the code points U+0080 to U+00FF read "\u0080" to "\u00ff", so that the two never meet.
QString Escape(char32_t C)
{
    switch (C) {
    case u'\\':
        return QStringLiteral("\\\\");
    case u'\n':
        return QStringLiteral("\\n");
    case u'\r':
        return QStringLiteral("\\r");
    case u'\t':
        return QStringLiteral("\\t");
    default:
        break;
    }
    if (C < 0x80)
        return QStringLiteral("\\x%1").arg(uint(C), 2, 16, QLatin1Char('0'));
    if (C <= 0xFFFF && platform::files::IsNameByte(char16_t(C)))
        return QStringLiteral("\\x%1").arg(uint(platform::files::NameByte(char16_t(C))), 2, 16, QLatin1Char('0'));
    if (C <= 0xFFFF)
        return QStringLiteral("\\u%1").arg(uint(C), 4, 16, QLatin1Char('0'));
    return QStringLiteral("\\U%1").arg(uint(C), 8, 16, QLatin1Char('0'));
}

// The code point at I and the code units it takes; a surrogate without its partner is one unit.
char32_t CodePointAt(const QString &Text, qsizetype I, qsizetype &Units)
{
    const char16_t c = Text.at(I).unicode();
    if (QChar::isHighSurrogate(c) && I + 1 < Text.size() && QChar::isLowSurrogate(Text.at(I + 1).unicode())) {
        Units = 2;
        return QChar::surrogateToUcs4(c, Text.at(I + 1).unicode());
    }
    Units = 1;
    return c;
}

} // namespace

QString VisibleText(const QString &Text)
{
    // Most texts need nothing: they are handed back as they are.
    qsizetype i = 0, units = 1;
    while (i < Text.size()) {
        if (NeedsEscape(CodePointAt(Text, i, units)) || i + units > kVisibleTextLimit)
            break;
        i += units;
    }
    if (i == Text.size())
        return Text;
    QString out = Text.left(i);
    out.reserve(qMin(Text.size(), kVisibleTextLimit) + 16);
    for (; i < Text.size(); i += units) {
        const char32_t c = CodePointAt(Text, i, units);
        const qsizetype before = out.size();
        if (NeedsEscape(c))
            out += Escape(c);
        else
            out += QStringView(Text).mid(i, units);
        // A cut never parts an escape or a surrogate pair.
        if (out.size() > kVisibleTextLimit) {
            out.truncate(before);
            out += QStringView(kVisibleTextCut);
            break;
        }
    }
    return out;
}

QString ServiceNameText(const QString &Name)
{
    for (const QChar c : Name) {
        const char16_t u = c.unicode();
        const bool unitChar = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
            u == u':' || u == u'-' || u == u'_' || u == u'.' || u == u'\\' || u == u'@';
        if (!unitChar)
            return VisibleText(Name);
    }
    // Cut where and as VisibleText cuts. A backslash is the one character of such a name it
    // would escape: a slash, which no unit name holds, stands in for it while it cuts, and what
    // it kept is the manager's own spelling.
    QString standIn = Name;
    standIn.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString shown = VisibleText(standIn);
    qsizetype kept = 0;
    while (kept < shown.size() && kept < standIn.size() && shown.at(kept) == standIn.at(kept))
        ++kept;
    return Name.left(kept) + shown.mid(kept);
}

int RoundEven(double Value)
{
    return int(std::nearbyint(Value));
}

qint64 DivRoundHalfEven(qint64 Num, qint64 Den)
{
    qint64 q = Num / Den;
    qint64 r = Num % Den;
    if (r < 0) {
        r = -r;
        const qint64 twice = 2 * r;
        if (twice > Den || (twice == Den && (q & 1)))
            --q;
        return q;
    }
    const qint64 twice = 2 * r;
    if (twice > Den || (twice == Den && (q & 1)))
        ++q;
    return q;
}

void PriorityText(quint32 Priority, QString &Text)
{
    switch (Priority & 0xFFFF) {
    case 0x40:
        Text = QStringLiteral("空闲");
        break;
    case 0x4000:
        Text = QStringLiteral("低于标准");
        break;
    case 0x20:
        Text = QStringLiteral("标准");
        break;
    case 0x8000:
        Text = QStringLiteral("高于标准");
        break;
    case 0x80:
        Text = QStringLiteral("高");
        break;
    case 0x100:
        Text = QStringLiteral("实时");
        break;
    default:
        Text = kNa;
        break;
    }
}

void ServiceStateText(quint32 State, QString &Text)
{
    switch (State & 0x7F) {
    case 1:
        Text = QStringLiteral("已停止");
        break;
    case 2:
        Text = QStringLiteral("正在启动");
        break;
    case 3:
        Text = QStringLiteral("正在停止");
        break;
    case 4:
        Text = QStringLiteral("运行中");
        break;
    case 5:
        Text = QStringLiteral("正在恢复");
        break;
    case 6:
        Text = QStringLiteral("正在暂停");
        break;
    case 7:
        Text = QStringLiteral("暂停中");
        break;
    default:
        Text = kNa;
        break;
    }
}

void StartModeText(quint8 StartType, QString &Text)
{
    switch (StartType) {
    case 2:
        Text = QStringLiteral("自动");
        break;
    case 3:
        Text = QStringLiteral("手动");
        break;
    case 4:
        Text = QStringLiteral("禁用");
        break;
    default:
        break;
    }
}

void StartTypeText(quint8 StartType, QString &Text)
{
    Text = kNa;
    StartModeText(StartType, Text);
}

void ServiceTypeText(quint32 ServiceType, QString &Text)
{
    switch (ServiceType & 0xFF) {
    case 0x10:
        Text = QStringLiteral("独立进程");
        break;
    case 0x20:
        Text = QStringLiteral("共享进程");
        break;
    default:
        Text = kNa;
        break;
    }
}

void TCPStateText(quint32 State, QString &Text)
{
    switch (State & 0x7F) {
    case 1:
        Text = QStringLiteral("已关闭连接");
        break;
    case 2:
        Text = QStringLiteral("正在监听");
        break;
    case 3:
        Text = QStringLiteral("同步发送");
        break;
    case 4:
        Text = QStringLiteral("同步接收");
        break;
    case 5:
        Text = QStringLiteral("已建立连接");
        break;
    case 6:
    case 7:
        Text = QStringLiteral("等待结束");
        break;
    case 8:
        Text = QStringLiteral("等待关闭");
        break;
    case 9:
        Text = QStringLiteral("正在关闭");
        break;
    case 10:
        Text = QStringLiteral("最终应答");
        break;
    case 11:
        Text = QStringLiteral("正在等待");
        break;
    case 12:
        Text = QStringLiteral("删除连接");
        break;
    default:
        Text = kNa;
        break;
    }
}

void EnabledText(bool Enabled, QString &Text)
{
    Text = Enabled ? QStringLiteral("启用") : QStringLiteral("禁用");
}

void IPv4Text(quint32 Address, QString &Text)
{
    unsigned char b[4];
    std::memcpy(b, &Address, 4);
    Text = QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

void IPv4PortText(quint32 Address, quint32 Port, QString &Text)
{
    unsigned char b[4];
    std::memcpy(b, &Address, 4);
    Text = QStringLiteral("%1.%2.%3.%4:%5").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]).arg(Port);
}

void ByteCountText(qint64 Count, QString &Text)
{
    if (Count == 0) {
        Text = kNa;
        return;
    }
    const qint64 k = DivRoundHalfEven(Count, 1024);
    Text = (k == 0 ? QStringLiteral("0") : QLocale().toString(k)) + QStringLiteral(" K");
}

void DateTimeText(const SYSTEMTIME &Time, QString &Text)
{
    if (AllDateFieldsZero(Time)) {
        Text = kNa;
        return;
    }
    Text = QStringLiteral("%1-%2-%3 %4:%5:%6")
               .arg(Time.WYear, 4, 10, QLatin1Char('0'))
               .arg(Two(Time.WMonth), Two(Time.WDay), Two(Time.WHour), Two(Time.WMinute), Two(Time.WSecond));
}

void SpanText(const SYSTEMTIME &Span, QString &Text)
{
    if (AllDateFieldsZero(Span)) {
        Text = kNa;
        return;
    }
    Text =
        QStringLiteral("%1 D %2 H %3 M %4 S").arg(Span.WDay).arg(Two(Span.WHour), Two(Span.WMinute), Two(Span.WSecond));
}

void FileMD5Text(const QString &FileName, QString &Text)
{
    Text.clear();
    // A missing file gives nothing; one that exists but cannot be opened is the one refusal the
    // digest raises.
    try {
        TMD5::HashFile(FileName, Text);
        return;
    } catch (const EFOpenError &e) {
        qCWarning(lcUi) << "digest of" << FileName << "needs a copy:" << e.Message();
        Text.clear();
    }
    // Retry on a private copy; the copy is removed on every path. A file that cannot be
    // read at all gives an empty text rather than an exception in a display routine.
    try {
        QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/_TMPXXXXXX"));
        copy.setAutoRemove(true);
        if (!copy.open())
            return;
        platform::files::RegularFileReader source;
        if (source.Open(FileName) != platform::files::RegularFileReader::OpenResult::Opened)
            return;
        std::vector<char> buffer(65536);
        for (;;) {
            const qint64 n = source.Read(buffer.data(), qint64(buffer.size()));
            if (n < 0)
                return;
            if (n == 0)
                break;
            if (copy.write(buffer.data(), n) != n)
                return;
        }
        if (!copy.flush())
            return;
        TMD5::HashFile(copy.fileName(), Text);
    } catch (const EFOpenError &e) {
        qCWarning(lcUi) << "digest of" << FileName << "failed:" << e.Message();
        Text.clear();
    }
}

void FileMD5Text(int Handle, QString &Text, const std::function<bool()> &Cancelled)
{
    TMD5::HashHandle(Handle, Text, Cancelled);
}

int CompareTexts(const QString &A, const QString &B, bool Descending)
{
    // Case folding of the ASCII letters only; other characters compare by code unit.
    auto fold = [](char16_t C) -> int { return (C >= u'a' && C <= u'z') ? C - 32 : C; };
    const qsizetype n = std::min(A.size(), B.size());
    int result = 0;
    for (qsizetype i = 0; i < n && result == 0; ++i)
        result = fold(A.at(i).unicode()) - fold(B.at(i).unicode());
    if (result == 0)
        result = int(std::clamp<qsizetype>(A.size() - B.size(), -0x7FFFFFFF, 0x7FFFFFFF));
    return Descending ? -result : result;
}

int CompareNumbers(bool Descending, long double A, long double B)
{
    int result = 0;
    if (A > B)
        result = 1;
    else if (A < B)
        result = -1;
    return Descending ? -result : result;
}

void ScreenToControl(const QPoint &ScreenPoint, const QWidget *Control, QPoint &ControlPoint)
{
    if (!Control)
        return;
    QPoint p = ScreenPoint - Control->geometry().topLeft();
    for (const QWidget *w = Control; !w->isWindow() && w->parentWidget();) {
        w = w->parentWidget();
        p -= w->geometry().topLeft();
    }
    ControlPoint = p;
}

void ControlToScreen(const QPoint &ControlPoint, const QWidget *Control, QPoint &ScreenPoint)
{
    if (!Control)
        return;
    QPoint p = ControlPoint + Control->geometry().topLeft();
    for (const QWidget *w = Control; !w->isWindow() && w->parentWidget();) {
        w = w->parentWidget();
        p += w->geometry().topLeft();
    }
    ScreenPoint = p;
}

int ColumnUnderCursor(const QTreeView *List)
{
    if (!List)
        return -1;
    QPoint p;
    ScreenToControl(QCursor::pos(), List, p);
    qint64 x = p.x();

    const QHeaderView *header = List->header();
    const int count = header ? header->count() : 0;
    const QScrollBar *bar = List->horizontalScrollBar();
    if (bar && bar->value() > 0) {
        if (count == 0)
            return -1;
        qint64 total = 0;
        for (int i = 0; i < count; ++i)
            total += header->sectionSize(i);
        // The scroll range spans the whole content: the page plus what lies beyond it.
        const qint64 range = qint64(bar->maximum()) - bar->minimum() + bar->pageStep();
        if (range > 0)
            x += DivRoundHalfEven(total * bar->value(), range);
    }
    if (count == 1)
        return 0;
    qint64 left = 1;
    for (int visual = 0; visual < count; ++visual) {
        const int logical = header->logicalIndex(visual);
        const int width = header->sectionSize(logical);
        if (left < x && left + width >= x)
            return logical;
        left += width;
    }
    return -1;
}

QIcon SystemImageIcon(int Index)
{
    if (Index < 0)
        return QIcon();
    static QHash<int, QIcon> cache;
    const auto it = cache.constFind(Index);
    if (it != cache.cend())
        return it.value();
    const QString name = platform::files::SystemImageName(Index);
    if (name.isEmpty())
        return QIcon();
    QIcon fallback;
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        fallback = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    QIcon icon = QIcon::fromTheme(name, fallback);
    cache.insert(Index, icon);
    return icon;
}

namespace {

// Keeps the decoration of column 0 in step with the image index a row carries.
class SystemImageListLink : public QObject
{
public:
    explicit SystemImageListLink(QTreeView *View) : QObject(View), m_View(View)
    {
        setObjectName(QStringLiteral("SystemImageListLink"));
        Attach(View->model());
    }

    void Attach(QAbstractItemModel *Model)
    {
        if (m_Model == Model)
            return;
        if (m_Model)
            disconnect(m_Model, nullptr, this, nullptr);
        m_Model = Model;
        if (!m_Model)
            return;
        connect(m_Model, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex &Parent, int First, int Last) {
                    for (int r = First; r <= Last; ++r)
                        Sync(m_Model->index(r, 0, Parent));
                });
        connect(m_Model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &TopLeft, const QModelIndex &BottomRight, const QList<int> &Roles) {
                    if (TopLeft.column() != 0 || (!Roles.isEmpty() && !Roles.contains(kImageIndexRole)))
                        return;
                    for (int r = TopLeft.row(); r <= BottomRight.row(); ++r)
                        Sync(m_Model->index(r, 0, TopLeft.parent()));
                });
        connect(m_Model, &QAbstractItemModel::modelReset, this, [this] { SyncAll(); });
        SyncAll();
    }

private:
    void SyncAll()
    {
        for (int r = 0, n = m_Model->rowCount(); r < n; ++r)
            Sync(m_Model->index(r, 0));
    }

    void Sync(const QModelIndex &Index)
    {
        if (!Index.isValid())
            return;
        const QVariant v = Index.data(kImageIndexRole);
        const int image = v.isValid() ? v.toInt() : -1;
        const QIcon icon = SystemImageIcon(image);
        const QVariant current = Index.data(Qt::DecorationRole);
        if (icon.isNull() && !current.isValid())
            return;
        if (!icon.isNull() && current.isValid() && current.value<QIcon>().cacheKey() == icon.cacheKey())
            return;
        m_Model->setData(Index, icon.isNull() ? QVariant() : QVariant(icon), Qt::DecorationRole);
    }

    QPointer<QTreeView> m_View;
    QPointer<QAbstractItemModel> m_Model;
};

} // namespace

void UseSystemImageList(QTreeView *List)
{
    if (!List)
        return;
    List->setIconSize(QSize(16, 16));
    if (auto *link = List->findChild<QObject *>(QStringLiteral("SystemImageListLink"), Qt::FindDirectChildrenOnly)) {
        static_cast<SystemImageListLink *>(link)->Attach(List->model());
        return;
    }
    new SystemImageListLink(List);
}

void TrimWorkingSet()
{
    platform::memory::TrimHeap();
}
