// The drawing layer's internals shared by the device contexts, the picture
// loader and the window tree.
#pragma once

#include "Mfc/WinGdi.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Mfc::detail {

// Pixels 0x00RRGGBB, row 0 first. Every access holds the mutex.
struct Surface {
    Surface(int w, int h, std::uint32_t fill) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    std::mutex mutex;
    const int width;
    const int height;
    std::vector<std::uint32_t> pixels;
};

constexpr std::uint32_t PixelOf(COLORREF colour) {
    return (std::uint32_t{GetRValue(colour)} << 16) | (std::uint32_t{GetGValue(colour)} << 8) | GetBValue(colour);
}

// The surface a device context draws into, or null for a handle that names
// no device context.
std::shared_ptr<Surface> SurfaceOf(HDC dc);

}  // namespace Mfc::detail
