// HTML Help. A help file is shown by the desktop's viewer when the machine
// has one; tests put their own handler in its place.
#pragma once

#include "Platform/Win32.h"

#include <functional>

constexpr UINT HH_DISPLAY_TOC = 1;

// Returns the help window, or null when the help cannot be shown. The
// default handler knows HH_DISPLAY_TOC only: it opens the file (a Windows
// path, see Platform::MapPath) with xdg-open when that is on PATH, a display
// is set (DISPLAY or WAYLAND_DISPLAY) and the file exists. The viewer runs on
// its own; the window value returned stands for it.
HWND HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data);

namespace Platform {

using HtmlHelpHandler = std::function<HWND(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data)>;

// Installs a handler for the whole process and returns the one it replaces
// (empty for the default). An empty handler puts the default back.
HtmlHelpHandler SetHtmlHelpHandler(HtmlHelpHandler handler);

// Installs a handler for the lifetime of a scope (tests).
class ScopedHtmlHelpHandler {
public:
    explicit ScopedHtmlHelpHandler(HtmlHelpHandler handler) : previous_(SetHtmlHelpHandler(std::move(handler))) {}
    ~ScopedHtmlHelpHandler() { SetHtmlHelpHandler(std::move(previous_)); }
    ScopedHtmlHelpHandler(const ScopedHtmlHelpHandler&) = delete;
    ScopedHtmlHelpHandler& operator=(const ScopedHtmlHelpHandler&) = delete;

private:
    HtmlHelpHandler previous_;
};

}  // namespace Platform
