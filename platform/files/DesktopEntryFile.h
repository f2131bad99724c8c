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

// Reads a desktop entry: nothing when the file cannot be read or its first group is not
// [Desktop Entry]. Files larger than 1 MiB are refused.
std::optional<DesktopEntryInfo> ReadDesktopEntry(const QString &Path, const QString &LocaleName);

// Splits an Exec value by the Desktop Entry quoting rules; field codes (%f, %U, ...) are
// dropped and "%%" becomes "%". Nothing for an unterminated quote.
std::optional<QStringList> SplitExec(const QString &Exec);

} // namespace platform::files
