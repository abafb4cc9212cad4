// Global memory blocks and the arithmetic helper that goes with the kernel.
#include "Platform/Kernel.h"

#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

namespace {

// Larger requests fail as an exhausted machine would, instead of taking the
// process down.
constexpr std::size_t kLargestBlock = std::size_t{1} << 30;

class GlobalBlock final : public Platform::KernelObject {
public:
    explicit GlobalBlock(std::size_t bytes) : data(bytes) {}
    std::vector<std::uint8_t> data;
    std::mutex mutex;
    int locks = 0;
};

std::shared_ptr<GlobalBlock> Find(HGLOBAL memory) {
    auto block = Platform::LookupHandleAs<GlobalBlock>(memory);
    if (!block) SetLastError(ERROR_INVALID_HANDLE);
    return block;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT, std::size_t bytes) {
    if (bytes > kLargestBlock) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        // Always zeroed: GMEM_ZEROINIT costs nothing extra here.
        return Platform::InsertHandle(std::make_shared<GlobalBlock>(bytes));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

LPVOID GlobalLock(HGLOBAL memory) {
    auto block = Find(memory);
    if (!block) return nullptr;
    std::lock_guard lock(block->mutex);
    ++block->locks;
    // A block of zero bytes still gives a pointer that may not be read.
    return block->data.empty() ? static_cast<LPVOID>(block.get()) : block->data.data();
}

BOOL GlobalUnlock(HGLOBAL memory) {
    auto block = Find(memory);
    if (!block) return FALSE;
    std::lock_guard lock(block->mutex);
    if (block->locks > 0) --block->locks;
    SetLastError(ERROR_SUCCESS);
    return block->locks > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL memory) {
    auto block = Find(memory);
    return block ? block->data.size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    if (!Find(memory)) return memory;
    CloseHandle(memory);
    return nullptr;
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const long long product = static_cast<long long>(number) * numerator;
    long long quotient = product / denominator;
    const long long remainder = product % denominator;
    // Round half away from zero.
    if (2 * std::llabs(remainder) >= std::llabs(static_cast<long long>(denominator)))
        quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
    if (quotient > std::numeric_limits<int>::max() || quotient < std::numeric_limits<int>::min()) return -1;
    return static_cast<int>(quotient);
}
