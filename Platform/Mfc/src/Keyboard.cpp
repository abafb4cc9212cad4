// The keyboard state of a thread, the pre-translation of input, and the
// process's clipboard.
#include "Internal.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <map>
#include <mutex>

namespace Mfc::detail {
namespace {

thread_local std::bitset<256> t_keysDown;

struct Clipboard {
    std::mutex mutex;
    DWORD openedBy = 0;  // thread id; 0 when closed
    std::map<UINT, HGLOBAL> data;
};

Clipboard& TheClipboard() {
    static Clipboard clipboard;
    return clipboard;
}

void FreeAll(Clipboard& c) {
    for (auto& [format, memory] : c.data) GlobalFree(memory);
    c.data.clear();
}

}  // namespace

void SetKeyDown(UINT virtualKey, bool down) {
    if (virtualKey < t_keysDown.size()) t_keysDown[virtualKey] = down;
}

bool TranslateInput(MSG& msg) {
    if (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR) {
        for (HWND h = msg.hwnd; h != nullptr;) {
            auto w = OwnWindow(h);
            if (!w) break;
            if (CWnd* object = CWnd::FromHandlePermanent(h); object != nullptr && object->PreTranslateMessage(&msg)) {
                return true;
            }
            if ((w->style & WS_CHILD) == 0) break;
            h = w->parent;
        }
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_F1) {
        SendMessageW(msg.hwnd, WM_HELP, 0, 0);
        return true;
    }
    return HandleDialogKey(msg);
}

std::u16string ClipboardText() {
    auto& c = TheClipboard();
    std::lock_guard lock(c.mutex);
    const auto found = c.data.find(CF_UNICODETEXT);
    if (found == c.data.end()) return {};
    const std::size_t units = GlobalSize(found->second) / sizeof(char16_t);
    const auto* text = static_cast<const char16_t*>(GlobalLock(found->second));
    if (text == nullptr) return {};
    std::u16string result(text, units);
    result.resize(std::min(result.find(u'\0'), result.size()));
    GlobalUnlock(found->second);
    return result;
}

}  // namespace Mfc::detail

using namespace Mfc::detail;

SHORT GetKeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey >= static_cast<int>(t_keysDown.size())) return 0;
    return t_keysDown[static_cast<std::size_t>(virtualKey)] ? static_cast<SHORT>(0x8000) : 0;
}

BOOL OpenClipboard(HWND) {
    auto& c = TheClipboard();
    std::lock_guard lock(c.mutex);
    if (c.openedBy != 0 && c.openedBy != GetCurrentThreadId()) return FALSE;
    c.openedBy = GetCurrentThreadId();
    return TRUE;
}

BOOL CloseClipboard() {
    auto& c = TheClipboard();
    std::lock_guard lock(c.mutex);
    if (c.openedBy != GetCurrentThreadId()) return FALSE;
    c.openedBy = 0;
    return TRUE;
}

BOOL EmptyClipboard() {
    auto& c = TheClipboard();
    std::lock_guard lock(c.mutex);
    if (c.openedBy != GetCurrentThreadId()) return FALSE;
    FreeAll(c);
    return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE memory) {
    auto& c = TheClipboard();
    std::lock_guard lock(c.mutex);
    if (c.openedBy != GetCurrentThreadId() || memory == nullptr) return nullptr;
    auto& slot = c.data[format];
    if (slot != nullptr && slot != memory) GlobalFree(slot);
    slot = memory;
    return memory;
}

HANDLE GetClipboardData(UINT format) {
    auto& c = TheClipboard();
    std::lock_guard lock(c.mutex);
    if (c.openedBy != GetCurrentThreadId()) return nullptr;
    const auto found = c.data.find(format);
    return found == c.data.end() ? nullptr : found->second;
}

BOOL IsClipboardFormatAvailable(UINT format) {
    auto& c = TheClipboard();
    std::lock_guard lock(c.mutex);
    return c.data.count(format) != 0 ? TRUE : FALSE;
}
