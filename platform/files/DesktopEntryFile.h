#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform::files {

// The keys of a desktop entry's [Desktop Entry] group that describe what it starts.
struct DesktopEntryInfo
{
    QString Program;       // first word of Exec, unquoted
    QStringList Arguments; // the rest of Exec, unquoted, field codes removed
    QString Path;          // Path
    QString Comment;       // Comment, localised when the entry has the user's language
    QString Icon;          // Icon
    bool Hidden = false;   // Hidden=true: the entry counts as deleted
};

// The largest desktop entry read; anything larger is no entry.
constexpr qint64 kMaxDesktopEntrySize = qint64{1024} * 1024;

// Reads a desktop entry: nothing when the file cannot be read (see RegularFileReader) or its
// first group is not [Desktop Entry]. Files larger than kMaxDesktopEntrySize are refused.
std::optional<DesktopEntryInfo> ReadDesktopEntry(const QString &Path, const QString &LocaleName);
// The same from the bytes of a file already read.
std::optional<DesktopEntryInfo> ParseDesktopEntry(const QByteArray &Content, const QString &LocaleName);
// Whether a file that starts with `Head` may be a desktop entry at all: its first line that is
// neither empty nor a comment opens the [Desktop Entry] group (or `Head` ends before one).
bool MayBeDesktopEntry(const QByteArray &Head);

// Splits an Exec value by the Desktop Entry quoting rules; field codes (%f, %U, ...) are
// dropped and "%%" becomes "%". Nothing for an unterminated quote.
std::optional<QStringList> SplitExec(const QString &Exec);

} // namespace platform::files
