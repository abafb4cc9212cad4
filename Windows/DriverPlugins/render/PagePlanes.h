// One page as three 8-bit ink planes (cyan, magenta, yellow) of a fixed
// size per paper kind, and the print data stream that carries it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "Platform/Win32.h"

constexpr std::size_t kPageHeaderSize = 12;
constexpr std::size_t kPlaneHeaderSize = 12;

struct PaperGeometry {
    std::int16_t width;
    std::int16_t height;
};
// Paper kinds 0 and 1.
constexpr PaperGeometry kPaperKinds[2] = {{1248, 1856}, {1100, 1560}};

// "30 00 00 kind | u32 0 | u32 pin"
void WritePageHeader(BYTE* out, int paperKind, DWORD pin);
// "30 01 plane 00 | u32 planeSize | u32 0"
void WritePlaneHeader(BYTE* out, int plane, DWORD planeSize);

class PagePlanes {
public:
    // Allocation of one plane; null when memory runs out. Replaceable so
    // the failure can be tried. The memory is freed with delete[].
    using Allocator = std::function<BYTE*(std::size_t bytes)>;

    PagePlanes();
    ~PagePlanes();
    PagePlanes(const PagePlanes&) = delete;
    PagePlanes& operator=(const PagePlanes&) = delete;

    void SetAllocator(Allocator allocator) { allocate_ = std::move(allocator); }

    // Makes zeroed planes for the paper kind. When any of the three cannot
    // be had the old planes and their geometry stay, and false is returned.
    bool Allocate(int paperKind);
    void Release();
    bool HasPlanes() const { return cyan_ != nullptr; }

    void SetOrientation(bool landscape, bool rotated);
    // New page: no rows yet, all planes zero (no ink).
    void StartPage();
    // One row of blue, green, red pixels. False when there are no planes;
    // rows beyond the page are ignored. Landscape rows are held in a tile
    // until it is full or the planes are read (Plane, Send).
    bool AddRow(const BYTE* row, std::size_t bytes);

    // Writes the page `copies` times through write, which must take each
    // block whole. Fewer than one copy is taken as one.
    using Writer = std::function<bool(const BYTE* data, std::size_t size)>;
    bool Send(const Writer& write, int copies, DWORD pin) const;

    int Width() const { return width_; }
    int Height() const { return height_; }
    DWORD PlaneSize() const { return planeSize_; }
    int PaperKind() const { return paperKind_; }
    bool Landscape() const { return landscape_ != 0; }
    bool Rotated() const { return rotated_ != 0; }
    const BYTE* Plane(int index) const;
    int RowsAdded() const { return rows_; }

    // Landscape rows held before they are written as plane columns, so
    // each plane row takes them as one run rather than a byte at a time.
    static constexpr int kTileRows = 64;

private:
    void Free(BYTE* plane) const;
    void UpdateCursor();
    // Writes the held landscape rows into their columns.
    void WriteTile() const;
    // Zeroes what no row of this page has reached.
    void ZeroUnwritten() const;

    std::int16_t width_ = 0;
    std::int16_t height_ = 0;
    BYTE* cyan_ = nullptr;
    BYTE* magenta_ = nullptr;
    BYTE* yellow_ = nullptr;
    DWORD planeSize_ = 0;
    std::int32_t cursor_ = 0;  // plane row (portrait) or column (landscape) of the next row
    int landscape_ = 0;
    int rotated_ = 0;
    int paperKind_ = 0;
    int rows_ = 0;
    Allocator allocate_;
    // Held landscape rows, cyan, magenta and yellow apart: kTileRows rows of
    // height_ bytes per plane. Rows from tileFirst_ on; tileRows_ of them.
    std::unique_ptr<BYTE[]> tile_;
    std::array<int, kTileRows> tilePixels_ = {};
    int tileFirst_ = 0;
    mutable int tileRows_ = 0;
    // Bytes of an earlier page may remain where this page has no rows yet.
    mutable bool stale_ = false;
};
