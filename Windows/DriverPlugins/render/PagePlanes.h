// One page as three 8-bit ink planes (cyan, magenta, yellow) of a fixed
// size per paper kind, and the print data stream that carries it.
#pragma once

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
    // rows beyond the page are ignored.
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

private:
    void Free(BYTE* plane) const;
    void UpdateCursor();

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
};
