#pragma once

#include <QtGlobal>

namespace platform::processes {

// The calling process's own identity.
qint32 currentProcessId();
quint32 effectiveUserId();

} // namespace platform::processes
