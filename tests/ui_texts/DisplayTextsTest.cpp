#include "ui/DisplayTexts.h"
#include "platform/files/DesktopEntryFile.h"
#include "platform/files/NameBytes.h"
#include "platform/processes/ProcFs.h"

#include "platform/files/SystemImageList.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QLocale>
#include <QScrollBar>
#include <QSet>
#include <QTreeWidget>
#include <QWidget>

#include <vector>

#include <arpa/inet.h>

namespace {

QString TextOf(void (*Routine)(quint32, QString &), quint32 Value)
{
    QString text = QStringLiteral("unchanged");
    Routine(Value, text);
    return text;
}

// Pins the locale for the tests that depend on it and restores it afterwards.
class LocaleGuard
{
public:
    explicit LocaleGuard(const QLocale &Locale) : m_saved(QLocale()) { QLocale::setDefault(Locale); }
    ~LocaleGuard() { QLocale::setDefault(m_saved); }

private:
    QLocale m_saved;
};

} // namespace

TEST(DisplayTextsTest, PriorityTable)
{
    EXPECT_EQ(TextOf(PriorityText, 0x40), QStringLiteral("空闲"));
    EXPECT_EQ(TextOf(PriorityText, 0x4000), QStringLiteral("低于标准"));
    EXPECT_EQ(TextOf(PriorityText, 0x20), QStringLiteral("标准"));
    EXPECT_EQ(TextOf(PriorityText, 0x8000), QStringLiteral("高于标准"));
    EXPECT_EQ(TextOf(PriorityText, 0x80), QStringLiteral("高"));
    EXPECT_EQ(TextOf(PriorityText, 0x100), QStringLiteral("实时"));
    EXPECT_EQ(TextOf(PriorityText, 0), QStringLiteral("N/A"));
    EXPECT_EQ(TextOf(PriorityText, 0x10020), QStringLiteral("标准")); // low 16 bits only
}

TEST(DisplayTextsTest, ServiceTables)
{
    const char16_t *states[] = {u"已停止", u"正在启动", u"正在停止", u"运行中", u"正在恢复", u"正在暂停", u"暂停中"};
    for (quint32 s = 1; s <= 7; ++s)
        EXPECT_EQ(TextOf(ServiceStateText, s), QString::fromUtf16(states[s - 1])) << s;
    EXPECT_EQ(TextOf(ServiceStateText, 0), QStringLiteral("N/A"));
    EXPECT_EQ(TextOf(ServiceStateText, 8), QStringLiteral("N/A"));
    EXPECT_EQ(TextOf(ServiceStateText, 0x84), QStringLiteral("运行中")); // low 7 bits only

    QString text = QStringLiteral("x");
    StartTypeText(2, text);
    EXPECT_EQ(text, QStringLiteral("自动"));
    StartTypeText(3, text);
    EXPECT_EQ(text, QStringLiteral("手动"));
    StartTypeText(4, text);
    EXPECT_EQ(text, QStringLiteral("禁用"));
    StartTypeText(1, text);
    EXPECT_EQ(text, QStringLiteral("N/A"));
    text = QStringLiteral("before");
    StartModeText(1, text);
    EXPECT_EQ(text, QStringLiteral("before"));
    StartModeText(4, text);
    EXPECT_EQ(text, QStringLiteral("禁用"));

    EXPECT_EQ(TextOf(ServiceTypeText, 0x10), QStringLiteral("独立进程"));
    EXPECT_EQ(TextOf(ServiceTypeText, 0x110), QStringLiteral("独立进程"));
    EXPECT_EQ(TextOf(ServiceTypeText, 0x20), QStringLiteral("共享进程"));
    EXPECT_EQ(TextOf(ServiceTypeText, 0x1), QStringLiteral("N/A"));
}

TEST(DisplayTextsTest, TcpStatesAndAddresses)
{
    const char16_t *states[] = {u"已关闭连接", u"正在监听", u"同步发送", u"同步接收", u"已建立连接", u"等待结束",
                                u"等待结束",   u"等待关闭", u"正在关闭", u"最终应答", u"正在等待",   u"删除连接"};
    for (quint32 s = 1; s <= 12; ++s)
        EXPECT_EQ(TextOf(TCPStateText, s), QString::fromUtf16(states[s - 1])) << s;
    EXPECT_EQ(TextOf(TCPStateText, 0), QStringLiteral("N/A"));
    EXPECT_EQ(TextOf(TCPStateText, 13), QStringLiteral("N/A"));

    QString text;
    EnabledText(true, text);
    EXPECT_EQ(text, QStringLiteral("启用"));
    EnabledText(false, text);
    EXPECT_EQ(text, QStringLiteral("禁用"));

    const quint32 loopback = htonl(0x7F000001);
    IPv4Text(loopback, text);
    EXPECT_EQ(text, QStringLiteral("127.0.0.1"));
    IPv4PortText(htonl(0xC0A80AFE), 8080, text);
    EXPECT_EQ(text, QStringLiteral("192.168.10.254:8080"));
}

TEST(DisplayTextsTest, ByteCounts)
{
    LocaleGuard guard(QLocale(QLocale::English, QLocale::UnitedStates));
    QString text;
    ByteCountText(0, text);
    EXPECT_EQ(text, QStringLiteral("N/A"));
    ByteCountText(100, text);
    EXPECT_EQ(text, QStringLiteral("0 K"));
    ByteCountText(512, text);
    EXPECT_EQ(text, QStringLiteral("0 K"));
    ByteCountText(513, text);
    EXPECT_EQ(text, QStringLiteral("1 K"));
    ByteCountText(1536, text);
    EXPECT_EQ(text, QStringLiteral("2 K"));
    ByteCountText(2560, text);
    EXPECT_EQ(text, QStringLiteral("2 K"));
    ByteCountText(qint64(1234567) * 1024, text);
    EXPECT_EQ(text, QStringLiteral("1,234,567 K"));
    ByteCountText(std::numeric_limits<qint64>::max(), text);
    EXPECT_EQ(text, QStringLiteral("9,007,199,254,740,992 K"));

    LocaleGuard german(QLocale(QLocale::German, QLocale::Germany));
    ByteCountText(qint64(1234567) * 1024, text);
    EXPECT_EQ(text, QStringLiteral("1.234.567 K"));
}

TEST(DisplayTextsTest, DatesAndSpans)
{
    QString text;
    SYSTEMTIME t;
    t.WMilliseconds = 999;
    t.WDayOfWeek = 3;
    DateTimeText(t, text);
    EXPECT_EQ(text, QStringLiteral("N/A"));
    SpanText(t, text);
    EXPECT_EQ(text, QStringLiteral("N/A"));

    t.WYear = 2024;
    t.WMonth = 2;
    t.WDay = 9;
    t.WHour = 7;
    t.WMinute = 5;
    t.WSecond = 3;
    DateTimeText(t, text);
    EXPECT_EQ(text, QStringLiteral("2024-02-09 07:05:03"));
    t.WYear = 7;
    DateTimeText(t, text);
    EXPECT_EQ(text, QStringLiteral("0007-02-09 07:05:03"));

    SYSTEMTIME span;
    span.WSecond = 1;
    SpanText(span, text);
    EXPECT_EQ(text, QStringLiteral("0 D 00 H 00 M 01 S"));
    span.WDay = 123;
    span.WHour = 23;
    span.WMinute = 59;
    SpanText(span, text);
    EXPECT_EQ(text, QStringLiteral("123 D 23 H 59 M 01 S"));
}

TEST(DisplayTextsTest, Comparisons)
{
    EXPECT_EQ(CompareTexts(QStringLiteral("abc"), QStringLiteral("ABC"), false), 0);
    EXPECT_LT(CompareTexts(QStringLiteral("abc"), QStringLiteral("abd"), false), 0);
    EXPECT_GT(CompareTexts(QStringLiteral("abc"), QStringLiteral("abd"), true), 0);
    EXPECT_LT(CompareTexts(QStringLiteral("ab"), QStringLiteral("abc"), false), 0);
    EXPECT_GT(CompareTexts(QStringLiteral("b"), QStringLiteral("A"), false), 0);
    // Only ASCII letters are folded: '_' lies between the capitals and the small letters.
    EXPECT_GT(CompareTexts(QStringLiteral("_"), QStringLiteral("a"), false), 0);

    EXPECT_EQ(CompareNumbers(false, 1.5L, 1.5L), 0);
    EXPECT_EQ(CompareNumbers(false, 2, 1), 1);
    EXPECT_EQ(CompareNumbers(false, 1, 2), -1);
    EXPECT_EQ(CompareNumbers(true, 2, 1), -1);
    EXPECT_EQ(CompareNumbers(true, 1, 2), 1);
}

TEST(DisplayTextsTest, PointConversionsFollowTheParents)
{
    QWidget window;
    window.setGeometry(100, 50, 400, 300);
    QWidget panel(&window);
    panel.setGeometry(10, 20, 200, 200);
    QWidget inner(&panel);
    inner.setGeometry(3, 4, 50, 50);

    QPoint p(-1, -1);
    ScreenToControl(QPoint(200, 200), &inner, p);
    EXPECT_EQ(p, QPoint(200 - 100 - 10 - 3, 200 - 50 - 20 - 4));
    QPoint back;
    ControlToScreen(p, &inner, back);
    EXPECT_EQ(back, QPoint(200, 200));

    QPoint untouched(7, 8);
    ScreenToControl(QPoint(1, 1), nullptr, untouched);
    ControlToScreen(QPoint(1, 1), nullptr, untouched);
    EXPECT_EQ(untouched, QPoint(7, 8));
}

TEST(DisplayTextsTest, ColumnUnderCursor)
{
    EXPECT_EQ(ColumnUnderCursor(nullptr), -1);
    QTreeWidget list;
    list.setGeometry(0, 0, 300, 200);
    list.setColumnCount(3);
    list.header()->setStretchLastSection(false);
    list.header()->resizeSection(0, 100);
    list.header()->resizeSection(1, 50);
    list.header()->resizeSection(2, 60);
    list.show();

    auto at = [&](int x) {
        QPoint screen;
        ControlToScreen(QPoint(x, 5), &list, screen);
        QCursor::setPos(screen);
        if (QCursor::pos() != screen)
            return -2;
        return ColumnUnderCursor(&list);
    };
    if (at(50) == -2)
        GTEST_SKIP() << "the platform cannot place the pointer";
    EXPECT_EQ(at(0), -1);
    EXPECT_EQ(at(1), -1);
    EXPECT_EQ(at(2), 0);
    EXPECT_EQ(at(101), 0);
    EXPECT_EQ(at(102), 1);
    EXPECT_EQ(at(151), 1);
    EXPECT_EQ(at(152), 2);
    EXPECT_EQ(at(211), 2);
    EXPECT_EQ(at(212), -1);

    // Scrolled: the offset is added in proportion to the whole width.
    list.resize(120, 200);
    list.header()->resizeSection(0, 300);
    QApplication::processEvents();
    QScrollBar *bar = list.horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(250);
    EXPECT_EQ(at(60), 1); // 60 + 250 lies in the second column
    bar->setValue(100);
    EXPECT_EQ(at(60), 0);

    QTreeWidget single;
    single.setColumnCount(1);
    single.setGeometry(0, 0, 100, 100);
    single.show();
    QPoint screen;
    ControlToScreen(QPoint(0, 3), &single, screen);
    QCursor::setPos(screen);
    EXPECT_EQ(ColumnUnderCursor(&single), 0);
}

TEST(DisplayTextsTest, SystemImageListGivesRowsTheirIcons)
{
    UseSystemImageList(nullptr);
    QTreeWidget list;
    list.setColumnCount(2);
    auto *before = new QTreeWidgetItem(&list, QStringList{QStringLiteral("a"), QStringLiteral("b")});
    const int index = platform::files::SystemImageIndex(QStringLiteral("text-plain"));
    before->setData(0, kImageIndexRole, index);
    UseSystemImageList(&list);
    UseSystemImageList(&list); // twice is harmless
    EXPECT_EQ(list.iconSize(), QSize(16, 16));
    EXPECT_FALSE(before->icon(0).isNull());

    auto *after = new QTreeWidgetItem(QStringList{QStringLiteral("c")});
    after->setData(0, kImageIndexRole, index);
    list.addTopLevelItem(after);
    EXPECT_FALSE(after->icon(0).isNull());

    after->setData(0, kImageIndexRole, -1);
    EXPECT_TRUE(after->icon(0).isNull());
    after->setData(0, kImageIndexRole, 999999);
    EXPECT_TRUE(after->icon(0).isNull());
    EXPECT_TRUE(SystemImageIcon(-1).isNull());
}

TEST(DisplayTextsTest, FileMD5Text)
{
    tvtest::TempDir dir;
    QString text = QStringLiteral("stale");
    FileMD5Text(dir.file(QStringLiteral("missing")), text);
    EXPECT_TRUE(text.isEmpty());

    const QString path = dir.file(QStringLiteral("abc.txt"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("abc");
    }
    FileMD5Text(path, text);
    EXPECT_EQ(text, QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    TrimWorkingSet();
}

TEST(DisplayTextsTest, VisibleTextEscapesWhatWouldBreakOrReorderALine)
{
    EXPECT_EQ(VisibleText(QStringLiteral("/usr/bin/进程 -x 100%")), QStringLiteral("/usr/bin/进程 -x 100%"));
    // A backslash of the text is escaped too: every escape reads one way.
    EXPECT_EQ(VisibleText(QStringLiteral("a\\nb\\")), QStringLiteral("a\\\\nb\\\\"));
    EXPECT_EQ(VisibleText(QStringLiteral("a\r\nb\tc")), QStringLiteral("a\\r\\nb\\tc"));
    EXPECT_EQ(VisibleText(QString::fromUtf16(u"\x1b[31m\x7f\x85")), QStringLiteral("\\x1b[31m\\x7f\\u0085"));
    EXPECT_EQ(VisibleText(QString(QChar(0)) + QStringLiteral("z")), QStringLiteral("\\x00z"));
    // Line and paragraph separators, and the marks that turn the rest of a line around.
    EXPECT_EQ(VisibleText(QString::fromUtf16(u"a\u2028b\u2029c\u202Eexe.txt\u2066")),
              QStringLiteral("a\\u2028b\\u2029c\\u202eexe.txt\\u2066"));
    EXPECT_EQ(VisibleText(QString()), QString());
}

TEST(DisplayTextsTest, VisibleTextEscapesWhatIsDrawnAsNothingAndCutsWhatIsTooLong)
{
    // Default-ignorable code points beyond the format characters; lone surrogates stand for
    // themselves; letters beyond the first plane stay.
    EXPECT_EQ(VisibleText(QString::fromUtf16(u"\u3164m\uFE0Fn\u00ADo\uFFFCp\U0001F600") + QChar(0xD800)),
              QString::fromUtf16(u"\\u3164m\\ufe0fn\\u00ado\\ufffcp\U0001F600\\ud800"));
    const QString cut = QString::fromUtf16(u"…[已截断]");
    const QString full(kVisibleTextLimit, QLatin1Char('x'));
    EXPECT_EQ(VisibleText(full), full);
    EXPECT_EQ(VisibleText(QString(1 << 20, QLatin1Char('x'))), full + cut);
    // Escapes count; the cut parts neither an escape nor a surrogate pair.
    EXPECT_EQ(VisibleText(QStringLiteral("x") + QString(kVisibleTextLimit, QChar(0x200E))),
              QStringLiteral("x") + QStringLiteral("\\u200e").repeated((kVisibleTextLimit - 1) / 6) + cut);
    EXPECT_EQ(VisibleText(full.left(kVisibleTextLimit - 1) + QString::fromUtf16(u"\U0001F600")),
              full.left(kVisibleTextLimit - 1) + cut);
}

// Names the system keeps as bytes: a byte that is not part of a UTF-8 character shows as its code,
// apart from the code point of the same number, so that names that differ show differently; the
// bytes are had back from the text. Read as a process's name, and as a desktop entry's name.
TEST(DisplayTextsTest, NameBytesThatAreNotUtf8ShowAsTheirCodes)
{
    struct Case
    {
        QByteArray bytes;
        QString shown;
    };
    const std::vector<Case> cases = {
        {"plain \xe8\xbf\x9b\xe7\xa8\x8b", QString::fromUtf16(u"plain 进程")},
        {"a\xff", QStringLiteral("a\\xff")},
        {"a\xfe", QStringLiteral("a\\xfe")},
        {"a\xc3", QStringLiteral("a\\xc3")},                          // a character cut short
        {"\xc3\xa9t\xc3\xa9", QString::fromUtf16(u"été")},            // whole characters
        {"\xc2\x85", QStringLiteral("\\u0085")},                      // the code point U+0085
        {"\x85", QStringLiteral("\\x85")},                            // the byte 0x85
        {"\xc0\xaf", QStringLiteral("\\xc0\\xaf")},                   // an overlong "/"
        {"\xed\xa0\x80", QStringLiteral("\\xed\\xa0\\x80")},          // a surrogate's code
        {"\xf4\x90\x80\x80", QStringLiteral("\\xf4\\x90\\x80\\x80")}, // beyond U+10FFFF
        {"\xf0\x90\x82\x80\x80", QString::fromUtf16(u"\U00010080") + QStringLiteral("\\x80")},
        {"\\x80", QStringLiteral("\\\\x80")},
    };
    QSet<QString> seen;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        const QString text = platform::files::DecodeNameBytes(c.bytes);
        EXPECT_EQ(VisibleText(text).toStdString(), c.shown.toStdString());
        EXPECT_EQ(platform::files::EncodeNameBytes(text), c.bytes);
        seen.insert(VisibleText(text));
        // As a process's name and as a desktop entry's.
        platform::processes::ProcStat st;
        const QByteArray stat = "42 (" + c.bytes +
            ") S 1 42 42 0 -1 4194560 10 0 2 0 7 3 0 0 20 5 4 0 12345 "
            "0 0 18446744073709551615 0 0 0 0 0 0 0 0 0 0 0 0 17 1 0 2 0\n";
        ASSERT_TRUE(platform::processes::ParseStat(stat.constData(), std::size_t(stat.size()), st));
        EXPECT_EQ(VisibleText(st.Comm).toStdString(), c.shown.toStdString());
        if (c.bytes.contains('\\') || text.trimmed() != text)
            continue; // an entry's own escape, and the blanks around a value
        tvtest::TempDir tmp;
        QFile entry(tmp.file(QStringLiteral("e.desktop")));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nExec=/bin/true\nComment=" + c.bytes + "\n");
        entry.close();
        const auto info = platform::files::ReadDesktopEntry(entry.fileName(), QString());
        ASSERT_TRUE(info);
        EXPECT_EQ(VisibleText(info->Comment).toStdString(), c.shown.toStdString());
    }
    EXPECT_EQ(seen.size(), qsizetype(cases.size()));
}

TEST(DisplayTextsTest, ServiceNamesKeepTheManagersEscapesAndAreCutLikeOtherTexts)
{
    EXPECT_EQ(ServiceNameText(QStringLiteral("fsck@dev-by\\x2duuid")), QStringLiteral("fsck@dev-by\\x2duuid"));
    // Not a name the manager made: escaped as any outside text.
    EXPECT_EQ(ServiceNameText(QStringLiteral("a\\b c")), QStringLiteral("a\\\\b c"));
    EXPECT_EQ(ServiceNameText(QStringLiteral("a\nb")), QStringLiteral("a\\nb"));
    const QString full(kVisibleTextLimit, QLatin1Char('x'));
    EXPECT_EQ(ServiceNameText(full), full);
    EXPECT_EQ(ServiceNameText(full + QStringLiteral("yz")), full + QString::fromUtf16(u"…[已截断]"));
    EXPECT_EQ(ServiceNameText(full + QStringLiteral("yz")), VisibleText(full + QStringLiteral("yz")));
}
