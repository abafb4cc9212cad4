// The resource handle of the user interface's module state: where dialog,
// menu and string lookups take their resources from. Each library with
// windows has a module state of its own (Platform/Mfc); a thread runs under
// one at a time, the program's unless an exported call of a library switched
// to that library's. The program's starts as the program's own module.
#pragma once

#include "Platform/Win32.h"

#include <atomic>

HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE resource);

namespace Platform {

// The resource handle of one module state.
class ResourceSlot {
public:
    explicit ResourceSlot(HINSTANCE initial = nullptr) : handle_(initial) {}
    HINSTANCE Get() const { return handle_.load(); }
    void Set(HINSTANCE handle) { handle_.store(handle); }

private:
    std::atomic<HINSTANCE> handle_;
};

// The program's slot.
ResourceSlot& ProgramResourceSlot();
// Makes `slot` (null: the program's) the calling thread's current slot and
// returns the previous one (never null).
ResourceSlot* SwapThreadResourceSlot(ResourceSlot* slot);

}  // namespace Platform
