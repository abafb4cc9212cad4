// The system's picture loader: bytes of a picture file to a picture that
// draws into a device context. GIF (87a and 89a) is the one format read:
// its first image, with the transparent colour of its graphic control
// extension. Anything else is refused with a PictureError.
#pragma once

#include "Mfc/WinGdi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace Mfc {

class PictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Picture {
public:
    // Pixels 0x00RRGGBB, row 0 first; `opaque` says which are drawn.
    Picture(int width, int height, std::vector<std::uint32_t> pixels, std::vector<bool> opaque);

    // In pixels.
    SIZE Size() const { return SIZE{width_, height_}; }
    // In hundredths of a millimetre at the screen's 96 dots per inch.
    SIZE HimetricSize() const;
    // Draws the picture stretched to the rectangle (nearest pixel);
    // transparent pixels leave what is below. False for a bad context.
    bool Render(HDC dc, int x, int y, int width, int height) const;

private:
    int width_;
    int height_;
    std::vector<std::uint32_t> pixels_;
    std::vector<bool> opaque_;
};

// Pictures larger than this many pixels are refused.
constexpr std::size_t kLargestPicture = std::size_t{1} << 24;

// Throws PictureError for data that is not a picture it can read.
std::shared_ptr<const Picture> LoadPicture(const std::uint8_t* data, std::size_t size);

}  // namespace Mfc
