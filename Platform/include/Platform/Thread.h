// Test fixture for threads: makes thread creation fail on demand, so the
// callers' handling of a thread that never started can be exercised.
#pragma once

#include "Platform/Win32.h"

namespace Platform {

// The next `count` calls of CreateThread fail with `error` and start nothing.
void FailNextThreadCreations(unsigned count, DWORD error = ERROR_NOT_ENOUGH_MEMORY);

}  // namespace Platform
