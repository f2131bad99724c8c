#pragma once

#include <QLoggingCategory>

// Why a system call, a D-Bus call or a spawn failed. Silent unless turned on, e.g.
// QT_LOGGING_RULES="taskvane.platform.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

#include <QString>

namespace platform {

// The text of the exception a catch block is handling, for a message; called elsewhere it
// says there is none.
QString CurrentExceptionText();

} // namespace platform
