#include "PagePlanes.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

namespace {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The row split vectorises only with byte shuffles, which the base x86-64
// instruction set lacks, and the transpose gains from wider registers: the
// best the processor has is picked at load.
#define VELMO_PIXEL_LOOP __attribute__((target_clones("avx2", "ssse3", "default")))
#else
#define VELMO_PIXEL_LOOP
#endif

// Ink is the complement of each colour: cyan of red, magenta of green,
// yellow of blue.
VELMO_PIXEL_LOOP void SplitRow(const BYTE* __restrict bgr, BYTE* __restrict c, BYTE* __restrict m, BYTE* __restrict y,
                               std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        c[i] = static_cast<BYTE>(~bgr[3 * i + 2]);
        m[i] = static_cast<BYTE>(~bgr[3 * i + 1]);
        y[i] = static_cast<BYTE>(~bgr[3 * i]);
    }
}

// The same, placed right to left.
VELMO_PIXEL_LOOP void SplitRowReversed(const BYTE* __restrict bgr, BYTE* __restrict c, BYTE* __restrict m,
                                       BYTE* __restrict y, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        c[pixels - 1 - i] = static_cast<BYTE>(~bgr[3 * i + 2]);
        m[pixels - 1 - i] = static_cast<BYTE>(~bgr[3 * i + 1]);
        y[pixels - 1 - i] = static_cast<BYTE>(~bgr[3 * i]);
    }
}

// How far ahead of the pixel being written WriteTile fetches plane rows.
constexpr int kPrefetchPixels = 96;

using Bytes16 = BYTE __attribute__((vector_size(16)));
using Bytes32 = BYTE __attribute__((vector_size(32)));

// Row t of dst takes byte t of each of the 32 rows of src, in order: 32 rows
// of 16 bytes become 16 rows of 32.
VELMO_PIXEL_LOOP void Transpose32x16(const BYTE* src, std::ptrdiff_t srcStride, BYTE* dst, std::ptrdiff_t dstStride) {
    // Source rows j and 16 + j share a vector, one in each half.
    Bytes32 rows[16];
#pragma GCC unroll 16
    for (int j = 0; j < 16; ++j) {
        Bytes16 low, high;
        std::memcpy(&low, src + j * srcStride, sizeof low);
        std::memcpy(&high, src + (16 + j) * srcStride, sizeof high);
        rows[j] = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                                          19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    }
    // Interleaving rows p and p + 8 within each half rotates the four row
    // bits and four column bits of every byte's place by one; four rounds
    // swap them.
#pragma GCC unroll 4
    for (int round = 0; round < 4; ++round) {
        Bytes32 next[16];
#pragma GCC unroll 8
        for (int p = 0; p < 8; ++p) {
            next[2 * p] =
                __builtin_shufflevector(rows[p], rows[p + 8], 0, 32, 1, 33, 2, 34, 3, 35, 4, 36, 5, 37, 6, 38, 7, 39,
                                        16, 48, 17, 49, 18, 50, 19, 51, 20, 52, 21, 53, 22, 54, 23, 55);
            next[2 * p + 1] =
                __builtin_shufflevector(rows[p], rows[p + 8], 8, 40, 9, 41, 10, 42, 11, 43, 12, 44, 13, 45, 14, 46, 15,
                                        47, 24, 56, 25, 57, 26, 58, 27, 59, 28, 60, 29, 61, 30, 62, 31, 63);
        }
        std::copy(std::begin(next), std::end(next), std::begin(rows));
    }
#pragma GCC unroll 16
    for (int t = 0; t < 16; ++t) std::memcpy(dst + t * dstStride, &rows[t], sizeof rows[t]);
}

void Le32(BYTE* out, DWORD value) {
    out[0] = static_cast<BYTE>(value);
    out[1] = static_cast<BYTE>(value >> 8);
    out[2] = static_cast<BYTE>(value >> 16);
    out[3] = static_cast<BYTE>(value >> 24);
}

}  // namespace

void WritePageHeader(BYTE* out, int paperKind, DWORD pin) {
    out[0] = 0x30;
    out[1] = 0x00;
    out[2] = 0x00;
    out[3] = static_cast<BYTE>(paperKind);
    Le32(out + 4, 0);
    Le32(out + 8, pin);
}

void WritePlaneHeader(BYTE* out, int plane, DWORD planeSize) {
    out[0] = 0x30;
    out[1] = 0x01;
    out[2] = static_cast<BYTE>(plane);
    out[3] = 0x00;
    Le32(out + 4, planeSize);
    Le32(out + 8, 0);
}

PagePlanes::PagePlanes() : allocate_([](std::size_t bytes) { return new (std::nothrow) BYTE[bytes]; }) {}

PagePlanes::~PagePlanes() {
    Release();
}

void PagePlanes::Free(BYTE* plane) const {
    delete[] plane;
}

bool PagePlanes::Allocate(int paperKind) {
    const PaperGeometry geometry = kPaperKinds[paperKind == 1 ? 1 : 0];
    const std::size_t size = static_cast<std::size_t>(geometry.width) * geometry.height;
    std::unique_ptr<BYTE[]> tile(new (std::nothrow) BYTE[std::size_t{3} * kTileRows * geometry.height]);
    if (!tile) return false;
    BYTE* planes[3] = {};
    for (auto& plane : planes) {
        plane = allocate_(size);
        if (plane == nullptr) {
            for (BYTE* made : planes) Free(made);
            return false;
        }
        std::memset(plane, 0, size);
    }
    Release();
    cyan_ = planes[0];
    magenta_ = planes[1];
    yellow_ = planes[2];
    tile_ = std::move(tile);
    width_ = geometry.width;
    height_ = geometry.height;
    planeSize_ = static_cast<DWORD>(size);
    paperKind_ = paperKind == 1 ? 1 : 0;
    StartPage();
    return true;
}

void PagePlanes::Release() {
    Free(cyan_);
    Free(magenta_);
    Free(yellow_);
    cyan_ = magenta_ = yellow_ = nullptr;
    tile_.reset();
    tileRows_ = 0;
    stale_ = false;
    width_ = height_ = 0;
    planeSize_ = 0;
    rows_ = 0;
}

void PagePlanes::SetOrientation(bool landscape, bool rotated) {
    // Rows so far keep the places their orientation gave them.
    if (rows_ > 0) {
        WriteTile();
        ZeroUnwritten();
    }
    landscape_ = landscape ? 1 : 0;
    rotated_ = rotated ? 1 : 0;
}

const BYTE* PagePlanes::Plane(int index) const {
    WriteTile();
    ZeroUnwritten();
    switch (index) {
        case 0:
            return cyan_;
        case 1:
            return magenta_;
        case 2:
            return yellow_;
        default:
            return nullptr;
    }
}

void PagePlanes::UpdateCursor() {
    if (landscape_)
        cursor_ = rotated_ ? rows_ : width_ - 1 - rows_;
    else
        cursor_ = rotated_ ? height_ - 1 - rows_ : rows_;
}

void PagePlanes::StartPage() {
    // The old page is not wiped here: rows of the new one then fill their whole
    // row or column, and what no row reached is zeroed when the planes are
    // read. A full page so costs no second pass.
    if (rows_ > 0) stale_ = true;
    rows_ = 0;
    tileRows_ = 0;
    UpdateCursor();
}

void PagePlanes::ZeroUnwritten() const {
    if (!stale_) return;
    stale_ = false;
    const std::size_t width = width_;
    const std::size_t height = height_;
    const std::size_t rows = rows_;
    for (BYTE* plane : {cyan_, magenta_, yellow_}) {
        if (!landscape_) {
            // Rows come from the top, or from the bottom when turned.
            std::memset(rotated_ ? plane : plane + rows * width, 0, (height - rows) * width);
        } else {
            // Columns come from the right, or from the left when turned.
            const std::size_t first = rotated_ ? rows : 0;
            if (rows == width) continue;
            for (std::size_t y = 0; y < height; ++y) std::memset(plane + y * width + first, 0, width - rows);
        }
    }
}

bool PagePlanes::AddRow(const BYTE* row, std::size_t bytes) {
    if (!HasPlanes()) return false;
    const int width = width_;
    const int height = height_;
    const int r = rows_;
    if (r >= (landscape_ ? width : height)) return true;
    const std::size_t pixels = std::min<std::size_t>(bytes / 3, static_cast<std::size_t>(landscape_ ? height : width));
    if (landscape_) {
        // Held apart by plane; WriteTile turns them into columns.
        if (tileRows_ == 0) tileFirst_ = r;
        // Asked for at once, the row's lines arrive together rather than
        // behind the plane rows WriteTile is fetching.
        for (std::size_t offset = 0; offset < pixels * 3; offset += 64) __builtin_prefetch(row + offset);
        const std::size_t planeBytes = static_cast<std::size_t>(kTileRows) * height;
        BYTE* held = tile_.get() + static_cast<std::size_t>(tileRows_) * height;
        SplitRow(row, held, held + planeBytes, held + 2 * planeBytes, pixels);
        int written = static_cast<int>(pixels);
        if (stale_) {
            for (int p = 0; p < 3; ++p) std::memset(held + p * planeBytes + pixels, 0, height - pixels);
            written = height;
        }
        tilePixels_[tileRows_] = written;
        if (++tileRows_ == kTileRows) WriteTile();
    } else {
        // Plane row r from the top, or from the bottom and right to left when turned.
        const std::size_t start = static_cast<std::size_t>(rotated_ ? height - 1 - r : r) * width;
        if (rotated_) {
            const std::size_t at = start + width - pixels;
            SplitRowReversed(row, cyan_ + at, magenta_ + at, yellow_ + at, pixels);
        } else {
            SplitRow(row, cyan_ + start, magenta_ + start, yellow_ + start, pixels);
        }
        if (stale_) {
            const std::size_t rest = rotated_ ? start : start + pixels;
            for (BYTE* plane : {cyan_, magenta_, yellow_}) std::memset(plane + rest, 0, width - pixels);
        }
    }
    ++rows_;
    UpdateCursor();
    return true;
}

void PagePlanes::WriteTile() const {
    const int rows = tileRows_;
    if (rows == 0) return;
    tileRows_ = 0;
    const std::ptrdiff_t width = width_;
    const std::ptrdiff_t height = height_;
    // Whole blocks of 32 rows and 16 pixels where every held row has pixels,
    // bytes one by one around them.
    const int blockRows = rows / 32 * 32;
    const int blockPixels = *std::min_element(tilePixels_.begin(), tilePixels_.begin() + rows) / 16 * 16;
    BYTE* const planes[3] = {cyan_, magenta_, yellow_};
    for (int p = 0; p < 3; ++p) {
        const BYTE* held = tile_.get() + p * kTileRows * height;
        BYTE* const plane = planes[p];
        // Where pixel i of held row k goes: row k is page row tileFirst_ + k.
        const auto target = [&](std::ptrdiff_t k, std::ptrdiff_t i) {
            const std::ptrdiff_t column = rotated_ ? tileFirst_ + k : width - 1 - tileFirst_ - k;
            return plane + (rotated_ ? height - 1 - i : i) * width + column;
        };
        // The tile's bytes in a plane row, leftmost first.
        const auto run = [&](std::ptrdiff_t i) { return rotated_ ? target(0, i) : target(rows - 1, i); };
        for (int i = 0; i < blockPixels; i += 16) {
            // Plane rows are far apart, so the hardware does not fetch the
            // ones to come: ask for them well ahead of their stores.
            for (int ahead = i + kPrefetchPixels; ahead < std::min(i + kPrefetchPixels + 16, blockPixels); ++ahead) {
                for (int offset = 0; offset < rows; offset += 64) __builtin_prefetch(run(ahead) + offset, 1, 1);
                __builtin_prefetch(run(ahead) + rows - 1, 1, 1);
            }
            for (int k = 0; k < blockRows; k += 32) {
                // Columns run left to right in the block's plane rows.
                if (rotated_)
                    Transpose32x16(held + k * height + i, height, target(k, i), -width);
                else
                    Transpose32x16(held + (k + 31) * height + i, -height, target(k + 31, i), width);
            }
        }
        for (int k = 0; k < rows; ++k) {
            const BYTE* from = held + k * height;
            for (int i = k < blockRows ? blockPixels : 0; i < tilePixels_[k]; ++i) *target(k, i) = from[i];
        }
    }
}

bool PagePlanes::Send(const Writer& write, int copies, DWORD pin) const {
    if (!HasPlanes()) return false;
    WriteTile();
    ZeroUnwritten();
    const int count = std::max(copies, 1);
    BYTE header[kPageHeaderSize];
    for (int copy = 0; copy < count; ++copy) {
        WritePageHeader(header, paperKind_, pin);
        if (!write(header, sizeof header)) return false;
        for (int plane = 0; plane < 3; ++plane) {
            WritePlaneHeader(header, plane, planeSize_);
            if (!write(header, sizeof header)) return false;
            if (!write(Plane(plane), planeSize_)) return false;
        }
    }
    return true;
}
