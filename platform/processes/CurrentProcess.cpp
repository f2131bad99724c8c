#include "platform/processes/CurrentProcess.h"

#include <unistd.h>

namespace platform::processes {

qint32 currentProcessId()
{
    return qint32(::getpid());
}

quint32 effectiveUserId()
{
    return quint32(::geteuid());
}

} // namespace platform::processes
