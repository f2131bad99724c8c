#include "platform/memory/Trim.h"

#include <malloc.h>

namespace platform::memory {

bool TrimHeap()
{
    return malloc_trim(0) != 0;
}

} // namespace platform::memory
