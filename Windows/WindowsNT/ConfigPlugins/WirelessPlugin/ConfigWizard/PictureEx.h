// A static control that shows a picture or plays an animated GIF. The GIF's
// blocks are walked here: each frame becomes a one-frame GIF of its own,
// loaded by the system's picture loader, and a drawing thread renders the
// frames into an off-screen bitmap with their delays and disposal methods;
// painting copies that bitmap to the window.
//
// Every read of the GIF data is checked against its size: a block that runs
// past the end is no frame, a bad header fails the load. The control's
// thread owns the drawing thread: Stop waits for it at most 5 seconds of the
// machine's clock, and whatever the thread reads is freed only once it has
// ended.
#pragma once

#include "Mfc/AfxWin.h"
#include "Mfc/Picture.h"
#include "Mfc/WinGdi.h"
#include "Platform/Clock.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CPictureEx : public CStatic {
public:
    // The kind of block at the read position.
    enum GIFBlockTypes {
        BLOCK_UNKNOWN,
        BLOCK_APPEXT,
        BLOCK_COMMEXT,
        BLOCK_CONTROLEXT,
        BLOCK_PLAINTEXT,
        BLOCK_IMAGE,
        BLOCK_TRAILER
    };

    struct TFrame {
        std::shared_ptr<const Mfc::Picture> m_pPicture;
        SIZE m_frameSize;
        SIZE m_frameOffset;
        int m_nDelay = -1;  // hundredths of a second; -1 without a graphic control extension
        UINT m_nDisposal = 0;
    };

    CPictureEx();
    ~CPictureEx() override;

    // A picture in global memory (the first `size` bytes of it).
    BOOL Load(HGLOBAL data, DWORD size);
    // A picture file (a path of the system).
    BOOL Load(LPCWSTR path);
    // A resource of the library's resource module.
    BOOL Load(LPCWSTR resourceName, LPCWSTR resourceType);
    void UnLoad();

    // Shows a still picture (TRUE), or starts playing an animated GIF (a
    // no-op while it plays); FALSE before a successful Load.
    BOOL Draw();
    void Stop();

    SIZE GetSize() const { return m_PictureSize; }
    BOOL IsGIF() const { return m_bIsGIF; }
    BOOL IsAnimatedGIF() const { return m_bIsGIF && m_arrFrames.size() > 1; }
    BOOL IsPlaying() const { return m_bIsPlaying.load(); }
    // Frames of an animated GIF, else 0.
    int GetFrameCount() const { return IsAnimatedGIF() ? static_cast<int>(m_arrFrames.size()) : 0; }
    COLORREF GetBkColor() const { return m_clrBackground.load(); }
    void SetBkColor(COLORREF colour);
    BOOL SetPaintRect(const RECT* rect);
    BOOL GetPaintRect(RECT* rect);

protected:
    // A memory device context with a bitmap of its own selected, given back
    // with the bitmap it replaced.
    class OffscreenBitmap {
    public:
        // Null when either cannot be made.
        static std::unique_ptr<OffscreenBitmap> Make(HDC compatible, int width, int height);
        ~OffscreenBitmap();
        OffscreenBitmap(const OffscreenBitmap&) = delete;
        OffscreenBitmap& operator=(const OffscreenBitmap&) = delete;
        HDC Dc() const { return dc_; }

    private:
        OffscreenBitmap() = default;
        HDC dc_ = nullptr;
        HBITMAP bitmap_ = nullptr;
        HGDIOBJ replaced_ = nullptr;
    };

    BOOL PrepareDC(int width, int height);
    void ResetDataPointer();
    GIFBlockTypes GetNextBlock() const;
    // The whole block at the read position, -1 for an unknown block or one
    // that runs past the data.
    int GetNextBlockLen() const;
    // The sub-blocks from `offset` with their terminator, -1 past the data.
    int GetSubBlocksLen(UINT offset) const;
    BOOL SkipNextBlock();
    BOOL SkipNextGraphicBlock();
    // The next frame as a one-frame GIF: the header and global colour table,
    // the frame's blocks and a trailer. Null when there is no further frame.
    Platform::GlobalMemory GetNextGraphicBlock(UINT* length, int* delay, SIZE* frameSize, SIZE* frameOffset,
                                               UINT* disposal);
    void ThreadAnimation();
    static UINT _ThreadAnimation(LPVOID param);
    void OnPaint();
    void OnDestroy();

    RECT m_PaintRect;
    SIZE m_PictureSize;
    std::atomic<COLORREF> m_clrBackground;
    std::atomic<int> m_nCurrFrame{0};

    // The GIF being loaded, only during Load.
    const BYTE* m_pRawData = nullptr;
    UINT m_nDataSize = 0;
    UINT m_nCurrOffset = 0;
    UINT m_nGlobalCTSize = 0;

    BOOL m_bIsGIF = FALSE;
    std::atomic<bool> m_bIsPlaying{false};
    std::atomic<bool> m_bExitThread{false};
    BOOL m_bIsInitialized = FALSE;

    std::unique_ptr<OffscreenBitmap> m_memory;
    std::unique_ptr<OffscreenBitmap> m_disposal;  // the drawing thread's while it runs

    std::thread m_thread;
    HWND m_hDrawWindow = nullptr;  // the window the drawing thread invalidates
    // The exit event and whether the thread has ended, under m_exitMutex.
    std::mutex m_exitMutex;
    std::condition_variable m_exitEvent;
    bool m_bExitSignalled = false;
    bool m_bThreadEnded = true;

    std::shared_ptr<const Mfc::Picture> m_pPicture;
    std::vector<TFrame> m_arrFrames;

private:
    struct FrameBlocks;
    bool FindNextFrame(FrameBlocks& frame);
    BOOL LoadStill(const BYTE* data, std::size_t size);
    BOOL LoadGIF();
    void JoinThread();
    void FillBackground(HDC dc, const RECT& rect) const;
    // Waits on the exit event until the machine's clock reaches `until`;
    // true when it was signalled.
    bool WaitForExit(Platform::Milliseconds until);
};
