#pragma once

namespace platform::crypto {

// Initialises libgcrypt once per process; safe to call from any thread, any number of times.
// Returns false when the library could not be initialised (too old a version).
bool EnsureGcrypt();

} // namespace platform::crypto
