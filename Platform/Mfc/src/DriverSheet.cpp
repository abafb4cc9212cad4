// The driver's property sheet: pages of a plug-in run by their raw dialog
// procedures inside one modal frame.
#include "Mfc/DriverSheet.h"

#include <algorithm>
#include <string>

namespace Mfc {

namespace {

constexpr int kMargin = 5;
constexpr int kTabHeight = 14;
constexpr int kTabWidth = 70;
constexpr int kButtonWidth = 50;
constexpr int kPageTop = kMargin + kTabHeight + 4;

}  // namespace

struct DriverPropertySheet::Page {
    std::size_t block = 0;
    DLGPAGE page{};
    HINSTANCE instance = nullptr;
    Platform::DialogTemplate pane;  // the page's template as a child pane
    std::u16string tab;
    PROPSHEETPAGEW header{};
    HWND window = nullptr;
};

DriverPropertySheet::DriverPropertySheet(Platform::PrinterUiHost& host, std::u16string caption)
    : host_(host), caption_(std::move(caption)) {
    const auto& blocks = host_.Blocks();
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const auto& block = blocks[b].block;
        for (const DLGPAGE& page : blocks[b].pages) {
            if (page.DlgProc == nullptr) continue;
            const Platform::DialogTemplate* found = nullptr;
            std::shared_ptr<const Platform::DialogTemplate> held;
            if ((page.Flags & DPF_USE_HDLGTEMPLATE) != 0) {
                found = static_cast<LPCDLGTEMPLATEW>(page.hDlgTemplate);
            } else {
                held = Platform::FindDialogTemplate(block.hInstCaller, page.DlgTemplateID);
                found = held.get();
            }
            if (found == nullptr) continue;
            auto entry = std::make_unique<Page>();
            entry->block = b;
            entry->page = page;
            entry->instance = block.hInstCaller;
            entry->pane = *found;
            entry->pane.style = (entry->pane.style & ~(WS_POPUP | WS_CAPTION | WS_VISIBLE)) | WS_CHILD | DS_CONTROL;
            const std::string number = std::to_string(pages_.size() + 1);
            entry->tab = page.pTabName != nullptr && page.pTabName[0] != 0 ? std::u16string(page.pTabName)
                         : !found->caption.empty()                         ? found->caption
                                                   : u"Page " + std::u16string(number.begin(), number.end());
            // The page finds its block through the header's lParam.
            entry->header.dwSize = sizeof(PROPSHEETPAGEW);
            entry->header.hInstance = block.hInstCaller;
            entry->header.pfnDlgProc = page.DlgProc;
            entry->header.lParam = static_cast<LPARAM>(block.UserData);
            pages_.push_back(std::move(entry));
        }
    }
}

DriverPropertySheet::~DriverPropertySheet() = default;

HWND DriverPropertySheet::PageWindow(std::size_t page) const {
    return page < pages_.size() ? pages_[page]->window : nullptr;
}

bool DriverPropertySheet::StartModal() {
    if (pages_.empty() || open_) return false;
    int cx = 200, cy = 60;
    for (const auto& page : pages_) {
        cx = std::max(cx, page->pane.cx);
        cy = std::max(cy, page->pane.cy);
    }
    cx = std::max(cx, static_cast<int>(pages_.size()) * (kTabWidth + 2));
    auto frame = std::make_shared<Platform::DialogTemplate>();
    frame->caption = caption_;
    frame->cx = cx + 2 * kMargin;
    frame->cy = kPageTop + cy + kMargin + kTabHeight + kMargin;
    frame->style = WS_POPUP | WS_CAPTION;
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        frame->items.push_back({WC_BUTTON, static_cast<UINT>(ID_SHEET_PAGE_FIRST + i), pages_[i]->tab,
                                kMargin + static_cast<int>(i) * (kTabWidth + 2), kMargin, kTabWidth, kTabHeight,
                                BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0});
    }
    const int buttons = kPageTop + cy + kMargin;
    const int right = frame->cx - kMargin;
    frame->items.push_back({WC_BUTTON, IDOK, u"OK", right - 3 * kButtonWidth - 8, buttons, kButtonWidth, kTabHeight,
                            BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0});
    frame->items.push_back({WC_BUTTON, IDCANCEL, u"Cancel", right - 2 * kButtonWidth - 4, buttons, kButtonWidth,
                            kTabHeight, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0});
    frame->items.push_back({WC_BUTTON, ID_APPLY_NOW, u"Apply", right - kButtonWidth, buttons, kButtonWidth, kTabHeight,
                            BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 0});
    InitModalIndirect(std::move(frame));
    open_ = true;
    return CDialog::StartModal();
}

INT_PTR DriverPropertySheet::FinishModal() {
    const INT_PTR result = CDialog::FinishModal();
    for (auto& page : pages_) page->window = nullptr;
    if (open_) {
        open_ = false;
        host_.SheetEvent(PROPSHEETUI_REASON_SET_RESULT, result == IDOK ? CPSUI_OK : CPSUI_CANCEL);
        host_.SheetEvent(PROPSHEETUI_REASON_DESTROY);
    }
    return result;
}

BOOL DriverPropertySheet::OnInitDialog() {
    RECT origin{kMargin, kPageTop, 0, 0};
    ::MapDialogRect(m_hWnd, &origin);
    for (auto& page : pages_) {
        page->window = CreateDialogIndirectParamW(page->instance, &page->pane, m_hWnd, page->page.DlgProc,
                                                  reinterpret_cast<LPARAM>(&page->header));
        if (page->window != nullptr)
            ::SetWindowPos(page->window, nullptr, origin.left, origin.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    active_ = pages_.size();
    SetActivePage(0);
    return TRUE;
}

void DriverPropertySheet::SetActivePage(std::size_t page) {
    if (page >= pages_.size() || page == active_) return;
    if (active_ < pages_.size()) {
        const auto& leaving = *pages_[active_];
        host_.BlockCallback(leaving.block, CPSUICB_REASON_KILLACTIVE, leaving.window);
        if (leaving.window != nullptr) ::ShowWindow(leaving.window, SW_HIDE);
    }
    active_ = page;
    const auto& entering = *pages_[active_];
    if (entering.window != nullptr) ::ShowWindow(entering.window, SW_SHOW);
    host_.BlockCallback(entering.block, CPSUICB_REASON_SETACTIVE, entering.window);
}

void DriverPropertySheet::Apply() {
    std::size_t last = static_cast<std::size_t>(-1);
    for (const auto& page : pages_) {
        if (page->block == last) continue;
        last = page->block;
        host_.BlockCallback(page->block, CPSUICB_REASON_APPLYNOW, page->window);
    }
}

BOOL DriverPropertySheet::OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    if (HIWORD(wParam) == BN_CLICKED && id >= ID_SHEET_PAGE_FIRST &&
        id < ID_SHEET_PAGE_FIRST + static_cast<int>(pages_.size())) {
        SetActivePage(static_cast<std::size_t>(id - ID_SHEET_PAGE_FIRST));
        return TRUE;
    }
    if (HIWORD(wParam) == BN_CLICKED && id == ID_APPLY_NOW) {
        Apply();
        return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
}

void DriverPropertySheet::OnOK() {
    Apply();
    EndDialog(IDOK);
}

}  // namespace Mfc
