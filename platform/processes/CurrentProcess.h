#pragma once

#include <QtGlobal>

namespace platform::processes {

// The calling process's own identity.
qint32 CurrentPid();
quint32 EffectiveUserId();

} // namespace platform::processes
