// The private settings block conversions: any input block, any output
// buffer size, any request. The output buffer is exactly the size the
// caller claims, so a copy past it shows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "PrivateDevMode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const DWORD mode = data[0] % 6;
    const DWORD bufferSize = static_cast<DWORD>(data[1] | (data[2] << 8)) % 1024;
    data += 3;
    size -= 3;
    // The input block as the driver holds it, and the output as it was.
    std::vector<BYTE> in(kPrivateDevModeSize, 0);
    std::memcpy(in.data(), data, std::min<std::size_t>(size, in.size()));
    std::vector<BYTE> out(bufferSize, 0);
    if (size > in.size() && !out.empty())
        std::memcpy(out.data(), data + in.size(), std::min<std::size_t>(size - in.size(), out.size()));

    OEM_DMPARAM param{};
    param.cbSize = sizeof param;
    param.pOEMDMIn = in.data();
    param.pOEMDMOut = out.empty() ? nullptr : out.data();
    param.cbBufSize = bufferSize;
    OEMDevMode(mode, &param);
    if (out.size() >= kPrivateDevModeSize) {
        const PrivateDevMode read = PrivateDevMode::Read(out.data());
        if (std::strlen(read.ccFilter) >= sizeof read.ccFilter) __builtin_trap();
        if (std::strlen(read.ccFilterData) >= sizeof read.ccFilterData) __builtin_trap();
    }
    return 0;
}
