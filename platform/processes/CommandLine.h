#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform::processes {

// Splits a command line into words without a shell: blanks separate; "..." groups, with
// \" and \\ as escapes inside; '...' groups literally; outside quotes a backslash keeps the
// next character. No globbing, no variables. Nothing for an unterminated quote or a
// trailing lone backslash.
std::optional<QStringList> SplitCommandLine(const QString &Text);

// The inverse for display and for handing on: a word is quoted only when it must be.
QString QuoteArgument(const QString &Word);
QString JoinCommandLine(const QStringList &Words);

} // namespace platform::processes
