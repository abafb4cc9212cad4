// The picture loader: GIF through giflib, read from memory.
#include "Mfc/Picture.h"

#include "Gdi.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace Mfc {
namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

int Read(GifFileType* gif, GifByteType* buffer, int length) {
    auto* reader = static_cast<Reader*>(gif->UserData);
    if (length <= 0) return 0;
    const std::size_t count = std::min(static_cast<std::size_t>(length), reader->size - reader->position);
    std::memcpy(buffer, reader->data + reader->position, count);
    reader->position += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifFile = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void Fail(const std::string& what) {
    throw PictureError("GIF picture: " + what);
}

[[noreturn]] void FailWith(const GifFileType* gif) {
    const char* reason = GifErrorString(gif->Error);
    Fail(reason != nullptr ? reason : "unreadable data");
}

std::shared_ptr<const Picture> DecodeGif(const std::uint8_t* data, std::size_t size) {
    Reader reader{data, size};
    int error = 0;
    GifFile gif(DGifOpen(&reader, Read, &error));
    if (!gif) {
        const char* reason = GifErrorString(error);
        Fail(reason != nullptr ? reason : "unreadable header");
    }
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) FailWith(gif.get());
        if (record == TERMINATE_RECORD_TYPE) Fail("no image");
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) FailWith(gif.get());
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
                GraphicsControlBlock control;
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_ERROR) Fail("bad graphic control");
                transparent = control.TransparentColor;
            }
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) FailWith(gif.get());
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) Fail("unknown record");
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) FailWith(gif.get());
        break;
    }

    const GifImageDesc& image = gif->Image;
    if (image.Width <= 0 || image.Height <= 0) Fail("empty image");
    const auto pixelCount = static_cast<std::size_t>(image.Width) * static_cast<std::size_t>(image.Height);
    if (pixelCount > kLargestPicture) Fail("image too large");
    const ColorMapObject* colours = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
    if (colours == nullptr || colours->ColorCount <= 0) Fail("no colour table");

    std::vector<GifPixelType> indexes(pixelCount);
    auto readRow = [&](int row) {
        if (DGifGetLine(gif.get(), indexes.data() + static_cast<std::size_t>(row) * image.Width, image.Width) ==
            GIF_ERROR)
            FailWith(gif.get());
    };
    if (image.Interlace) {
        constexpr int kStart[] = {0, 4, 2, 1};
        constexpr int kStep[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            for (int row = kStart[pass]; row < image.Height; row += kStep[pass]) readRow(row);
        }
    } else {
        for (int row = 0; row < image.Height; ++row) readRow(row);
    }

    std::vector<std::uint32_t> pixels(pixelCount);
    std::vector<bool> opaque(pixelCount, true);
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const int index = indexes[i];
        if (index == transparent) {
            opaque[i] = false;
        } else if (index < colours->ColorCount) {
            const GifColorType& c = colours->Colors[index];
            pixels[i] = detail::PixelOf(RGB(c.Red, c.Green, c.Blue));
        }
        // An index past the table is drawn black.
    }
    return std::make_shared<const Picture>(image.Width, image.Height, std::move(pixels), std::move(opaque));
}

}  // namespace

Picture::Picture(int width, int height, std::vector<std::uint32_t> pixels, std::vector<bool> opaque)
    : width_(width), height_(height), pixels_(std::move(pixels)), opaque_(std::move(opaque)) {
    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (width <= 0 || height <= 0 || pixels_.size() != count || opaque_.size() != count)
        throw PictureError("A picture of " + std::to_string(width) + "x" + std::to_string(height) + " with " +
                           std::to_string(pixels_.size()) + " pixels");
}

SIZE Picture::HimetricSize() const {
    return SIZE{MulDiv(width_, 2540, 96), MulDiv(height_, 2540, 96)};
}

bool Picture::Render(HDC dc, int x, int y, int width, int height) const {
    auto surface = detail::SurfaceOf(dc);
    if (!surface) return false;
    if (width <= 0 || height <= 0) return true;
    std::lock_guard lock(surface->mutex);
    const int left = std::max(x, 0), top = std::max(y, 0);
    const int right = static_cast<int>(std::min<long long>(static_cast<long long>(x) + width, surface->width));
    const int bottom = static_cast<int>(std::min<long long>(static_cast<long long>(y) + height, surface->height));
    for (int dy = top; dy < bottom; ++dy) {
        const auto sy = static_cast<std::size_t>((static_cast<long long>(dy - y) * height_) / height);
        auto* line = surface->pixels.data() + static_cast<std::size_t>(dy) * surface->width;
        for (int dx = left; dx < right; ++dx) {
            const auto sx = static_cast<std::size_t>((static_cast<long long>(dx - x) * width_) / width);
            const std::size_t from = sy * static_cast<std::size_t>(width_) + sx;
            if (opaque_[from]) line[dx] = pixels_[from];
        }
    }
    return true;
}

std::shared_ptr<const Picture> LoadPicture(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 6) throw PictureError("Not a picture: too short");
    if (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0) return DecodeGif(data, size);
    throw PictureError("Not a picture format this system reads");
}

}  // namespace Mfc
