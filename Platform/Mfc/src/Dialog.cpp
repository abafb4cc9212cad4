// Dialogs from templates, modal and modeless, and the control classes.
#include "Internal.h"

#include <algorithm>

using namespace Mfc::detail;

namespace {

constexpr RECT kScreen{0, 0, 1280, 1024};

HWND FirstTabStop(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    if (!record) return nullptr;
    for (const auto& child : Children(*record)) {
        if ((child->style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) return child->handle;
    }
    return nullptr;
}

CWnd* ModalObject(HWND window) {
    for (const auto& frame : State().modal) {
        if (frame.window == window) return frame.object;
    }
    return nullptr;
}

}  // namespace

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (!OwnWindow(dialog)) return FALSE;
    if (CWnd* object = ModalObject(dialog)) {
        object->EndModalLoop(static_cast<int>(result));
    } else {
        ::ShowWindow(dialog, SW_HIDE);
    }
    return TRUE;
}

namespace {

RECT DialogRect(const Platform::DialogTemplate& t, HWND parent) {
    const RECT size = DialogUnitsToPixels(0, 0, t.cx, t.cy);
    if ((t.style & WS_CHILD) != 0) return size;
    RECT area = kScreen;
    if (parent != nullptr) ::GetWindowRect(parent, &area);
    const LONG left = std::max<LONG>((area.left + area.right - size.right) / 2, 0);
    const LONG top = std::max<LONG>((area.top + area.bottom - size.bottom) / 2, 0);
    return RECT{left, top, left + size.right, top + size.bottom};
}

void CreateItems(const Platform::DialogTemplate& t, HWND dialog) {
    for (const auto& item : t.items) {
        const RECT r = DialogUnitsToPixels(item.x, item.y, item.cx, item.cy);
        CreateWindowRecord(KindOfClass(item.windowClass), item.windowClass, item.text, item.style | WS_CHILD,
                           item.exStyle, r, dialog, item.id);
    }
}

}  // namespace

HWND CreateDialogIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW dialogTemplate, HWND parent, DLGPROC proc, LPARAM init) {
    if (dialogTemplate == nullptr || proc == nullptr || (parent != nullptr && !OwnWindow(parent))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto& t = *dialogTemplate;
    auto record = CreateWindowRecord(Kind::Dialog, u"#32770", t.caption, t.style & ~WS_VISIBLE, t.exStyle,
                                     DialogRect(t, parent), parent, 0);
    if (!record) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const HWND window = record->handle;
    CreateItems(t, window);
    // The procedure takes over only now, so it sees WM_INITDIALOG first.
    record->dialogProc = proc;
    const HWND first = FirstTabStop(window);
    const LRESULT focusDefault = CallWindow(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), init);
    if (!::IsWindow(window)) return nullptr;
    if (focusDefault != 0 && first != nullptr && ::IsWindow(first)) ::SetFocus(first);
    if ((t.style & WS_VISIBLE) != 0) ::ShowWindow(window, SW_SHOW);
    return window;
}

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR name, HWND parent, DLGPROC proc, LPARAM init) {
    UINT id = 0;
    if (name != nullptr && IS_INTRESOURCE(name)) {
        id = static_cast<UINT>(reinterpret_cast<std::uintptr_t>(name));
    } else if (name != nullptr && name[0] == u'#') {
        for (const char16_t* p = name + 1; *p >= u'0' && *p <= u'9' && id <= 0xFFFF; ++p) id = id * 10 + (*p - u'0');
    }
    auto dialogTemplate = Platform::FindDialogTemplate(instance, id);
    if (!dialogTemplate) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    // The template stays with its module, which outlives its dialogs.
    return CreateDialogIndirectParamW(instance, dialogTemplate.get(), parent, proc, init);
}

BOOL CDialog::CreateFromTemplate(std::shared_ptr<const Platform::DialogTemplate> dialogTemplate, HWND parent) {
    if (m_hWnd != nullptr || !dialogTemplate) return FALSE;
    const auto& t = *dialogTemplate;
    auto record = CreateWindowRecord(Kind::Dialog, u"#32770", t.caption, t.style & ~WS_VISIBLE, t.exStyle,
                                     DialogRect(t, parent), parent, 0);
    if (!record) return FALSE;
    record->object = this;
    m_hWnd = record->handle;
    CreateItems(t, m_hWnd);
    const HWND window = m_hWnd;
    const HWND first = FirstTabStop(window);
    const LRESULT focusDefault = CallWindow(window, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), 0);
    if (!::IsWindow(window)) return FALSE;
    if (focusDefault != 0) {
        // The control given with the message, unless it has gone.
        ::SetFocus(first != nullptr && ::IsWindow(first) ? first : FirstTabStop(window));
    }
    if ((t.style & WS_VISIBLE) != 0) ::ShowWindow(window, SW_SHOW);
    return TRUE;
}

INT_PTR CDialog::DoModal() {
    if (!StartModal()) return -1;
    if (ContinueModal()) RunModalLoop();
    return FinishModal();
}

bool CDialog::StartModal() {
    auto dialogTemplate = indirect_ ? indirect_ : Platform::FindDialogTemplate(AfxGetResourceHandle(), m_nIDHelp);
    if (!dialogTemplate || m_hWnd != nullptr) return false;
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    if (owner == nullptr && AfxGetMainWnd() != nullptr && AfxGetMainWnd() != this) owner = AfxGetMainWnd()->m_hWnd;
    owner = owner != nullptr ? TopLevel(owner) : nullptr;
    // The owner takes no input while its modal child runs.
    disabledParent_ = nullptr;
    if (owner != nullptr && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        disabledParent_ = owner;
    }
    focusBefore_ = ::GetFocus();
    modal_ = true;
    m_nModalResult = -1;
    CWndAccess::SetContinueModal(*this, true);
    if (!CreateFromTemplate(std::move(dialogTemplate), owner)) {
        FinishModal();
        return false;
    }
    if (ContinueModal()) ::ShowWindow(m_hWnd, SW_SHOW);
    return true;
}

INT_PTR CDialog::FinishModal() {
    if (disabledParent_ != nullptr) {
        ::EnableWindow(disabledParent_, TRUE);
        disabledParent_ = nullptr;
    }
    if (m_hWnd != nullptr) {
        ::ShowWindow(m_hWnd, SW_HIDE);
        DestroyWindow();
    }
    if (focusBefore_ != nullptr && ::IsWindow(focusBefore_)) ::SetFocus(focusBefore_);
    focusBefore_ = nullptr;
    modal_ = false;
    CWndAccess::SetContinueModal(*this, false);
    return m_nModalResult;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_nIDHelp = templateId;
    m_pParentWnd = parent;
    return CreateFromTemplate(Platform::FindDialogTemplate(AfxGetResourceHandle(), templateId),
                              parent ? parent->m_hWnd : nullptr);
}

BOOL CDialog::CreateIndirect(std::shared_ptr<const Platform::DialogTemplate> dialogTemplate, CWnd* parent) {
    m_pParentWnd = parent;
    return CreateFromTemplate(std::move(dialogTemplate), parent ? parent->m_hWnd : nullptr);
}

void CDialog::EndDialog(int result) {
    if (modal_) {
        EndModalLoop(result);
    } else if (m_hWnd != nullptr) {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_INITDIALOG) {
        *result = OnInitDialog();
        return TRUE;
    }
    return CWnd::OnWndMsg(message, wParam, lParam, result);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (CWnd::OnCommand(wParam, lParam)) return TRUE;
    if (HIWORD(wParam) != BN_CLICKED) return FALSE;
    if (LOWORD(wParam) == IDOK) {
        OnOK();
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}

void CDialog::SetDefID(UINT id) {
    SendMessage(DM_SETDEFID, id, 0);
}

DWORD CDialog::GetDefID() const {
    return static_cast<DWORD>(SendMessage(DM_GETDEFID, 0, 0));
}

void CDialog::GotoDlgCtrl(CWnd* control) {
    if (control == nullptr) return;
    ::SetFocus(control->m_hWnd);
    if (auto record = OwnWindow(control->m_hWnd); record && record->kind == Kind::Edit) {
        ::SendMessageW(control->m_hWnd, EM_SETSEL, 0, -1);
    }
}

void CDialog::MapDialogRect(LPRECT rect) const {
    ::MapDialogRect(m_hWnd, rect);
}

// ----- Buttons, edits, combo boxes

int CButton::GetCheck() const {
    return static_cast<int>(SendMessage(BM_GETCHECK));
}

void CButton::SetCheck(int check) {
    SendMessage(BM_SETCHECK, static_cast<WPARAM>(check));
}

UINT CButton::GetButtonStyle() const {
    return GetStyle() & BS_TYPEMASK;
}

void CButton::SetButtonStyle(UINT style, BOOL redraw) {
    SendMessage(BM_SETSTYLE, style, redraw);
}

void CEdit::SetLimitText(UINT limit) {
    SendMessage(EM_LIMITTEXT, limit);
}

UINT CEdit::GetLimitText() const {
    return static_cast<UINT>(SendMessage(EM_GETLIMITTEXT));
}

void CEdit::SetSel(int start, int end, BOOL) {
    SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end);
}

void CEdit::GetSel(int& start, int& end) const {
    DWORD s = 0, e = 0;
    SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    start = static_cast<int>(s);
    end = static_cast<int>(e);
}

void CEdit::ReplaceSel(LPCWSTR text, BOOL canUndo) {
    SendMessage(EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(text));
}

void CEdit::SetPasswordChar(char16_t c) {
    SendMessage(EM_SETPASSWORDCHAR, c);
}

char16_t CEdit::GetPasswordChar() const {
    return static_cast<char16_t>(SendMessage(EM_GETPASSWORDCHAR));
}

BOOL CEdit::SetReadOnly(BOOL readOnly) {
    return static_cast<BOOL>(SendMessage(EM_SETREADONLY, readOnly));
}

int CComboBox::AddString(LPCWSTR text) {
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

int CComboBox::InsertString(int index, LPCWSTR text) {
    return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
}

int CComboBox::DeleteString(UINT index) {
    return static_cast<int>(SendMessage(CB_DELETESTRING, index));
}

void CComboBox::ResetContent() {
    SendMessage(CB_RESETCONTENT);
}

int CComboBox::GetCount() const {
    return static_cast<int>(SendMessage(CB_GETCOUNT));
}

int CComboBox::GetCurSel() const {
    return static_cast<int>(SendMessage(CB_GETCURSEL));
}

int CComboBox::SetCurSel(int index) {
    return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index)));
}

DWORD_PTR CComboBox::GetItemData(int index) const {
    return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(index)));
}

int CComboBox::SetItemData(int index, DWORD_PTR data) {
    return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
}

int CComboBox::GetLBText(int index, LPWSTR buffer) const {
    return static_cast<int>(SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer)));
}

void CComboBox::GetLBText(int index, CString& text) const {
    const int length = GetLBTextLen(index);
    if (length < 0) {
        text.Empty();
        return;
    }
    std::u16string buffer(static_cast<std::size_t>(length) + 1, u'\0');
    GetLBText(index, buffer.data());
    buffer.resize(static_cast<std::size_t>(length));
    text = CString(std::move(buffer));
}

int CComboBox::GetLBTextLen(int index) const {
    return static_cast<int>(SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index)));
}

int CComboBox::FindString(int start, LPCWSTR prefix) const {
    return static_cast<int>(SendMessage(CB_FINDSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(prefix)));
}

int CComboBox::FindStringExact(int start, LPCWSTR text) const {
    return static_cast<int>(
        SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(text)));
}

int CComboBox::SelectString(int start, LPCWSTR prefix) {
    return static_cast<int>(SendMessage(CB_SELECTSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(prefix)));
}

BOOL CComboBox::GetDroppedState() const {
    return static_cast<BOOL>(SendMessage(CB_GETDROPPEDSTATE));
}

void CComboBox::ShowDropDown(BOOL show) {
    SendMessage(CB_SHOWDROPDOWN, show);
}

// ----- List views

int CHeaderCtrl::GetItemCount() const {
    return static_cast<int>(SendMessage(HDM_GETITEMCOUNT));
}

int CListCtrl::InsertColumn(int column, LPCWSTR heading, int format, int width, int subItem) {
    LVCOLUMNW c;
    c.mask = LVCF_TEXT | LVCF_FMT | (width != -1 ? LVCF_WIDTH : 0) | (subItem != -1 ? LVCF_SUBITEM : 0);
    c.pszText = const_cast<LPWSTR>(heading);
    c.fmt = format;
    c.cx = width;
    c.iSubItem = subItem;
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&c)));
}

BOOL CListCtrl::DeleteColumn(int column) {
    return static_cast<BOOL>(SendMessage(LVM_DELETECOLUMN, static_cast<WPARAM>(column)));
}

int CListCtrl::GetColumnWidth(int column) const {
    return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)));
}

BOOL CListCtrl::SetColumnWidth(int column, int width) {
    return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), width));
}

CHeaderCtrl* CListCtrl::GetHeaderCtrl() const {
    return static_cast<CHeaderCtrl*>(FromHandle(reinterpret_cast<HWND>(SendMessage(LVM_GETHEADER))));
}

DWORD CListCtrl::SetExtendedStyle(DWORD style) {
    return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(style)));
}

DWORD CListCtrl::GetExtendedStyle() const {
    return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
}

int CListCtrl::InsertItem(int item, LPCWSTR text) {
    return InsertItem(LVIF_TEXT, item, text, 0, 0, 0, 0);
}

int CListCtrl::InsertItem(const LVITEMW* item) {
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(item)));
}

int CListCtrl::InsertItem(UINT mask, int item, LPCWSTR text, UINT state, UINT stateMask, int image, LPARAM data) {
    LVITEMW i;
    i.mask = mask;
    i.iItem = item;
    i.pszText = const_cast<LPWSTR>(text);
    i.state = state;
    i.stateMask = stateMask;
    i.iImage = image;
    i.lParam = data;
    return InsertItem(&i);
}

BOOL CListCtrl::SetItemText(int item, int subItem, LPCWSTR text) {
    LVITEMW i;
    i.iSubItem = subItem;
    i.pszText = const_cast<LPWSTR>(text);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&i)));
}

CString CListCtrl::GetItemText(int item, int subItem) const {
    std::u16string buffer(256, u'\0');
    for (;;) {
        LVITEMW i;
        i.iSubItem = subItem;
        i.pszText = buffer.data();
        i.cchTextMax = static_cast<int>(buffer.size());
        const auto n = static_cast<std::size_t>(
            SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&i)));
        if (n + 1 < buffer.size()) {
            buffer.resize(n);
            return CString(std::move(buffer));
        }
        buffer.assign(buffer.size() * 2, u'\0');
    }
}

BOOL CListCtrl::SetItemData(int item, DWORD_PTR data) {
    LVITEMW i;
    i.mask = LVIF_PARAM;
    i.iItem = item;
    i.lParam = static_cast<LPARAM>(data);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&i)));
}

DWORD_PTR CListCtrl::GetItemData(int item) const {
    LVITEMW i;
    i.mask = LVIF_PARAM;
    i.iItem = item;
    if (!SendMessage(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&i))) return 0;
    return static_cast<DWORD_PTR>(i.lParam);
}

BOOL CListCtrl::DeleteItem(int item) {
    return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(item)));
}

BOOL CListCtrl::DeleteAllItems() {
    return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS));
}

int CListCtrl::GetItemCount() const {
    return static_cast<int>(SendMessage(LVM_GETITEMCOUNT));
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
    LVITEMW i;
    i.state = state;
    i.stateMask = mask;
    return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&i)));
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(item), static_cast<LPARAM>(mask)));
}

int CListCtrl::GetNextItem(int item, int flags) const {
    return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(item), flags));
}

UINT CListCtrl::GetSelectedCount() const {
    return static_cast<UINT>(SendMessage(LVM_GETSELECTEDCOUNT));
}

POSITION CListCtrl::GetFirstSelectedItemPosition() const {
    const int first = GetNextItem(-1, LVNI_SELECTED);
    return first < 0 ? nullptr : reinterpret_cast<POSITION>(static_cast<std::uintptr_t>(first) + 1);
}

int CListCtrl::GetNextSelectedItem(POSITION& position) const {
    const int index = static_cast<int>(reinterpret_cast<std::uintptr_t>(position)) - 1;
    const int next = GetNextItem(index, LVNI_SELECTED);
    position = next < 0 ? nullptr : reinterpret_cast<POSITION>(static_cast<std::uintptr_t>(next) + 1);
    return index;
}

int CListCtrl::HitTest(POINT point, UINT* flags) const {
    LVHITTESTINFO info;
    info.pt = point;
    const int item = HitTest(&info);
    if (flags != nullptr) *flags = info.flags;
    return item;
}

int CListCtrl::HitTest(LVHITTESTINFO* info) const {
    return static_cast<int>(SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(info)));
}

BOOL CListCtrl::GetItemRect(int item, LPRECT rect, UINT code) const {
    if (rect == nullptr) return FALSE;
    rect->left = static_cast<LONG>(code);
    return static_cast<BOOL>(SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(rect)));
}

BOOL CListCtrl::EnsureVisible(int item, BOOL partialOk) {
    return static_cast<BOOL>(SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(item), partialOk));
}

int CListCtrl::GetTopIndex() const {
    return static_cast<int>(SendMessage(LVM_GETTOPINDEX));
}

int CListCtrl::GetCountPerPage() const {
    return static_cast<int>(SendMessage(LVM_GETCOUNTPERPAGE));
}

// ----- IP address controls

int CIPAddressCtrl::GetAddress(BYTE& a, BYTE& b, BYTE& c, BYTE& d) const {
    DWORD address = 0;
    const int filled = GetAddress(address);
    a = FIRST_IPADDRESS(address);
    b = SECOND_IPADDRESS(address);
    c = THIRD_IPADDRESS(address);
    d = FOURTH_IPADDRESS(address);
    return filled;
}

int CIPAddressCtrl::GetAddress(DWORD& address) const {
    return static_cast<int>(SendMessage(IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address)));
}

void CIPAddressCtrl::SetAddress(BYTE a, BYTE b, BYTE c, BYTE d) {
    SetAddress(MAKEIPADDRESS(a, b, c, d));
}

void CIPAddressCtrl::SetAddress(DWORD address) {
    SendMessage(IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

void CIPAddressCtrl::ClearAddress() {
    SendMessage(IPM_CLEARADDRESS);
}

BOOL CIPAddressCtrl::IsBlank() const {
    return static_cast<BOOL>(SendMessage(IPM_ISBLANK));
}
