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

// As a message loop would: pre-translation and the dialog manager first,
// then the window. True when the window got it.
bool Deliver(MSG msg) {
    RecordInput(msg);
    if (msg.message == WM_KEYDOWN) SetKeyDown(static_cast<UINT>(msg.wParam), true);
    if (msg.message == WM_KEYUP) SetKeyDown(static_cast<UINT>(msg.wParam), false);
    if (TranslateInput(msg)) return false;
    DispatchMessageW(&msg);
    return true;
}

// The key a unit is typed with: Ctrl with a letter for the control
// characters 1-26, the key itself for digits, letters and the editing keys;
// anything else arrives as a unit of its own.
UINT KeyOfUnit(char16_t unit, bool& control) {
    control = false;
    switch (unit) {
        case 0x08:
            return VK_BACK;
        case 0x09:
            return VK_TAB;
        case 0x0D:
            return VK_RETURN;
        case 0x1B:
            return VK_ESCAPE;
        case u' ':
            return VK_SPACE;
        default:
            break;
    }
    if (unit >= 1 && unit <= 26) {
        control = true;
        return u'A' + unit - 1;
    }
    if (unit >= u'0' && unit <= u'9') return unit;
    if (unit >= u'A' && unit <= u'Z') return unit;
    if (unit >= u'a' && unit <= u'z') return unit - u'a' + u'A';
    return VK_PACKET;
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

namespace detail {

std::string WhyUnreachable(HWND window) {
    for (HWND h = window; h != nullptr;) {
        auto w = OwnWindow(h);
        if (!w) return "is gone";
        const char* where = h == window ? "is " : "is inside a ";
        if ((w->style & WS_VISIBLE) == 0) return std::string(where) + (h == window ? "hidden" : "hidden window");
        if ((w->style & WS_DISABLED) != 0)
            return std::string(where) + (h == window ? "disabled" : "disabled window");
        if ((w->style & WS_CHILD) == 0) return {};
        h = w->parent;
    }
    return "is gone";
}

bool IsRadio(const Window& w) {
    const DWORD type = w.style & BS_TYPEMASK;
    return w.kind == Kind::Button && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
}

bool IsCheckable(const Window& w) {
    const DWORD type = w.style & BS_TYPEMASK;
    return IsRadio(w) || (w.kind == Kind::Button && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX));
}

std::string WhyUnfit(const Window& w, UserAction action) {
    switch (action) {
        case UserAction::Press:
            if (w.kind != Kind::Button || (w.style & BS_TYPEMASK) == BS_GROUPBOX) return "is no button";
            return {};
        case UserAction::Type:
            if (w.kind == Kind::IPAddress) return {};
            if (w.kind != Kind::Edit) return "takes no typing";
            if ((w.style & ES_READONLY) != 0) return "is read-only";
            return {};
        case UserAction::Pick:
            if (w.kind != Kind::ComboBox && w.kind != Kind::ListView) return "is no combo box or list";
            return {};
        case UserAction::Check:
            if (!IsCheckable(w)) return "is no check box or radio button";
            return {};
    }
    return {};
}

}  // namespace detail

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
        bool control = false;
        const UINT key = KeyOfUnit(unit, control);
        if (control) Deliver(MakeInput(target, WM_KEYDOWN, VK_CONTROL, Centre(target)));
        // As TranslateMessage: a key taken before dispatch makes no character.
        if (Deliver(MakeInput(target, WM_KEYDOWN, key, Centre(target))) && ::IsWindow(target)) {
            Deliver(MakeInput(target, WM_CHAR, unit, Centre(target)));
        }
        if (::IsWindow(target)) Deliver(MakeInput(target, WM_KEYUP, key, Centre(target)));
        if (control) {
            if (::IsWindow(target)) {
                Deliver(MakeInput(target, WM_KEYUP, VK_CONTROL, Centre(target)));
            } else {
                SetKeyDown(VK_CONTROL, false);
            }
        }
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
