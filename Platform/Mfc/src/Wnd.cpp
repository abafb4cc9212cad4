// CWnd: attaching objects to windows, the message routing chain, modal
// loops, and data exchange.
#include "Internal.h"

#include <algorithm>

using namespace Mfc::detail;

struct CWnd::Handlers {
    struct Control {
        UINT code;
        UINT id;
        CommandHandler handler;
    };
    struct NotifyEntry {
        UINT code;
        UINT id;
        NotifyHandler handler;
    };
    struct Message {
        UINT message;
        MessageHandler handler;
    };
    std::vector<Control> controls;
    std::vector<NotifyEntry> notifies;
    std::vector<Message> messages;
    std::vector<Control> controlReflects;
    std::vector<NotifyEntry> notifyReflects;
};

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (m_hWnd == nullptr) return;
    const HWND window = m_hWnd;
    if (auto record = FindWindowRecord(window)) {
        if (record->object == this) record->object = nullptr;
        m_hWnd = nullptr;
        // A window whose object goes away goes with it, unless it lives on
        // another thread (then it is only detached).
        if (record->thread == GetCurrentThreadId() && record->temporary.get() != this) ::DestroyWindow(window);
    }
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND window) {
    auto record = OwnWindow(window);
    return record ? record->object : nullptr;
}

CWnd* CWnd::FromHandle(HWND window) {
    auto record = OwnWindow(window);
    if (!record) return nullptr;
    if (record->object != nullptr) return record->object;
    return TemporaryObject(*record);
}

BOOL CWnd::Attach(HWND window) {
    auto record = OwnWindow(window);
    if (!record || record->object != nullptr || m_hWnd != nullptr) return FALSE;
    record->object = this;
    m_hWnd = window;
    return TRUE;
}

HWND CWnd::Detach() {
    const HWND window = m_hWnd;
    if (auto record = FindWindowRecord(window)) {
        if (record->object == this) record->object = nullptr;
    }
    m_hWnd = nullptr;
    return window;
}

BOOL CWnd::SubclassWindow(HWND window) {
    if (!Attach(window)) return FALSE;
    PreSubclassWindow();
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    if (parent == nullptr) return FALSE;
    HWND control = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
    return control != nullptr && SubclassWindow(control);
}

HWND CWnd::UnsubclassWindow() {
    return Detach();
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR text, DWORD style, const RECT& rect, CWnd* parent,
                    UINT id) {
    if (m_hWnd != nullptr) return FALSE;
    const std::u16string name = className ? className : u"";
    auto record = CreateWindowRecord(KindOfClass(name), name, text ? text : u"", style, exStyle, rect,
                                     parent ? parent->m_hWnd : nullptr, (style & WS_CHILD) ? id : 0);
    if (!record) return FALSE;
    record->object = this;
    m_hWnd = record->handle;
    CallWindow(m_hWnd, WM_CREATE, 0, 0);
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    return m_hWnd != nullptr && ::DestroyWindow(m_hWnd);
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::GetTopLevelParent() const {
    return FromHandle(TopLevel(m_hWnd));
}

CWnd* CWnd::GetDlgItem(int id) const {
    return FromHandle(::GetDlgItem(m_hWnd, id));
}

int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
}

DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
    auto record = OwnWindow(m_hWnd);
    if (!record) return FALSE;
    const DWORD style = (record->style & ~remove) | add;
    if (style == record->style) return FALSE;
    record->style = style;
    Notify(m_hWnd, Mfc::WindowChange::Style);
    return TRUE;
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
    auto record = OwnWindow(m_hWnd);
    if (!record) return FALSE;
    const DWORD style = (record->exStyle & ~remove) | add;
    if (style == record->exStyle) return FALSE;
    record->exStyle = style;
    Notify(m_hWnd, Mfc::WindowChange::Style);
    return TRUE;
}

void CWnd::SetWindowText(LPCWSTR text) {
    ::SetWindowTextW(m_hWnd, text);
}

int CWnd::GetWindowText(LPWSTR buffer, int size) const {
    return ::GetWindowTextW(m_hWnd, buffer, size);
}

void CWnd::GetWindowText(CString& text) const {
    const int length = ::GetWindowTextLengthW(m_hWnd);
    std::u16string buffer(static_cast<std::size_t>(length) + 1, u'\0');
    const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    buffer.resize(static_cast<std::size_t>(std::max(copied, 0)));
    text = CString(std::move(buffer));
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthW(m_hWnd);
}

BOOL CWnd::ShowWindow(int command) {
    return ::ShowWindow(m_hWnd, command);
}

BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::EnableWindow(BOOL enable) {
    return ::EnableWindow(m_hWnd, enable);
}

BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

CWnd* CWnd::SetFocus() {
    return FromHandle(::SetFocus(m_hWnd));
}

CWnd* CWnd::GetFocus() {
    return FromHandle(::GetFocus());
}

void CWnd::SetIcon(HICON icon, BOOL big) {
    if (auto record = OwnWindow(m_hWnd)) record->icons[big ? 1 : 0] = icon;
}

HICON CWnd::GetIcon(BOOL big) const {
    auto record = OwnWindow(m_hWnd);
    return record ? record->icons[big ? 1 : 0] : nullptr;
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}

void CWnd::GetWindowRect(LPRECT rect) const {
    ::GetWindowRect(m_hWnd, rect);
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int width, int height, UINT flags) {
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, width, height, flags);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
    if (rect != nullptr) MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

void CWnd::ScreenToClient(LPPOINT point) const {
    ::ScreenToClient(m_hWnd, point);
}

void CWnd::ScreenToClient(LPRECT rect) const {
    if (rect == nullptr) return;
    POINT origin{0, 0};
    ::ClientToScreen(m_hWnd, &origin);
    rect->left -= origin.x;
    rect->right -= origin.x;
    rect->top -= origin.y;
    rect->bottom -= origin.y;
}

void CWnd::ClientToScreen(LPPOINT point) const {
    ::ClientToScreen(m_hWnd, point);
}

void CWnd::ClientToScreen(LPRECT rect) const {
    if (rect == nullptr) return;
    POINT origin{0, 0};
    ::ClientToScreen(m_hWnd, &origin);
    rect->left += origin.x;
    rect->right += origin.x;
    rect->top += origin.y;
    rect->bottom += origin.y;
}

void CWnd::CenterWindow(CWnd* alternateOwner) {
    auto record = OwnWindow(m_hWnd);
    if (!record) return;
    RECT area{0, 0, 1280, 1024};
    HWND over = alternateOwner ? alternateOwner->m_hWnd : record->parent;
    if (over != nullptr) ::GetWindowRect(over, &area);
    const LONG width = record->rect.right - record->rect.left;
    const LONG height = record->rect.bottom - record->rect.top;
    POINT topLeft{(area.left + area.right - width) / 2, (area.top + area.bottom - height) / 2};
    if ((record->style & WS_CHILD) != 0 && record->parent != nullptr) ::ScreenToClient(record->parent, &topLeft);
    ::SetWindowPos(m_hWnd, nullptr, topLeft.x, topLeft.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void CWnd::Invalidate(BOOL erase) {
    ::InvalidateRect(m_hWnd, nullptr, erase);
}

void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) {
    ::InvalidateRect(m_hWnd, rect, erase);
}

void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}

void CWnd::SetDlgItemText(int id, LPCWSTR text) {
    ::SetDlgItemTextW(m_hWnd, id, text);
}

int CWnd::GetDlgItemText(int id, CString& text) const {
    HWND item = ::GetDlgItem(m_hWnd, id);
    if (item == nullptr) {
        text.Empty();
        return 0;
    }
    FromHandle(item)->GetWindowText(text);
    return text.GetLength();
}

UINT CWnd::GetDlgItemInt(int id, BOOL* translated, BOOL isSigned) const {
    return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
}

void CWnd::SetDlgItemInt(int id, UINT value, BOOL isSigned) {
    CString text;
    if (isSigned) {
        text.Format(u"%d", static_cast<int>(value));
    } else {
        text.Format(u"%u", value);
    }
    SetDlgItemText(id, text);
}

void CWnd::CheckDlgButton(int id, UINT check) {
    ::CheckDlgButton(m_hWnd, id, check);
}

UINT CWnd::IsDlgButtonChecked(int id) const {
    return ::IsDlgButtonChecked(m_hWnd, id);
}

void CWnd::CheckRadioButton(int first, int last, int check) {
    ::CheckRadioButton(m_hWnd, first, last, check);
}

int CWnd::GetCheckedRadioButton(int first, int last) const {
    for (int id = first; id <= last; ++id) {
        if (::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED) return id;
    }
    return 0;
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) {
    return ::SetTimer(m_hWnd, id, elapse, proc);
}

BOOL CWnd::KillTimer(UINT_PTR id) {
    return ::KillTimer(m_hWnd, id);
}

const MSG* CWnd::GetCurrentMessage() {
    auto& state = State();
    state.lastSent.pt = state.messagePos;
    state.lastSent.time = state.messageTime;
    return &state.lastSent;
}

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
    return ::MessageBoxW(m_hWnd, text, caption ? caption : AfxGetAppName(), type);
}

void CWnd::BeginWaitCursor() {
    AdjustWaitCursor(+1);
}

void CWnd::EndWaitCursor() {
    AdjustWaitCursor(-1);
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    try {
        DoDataExchange(&exchange);
    } catch (const CDataExchange*) {
        return FALSE;
    }
    return TRUE;
}

int CWnd::RunModalLoop(DWORD) {
    continueModal_ = true;
    if (State().hook == nullptr) StartTerminalFrontEndIfWanted();
    auto& state = State();
    state.modal.push_back(ModalFrame{m_hWnd, this});
    const std::size_t depth = state.modal.size();
    const HWND window = m_hWnd;
    NotifyModal(window, true);
    while (ContinueModal() && ::IsWindow(window)) {
        if (Mfc::PumpMessage()) continue;
        MSG quit;
        if (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) break;
        auto& frame = state.modal[depth - 1];
        if (state.hook != nullptr && state.hook->OnModalIdle(window, frame.idleTurns++)) continue;
        Mfc::WaitForMessage();
    }
    state.modal.erase(state.modal.begin() + static_cast<std::ptrdiff_t>(depth - 1));
    NotifyModal(window, false);
    if (state.modal.empty()) state.retired.clear();
    continueModal_ = false;
    return m_nModalResult;
}

BOOL CWnd::ContinueModal() {
    return continueModal_;
}

void CWnd::EndModalLoop(int result) {
    m_nModalResult = result;
    continueModal_ = false;
    // Wakes a loop waiting for messages.
    ::PostMessageW(nullptr, WM_NULL, 0, 0);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam)) return FALSE;
        *result = 0;
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        LRESULT notifyResult = 0;
        if (!OnNotify(wParam, lParam, &notifyResult)) return FALSE;
        *result = notifyResult;
        return TRUE;
    }
    if (handlers_) {
        for (const auto& entry : handlers_->messages) {
            if (entry.message == message) {
                *result = entry.handler(wParam, lParam);
                return TRUE;
            }
        }
    }
    return FALSE;
}

namespace {

BOOL ReflectToChild(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    CWnd* object = CWnd::FromHandlePermanent(child);
    if (object == nullptr) return FALSE;
    return CWndAccess::ReflectedNotify(*object, message, wParam, lParam, result);
}

}  // namespace

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    const auto control = reinterpret_cast<HWND>(lParam);
    if (control != nullptr && control != m_hWnd && ReflectToChild(control, WM_COMMAND, wParam, lParam, nullptr)) {
        return TRUE;
    }
    if (!handlers_) return FALSE;
    for (const auto& entry : handlers_->controls) {
        if (entry.id == id && entry.code == code) {
            // Copied: the handler may register or destroy things.
            auto handler = entry.handler;
            handler();
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header == nullptr) return FALSE;
    if (header->hwndFrom != nullptr && header->hwndFrom != m_hWnd &&
        ReflectToChild(header->hwndFrom, WM_NOTIFY, header->idFrom, lParam, result)) {
        return TRUE;
    }
    if (!handlers_) return FALSE;
    for (const auto& entry : handlers_->notifies) {
        if (entry.code == header->code && entry.id == header->idFrom) {
            auto handler = entry.handler;
            handler(header, result);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (!handlers_) return FALSE;
    if (message == WM_COMMAND) {
        const UINT code = HIWORD(wParam);
        for (const auto& entry : handlers_->controlReflects) {
            if (entry.code == code) {
                auto handler = entry.handler;
                handler();
                return TRUE;
            }
        }
    } else if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        LRESULT ignored = 0;
        for (const auto& entry : handlers_->notifyReflects) {
            if (entry.code == header->code) {
                auto handler = entry.handler;
                handler(header, result ? result : &ignored);
                return TRUE;
            }
        }
    }
    return FALSE;
}

void CWnd::MapControl(UINT code, UINT id, CommandHandler handler) {
    if (!handlers_) handlers_ = std::make_unique<Handlers>();
    handlers_->controls.push_back({code, id, std::move(handler)});
}

void CWnd::MapNotify(UINT code, UINT id, NotifyHandler handler) {
    if (!handlers_) handlers_ = std::make_unique<Handlers>();
    handlers_->notifies.push_back({code, id, std::move(handler)});
}

void CWnd::MapMessage(UINT message, MessageHandler handler) {
    if (!handlers_) handlers_ = std::make_unique<Handlers>();
    handlers_->messages.push_back({message, std::move(handler)});
}

void CWnd::MapControlReflect(UINT code, CommandHandler handler) {
    if (!handlers_) handlers_ = std::make_unique<Handlers>();
    handlers_->controlReflects.push_back({code, 0, std::move(handler)});
}

void CWnd::MapNotifyReflect(UINT code, NotifyHandler handler) {
    if (!handlers_) handlers_ = std::make_unique<Handlers>();
    handlers_->notifyReflects.push_back({code, 0, std::move(handler)});
}

// ----- Data exchange

HWND CDataExchange::PrepareCtrl(int id) {
    HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (control != nullptr) last_ = control;
    return control;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && last_ != nullptr) {
        ::SetFocus(last_);
        ::SendMessageW(last_, EM_SETSEL, 0, -1);
    }
    throw this;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd != nullptr) return;
    HWND window = dx->PrepareCtrl(id);
    if (window == nullptr || !control.SubclassWindow(window)) dx->Fail();
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    HWND control = dx->PrepareCtrl(id);
    if (control == nullptr) return;
    if (dx->m_bSaveAndValidate) {
        CWnd::FromHandle(control)->GetWindowText(value);
    } else {
        ::SetWindowTextW(control, value);
    }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
    HWND control = dx->PrepareCtrl(id);
    if (control == nullptr) return;
    if (dx->m_bSaveAndValidate) {
        value = static_cast<int>(::SendMessageW(control, BM_GETCHECK, 0, 0));
    } else {
        ::SendMessageW(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    }
}

void DDX_Radio(CDataExchange* dx, int id, int& value) {
    HWND first = dx->PrepareCtrl(id);
    if (first == nullptr) return;
    auto parent = FindWindowRecord(::GetParent(first));
    if (!parent) return;
    auto siblings = Children(*parent);
    auto it = std::find_if(siblings.begin(), siblings.end(), [&](const WindowPtr& w) { return w->handle == first; });
    if (dx->m_bSaveAndValidate) value = -1;
    int index = 0;
    for (; it != siblings.end(); ++it) {
        if (index > 0 && ((*it)->style & WS_GROUP) != 0) break;
        if ((*it)->kind != Kind::Button) continue;
        const DWORD type = (*it)->style & BS_TYPEMASK;
        if (type != BS_AUTORADIOBUTTON && type != BS_RADIOBUTTON) continue;
        if (dx->m_bSaveAndValidate) {
            if (::SendMessageW((*it)->handle, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
        } else {
            ::SendMessageW((*it)->handle, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        ++index;
    }
}

void DDX_CBIndex(CDataExchange* dx, int id, int& index) {
    HWND control = dx->PrepareCtrl(id);
    if (control == nullptr) return;
    if (dx->m_bSaveAndValidate) {
        index = static_cast<int>(::SendMessageW(control, CB_GETCURSEL, 0, 0));
    } else {
        ::SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}
