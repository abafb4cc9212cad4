// RGB images as PNG files: the pages the simulated dock prints, pictures of
// windows, and the tests and tools that look at them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

struct RgbImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;  // row 0 first, R G B per pixel
};

// Writes through a temporary file beside the target, so a reader never sees
// half a page. Creates missing folders. Throws std::runtime_error.
void WritePng(const std::string& path, const RgbImage& image);
// 8-bit RGB or anything libpng can turn into it (palette, grey, alpha
// dropped, 16-bit stripped). Throws std::runtime_error.
RgbImage ReadPng(const std::string& path);

}  // namespace Platform
