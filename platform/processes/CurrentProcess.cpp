#include "platform/processes/CurrentProcess.h"

#include <unistd.h>

namespace platform::processes {

qint32 CurrentPid()
{
    return qint32(::getpid());
}

quint32 EffectiveUserId()
{
    return quint32(::geteuid());
}

} // namespace platform::processes
