// Drawing: device contexts over 32-bit pixel surfaces. A window's device
// context draws into the window's own surface (Mfc::CaptureWindow shows
// it); a memory device context draws into the bitmap selected into it.
// Every drawing call locks the surfaces it touches, so one thread may draw
// into a memory bitmap while another copies from it. Only what the dialogs
// call is declared.
#pragma once

#include "Mfc/WinUser.h"

struct HDC__;
using HDC = HDC__*;
// Any drawing object: device contexts, bitmaps and brushes convert to it.
using HGDIOBJ = void*;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) {
    return static_cast<BYTE>(c & 0xFF);
}
constexpr BYTE GetGValue(COLORREF c) {
    return static_cast<BYTE>((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF c) {
    return static_cast<BYTE>((c >> 16) & 0xFF);
}

// System colours; a brush may also be given as (HBRUSH)(COLOR_... + 1).
constexpr int COLOR_BTNFACE = 15;
COLORREF GetSysColor(int index);

// Device capabilities: the screen is 96 dots per inch, 32 bits per pixel.
constexpr int BITSPIXEL = 12;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
int GetDeviceCaps(HDC dc, int index);

// The window's device context (the caller's window); give it back with
// ReleaseDC.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

struct PAINTSTRUCT {
    HDC hdc = nullptr;
    BOOL fErase = FALSE;
    RECT rcPaint;
};
// Marks the window painted and gives its device context; EndPaint gives it
// back.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);

// A memory device context, with a one-pixel bitmap selected until another
// is. Any thread.
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// A 32-bit bitmap, black at first. Null when either side is not positive or
// the bitmap would be unreasonably large (over 16384 pixels a side or 2^24
// pixels in all).
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HBRUSH CreateSolidBrush(COLORREF colour);
// Selects a bitmap into a memory device context and returns the one it
// replaced; null when the context is not a memory one or the bitmap is
// selected into another context.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Fails for a bitmap still selected into a device context.
BOOL DeleteObject(HGDIOBJ object);

// Both clip to the surfaces.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
constexpr DWORD SRCCOPY = 0x00CC0020;
// Copies only (SRCCOPY); overlapping copies within one surface are safe.
BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop);
// The colour at a point, CLR_INVALID outside the surface.
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
COLORREF GetPixel(HDC dc, int x, int y);
