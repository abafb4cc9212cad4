// Property sheets: pages created on first activation, wizard navigation.
#include "Internal.h"

#include "Mfc/AfxDlgs.h"

#include <algorithm>

using namespace Mfc::detail;

namespace {

constexpr LONG kMargin = 7;
constexpr LONG kButtonWidth = 75;
constexpr LONG kButtonHeight = 23;
constexpr LONG kButtonGap = 6;

HWND FirstTabStop(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    if (!record) return nullptr;
    for (const auto& child : Children(*record)) {
        if ((child->style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) return child->handle;
    }
    return nullptr;
}

}  // namespace

BOOL CPropertyPage::OnSetActive() {
    if (m_hWnd != nullptr) UpdateData(FALSE);
    return TRUE;
}

BOOL CPropertyPage::OnKillActive() {
    return UpdateData(TRUE);
}

BOOL CPropertyPage::OnApply() {
    OnOK();
    return TRUE;
}

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage)
    : parent_(parent), startPage_(selectPage) {
    caption_.LoadString(captionId);
}

CPropertySheet::CPropertySheet(LPCWSTR caption, CWnd* parent, UINT selectPage)
    : caption_(caption), parent_(parent), startPage_(selectPage) {}

void CPropertySheet::AddPage(CPropertyPage* page) {
    if (page == nullptr) return;
    page->sheet_ = this;
    pages_.push_back(page);
}

void CPropertySheet::SetWizardButtons(DWORD flags) {
    if (m_hWnd != nullptr) {
        PostMessage(PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(flags));
    } else {
        wizardButtons_ = flags;
    }
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
    return index >= 0 && index < GetPageCount() ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

int CPropertySheet::GetPageIndex(const CPropertyPage* page) const {
    auto it = std::find(pages_.begin(), pages_.end(), page);
    return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
}

CPropertyPage* CPropertySheet::GetActivePage() const {
    return GetPage(active_);
}

BOOL CPropertySheet::SetActivePage(int index) {
    if (index < 0 || index >= GetPageCount()) return FALSE;
    if (m_hWnd == nullptr) {
        startPage_ = static_cast<UINT>(index);
        return TRUE;
    }
    if (CPropertyPage* current = GetActivePage(); current != nullptr && !current->OnKillActive()) return FALSE;
    return Activate(index, 0);
}

BOOL CPropertySheet::SetActivePage(CPropertyPage* page) {
    return SetActivePage(GetPageIndex(page));
}

BOOL CPropertySheet::PressButton(int button) {
    return static_cast<BOOL>(SendMessage(PSM_PRESSBUTTON, static_cast<WPARAM>(button)));
}

void CPropertySheet::EndDialog(int result) {
    EndModalLoop(result);
}

INT_PTR CPropertySheet::DoModal() {
    if (!StartModal()) return -1;
    if (ContinueModal()) RunModalLoop();
    return FinishModal();
}

bool CPropertySheet::StartModal() {
    if (m_hWnd != nullptr || pages_.empty()) return false;
    LONG pageWidth = 0, pageHeight = 0;
    for (CPropertyPage* page : pages_) {
        auto t = Platform::FindDialogTemplate(AfxGetResourceHandle(), page->GetTemplateId());
        if (!t) return false;
        const RECT size = DialogUnitsToPixels(0, 0, t->cx, t->cy);
        pageWidth = std::max(pageWidth, size.right);
        pageHeight = std::max(pageHeight, size.bottom);
    }
    const bool wizard = IsWizard();
    const int buttons = wizard ? 4 : 3;
    const LONG width = std::max(pageWidth + 2 * kMargin, buttons * (kButtonWidth + kButtonGap) + kMargin);
    const LONG height = kMargin + pageHeight + kMargin + kButtonHeight + kMargin;

    HWND owner = parent_ != nullptr ? TopLevel(parent_->m_hWnd) : nullptr;
    RECT area{0, 0, 1280, 1024};
    if (owner != nullptr) ::GetWindowRect(owner, &area);
    const LONG left = std::max<LONG>((area.left + area.right - width) / 2, 0);
    const LONG top = std::max<LONG>((area.top + area.bottom - height) / 2, 0);
    auto record = CreateWindowRecord(Kind::Dialog, u"#32770", caption_.str(), WS_POPUP | WS_CAPTION | WS_SYSMENU, 0,
                                     RECT{left, top, left + width, top + height}, owner, 0);
    if (!record) return false;
    record->object = this;
    m_hWnd = record->handle;

    struct Button {
        int id;
        const char16_t* text;
        DWORD type;
    };
    const std::vector<Button> row = wizard ? std::vector<Button>{{ID_WIZBACK, u"< &Back", BS_PUSHBUTTON},
                                                                 {ID_WIZNEXT, u"&Next >", BS_DEFPUSHBUTTON},
                                                                 {ID_WIZFINISH, u"&Finish", BS_PUSHBUTTON},
                                                                 {IDCANCEL, u"Cancel", BS_PUSHBUTTON},
                                                                 {IDHELP, u"&Help", BS_PUSHBUTTON}}
                                           : std::vector<Button>{{IDOK, u"OK", BS_DEFPUSHBUTTON},
                                                                 {IDCANCEL, u"Cancel", BS_PUSHBUTTON},
                                                                 {IDHELP, u"&Help", BS_PUSHBUTTON}};
    const LONG buttonTop = height - kMargin - kButtonHeight;
    LONG x = width - kMargin - buttons * (kButtonWidth + kButtonGap) + kButtonGap;
    for (const auto& b : row) {
        // Finish shares Next's place and shows instead of it.
        if (b.id == ID_WIZFINISH) x -= kButtonWidth + kButtonGap;
        const DWORD visible = b.id == ID_WIZFINISH ? 0 : WS_VISIBLE;
        CreateWindowRecord(Kind::Button, WC_BUTTON, b.text, WS_CHILD | WS_TABSTOP | visible | b.type, 0,
                           RECT{x, buttonTop, x + kButtonWidth, buttonTop + kButtonHeight}, m_hWnd,
                           static_cast<UINT>(b.id));
        x += kButtonWidth + kButtonGap;
    }

    disabledParent_ = nullptr;
    if (owner != nullptr && ::IsWindowEnabled(owner)) {
        ::EnableWindow(owner, FALSE);
        disabledParent_ = owner;
    }
    m_nModalResult = -1;
    CWndAccess::SetContinueModal(*this, true);
    CallWindow(m_hWnd, WM_INITDIALOG, 0, 0);
    if (wizard) ApplyWizardButtons();
    const int start = std::min<int>(static_cast<int>(startPage_), GetPageCount() - 1);
    if (!::IsWindow(m_hWnd) || !Activate(start, +1)) {
        FinishModal();
        return false;
    }
    ::ShowWindow(m_hWnd, SW_SHOW);
    return true;
}

INT_PTR CPropertySheet::FinishModal() {
    if (disabledParent_ != nullptr) {
        ::EnableWindow(disabledParent_, TRUE);
        disabledParent_ = nullptr;
    }
    if (m_hWnd != nullptr) DestroyWindow();
    active_ = -1;
    CWndAccess::SetContinueModal(*this, false);
    return m_nModalResult;
}

bool CPropertySheet::Activate(int index, int direction) {
    while (index >= 0 && index < GetPageCount()) {
        CPropertyPage* page = pages_[static_cast<std::size_t>(index)];
        if (page->m_hWnd == nullptr) {
            auto t = Platform::FindDialogTemplate(AfxGetResourceHandle(), page->GetTemplateId());
            if (!t) return false;
            auto child = std::make_shared<Platform::DialogTemplate>(*t);
            child->style = (child->style & ~(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE)) |
                           WS_CHILD | DS_CONTROL;
            page->sheet_ = this;
            if (!page->CreateIndirect(child, this)) return false;
            if (auto record = FindWindowRecord(page->m_hWnd)) record->dialogKeysToParent = true;
            ::SetWindowPos(page->m_hWnd, nullptr, kMargin, kMargin, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
        CPropertyPage* previous = GetActivePage();
        if (previous != nullptr && previous != page && previous->m_hWnd != nullptr) {
            ::ShowWindow(previous->m_hWnd, SW_HIDE);
        }
        active_ = index;
        ::ShowWindow(page->m_hWnd, SW_SHOW);
        if (page->OnSetActive()) {
            if (HWND first = FirstTabStop(page->m_hWnd)) ::SetFocus(first);
            return true;
        }
        ::ShowWindow(page->m_hWnd, SW_HIDE);
        if (direction == 0) return false;
        index += direction;
    }
    return false;
}

int CPropertySheet::IndexOfTemplate(LRESULT templateId) const {
    for (int i = 0; i < GetPageCount(); ++i) {
        if (static_cast<LRESULT>(pages_[static_cast<std::size_t>(i)]->GetTemplateId()) == templateId) return i;
    }
    return -1;
}

void CPropertySheet::ApplyWizardButtons() {
    const DWORD flags = wizardButtons_;
    const bool finish = (flags & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) != 0;
    auto set = [&](int id, bool visible, bool enabled) {
        HWND button = ::GetDlgItem(m_hWnd, id);
        if (button == nullptr) return;
        ::ShowWindow(button, visible ? SW_SHOW : SW_HIDE);
        ::EnableWindow(button, enabled);
        ::SendMessageW(button, BM_SETSTYLE, id == (finish ? ID_WIZFINISH : ID_WIZNEXT) ? BS_DEFPUSHBUTTON : 0, 0);
    };
    set(ID_WIZBACK, true, (flags & PSWIZB_BACK) != 0);
    set(ID_WIZNEXT, !finish, (flags & PSWIZB_NEXT) != 0);
    set(ID_WIZFINISH, finish, (flags & PSWIZB_FINISH) != 0);
    if (auto record = FindWindowRecord(m_hWnd))
        record->defaultId = static_cast<UINT>(finish ? ID_WIZFINISH : ID_WIZNEXT);
}

void CPropertySheet::Navigate(int direction) {
    CPropertyPage* page = GetActivePage();
    if (page == nullptr) return;
    const LRESULT target = direction > 0 ? page->OnWizardNext() : page->OnWizardBack();
    if (target == -1) return;
    const int index = target == 0 ? active_ + direction : IndexOfTemplate(target);
    if (index < 0 || index >= GetPageCount()) return;
    if (!page->OnKillActive()) return;
    const int previous = active_;
    if (!Activate(index, target == 0 ? direction : 0)) Activate(previous, 0);
}

void CPropertySheet::Finish() {
    CPropertyPage* page = GetActivePage();
    if (page != nullptr && !page->OnWizardFinish()) return;
    EndDialog(ID_WIZFINISH);
}

void CPropertySheet::Ok() {
    CPropertyPage* page = GetActivePage();
    if (page != nullptr && !page->OnKillActive()) return;
    for (CPropertyPage* p : pages_) {
        if (p->m_hWnd != nullptr && !p->OnApply()) return;
    }
    EndDialog(IDOK);
}

void CPropertySheet::Cancel() {
    CPropertyPage* page = GetActivePage();
    if (page != nullptr && !page->OnQueryCancel()) return;
    for (CPropertyPage* p : pages_) {
        if (p->m_hWnd != nullptr) p->OnCancel();
    }
    EndDialog(IDCANCEL);
}

BOOL CPropertySheet::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (message) {
        case WM_INITDIALOG:
            *result = OnInitDialog();
            return TRUE;
        case PSM_SETWIZBUTTONS:
            wizardButtons_ = static_cast<DWORD>(lParam);
            if (IsWizard()) ApplyWizardButtons();
            *result = 0;
            return TRUE;
        case PSM_SETCURSEL:
            *result = SetActivePage(static_cast<int>(wParam));
            return TRUE;
        case PSM_PRESSBUTTON: {
            // The press is posted, so it happens after the current message:
            // a page may ask for it from inside its own handler.
            static constexpr int kIds[] = {ID_WIZBACK, ID_WIZNEXT, ID_WIZFINISH, IDOK, 0, IDCANCEL, IDHELP};
            const auto button = static_cast<std::size_t>(wParam);
            if (button < std::size(kIds) && kIds[button] != 0) {
                PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(kIds[button]), BN_CLICKED), 0);
            }
            *result = TRUE;
            return TRUE;
        }
        default:
            return CWnd::OnWndMsg(message, wParam, lParam, result);
    }
}

BOOL CPropertySheet::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (CWnd::OnCommand(wParam, lParam)) return TRUE;
    if (HIWORD(wParam) != BN_CLICKED) return FALSE;
    switch (LOWORD(wParam)) {
        case ID_WIZBACK:
            Navigate(-1);
            return TRUE;
        case ID_WIZNEXT:
            Navigate(+1);
            return TRUE;
        case ID_WIZFINISH:
            Finish();
            return TRUE;
        case IDOK:
            Ok();
            return TRUE;
        case IDCANCEL:
            Cancel();
            return TRUE;
        default:
            return FALSE;
    }
}
