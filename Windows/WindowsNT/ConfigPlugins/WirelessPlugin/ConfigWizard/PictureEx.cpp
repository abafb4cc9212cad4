#include "PictureEx.h"

#include "ConfigWizardApp.h"

#include "Mfc/Layer.h"
#include "Platform/Clock.h"
#include "Platform/Paths.h"
#include "Platform/Resource.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>

namespace {

// Pictures come from resources and the program's own files; anything
// larger is not one of them.
constexpr std::size_t kLargestData = std::size_t{16} << 20;
// The pixels of all frames of one animation together, so that a small file
// cannot claim gigabytes.
constexpr std::size_t kLargestAnimation = std::size_t{1} << 24;
constexpr int kHeaderSize = 13;  // signature and logical screen descriptor
constexpr Platform::Milliseconds kStopWait{5000};

unsigned Word(const BYTE* at) {
    return static_cast<unsigned>(at[0]) | (static_cast<unsigned>(at[1]) << 8);
}

// Bytes of a colour table whose packed-byte size field is `bits`.
UINT ColourTableSize(BYTE bits) {
    return 3u << ((bits & 7) + 1);
}

struct Unlocker {
    void operator()(void* memory) const { GlobalUnlock(memory); }
};

}  // namespace

// Where a frame lies in the data: its first block and its end, and its
// control extension and image descriptor if any.
struct CPictureEx::FrameBlocks {
    UINT start = 0;
    UINT end = 0;
    const BYTE* control = nullptr;
    const BYTE* image = nullptr;
};

std::unique_ptr<CPictureEx::OffscreenBitmap> CPictureEx::OffscreenBitmap::Make(HDC compatible, int width, int height) {
    std::unique_ptr<OffscreenBitmap> made(new OffscreenBitmap);
    made->dc_ = ::CreateCompatibleDC(compatible);
    if (made->dc_ == nullptr) return nullptr;
    made->bitmap_ = ::CreateCompatibleBitmap(compatible, width, height);
    if (made->bitmap_ == nullptr) return nullptr;
    made->replaced_ = ::SelectObject(made->dc_, made->bitmap_);
    if (made->replaced_ == nullptr) return nullptr;
    return made;
}

CPictureEx::OffscreenBitmap::~OffscreenBitmap() {
    if (replaced_ != nullptr) ::SelectObject(dc_, replaced_);
    if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
    if (dc_ != nullptr) ::DeleteDC(dc_);
}

CPictureEx::CPictureEx() : m_clrBackground(RGB(255, 255, 255)) {
    MapMessage(WM_PAINT, [this](WPARAM, LPARAM) -> LRESULT {
        OnPaint();
        return 0;
    });
    MapMessage(WM_DESTROY, [this](WPARAM wParam, LPARAM lParam) -> LRESULT {
        OnDestroy();
        return DefWindowProc(WM_DESTROY, wParam, lParam);
    });
}

CPictureEx::~CPictureEx() {
    UnLoad();
}

// ----- Loading

BOOL CPictureEx::Load(HGLOBAL data, DWORD size) {
    UnLoad();
    std::unique_ptr<void, Unlocker> locked(GlobalLock(data));
    if (!locked || size > GlobalSize(data) || size > kLargestData) return FALSE;
    const auto* bytes = static_cast<const BYTE*>(locked.get());
    const bool gif = size >= 6 && std::memcmp(bytes, "GIF", 3) == 0 &&
                     (std::memcmp(bytes + 3, "89a", 3) == 0 || std::memcmp(bytes + 3, "87a", 3) == 0);
    BOOL loaded;
    if (gif) {
        m_pRawData = bytes;
        m_nDataSize = size;
        loaded = LoadGIF();
        m_pRawData = nullptr;
        m_nDataSize = 0;
        m_nCurrOffset = 0;
    } else {
        loaded = LoadStill(bytes, size);
    }
    // A load that failed half way leaves nothing behind.
    if (!loaded) UnLoad();
    return loaded;
}

BOOL CPictureEx::LoadStill(const BYTE* data, std::size_t size) {
    try {
        m_pPicture = Mfc::LoadPicture(data, size);
    } catch (const Mfc::PictureError&) {
        return FALSE;
    }
    HDC screen = ::GetDC(m_hWnd);
    if (screen == nullptr) return FALSE;
    const SIZE himetric = m_pPicture->HimetricSize();
    m_PictureSize.cx = MulDiv(himetric.cx, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    m_PictureSize.cy = MulDiv(himetric.cy, GetDeviceCaps(screen, LOGPIXELSY), 2540);
    ::ReleaseDC(m_hWnd, screen);
    return PrepareDC(m_PictureSize.cx, m_PictureSize.cy);
}

BOOL CPictureEx::LoadGIF() {
    if (m_nDataSize < kHeaderSize) return FALSE;
    m_bIsGIF = TRUE;
    const BYTE packed = m_pRawData[10];
    m_nGlobalCTSize = 0;
    if (packed & 0x80) {
        m_nGlobalCTSize = ColourTableSize(packed);
        if (m_nDataSize < kHeaderSize + m_nGlobalCTSize) return FALSE;
        const UINT background = m_pRawData[11];
        if (background * 3 >= m_nGlobalCTSize) return FALSE;
        const BYTE* entry = m_pRawData + kHeaderSize + background * 3;
        m_clrBackground = RGB(entry[0], entry[1], entry[2]);
    }
    m_PictureSize.cx = static_cast<LONG>(Word(m_pRawData + 6));
    m_PictureSize.cy = static_cast<LONG>(Word(m_pRawData + 8));
    if (static_cast<std::size_t>(m_PictureSize.cx) * static_cast<std::size_t>(m_PictureSize.cy) > Mfc::kLargestPicture)
        return FALSE;

    ResetDataPointer();
    int frames = 0;
    while (SkipNextGraphicBlock()) ++frames;
    if (frames == 0) return FALSE;
    if (frames == 1) return LoadStill(m_pRawData, m_nDataSize);

    ResetDataPointer();
    std::size_t pixels = 0;
    for (int i = 0; i < frames; ++i) {
        TFrame frame;
        UINT length = 0;
        auto block =
            GetNextGraphicBlock(&length, &frame.m_nDelay, &frame.m_frameSize, &frame.m_frameOffset, &frame.m_nDisposal);
        if (!block) break;
        pixels += static_cast<std::size_t>(frame.m_frameSize.cx) * static_cast<std::size_t>(frame.m_frameSize.cy);
        if (pixels > kLargestAnimation) return FALSE;
        std::unique_ptr<void, Unlocker> bytes(GlobalLock(block.get()));
        try {
            frame.m_pPicture = Mfc::LoadPicture(static_cast<const BYTE*>(bytes.get()), length);
        } catch (const Mfc::PictureError&) {
            continue;  // a frame that cannot be read is left out
        }
        m_arrFrames.push_back(std::move(frame));
    }
    if (m_arrFrames.empty()) return FALSE;
    return PrepareDC(m_PictureSize.cx, m_PictureSize.cy);
}

BOOL CPictureEx::Load(LPCWSTR path) {
    if (path == nullptr) return FALSE;
    std::ifstream file(Platform::MapPath(path), std::ios::binary | std::ios::ate);
    if (!file) return FALSE;
    const std::streamoff size = file.tellg();
    if (size <= 0 || static_cast<std::size_t>(size) > kLargestData) return FALSE;
    Platform::GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, static_cast<std::size_t>(size)));
    if (!memory) return FALSE;
    {
        std::unique_ptr<void, Unlocker> bytes(GlobalLock(memory.get()));
        file.seekg(0);
        if (!file.read(static_cast<char*>(bytes.get()), size)) return FALSE;
    }
    return Load(memory.get(), static_cast<DWORD>(size));
}

BOOL CPictureEx::Load(LPCWSTR resourceName, LPCWSTR resourceType) {
    Platform::GlobalMemory memory;
    DWORD size = 0;
    {
        AFX_MANAGE_STATE(ElvintorModuleState());
        const HMODULE module = AfxGetResourceHandle();
        HRSRC resource = FindResourceW(module, resourceName, resourceType);
        if (resource == nullptr) return FALSE;
        size = SizeofResource(module, resource);
        const void* bytes = LockResource(LoadResource(module, resource));
        if (bytes == nullptr || size == 0) return FALSE;
        memory.reset(GlobalAlloc(GMEM_MOVEABLE, size));
        if (!memory) return FALSE;
        std::unique_ptr<void, Unlocker> copy(GlobalLock(memory.get()));
        std::memcpy(copy.get(), bytes, size);
    }
    return Load(memory.get(), size);
}

void CPictureEx::UnLoad() {
    Stop();
    // Whatever the drawing thread reads goes only once it has ended.
    JoinThread();
    m_pPicture.reset();
    m_arrFrames.clear();
    m_disposal.reset();
    m_memory.reset();
    m_PaintRect = RECT{};
    m_pRawData = nullptr;
    m_nDataSize = 0;
    m_nCurrOffset = 0;
    m_nGlobalCTSize = 0;
    m_bIsInitialized = FALSE;
    m_bIsGIF = FALSE;
    m_bIsPlaying = false;
    m_PictureSize = SIZE{};
    m_nCurrFrame = 0;
    m_clrBackground = RGB(255, 255, 255);
    if (::IsWindow(m_hWnd) && GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId())
        Mfc::SetPictureInfo(m_hWnd, Mfc::PictureInfo{});
}

BOOL CPictureEx::PrepareDC(int width, int height) {
    if (m_hWnd == nullptr || width <= 0 || height <= 0) return FALSE;
    if (!SetWindowPos(nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER)) return FALSE;
    HDC windowDc = ::GetDC(m_hWnd);
    if (windowDc == nullptr) return FALSE;
    m_memory = OffscreenBitmap::Make(windowDc, width, height);
    ::ReleaseDC(m_hWnd, windowDc);
    if (!m_memory) return FALSE;
    m_clrBackground = GetSysColor(COLOR_BTNFACE);
    FillBackground(m_memory->Dc(), RECT{0, 0, width, height});
    m_bIsInitialized = TRUE;
    return TRUE;
}

// ----- The block walker

void CPictureEx::ResetDataPointer() {
    m_nCurrOffset = kHeaderSize + m_nGlobalCTSize;
}

CPictureEx::GIFBlockTypes CPictureEx::GetNextBlock() const {
    if (m_pRawData == nullptr || m_nCurrOffset >= m_nDataSize) return BLOCK_UNKNOWN;
    switch (m_pRawData[m_nCurrOffset]) {
        case 0x21:
            if (m_nDataSize - m_nCurrOffset < 2) return BLOCK_UNKNOWN;
            switch (m_pRawData[m_nCurrOffset + 1]) {
                case 0xFF:
                    return BLOCK_APPEXT;
                case 0xFE:
                    return BLOCK_COMMEXT;
                case 0xF9:
                    return BLOCK_CONTROLEXT;
                case 0x01:
                    return BLOCK_PLAINTEXT;
                default:
                    return BLOCK_UNKNOWN;
            }
        case 0x2C:
            return BLOCK_IMAGE;
        case 0x3B:
            return BLOCK_TRAILER;
        default:
            return BLOCK_UNKNOWN;
    }
}

int CPictureEx::GetSubBlocksLen(UINT offset) const {
    if (m_pRawData == nullptr) return -1;
    std::size_t at = offset;
    std::size_t total = 0;
    for (;;) {
        if (at >= m_nDataSize) return -1;
        const std::size_t length = m_pRawData[at];
        total += length + 1;
        if (length == 0) return static_cast<int>(total);
        at += length + 1;
    }
}

int CPictureEx::GetNextBlockLen() const {
    const GIFBlockTypes type = GetNextBlock();
    if (type == BLOCK_UNKNOWN) return -1;
    const std::size_t left = m_nDataSize - m_nCurrOffset;
    // A fixed part of `length` bytes, then sub-blocks.
    auto withSubBlocks = [&](std::size_t length) {
        if (length > left) return -1;
        const int chain = GetSubBlocksLen(static_cast<UINT>(m_nCurrOffset + length));
        return chain < 0 ? -1 : static_cast<int>(length) + chain;
    };
    switch (type) {
        case BLOCK_APPEXT:
            return withSubBlocks(14);
        case BLOCK_COMMEXT:
            return withSubBlocks(2);
        case BLOCK_CONTROLEXT:
            return left >= 8 ? 8 : -1;
        case BLOCK_PLAINTEXT:
            return withSubBlocks(15);
        case BLOCK_IMAGE: {
            if (left < 10) return -1;
            const BYTE packed = m_pRawData[m_nCurrOffset + 9];
            return withSubBlocks(11 + ((packed & 0x80) ? ColourTableSize(packed) : 0));
        }
        case BLOCK_TRAILER:
            return 1;
        default:
            return -1;
    }
}

BOOL CPictureEx::SkipNextBlock() {
    const int length = GetNextBlockLen();
    if (length <= 0) return FALSE;
    m_nCurrOffset += static_cast<UINT>(length);
    return TRUE;
}

bool CPictureEx::FindNextFrame(FrameBlocks& frame) {
    frame = FrameBlocks{};
    // Blocks before the frame (applications, comments) are passed over.
    for (;;) {
        const GIFBlockTypes type = GetNextBlock();
        if (type == BLOCK_UNKNOWN || type == BLOCK_TRAILER) return false;
        if (type == BLOCK_CONTROLEXT || type == BLOCK_PLAINTEXT || type == BLOCK_IMAGE) break;
        if (!SkipNextBlock()) return false;
    }
    frame.start = m_nCurrOffset;
    // Up to and including the next image descriptor or plain text.
    for (;;) {
        const GIFBlockTypes type = GetNextBlock();
        const int length = GetNextBlockLen();
        if (length <= 0 || type == BLOCK_TRAILER) return false;
        if (type == BLOCK_CONTROLEXT && frame.control == nullptr) frame.control = m_pRawData + m_nCurrOffset;
        if (type == BLOCK_IMAGE) frame.image = m_pRawData + m_nCurrOffset;
        m_nCurrOffset += static_cast<UINT>(length);
        if (type == BLOCK_IMAGE || type == BLOCK_PLAINTEXT) break;
    }
    frame.end = m_nCurrOffset;
    return true;
}

BOOL CPictureEx::SkipNextGraphicBlock() {
    if (m_pRawData == nullptr) return FALSE;
    FrameBlocks frame;
    return FindNextFrame(frame) ? TRUE : FALSE;
}

Platform::GlobalMemory CPictureEx::GetNextGraphicBlock(UINT* length, int* delay, SIZE* frameSize, SIZE* frameOffset,
                                                       UINT* disposal) {
    if (m_pRawData == nullptr || length == nullptr || delay == nullptr || frameSize == nullptr ||
        frameOffset == nullptr || disposal == nullptr)
        return nullptr;
    FrameBlocks frame;
    if (!FindNextFrame(frame)) return nullptr;
    const UINT header = kHeaderSize + m_nGlobalCTSize;
    const UINT blocks = frame.end - frame.start;
    Platform::GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, header + blocks + 1));
    if (!memory) return nullptr;
    {
        std::unique_ptr<void, Unlocker> locked(GlobalLock(memory.get()));
        auto* out = static_cast<BYTE*>(locked.get());
        std::memcpy(out, m_pRawData, header);
        std::memcpy(out + header, m_pRawData + frame.start, blocks);
        out[header + blocks] = 0x3B;
    }
    *length = header + blocks + 1;
    *delay = frame.control != nullptr ? static_cast<int>(Word(frame.control + 4)) : -1;
    *disposal = frame.control != nullptr ? (frame.control[3] >> 2) & 7 : 0;
    *frameSize = frame.image != nullptr
                     ? SIZE{static_cast<LONG>(Word(frame.image + 5)), static_cast<LONG>(Word(frame.image + 7))}
                     : SIZE{};
    *frameOffset = frame.image != nullptr
                       ? SIZE{static_cast<LONG>(Word(frame.image + 1)), static_cast<LONG>(Word(frame.image + 3))}
                       : SIZE{};
    return memory;
}

// ----- Drawing

void CPictureEx::FillBackground(HDC dc, const RECT& rect) const {
    HBRUSH brush = ::CreateSolidBrush(m_clrBackground.load());
    if (brush == nullptr) return;
    ::FillRect(dc, &rect, brush);
    ::DeleteObject(brush);
}

BOOL CPictureEx::Draw() {
    if (!m_bIsInitialized) return FALSE;
    if (IsAnimatedGIF()) {
        if (m_bIsPlaying) return FALSE;
        // A thread that outlived Stop's wait has been told to end.
        JoinThread();
        {
            std::lock_guard lock(m_exitMutex);
            m_bExitSignalled = false;
            m_bThreadEnded = false;
        }
        m_bExitThread = false;
        m_bIsPlaying = true;
        m_hDrawWindow = m_hWnd;
        m_thread = std::thread(&CPictureEx::_ThreadAnimation, this);
        return FALSE;
    }
    if (m_pPicture) {
        m_pPicture->Render(m_memory->Dc(), 0, 0, m_PictureSize.cx, m_PictureSize.cy);
    } else if (!m_arrFrames.empty()) {
        // An animation of which one frame could be read.
        const TFrame& frame = m_arrFrames.front();
        frame.m_pPicture->Render(m_memory->Dc(), frame.m_frameOffset.cx, frame.m_frameOffset.cy, frame.m_frameSize.cx,
                                 frame.m_frameSize.cy);
    } else {
        return FALSE;
    }
    Invalidate(FALSE);
    return TRUE;
}

UINT CPictureEx::_ThreadAnimation(LPVOID param) {
    auto* self = static_cast<CPictureEx*>(param);
    try {
        self->ThreadAnimation();
    } catch (...) {
        // The animation stops; the control stays usable.
    }
    self->m_bIsPlaying = false;
    {
        std::lock_guard lock(self->m_exitMutex);
        self->m_bThreadEnded = true;
    }
    self->m_exitEvent.notify_all();
    return 0;
}

bool CPictureEx::WaitForExit(Platform::Milliseconds until) {
    std::unique_lock lock(m_exitMutex);
    return Platform::GetClock().WaitUntil(lock, m_exitEvent, until, [this] { return m_bExitSignalled; });
}

void CPictureEx::ThreadAnimation() {
    const std::size_t count = m_arrFrames.size();
    if (count == 0 || !m_memory) return;
    const HDC memory = m_memory->Dc();
    auto area = [](const TFrame& f) {
        return RECT{f.m_frameOffset.cx, f.m_frameOffset.cy, f.m_frameOffset.cx + f.m_frameSize.cx,
                    f.m_frameOffset.cy + f.m_frameSize.cy};
    };
    auto dispose = [&](const TFrame& f) {
        if (f.m_nDisposal == 2) {
            FillBackground(memory, area(f));
        } else if (f.m_nDisposal == 3 && m_disposal) {
            ::BitBlt(memory, f.m_frameOffset.cx, f.m_frameOffset.cy, f.m_frameSize.cx, f.m_frameSize.cy,
                     m_disposal->Dc(), 0, 0, SRCCOPY);
            m_disposal.reset();
        }
    };

    std::size_t current = static_cast<std::size_t>(m_nCurrFrame.load());
    if (current >= count) current = 0;
    // What the frame on show covered when the animation was last stopped.
    dispose(m_arrFrames[current]);

    while (!m_bExitThread) {
        const TFrame& frame = m_arrFrames[current];
        // The frame is on show for its delay from the moment it is drawn.
        const auto until =
            Platform::GetClock().Now() + Platform::Milliseconds(frame.m_nDelay < 5 ? 100 : 10 * frame.m_nDelay);
        if (frame.m_nDisposal == 3) {
            m_disposal = OffscreenBitmap::Make(memory, std::max<LONG>(frame.m_frameSize.cx, 1),
                                               std::max<LONG>(frame.m_frameSize.cy, 1));
            if (m_disposal)
                ::BitBlt(m_disposal->Dc(), 0, 0, frame.m_frameSize.cx, frame.m_frameSize.cy, memory,
                         frame.m_frameOffset.cx, frame.m_frameOffset.cy, SRCCOPY);
        }
        frame.m_pPicture->Render(memory, frame.m_frameOffset.cx, frame.m_frameOffset.cy, frame.m_frameSize.cx,
                                 frame.m_frameSize.cy);
        ::InvalidateRect(m_hDrawWindow, nullptr, FALSE);
        if (m_bExitThread) break;
        if (WaitForExit(until)) break;
        if (m_bExitThread) break;
        dispose(frame);
        if (++current >= count) {
            current = 0;
            FillBackground(memory, RECT{0, 0, m_PictureSize.cx, m_PictureSize.cy});
        }
        m_nCurrFrame = static_cast<int>(current);
    }
}

void CPictureEx::Stop() {
    m_bIsPlaying = false;
    m_bExitThread = true;
    {
        std::lock_guard lock(m_exitMutex);
        m_bExitSignalled = true;
    }
    m_exitEvent.notify_all();
    if (m_thread.joinable()) {
        bool ended;
        {
            std::unique_lock lock(m_exitMutex);
            auto& clock = Platform::GetClock();
            ended = clock.WaitUntil(lock, m_exitEvent, clock.Now() + kStopWait, [this] { return m_bThreadEnded; });
        }
        // A thread still running keeps its exit signal; Draw, UnLoad and
        // the destructor join it.
        if (!ended) return;
        m_thread.join();
    }
    {
        std::lock_guard lock(m_exitMutex);
        m_bExitSignalled = false;
    }
    m_bExitThread = false;
}

void CPictureEx::JoinThread() {
    if (m_thread.joinable()) m_thread.join();
}

void CPictureEx::SetBkColor(COLORREF colour) {
    if (!m_bIsInitialized) return;
    m_clrBackground = colour;
    FillBackground(m_memory->Dc(), RECT{0, 0, m_PictureSize.cx, m_PictureSize.cy});
}

BOOL CPictureEx::SetPaintRect(const RECT* rect) {
    if (rect == nullptr) return FALSE;
    m_PaintRect = *rect;
    return TRUE;
}

BOOL CPictureEx::GetPaintRect(RECT* rect) {
    if (rect == nullptr) return FALSE;
    *rect = m_PaintRect;
    return TRUE;
}

void CPictureEx::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    if (m_bIsInitialized && m_memory) {
        const bool whole = m_PaintRect.right - m_PaintRect.left < 1;
        const int width = whole ? m_PictureSize.cx : m_PaintRect.right - m_PaintRect.left;
        const int height = whole ? m_PictureSize.cy : m_PaintRect.bottom - m_PaintRect.top;
        ::BitBlt(dc, 0, 0, width, height, m_memory->Dc(), 0, 0, SRCCOPY);
        Mfc::SetPictureInfo(
            m_hWnd, Mfc::PictureInfo{m_PictureSize, IsAnimatedGIF() ? m_nCurrFrame.load() : 0, GetFrameCount()});
    }
    ::EndPaint(m_hWnd, &paint);
}

void CPictureEx::OnDestroy() {
    Stop();
}
