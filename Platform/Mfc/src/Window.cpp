// Window records, their handle table and the window tree functions.
#include "Internal.h"

#include "Platform/InstanceChannel.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace Mfc::detail {
namespace {

// Handles carry a generation: a handle of a destroyed window never names
// the window that takes its slot.
constexpr std::uintptr_t kIndexBits = 20;
constexpr std::uintptr_t kIndexMask = (std::uintptr_t{1} << kIndexBits) - 1;

struct Slot {
    std::uintptr_t generation = 1;
    WindowPtr window;
};

struct Table {
    std::mutex mutex;
    std::vector<Slot> slots;
    std::vector<std::size_t> free;
};

// Never destroyed: worker threads may post while the process exits.
Table& Windows() {
    static auto* table = new Table;
    return *table;
}

HWND Encode(std::size_t index, std::uintptr_t generation) {
    return reinterpret_cast<HWND>((generation << kIndexBits) | (index + 1));
}

bool Decode(HWND handle, std::size_t& index, std::uintptr_t& generation) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if ((value & kIndexMask) == 0) return false;
    index = (value & kIndexMask) - 1;
    generation = value >> kIndexBits;
    return true;
}

HWND Insert(WindowPtr window) {
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    std::size_t index;
    if (!table.free.empty()) {
        index = table.free.back();
        table.free.pop_back();
    } else {
        index = table.slots.size();
        if (index >= kIndexMask - 1) return nullptr;
        table.slots.emplace_back();
    }
    auto& slot = table.slots[index];
    slot.window = std::move(window);
    const HWND handle = Encode(index, slot.generation);
    slot.window->handle = handle;
    return handle;
}

void Remove(HWND handle) {
    WindowPtr dropped;  // released outside the lock
    std::size_t index;
    std::uintptr_t generation;
    if (!Decode(handle, index, generation)) return;
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    if (index >= table.slots.size()) return;
    auto& slot = table.slots[index];
    if (slot.generation != generation || !slot.window) return;
    dropped = std::move(slot.window);
    ++slot.generation;
    table.free.push_back(index);
}

CWnd* MakeTemporary(Kind kind) {
    switch (kind) {
        case Kind::Button:
            return new CButton;
        case Kind::Edit:
            return new CEdit;
        case Kind::Static:
            return new CStatic;
        case Kind::ComboBox:
            return new CComboBox;
        case Kind::ListView:
            return new CListCtrl;
        case Kind::Header:
            return new CHeaderCtrl;
        case Kind::IPAddress:
            return new CIPAddressCtrl;
        default:
            return new CWnd;
    }
}

bool Contains(HWND ancestor, HWND window) {
    for (HWND h = window; h != nullptr;) {
        if (h == ancestor) return true;
        auto w = FindWindowRecord(h);
        if (!w || (w->style & WS_CHILD) == 0) return false;
        h = w->parent;
    }
    return false;
}

}  // namespace

WindowPtr FindWindowRecord(HWND handle) {
    std::size_t index;
    std::uintptr_t generation;
    if (!Decode(handle, index, generation)) return nullptr;
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    if (index >= table.slots.size()) return nullptr;
    const auto& slot = table.slots[index];
    if (slot.generation != generation) return nullptr;
    return slot.window;
}

WindowPtr OwnWindow(HWND handle) {
    auto window = FindWindowRecord(handle);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (window->thread != GetCurrentThreadId()) {
        SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
        return nullptr;
    }
    return window;
}

std::vector<WindowPtr> Children(const Window& window) {
    std::vector<WindowPtr> result;
    for (HWND child : window.children) {
        if (auto c = FindWindowRecord(child)) result.push_back(std::move(c));
    }
    return result;
}

Kind KindOfClass(std::u16string_view name) {
    auto is = [&](const char16_t* other) { return CompareNoCase(name, other) == 0; };
    if (is(WC_BUTTON)) return Kind::Button;
    if (is(WC_EDIT)) return Kind::Edit;
    if (is(WC_STATIC)) return Kind::Static;
    if (is(WC_COMBOBOX)) return Kind::ComboBox;
    if (is(WC_LISTVIEW)) return Kind::ListView;
    if (is(WC_IPADDRESS)) return Kind::IPAddress;
    if (is(WC_PROGRESS)) return Kind::Progress;
    if (is(u"SysHeader32")) return Kind::Header;
    if (is(u"#32770")) return Kind::Dialog;
    return Kind::Generic;
}

WindowPtr CreateWindowRecord(Kind kind, std::u16string className, std::u16string text, DWORD style, DWORD exStyle,
                             const RECT& rect, HWND parent, UINT id) {
    auto window = std::make_shared<Window>();
    window->thread = GetCurrentThreadId();
    window->queue = CurrentQueue();
    window->kind = kind;
    window->className = std::move(className);
    window->style = style;
    window->exStyle = exStyle;
    window->rect = rect;
    window->id = id;
    window->parent = parent;
    if (kind == Kind::Edit && (style & ES_PASSWORD) != 0) window->passwordChar = u'*';
    if (kind != Kind::ComboBox && kind != Kind::ListView && kind != Kind::IPAddress) window->text = text;
    if (Insert(window) == nullptr) return nullptr;
    if (kind == Kind::IPAddress && !text.empty()) {
        bool handled = false;
        IPAddressProc(*window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), handled);
    }
    if (parent != nullptr && (style & WS_CHILD) != 0) {
        if (auto p = FindWindowRecord(parent)) p->children.push_back(window->handle);
    }
    if (kind == Kind::ListView) {
        RECT headerRect{0, 0, rect.right - rect.left, CListCtrl::kHeaderHeight};
        auto header = CreateWindowRecord(Kind::Header, u"SysHeader32", u"", WS_CHILD | WS_VISIBLE, 0, headerRect,
                                         window->handle, 0);
        if (header) window->header = header->handle;
    }
    NotifyCreated(window->handle);
    return window;
}

HWND TopLevel(HWND handle) {
    HWND current = handle;
    for (;;) {
        auto w = FindWindowRecord(current);
        if (!w) return nullptr;
        if ((w->style & WS_CHILD) == 0 || w->parent == nullptr) return current;
        current = w->parent;
    }
}

POINT ScreenOrigin(const Window& window) {
    POINT origin{window.rect.left, window.rect.top};
    if ((window.style & WS_CHILD) != 0 && window.parent != nullptr) {
        if (auto parent = FindWindowRecord(window.parent)) {
            const POINT p = ScreenOrigin(*parent);
            origin.x += p.x;
            origin.y += p.y;
        }
    }
    return origin;
}

RECT DialogUnitsToPixels(int x, int y, int cx, int cy) {
    // Base units of the dialog font: 6 x 13 pixels for 4 x 8 dialog units.
    auto scaleX = [](int v) { return static_cast<LONG>((v * 6 + 2) / 4); };
    auto scaleY = [](int v) { return static_cast<LONG>((v * 13 + 4) / 8); };
    return RECT{scaleX(x), scaleY(y), scaleX(x + cx), scaleY(y + cy)};
}

CWnd* TemporaryObject(Window& window) {
    if (!window.temporary) {
        window.temporary.reset(MakeTemporary(window.kind));
        window.temporary->m_hWnd = window.handle;
    }
    return window.temporary.get();
}

LRESULT CallWindow(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    auto window = OwnWindow(handle);
    if (!window) return 0;
    auto& state = State();
    const MSG saved = state.lastSent;
    state.lastSent = MSG{handle, message, wParam, lParam, state.messageTime, state.messagePos};
    LRESULT result = 0;
    try {
        if (CWnd* object = window->object) {
            result = object->WindowProc(message, wParam, lParam);
        } else if (window->dialogProc != nullptr) {
            // A raw dialog procedure: what it leaves (0) the dialog manager does.
            result = window->dialogProc(handle, message, wParam, lParam);
            if (result == 0 && message != WM_INITDIALOG) result = DefaultProc(handle, message, wParam, lParam);
        } else {
            result = DefaultProc(handle, message, wParam, lParam);
        }
    } catch (const std::exception& e) {
        ReportException(e.what());
        result = 0;
    } catch (...) {
        ReportException("an exception that is not a std::exception");
        result = 0;
    }
    state.lastSent = saved;
    return result;
}

LRESULT DefaultProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    auto window = OwnWindow(handle);
    if (!window) return 0;
    Window& w = *window;
    bool handled = false;
    LRESULT result = 0;
    switch (w.kind) {
        case Kind::Button:
            result = ButtonProc(w, message, wParam, lParam, handled);
            break;
        case Kind::Edit:
            result = EditProc(w, message, wParam, lParam, handled);
            break;
        case Kind::ComboBox:
            result = ComboProc(w, message, wParam, lParam, handled);
            break;
        case Kind::ListView:
        case Kind::Header:
            result = ListProc(w, message, wParam, lParam, handled);
            break;
        case Kind::IPAddress:
            result = IPAddressProc(w, message, wParam, lParam, handled);
            break;
        case Kind::Progress:
            result = ProgressProc(w, message, wParam, lParam, handled);
            break;
        default:
            break;
    }
    if (handled) return result;

    switch (message) {
        case WM_SETTEXT: {
            const auto* text = reinterpret_cast<const char16_t*>(lParam);
            w.text = text ? text : u"";
            Notify(handle, WindowChange::Text);
            return TRUE;
        }
        case WM_GETTEXT: {
            auto* buffer = reinterpret_cast<char16_t*>(lParam);
            if (buffer == nullptr || wParam == 0) return 0;
            const auto count = std::min<std::size_t>(w.text.size(), wParam - 1);
            std::copy_n(w.text.begin(), count, buffer);
            buffer[count] = 0;
            return static_cast<LRESULT>(count);
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(w.text.size());
        case kRemoteShowWindow:
            ShowWindow(handle, static_cast<int>(wParam));
            return 0;
        case WM_HELP: {
            if ((w.style & WS_CHILD) != 0 && w.parent != nullptr) return SendMessageW(w.parent, WM_HELP, wParam, lParam);
            constexpr UINT kIdHelp = 57670;
            const CWnd* main = AfxGetMainWnd();
            const HWND target = main != nullptr && main->m_hWnd != nullptr ? main->m_hWnd : handle;
            CallWindow(target, WM_COMMAND, MAKEWPARAM(kIdHelp, 0), 0);
            return TRUE;
        }
        case WM_CLOSE:
            if (w.kind == Kind::Dialog) {
                HWND cancel = GetDlgItem(handle, IDCANCEL);
                if (cancel != nullptr && !IsWindowEnabled(cancel)) return 0;
                CallWindow(handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
            } else {
                DestroyWindow(handle);
            }
            return 0;
        case DM_GETDEFID:
            if (w.kind != Kind::Dialog) return 0;
            if (w.defaultId != 0) return MAKELPARAM(static_cast<WORD>(w.defaultId), DC_HASDEFID);
            for (const auto& child : Children(w)) {
                if (child->kind == Kind::Button && (child->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                    return MAKELPARAM(static_cast<WORD>(child->id), DC_HASDEFID);
                }
            }
            return 0;
        case DM_SETDEFID:
            if (w.kind != Kind::Dialog) return 0;
            for (const auto& child : Children(w)) {
                if (child->kind != Kind::Button) continue;
                const DWORD type = child->style & BS_TYPEMASK;
                if (type == BS_DEFPUSHBUTTON && child->id != wParam) child->style &= ~BS_TYPEMASK;
                if (type == BS_PUSHBUTTON && child->id == wParam) child->style |= BS_DEFPUSHBUTTON;
            }
            w.defaultId = static_cast<UINT>(wParam);
            return TRUE;
        default:
            return 0;
    }
}

void NotifyParent(const Window& control, UINT code) {
    if (control.parent == nullptr || (control.style & WS_CHILD) == 0) return;
    CallWindow(control.parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(control.id), static_cast<WORD>(code)),
               reinterpret_cast<LPARAM>(control.handle));
}

LRESULT NotifyParent(const Window& control, NMHDR& header) {
    header.hwndFrom = control.handle;
    header.idFrom = control.id;
    if (control.parent == nullptr) return 0;
    return CallWindow(control.parent, WM_NOTIFY, control.id, reinterpret_cast<LPARAM>(&header));
}

}  // namespace Mfc::detail

using namespace Mfc::detail;

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR text, DWORD style, int x, int y, int width, int height,
                     HWND parent, HMENU idOrMenu, HINSTANCE, LPVOID) {
    if (parent != nullptr && !OwnWindow(parent)) return nullptr;
    const std::u16string name = className ? className : u"";
    const RECT rect{x, y, x + width, y + height};
    const UINT id = (style & WS_CHILD) != 0 ? static_cast<UINT>(reinterpret_cast<std::uintptr_t>(idOrMenu)) : 0;
    auto window = CreateWindowRecord(KindOfClass(name), name, text ? text : u"", style, exStyle, rect, parent, id);
    if (!window) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    CallWindow(window->handle, WM_CREATE, 0, 0);
    return window->handle;
}

BOOL DestroyWindow(HWND handle) {
    auto window = OwnWindow(handle);
    if (!window) return FALSE;
    if (window->destroying) return TRUE;
    window->destroying = true;
    auto& state = State();
    if (state.focus != nullptr && Contains(handle, state.focus)) state.focus = nullptr;

    CallWindow(handle, WM_DESTROY, 0, 0);
    for (HWND child : std::vector<HWND>(window->children)) DestroyWindow(child);
    CallWindow(handle, WM_NCDESTROY, 0, 0);

    {
        std::lock_guard lock(window->queue->mutex);
        auto& timers = window->queue->timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == handle; }),
                     timers.end());
        std::erase(window->queue->paints, handle);
    }
    if (window->parent != nullptr && (window->style & WS_CHILD) != 0) {
        if (auto parent = FindWindowRecord(window->parent)) {
            auto& siblings = parent->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
        }
    }
    NotifyDestroyed(handle);
    Remove(handle);

    if (CWnd* object = window->object) {
        window->object = nullptr;
        object->m_hWnd = nullptr;
        CWndAccess::PostNcDestroy(*object);
    }
    if (window->temporary) {
        window->temporary->m_hWnd = nullptr;
        state.retired.push_back(std::move(window->temporary));
    }
    return TRUE;
}

BOOL IsWindow(HWND handle) {
    return FindWindowRecord(handle) != nullptr;
}

BOOL IsChild(HWND parent, HWND handle) {
    return handle != parent && Contains(parent, handle);
}

HWND GetParent(HWND handle) {
    auto window = OwnWindow(handle);
    return window ? window->parent : nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
    auto window = OwnWindow(dialog);
    if (!window) return nullptr;
    for (const auto& child : Children(*window)) {
        if (child->id == static_cast<UINT>(static_cast<WORD>(id))) return child->handle;
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int GetDlgCtrlID(HWND handle) {
    auto window = OwnWindow(handle);
    return window ? static_cast<int>(window->id) : 0;
}

int GetClassNameW(HWND handle, LPWSTR buffer, int size) {
    auto window = FindWindowRecord(handle);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (buffer == nullptr || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t units = std::min(window->className.size(), static_cast<std::size_t>(size - 1));
    std::copy_n(window->className.data(), units, buffer);
    buffer[units] = 0;
    return static_cast<int>(units);
}

LONG GetWindowLongW(HWND handle, int index) {
    auto window = OwnWindow(handle);
    if (!window) return 0;
    switch (index) {
        case GWL_STYLE:
            return static_cast<LONG>(window->style);
        case GWL_EXSTYLE:
            return static_cast<LONG>(window->exStyle);
        case GWL_ID:
            return static_cast<LONG>(window->id);
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
    }
}

BOOL SetWindowTextW(HWND handle, LPCWSTR text) {
    if (!OwnWindow(handle)) return FALSE;
    return CallWindow(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) != 0;
}

int GetWindowTextW(HWND handle, LPWSTR buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = 0;
    if (!OwnWindow(handle)) return 0;
    return static_cast<int>(
        CallWindow(handle, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthW(HWND handle) {
    if (!OwnWindow(handle)) return 0;
    return static_cast<int>(CallWindow(handle, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr && SetWindowTextW(item, text);
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int size) {
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) {
        if (buffer != nullptr && size > 0) buffer[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(item, buffer, size));
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr ? CallWindow(item, message, wParam, lParam) : 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) return FALSE;
    CallWindow(item, BM_SETCHECK, check, 0);
    return TRUE;
}

namespace {

std::u16string PropKey(LPCWSTR name) {
    std::u16string key;
    for (const char16_t* p = name; *p != 0; ++p)
        key += (*p >= u'a' && *p <= u'z') ? static_cast<char16_t>(*p - 32) : *p;
    return key;
}

}  // namespace

BOOL SetPropW(HWND handle, LPCWSTR name, HANDLE data) {
    auto window = OwnWindow(handle);
    if (!window || name == nullptr) return FALSE;
    window->props[PropKey(name)] = data;
    return TRUE;
}

HANDLE GetPropW(HWND handle, LPCWSTR name) {
    auto window = OwnWindow(handle);
    if (!window || name == nullptr) return nullptr;
    auto it = window->props.find(PropKey(name));
    return it == window->props.end() ? nullptr : it->second;
}

HANDLE RemovePropW(HWND handle, LPCWSTR name) {
    auto window = OwnWindow(handle);
    if (!window || name == nullptr) return nullptr;
    auto it = window->props.find(PropKey(name));
    if (it == window->props.end()) return nullptr;
    HANDLE data = it->second;
    window->props.erase(it);
    return data;
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
    if (translated != nullptr) *translated = FALSE;
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) return 0;
    std::u16string s(static_cast<std::size_t>(std::max(GetWindowTextLengthW(item), 0)) + 1, u'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(item, s.data(), static_cast<int>(s.size()))));
    std::size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    bool negative = false;
    if (isSigned && i < s.size() && s[i] == u'-') {
        negative = true;
        ++i;
    }
    long long value = 0;
    const std::size_t digitsStart = i;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        value = value * 10 + (s[i] - u'0');
        if (value > 0xFFFFFFFFLL) break;
        ++i;
    }
    const bool ok = i > digitsStart && i == s.size() &&
                    (isSigned ? value <= 0x7FFFFFFFLL + (negative ? 1 : 0) : value <= 0xFFFFFFFFLL);
    if (translated != nullptr) *translated = ok ? TRUE : FALSE;
    if (!ok) return 0;
    return static_cast<UINT>(negative ? -value : value);
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
    auto window = OwnWindow(dialog);
    if (!window) return FALSE;
    for (const auto& child : Children(*window)) {
        const int id = static_cast<int>(child->id);
        if (id >= first && id <= last) CallWindow(child->handle, BM_SETCHECK, id == check ? BST_CHECKED : 0, 0);
    }
    return TRUE;
}

namespace {

// Any thread.
std::vector<WindowPtr> AllWindows() {
    std::vector<WindowPtr> all;
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    for (const auto& slot : table.slots) {
        if (slot.window) all.push_back(slot.window);
    }
    return all;
}

HWND FindLocalWindow(LPCWSTR className, LPCWSTR windowName) {
    for (const auto& window : AllWindows()) {
        if ((window->style & WS_CHILD) != 0 || window->destroying) continue;
        if (className != nullptr && CompareNoCase(window->className, className) != 0) continue;
        if (windowName != nullptr && window->text != windowName) continue;
        return window->handle;
    }
    return nullptr;
}

HWND LocalLastActivePopup(HWND handle) {
    if (!FindWindowRecord(handle)) return nullptr;
    const auto all = AllWindows();
    for (HWND current = handle;;) {
        HWND next = nullptr;
        for (const auto& window : all) {
            if (window->parent == current && (window->style & WS_CHILD) == 0 && (window->style & WS_VISIBLE) != 0 &&
                !window->destroying) {
                next = window->handle;
            }
        }
        if (next == nullptr) return current;
        current = next;
    }
}

// Windows of another process of the user, reached through its instance
// channel. Their handles have no index bits, so they never name a window
// of ours.
struct RemoteWindow {
    std::string channel;
    std::uintptr_t handle = 0;
    pid_t process = 0;
};

struct RemoteTable {
    std::mutex mutex;
    std::vector<RemoteWindow> windows;
};

RemoteTable& Remotes() {
    static auto* table = new RemoteTable;
    return *table;
}

HWND AddRemote(std::string channel, std::uintptr_t handle, pid_t process) {
    auto& table = Remotes();
    std::lock_guard lock(table.mutex);
    table.windows.push_back(RemoteWindow{std::move(channel), handle, process});
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(table.windows.size()) << kIndexBits);
}

bool FindRemote(HWND handle, RemoteWindow& out) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value == 0 || (value & kIndexMask) != 0) return false;
    const auto index = (value >> kIndexBits) - 1;
    auto& table = Remotes();
    std::lock_guard lock(table.mutex);
    if (index >= table.windows.size()) return false;
    out = table.windows[index];
    return true;
}

std::string AskRemote(const RemoteWindow& remote, const std::string& verb, const std::string& extra = {}) {
    return Platform::AskInstance(remote.channel, verb + "\t" + std::to_string(remote.handle) + extra);
}

HWND ParseHandle(const std::string& text) {
    char* end = nullptr;
    const auto value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || value == 0) return nullptr;
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(value));
}

// "VERB\tfield\t...": FIND with the class and the title (each after a flag,
// "1" present or "0" absent), or POPUP, ICONIC, SHOW (with the command),
// FOREGROUND and THREAD with a window handle. Runs on the channel's thread.
std::string AnswerInstanceRequest(const std::string& request) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto tab = request.find('\t', start);
        fields.push_back(request.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    const auto handleText = [](HWND h) {
        return h ? std::to_string(reinterpret_cast<std::uintptr_t>(h)) : std::string();
    };
    if (fields[0] == "FIND" && fields.size() == 3) {
        const auto optional = [](const std::string& field, std::u16string& text) -> LPCWSTR {
            if (field.empty() || field[0] != '1') return nullptr;
            text = FromUtf8(std::string_view(field).substr(1));
            return text.c_str();
        };
        std::u16string className, title;
        return handleText(FindLocalWindow(optional(fields[1], className), optional(fields[2], title)));
    }
    if (fields.size() < 2) return {};
    HWND window = ParseHandle(fields[1]);
    auto record = FindWindowRecord(window);
    if (!record || (record->style & WS_CHILD) != 0) return {};
    if (fields[0] == "POPUP") return handleText(LocalLastActivePopup(window));
    if (fields[0] == "ICONIC") return (record->style & WS_MINIMIZE) != 0 ? "1" : "0";
    if (fields[0] == "FOREGROUND") return "1";
    if (fields[0] == "THREAD") return std::to_string(record->thread);
    if (fields[0] == "SHOW" && fields.size() == 3) {
        // The window's own thread changes it.
        return PostMessageW(window, kRemoteShowWindow, static_cast<WPARAM>(std::atoi(fields[2].c_str())), 0) ? "1" : "";
    }
    return {};
}

const bool g_answering = (Platform::SetInstanceRequestHandler(AnswerInstanceRequest), true);

}  // namespace

BOOL ShowWindow(HWND handle, int command) {
    RemoteWindow remote;
    if (FindRemote(handle, remote)) return AskRemote(remote, "SHOW", "\t" + std::to_string(command)) == "1";
    auto window = OwnWindow(handle);
    if (!window) return FALSE;
    const bool wasVisible = (window->style & WS_VISIBLE) != 0;
    const bool show = command != SW_HIDE;
    if (command == SW_MINIMIZE) window->style |= WS_MINIMIZE;
    if (command == SW_RESTORE) window->style &= ~WS_MINIMIZE;
    if (show != wasVisible) {
        window->style = show ? (window->style | WS_VISIBLE) : (window->style & ~WS_VISIBLE);
        Notify(handle, WindowChange::Visibility);
    }
    return wasVisible;
}

BOOL IsWindowVisible(HWND handle) {
    for (HWND h = handle; h != nullptr;) {
        auto window = OwnWindow(h);
        if (!window || (window->style & WS_VISIBLE) == 0) return FALSE;
        if ((window->style & WS_CHILD) == 0) return TRUE;
        h = window->parent;
    }
    return FALSE;
}

BOOL EnableWindow(HWND handle, BOOL enable) {
    auto window = OwnWindow(handle);
    if (!window) return FALSE;
    const bool wasDisabled = (window->style & WS_DISABLED) != 0;
    if (wasDisabled == (enable != FALSE)) {
        window->style = enable ? (window->style & ~WS_DISABLED) : (window->style | WS_DISABLED);
        auto& state = State();
        if (!enable && state.focus == handle) state.focus = nullptr;
        CallWindow(handle, WM_ENABLE, enable ? TRUE : FALSE, 0);
        Notify(handle, WindowChange::Enabling);
    }
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND handle) {
    auto window = OwnWindow(handle);
    return window && (window->style & WS_DISABLED) == 0;
}

HWND SetFocus(HWND handle) {
    auto& state = State();
    const HWND previous = state.focus;
    if (handle != nullptr && !OwnWindow(handle)) return nullptr;
    if (handle == previous) return previous;
    state.focus = handle;
    if (previous != nullptr && IsWindow(previous))
        CallWindow(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(handle), 0);
    if (handle != nullptr) {
        CallWindow(handle, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
        Notify(handle, WindowChange::Focus);
    } else if (previous != nullptr && IsWindow(previous)) {
        Notify(previous, WindowChange::Focus);
    }
    return previous;
}

HWND GetFocus() {
    auto& state = State();
    if (state.focus != nullptr && !IsWindow(state.focus)) state.focus = nullptr;
    return state.focus;
}

BOOL SetForegroundWindow(HWND handle) {
    RemoteWindow remote;
    if (FindRemote(handle, remote)) return AskRemote(remote, "FOREGROUND") == "1";
    return OwnWindow(handle) != nullptr;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    if (HWND local = FindLocalWindow(className, windowName)) return local;
    const auto field = [](LPCWSTR text) { return text != nullptr ? "1" + ToUtf8(text) : std::string("0"); };
    const auto answer = Platform::AskOtherInstances("FIND\t" + field(className) + "\t" + field(windowName));
    if (!answer) return nullptr;
    HWND remote = ParseHandle(answer->answer);
    return remote != nullptr ? AddRemote(answer->channel, reinterpret_cast<std::uintptr_t>(remote), answer->process)
                             : nullptr;
}

HWND GetLastActivePopup(HWND handle) {
    RemoteWindow remote;
    if (FindRemote(handle, remote)) {
        HWND popup = ParseHandle(AskRemote(remote, "POPUP"));
        return popup != nullptr ? AddRemote(remote.channel, reinterpret_cast<std::uintptr_t>(popup), remote.process)
                                : nullptr;
    }
    return LocalLastActivePopup(handle);
}

BOOL IsIconic(HWND handle) {
    RemoteWindow remote;
    if (FindRemote(handle, remote)) return AskRemote(remote, "ICONIC") == "1";
    auto window = FindWindowRecord(handle);
    return window && (window->style & WS_MINIMIZE) != 0;
}

DWORD GetWindowThreadProcessId(HWND handle, LPDWORD processId) {
    RemoteWindow remote;
    if (FindRemote(handle, remote)) {
        const auto thread = static_cast<DWORD>(std::strtoul(AskRemote(remote, "THREAD").c_str(), nullptr, 10));
        if (thread != 0 && processId != nullptr) *processId = static_cast<DWORD>(remote.process);
        return thread;
    }
    auto window = FindWindowRecord(handle);
    if (!window) return 0;
    if (processId != nullptr) *processId = static_cast<DWORD>(::getpid());
    return window->thread;
}

BOOL GetClientRect(HWND handle, LPRECT rect) {
    auto window = OwnWindow(handle);
    if (!window || rect == nullptr) return FALSE;
    *rect = RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
    return TRUE;
}

BOOL GetWindowRect(HWND handle, LPRECT rect) {
    auto window = OwnWindow(handle);
    if (!window || rect == nullptr) return FALSE;
    const POINT origin = ScreenOrigin(*window);
    *rect = RECT{origin.x, origin.y, origin.x + window->rect.right - window->rect.left,
                 origin.y + window->rect.bottom - window->rect.top};
    return TRUE;
}

BOOL SetWindowPos(HWND handle, HWND, int x, int y, int width, int height, UINT flags) {
    auto window = OwnWindow(handle);
    if (!window) return FALSE;
    RECT r = window->rect;
    if ((flags & SWP_NOMOVE) == 0) {
        const LONG w = r.right - r.left, h = r.bottom - r.top;
        r = RECT{x, y, x + w, y + h};
    }
    if ((flags & SWP_NOSIZE) == 0) {
        r.right = r.left + std::max(width, 0);
        r.bottom = r.top + std::max(height, 0);
    }
    const bool moved = r.left != window->rect.left || r.top != window->rect.top || r.right != window->rect.right ||
                       r.bottom != window->rect.bottom;
    window->rect = r;
    if (window->header != nullptr) {
        if (auto header = FindWindowRecord(window->header)) header->rect.right = r.right - r.left;
    }
    if (moved) Notify(handle, WindowChange::Position);
    if ((flags & SWP_SHOWWINDOW) != 0) ShowWindow(handle, SW_SHOW);
    if ((flags & SWP_HIDEWINDOW) != 0) ShowWindow(handle, SW_HIDE);
    return TRUE;
}

BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL) {
    return SetWindowPos(handle, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL ScreenToClient(HWND handle, LPPOINT point) {
    auto window = OwnWindow(handle);
    if (!window || point == nullptr) return FALSE;
    const POINT origin = ScreenOrigin(*window);
    point->x -= origin.x;
    point->y -= origin.y;
    return TRUE;
}

BOOL ClientToScreen(HWND handle, LPPOINT point) {
    auto window = OwnWindow(handle);
    if (!window || point == nullptr) return FALSE;
    const POINT origin = ScreenOrigin(*window);
    point->x += origin.x;
    point->y += origin.y;
    return TRUE;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
    if (!OwnWindow(dialog) || rect == nullptr) return FALSE;
    *rect = DialogUnitsToPixels(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    return TRUE;
}

BOOL InvalidateRect(HWND handle, LPCRECT, BOOL) {
    auto window = FindWindowRecord(handle);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto& queue = *window->queue;
    {
        std::lock_guard lock(queue.mutex);
        if (!queue.alive) return FALSE;
        if (window->dirty) return TRUE;
        window->dirty = true;
        queue.paints.push_back(handle);
    }
    queue.signal.notify_all();
    return TRUE;
}

BOOL UpdateWindow(HWND handle) {
    auto window = OwnWindow(handle);
    if (!window) return FALSE;
    {
        auto& queue = *window->queue;
        std::lock_guard lock(queue.mutex);
        if (!window->dirty) return TRUE;
        window->dirty = false;
        std::erase(queue.paints, handle);
    }
    CallWindow(handle, WM_PAINT, 0, 0);
    return TRUE;
}

LRESULT SendMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!OwnWindow(handle)) return 0;
    return CallWindow(handle, message, wParam, lParam);
}
