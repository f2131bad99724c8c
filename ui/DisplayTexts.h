#pragma once

#include "platform/files/SystemTime.h"

#include <QPoint>
#include <QString>

#include <functional>
#include <Qt>

class QIcon;
class QTreeView;
class QWidget;

// Texts for display. Each routine writes its result into Text; "N/A" stands for a value
// that has no text.
void PriorityText(quint32 Priority, QString &Text);
void ServiceStateText(quint32 State, QString &Text);
void StartTypeText(quint8 StartType, QString &Text);
// Leaves Text unchanged for anything but 2, 3 and 4.
void StartModeText(quint8 StartType, QString &Text);
void ServiceTypeText(quint32 ServiceType, QString &Text);
void TCPStateText(quint32 State, QString &Text);
void EnabledText(bool Enabled, QString &Text);
// Address as stored (network byte order): its four bytes in memory order.
void IPv4Text(quint32 Address, QString &Text);
void IPv4PortText(quint32 Address, quint32 Port, QString &Text);
// Kilobytes with the user's thousands separator and " K"; "N/A" for 0.
void ByteCountText(qint64 Count, QString &Text);
void DateTimeText(const SYSTEMTIME &Time, QString &Text);
// Span with the day word counting whole days.
void SpanText(const SYSTEMTIME &Span, QString &Text);
// 32 upper-case hexadecimal digits, or empty when the file is missing or cannot be read.
void FileMD5Text(const QString &FileName, QString &Text);
// The same for a file already open for reading (read from its current position); empty as well
// when `Cancelled`, asked between reads, says the text is no longer wanted.
void FileMD5Text(int Handle, QString &Text, const std::function<bool()> &Cancelled);

// Text a process, a file or the network supplies (a name, command line, path, user, description,
// address), as the window shows it. Control characters, line and paragraph separators, format
// characters (the marks that reorder a line or join and part letters unseen), noncharacters and
// every other code point that is drawn as nothing appear as visible escapes ("\n", "\x1b", "\u202e",
// "\U000e0001"), a byte of a name that was not UTF-8 as its code ("\xff", see
// platform::files::DecodeNameBytes), and a backslash as "\\", so that such a text stays on its own
// line, cannot pass for the window's own lines or for another text, and every escape reads one way;
// two names that differ show differently. A text longer
// than kVisibleTextLimit code units (escapes counted) is cut there and ends in kVisibleTextCut.
// Only outside text comes here: the program's own texts are shown as they are.
QString VisibleText(const QString &Text);
inline constexpr qsizetype kVisibleTextLimit = 4096;
inline constexpr char16_t kVisibleTextCut[] = u"…[已截断]";
// A service's name wherever the window shows it. A unit name as the manager spells it keeps its
// backslashes, the manager's own escapes ("dev-disk-by\x2duuid"), as the manager's own tools show
// them, and is cut as VisibleText cuts; a name with any other character is not one the manager
// made, and is shown as VisibleText shows any outside text.
QString ServiceNameText(const QString &Name);

// Rounding to the nearest integer with halves to even, as every figure of the window rounds.
int RoundEven(double Value);
// Num / Den (Den > 0) rounded the same way, without a detour through floating point.
qint64 DivRoundHalfEven(qint64 Num, qint64 Den);

// Comparisons for sorting, negated when Descending.
int CompareTexts(const QString &A, const QString &B, bool Descending);
int CompareNumbers(bool Descending, long double A, long double B);

// Point conversions along the parent chain; with no control the output is left alone.
void ScreenToControl(const QPoint &ScreenPoint, const QWidget *Control, QPoint &ControlPoint);
void ControlToScreen(const QPoint &ControlPoint, const QWidget *Control, QPoint &ScreenPoint);

// The column of a report-style list under the mouse pointer, or -1.
int ColumnUnderCursor(const QTreeView *List);

// A list row's image index in the system image list is kept in column 0 under this role
// (-1 or absent: no image). After UseSystemImageList the list shows the matching small icon.
inline constexpr int kImageIndexRole = Qt::UserRole + 0x105;
void UseSystemImageList(QTreeView *List);
// The small icon of an entry of the system image list (a null icon for -1).
QIcon SystemImageIcon(int Index);

// Returns freed heap memory to the system.
void TrimWorkingSet();
