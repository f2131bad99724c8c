#pragma once

namespace platform::memory {

// Hands freed heap memory back to the system; true when any was released.
bool TrimHeap();

} // namespace platform::memory
