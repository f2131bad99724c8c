#pragma once

// The bytes the program holds on its heap now, as its allocator counts them: with AddressSanitizer
// its own count (its resident figure is inflated by shadow memory and by freed blocks it keeps
// back), else the C library's, over all of its arenas.

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own interface; the compiler ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace tvtest {

inline std::size_t HeapBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

} // namespace tvtest
