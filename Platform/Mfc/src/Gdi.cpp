// Device contexts, bitmaps and brushes in a handle table of their own, the
// surfaces of windows, and pictures of a window for people to look at.
#include "Gdi.h"
#include "Internal.h"

#include "Platform/Png.h"

#include <algorithm>
#include <map>

namespace Mfc::detail {
namespace {

constexpr int kLargestSide = 16384;
constexpr std::size_t kLargestBitmap = std::size_t{1} << 24;
constexpr COLORREF kButtonFace = RGB(240, 240, 240);

struct GdiObject {
    virtual ~GdiObject() = default;
};

struct Dc;

struct Bitmap : GdiObject {
    explicit Bitmap(std::shared_ptr<Surface> s) : surface(std::move(s)) {}
    std::shared_ptr<Surface> surface;
    const Dc* selectedInto = nullptr;  // under the table's mutex
};

struct Brush : GdiObject {
    explicit Brush(COLORREF c) : colour(c) {}
    COLORREF colour;
};

struct Dc : GdiObject {
    bool memory = false;
    HWND window = nullptr;
    // Under the table's mutex.
    std::shared_ptr<Bitmap> bitmap;
    HGDIOBJ bitmapHandle = nullptr;
};

struct Table {
    std::mutex mutex;
    std::map<std::uintptr_t, std::shared_ptr<GdiObject>> objects;
    std::uintptr_t next = 0x10000;
    HGDIOBJ stockBitmap = nullptr;
};

// Never destroyed: drawing threads may still hold handles while the
// process exits.
Table& Objects() {
    static auto* table = [] {
        auto* t = new Table;
        const auto value = t->next;
        t->next += 4;
        t->objects[value] = std::make_shared<Bitmap>(std::make_shared<Surface>(1, 1, 0));
        t->stockBitmap = reinterpret_cast<HGDIOBJ>(value);
        return t;
    }();
    return *table;
}

template <class Handle>
Handle Insert(std::shared_ptr<GdiObject> object) {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    const auto value = table.next;
    table.next += 4;
    table.objects[value] = std::move(object);
    return reinterpret_cast<Handle>(value);
}

// Called with the table locked.
template <class T>
std::shared_ptr<T> FindLocked(Table& table, const void* handle) {
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.objects.end()) return nullptr;
    return std::dynamic_pointer_cast<T>(it->second);
}

template <class T>
std::shared_ptr<T> Find(const void* handle) {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    auto found = FindLocked<T>(table, handle);
    if (!found) SetLastError(ERROR_INVALID_HANDLE);
    return found;
}

// What of the rectangle (x, y, width, height) lies on the surface.
bool Clip(const Surface& surface, int& x, int& y, int& width, int& height) {
    const int left = std::max(x, 0), top = std::max(y, 0);
    const int right = std::min<long long>(static_cast<long long>(x) + width, surface.width);
    const int bottom = std::min<long long>(static_cast<long long>(y) + height, surface.height);
    if (right <= left || bottom <= top) return false;
    x = left;
    y = top;
    width = right - left;
    height = bottom - top;
    return true;
}

void Fill(Surface& surface, RECT r, std::uint32_t pixel) {
    int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
    std::lock_guard lock(surface.mutex);
    if (!Clip(surface, x, y, w, h)) return;
    for (int row = y; row < y + h; ++row) {
        auto* line = surface.pixels.data() + static_cast<std::size_t>(row) * surface.width;
        std::fill(line + x, line + x + w, pixel);
    }
}

// The window's surface at its client size, made (button face) on first
// use and again when the size has changed.
std::shared_ptr<Surface> WindowSurface(Window& window) {
    const int width = std::max<int>(window.rect.right - window.rect.left, 1);
    const int height = std::max<int>(window.rect.bottom - window.rect.top, 1);
    if (!window.surface || window.surface->width != width || window.surface->height != height) {
        if (static_cast<std::size_t>(width) * height > kLargestBitmap) return nullptr;
        window.surface = std::make_shared<Surface>(width, height, PixelOf(kButtonFace));
    }
    return window.surface;
}

void Compose(Platform::RgbImage& image, const Window& window, POINT origin) {
    std::vector<std::uint32_t> pixels;
    int width = 0, height = 0;
    if (window.surface) {
        std::lock_guard lock(window.surface->mutex);
        pixels = window.surface->pixels;
        width = window.surface->width;
        height = window.surface->height;
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const long long ix = origin.x + x, iy = origin.y + y;
            if (ix < 0 || iy < 0 || ix >= image.width || iy >= image.height) continue;
            const std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
            auto* out = image.rgb.data() + (static_cast<std::size_t>(iy) * image.width + ix) * 3;
            out[0] = static_cast<std::uint8_t>(p >> 16);
            out[1] = static_cast<std::uint8_t>(p >> 8);
            out[2] = static_cast<std::uint8_t>(p);
        }
    }
    for (const auto& child : Children(window)) {
        if ((child->style & WS_VISIBLE) == 0 || (child->style & WS_CHILD) == 0) continue;
        Compose(image, *child, POINT{origin.x + child->rect.left, origin.y + child->rect.top});
    }
}

}  // namespace

std::shared_ptr<Surface> SurfaceOf(HDC handle) {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    auto dc = FindLocked<Dc>(table, handle);
    if (!dc || !dc->bitmap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return dc->bitmap->surface;
}

}  // namespace Mfc::detail

using namespace Mfc::detail;

COLORREF GetSysColor(int index) {
    return index == COLOR_BTNFACE ? kButtonFace : 0;
}

int GetDeviceCaps(HDC dc, int index) {
    if (!Find<Dc>(dc)) return 0;
    switch (index) {
        case LOGPIXELSX:
        case LOGPIXELSY:
            return 96;
        case BITSPIXEL:
            return 32;
        default:
            return 0;
    }
}

HDC GetDC(HWND handle) {
    auto window = OwnWindow(handle);
    if (!window) return nullptr;
    auto surface = WindowSurface(*window);
    if (!surface) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto dc = std::make_shared<Dc>();
    dc->window = handle;
    dc->bitmap = std::make_shared<Bitmap>(std::move(surface));
    return Insert<HDC>(std::move(dc));
}

int ReleaseDC(HWND handle, HDC dcHandle) {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    auto dc = FindLocked<Dc>(table, dcHandle);
    if (!dc || dc->memory || dc->window != handle) return 0;
    table.objects.erase(reinterpret_cast<std::uintptr_t>(dcHandle));
    return 1;
}

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
    auto window = OwnWindow(handle);
    if (!window || paint == nullptr) return nullptr;
    {
        auto& queue = *window->queue;
        std::lock_guard lock(queue.mutex);
        window->dirty = false;
        std::erase(queue.paints, handle);
    }
    paint->hdc = GetDC(handle);
    paint->fErase = FALSE;
    GetClientRect(handle, &paint->rcPaint);
    return paint->hdc;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) {
    return paint != nullptr && ReleaseDC(handle, paint->hdc) == 1;
}

HDC CreateCompatibleDC(HDC) {
    auto& table = Objects();
    auto dc = std::make_shared<Dc>();
    dc->memory = true;
    {
        std::lock_guard lock(table.mutex);
        dc->bitmap = FindLocked<Bitmap>(table, table.stockBitmap);
        dc->bitmapHandle = table.stockBitmap;
    }
    return Insert<HDC>(std::move(dc));
}

BOOL DeleteDC(HDC handle) {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    auto dc = FindLocked<Dc>(table, handle);
    if (!dc || !dc->memory) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (dc->bitmap->selectedInto == dc.get()) dc->bitmap->selectedInto = nullptr;
    table.objects.erase(reinterpret_cast<std::uintptr_t>(handle));
    return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (!Find<Dc>(dc)) return nullptr;
    if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide ||
        static_cast<std::size_t>(width) * height > kLargestBitmap) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Insert<HBITMAP>(std::make_shared<Bitmap>(std::make_shared<Surface>(width, height, 0)));
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    return Insert<HBRUSH>(std::make_shared<Brush>(colour));
}

HGDIOBJ SelectObject(HDC dcHandle, HGDIOBJ object) {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    auto dc = FindLocked<Dc>(table, dcHandle);
    auto bitmap = FindLocked<Bitmap>(table, object);
    if (!dc || !dc->memory || !bitmap) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool stock = object == table.stockBitmap;
    if (!stock && bitmap->selectedInto != nullptr && bitmap->selectedInto != dc.get()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dc->bitmap->selectedInto == dc.get()) dc->bitmap->selectedInto = nullptr;
    if (!stock) bitmap->selectedInto = dc.get();
    dc->bitmap = std::move(bitmap);
    return std::exchange(dc->bitmapHandle, object);
}

BOOL DeleteObject(HGDIOBJ object) {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    if (object == table.stockBitmap) return TRUE;
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(object));
    if (it == table.objects.end() || std::dynamic_pointer_cast<Dc>(it->second)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (auto bitmap = std::dynamic_pointer_cast<Bitmap>(it->second); bitmap && bitmap->selectedInto != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    table.objects.erase(it);
    return TRUE;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (rect == nullptr) return 0;
    COLORREF colour;
    const auto value = reinterpret_cast<std::uintptr_t>(brush);
    if (value > 0 && value <= 31) {
        colour = GetSysColor(static_cast<int>(value) - 1);
    } else if (auto solid = Find<Brush>(brush)) {
        colour = solid->colour;
    } else {
        return 0;
    }
    auto surface = SurfaceOf(dc);
    if (!surface) return 0;
    Fill(*surface, *rect, PixelOf(colour));
    return 1;
}

BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop) {
    if (rop != SRCCOPY) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    auto to = SurfaceOf(destination);
    auto from = SurfaceOf(source);
    if (!to || !from) return FALSE;
    if (width < 0 || height < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::unique_lock toLock(to->mutex, std::defer_lock), fromLock(from->mutex, std::defer_lock);
    if (to == from) {
        toLock.lock();
    } else {
        std::lock(toLock, fromLock);
    }
    // Clip the source, shift the destination with it, then clip that.
    int sx = sourceX, sy = sourceY, w = width, h = height;
    if (!Clip(*from, sx, sy, w, h)) return TRUE;
    int dx = x + (sx - sourceX), dy = y + (sy - sourceY);
    const int dx0 = dx, dy0 = dy;
    if (!Clip(*to, dx, dy, w, h)) return TRUE;
    sx += dx - dx0;
    sy += dy - dy0;
    std::vector<std::uint32_t> copy;
    copy.reserve(static_cast<std::size_t>(w) * h);
    for (int row = 0; row < h; ++row) {
        const auto* line = from->pixels.data() + static_cast<std::size_t>(sy + row) * from->width + sx;
        copy.insert(copy.end(), line, line + w);
    }
    for (int row = 0; row < h; ++row) {
        std::copy_n(copy.data() + static_cast<std::size_t>(row) * w, w,
                    to->pixels.data() + static_cast<std::size_t>(dy + row) * to->width + dx);
    }
    return TRUE;
}

COLORREF GetPixel(HDC dc, int x, int y) {
    auto surface = SurfaceOf(dc);
    if (!surface) return CLR_INVALID;
    std::lock_guard lock(surface->mutex);
    if (x < 0 || y < 0 || x >= surface->width || y >= surface->height) return CLR_INVALID;
    const std::uint32_t p = surface->pixels[static_cast<std::size_t>(y) * surface->width + x];
    return RGB(static_cast<BYTE>(p >> 16), static_cast<BYTE>(p >> 8), static_cast<BYTE>(p));
}

namespace Mfc {

void SetPictureInfo(HWND handle, const PictureInfo& info) {
    if (auto window = OwnWindow(handle)) window->picture = info;
}

Platform::RgbImage CaptureWindow(HWND handle) {
    auto window = OwnWindow(handle);
    if (!window) return {};
    const auto width = static_cast<std::uint32_t>(std::max<int>(window->rect.right - window->rect.left, 1));
    const auto height = static_cast<std::uint32_t>(std::max<int>(window->rect.bottom - window->rect.top, 1));
    if (std::size_t{width} * height > kLargestBitmap) return {};
    Platform::RgbImage image{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
    for (std::size_t i = 0; i < image.rgb.size(); i += 3) {
        image.rgb[i] = GetRValue(kButtonFace);
        image.rgb[i + 1] = GetGValue(kButtonFace);
        image.rgb[i + 2] = GetBValue(kButtonFace);
    }
    Compose(image, *window, POINT{0, 0});
    return image;
}

void WriteWindowPng(HWND window, const std::string& path) {
    auto image = CaptureWindow(window);
    if (image.width == 0) throw std::runtime_error("No picture of " + DescribeWindow(window));
    Platform::WritePng(path, image);
}

std::size_t GdiObjectCount() {
    auto& table = Objects();
    std::lock_guard lock(table.mutex);
    return table.objects.size() - 1;  // the stock bitmap
}

}  // namespace Mfc
