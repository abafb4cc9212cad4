#include "PagePlanes.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

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
    width_ = height_ = 0;
    planeSize_ = 0;
    rows_ = 0;
}

void PagePlanes::SetOrientation(bool landscape, bool rotated) {
    landscape_ = landscape ? 1 : 0;
    rotated_ = rotated ? 1 : 0;
}

const BYTE* PagePlanes::Plane(int index) const {
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
    rows_ = 0;
    UpdateCursor();
    if (!HasPlanes()) return;
    std::memset(cyan_, 0, planeSize_);
    std::memset(magenta_, 0, planeSize_);
    std::memset(yellow_, 0, planeSize_);
}

bool PagePlanes::AddRow(const BYTE* row, std::size_t bytes) {
    if (!HasPlanes()) return false;
    const int width = width_;
    const int height = height_;
    const int r = rows_;
    if (r >= (landscape_ ? width : height)) return true;
    const std::size_t pixels = std::min<std::size_t>(bytes / 3, static_cast<std::size_t>(landscape_ ? height : width));
    BYTE* c = cyan_;
    BYTE* m = magenta_;
    BYTE* y = yellow_;
    // Each placement has its own loop so the pixel loop carries no branch.
    if (!landscape_ && !rotated_) {
        const std::size_t base = static_cast<std::size_t>(r) * width;
        for (std::size_t i = 0; i < pixels; ++i) {
            const BYTE* p = row + i * 3;
            c[base + i] = static_cast<BYTE>(~p[2]);
            m[base + i] = static_cast<BYTE>(~p[1]);
            y[base + i] = static_cast<BYTE>(~p[0]);
        }
    } else if (!landscape_) {
        const std::size_t last = static_cast<std::size_t>(height - 1 - r) * width + (width - 1);
        for (std::size_t i = 0; i < pixels; ++i) {
            const BYTE* p = row + i * 3;
            c[last - i] = static_cast<BYTE>(~p[2]);
            m[last - i] = static_cast<BYTE>(~p[1]);
            y[last - i] = static_cast<BYTE>(~p[0]);
        }
    } else if (!rotated_) {
        const std::size_t column = static_cast<std::size_t>(width - 1 - r);
        for (std::size_t i = 0; i < pixels; ++i) {
            const BYTE* p = row + i * 3;
            const std::size_t at = i * width + column;
            c[at] = static_cast<BYTE>(~p[2]);
            m[at] = static_cast<BYTE>(~p[1]);
            y[at] = static_cast<BYTE>(~p[0]);
        }
    } else {
        const std::size_t column = static_cast<std::size_t>(r);
        for (std::size_t i = 0; i < pixels; ++i) {
            const BYTE* p = row + i * 3;
            const std::size_t at = (static_cast<std::size_t>(height) - 1 - i) * width + column;
            c[at] = static_cast<BYTE>(~p[2]);
            m[at] = static_cast<BYTE>(~p[1]);
            y[at] = static_cast<BYTE>(~p[0]);
        }
    }
    ++rows_;
    UpdateCursor();
    return true;
}

bool PagePlanes::Send(const Writer& write, int copies, DWORD pin) const {
    if (!HasPlanes()) return false;
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
