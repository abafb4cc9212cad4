// User input, delivered the way a front end delivers it.
#include "Internal.h"

namespace Mfc {
namespace {

using namespace detail;

MSG MakeInput(HWND target, UINT message, WPARAM wParam, POINT client) {
    MSG msg;
    msg.hwnd = target;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = MAKELPARAM(static_cast<WORD>(client.x), static_cast<WORD>(client.y));
    msg.time = GetTickCount();
    POINT screen = client;
    ::ClientToScreen(target, &screen);
    msg.pt = screen;
    return msg;
}

POINT Centre(HWND window) {
    RECT r;
    ::GetClientRect(window, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// As a message loop would: the dialog manager first, then the window.
void Deliver(const MSG& msg) {
    RecordInput(msg);
    if (!HandleDialogKey(msg)) DispatchMessageW(&msg);
}

HWND KeyTarget() {
    if (HWND focus = ::GetFocus()) return focus;
    const auto modal = ModalWindows();
    return modal.empty() ? nullptr : modal.back();
}

}  // namespace

bool IsWindowReachable(HWND window) {
    for (HWND h = window; h != nullptr;) {
        auto w = OwnWindow(h);
        if (!w || (w->style & WS_VISIBLE) == 0 || (w->style & WS_DISABLED) != 0) return false;
        if ((w->style & WS_CHILD) == 0) return true;
        h = w->parent;
    }
    return false;
}

namespace Input {

bool ClickAt(HWND window, POINT client) {
    if (!IsWindowReachable(window)) return false;
    Deliver(MakeInput(window, WM_LBUTTONDOWN, 0, client));
    if (::IsWindow(window)) Deliver(MakeInput(window, WM_LBUTTONUP, 0, client));
    return true;
}

bool DoubleClickAt(HWND window, POINT client) {
    if (!ClickAt(window, client) || !::IsWindow(window) || !IsWindowReachable(window)) return false;
    Deliver(MakeInput(window, WM_LBUTTONDBLCLK, 0, client));
    if (::IsWindow(window)) Deliver(MakeInput(window, WM_LBUTTONUP, 0, client));
    return true;
}

bool Click(HWND window) {
    if (!IsWindowReachable(window)) return false;
    return ClickAt(window, Centre(window));
}

bool Focus(HWND window) {
    if (!IsWindowReachable(window)) return false;
    RecordInput(MakeInput(window, WM_KEYDOWN, VK_TAB, Centre(window)));
    // Tabbing in always arrives anew, even at the window that had the focus.
    if (::GetFocus() == window) ::SetFocus(nullptr);
    ::SetFocus(window);
    if (auto w = OwnWindow(window); w && w->kind == Kind::Edit) ::SendMessageW(window, EM_SETSEL, 0, -1);
    return true;
}

bool Type(std::u16string_view text) {
    const HWND target = ::GetFocus();
    if (target == nullptr || !IsWindowReachable(target)) return false;
    for (char16_t unit : text) {
        if (::GetFocus() != target || !IsWindowReachable(target)) return false;
        Deliver(MakeInput(target, WM_CHAR, unit, Centre(target)));
    }
    return true;
}

bool Key(UINT virtualKey) {
    const HWND target = KeyTarget();
    if (target == nullptr || !IsWindowReachable(target)) return false;
    Deliver(MakeInput(target, WM_KEYDOWN, virtualKey, Centre(target)));
    if (::IsWindow(target)) Deliver(MakeInput(target, WM_KEYUP, virtualKey, Centre(target)));
    return true;
}

bool ChooseComboItem(HWND combo, int index) {
    auto w = OwnWindow(combo);
    if (!w || w->kind != Kind::ComboBox || !IsWindowReachable(combo)) return false;
    if (index < 0 || index >= static_cast<int>(w->items.size())) return false;
    Deliver(MakeInput(combo, kInputChooseItem, static_cast<WPARAM>(index), Centre(combo)));
    return true;
}

bool Close(HWND window) {
    if (!IsWindowReachable(window)) return false;
    Deliver(MakeInput(window, WM_CLOSE, 0, POINT{0, 0}));
    return true;
}

}  // namespace Input
}  // namespace Mfc
