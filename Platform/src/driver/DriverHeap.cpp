// The driver's heap: blocks by handle, so a forged or ended heap fails
// instead of touching memory.
#include "Platform/DriverUi.h"

#include <cstring>
#include <map>
#include <mutex>

namespace {

struct Heaps {
    std::mutex mutex;
    std::uintptr_t next = 0x4E000000;
    std::map<HANDLE, std::map<void*, std::unique_ptr<std::max_align_t[]>>> live;
};

Heaps& AllHeaps() {
    static auto* heaps = new Heaps;
    return *heaps;
}

}  // namespace

LPVOID HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
    auto& heaps = AllHeaps();
    std::lock_guard lock(heaps.mutex);
    auto it = heaps.live.find(heap);
    if (it == heaps.live.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const std::size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    auto block = std::make_unique_for_overwrite<std::max_align_t[]>(units == 0 ? 1 : units);
    if ((flags & HEAP_ZERO_MEMORY) != 0)
        std::memset(block.get(), 0, (units == 0 ? 1 : units) * sizeof(std::max_align_t));
    void* address = block.get();
    it->second.emplace(address, std::move(block));
    return address;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
    auto& heaps = AllHeaps();
    std::lock_guard lock(heaps.mutex);
    auto it = heaps.live.find(heap);
    if (it == heaps.live.end() || it->second.erase(block) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

namespace Platform {

DriverHeap::DriverHeap() {
    auto& heaps = AllHeaps();
    std::lock_guard lock(heaps.mutex);
    handle_ = reinterpret_cast<HANDLE>(heaps.next++);
    heaps.live[handle_];
}

DriverHeap::~DriverHeap() {
    auto& heaps = AllHeaps();
    std::lock_guard lock(heaps.mutex);
    heaps.live.erase(handle_);
}

std::size_t DriverHeap::Blocks() const {
    auto& heaps = AllHeaps();
    std::lock_guard lock(heaps.mutex);
    auto it = heaps.live.find(handle_);
    return it == heaps.live.end() ? 0 : it->second.size();
}

}  // namespace Platform
