// The printer driver's property sheet around the pages a user-interface
// plug-in added (Platform::PrinterUiHost): a row of page buttons, the
// current page below them, then OK, Cancel and Apply. Moving between pages
// gives the pages' blocks CPSUICB_REASON_KILLACTIVE and SETACTIVE; Apply
// and OK give every block CPSUICB_REASON_APPLYNOW. When the sheet ends the
// plug-in's sheet operation hears the result (PROPSHEETUI_REASON_SET_RESULT)
// and then PROPSHEETUI_REASON_DESTROY. The terminal front end and the test
// driver run it like any dialog.
#pragma once

#include "Mfc/AfxWin.h"

#include "Platform/DriverHost.h"

#include <memory>
#include <string>
#include <vector>

namespace Mfc {

constexpr int ID_APPLY_NOW = 0x3021;
// Page buttons, one per page in the order the pages were added.
constexpr int ID_SHEET_PAGE_FIRST = 0x3100;

class DriverPropertySheet : public CDialog {
public:
    DriverPropertySheet(Platform::PrinterUiHost& host, std::u16string caption);
    ~DriverPropertySheet() override;

    // DoModal gives IDOK or IDCANCEL; -1 when the sheet has no page that
    // could be made.
    bool StartModal() override;
    INT_PTR FinishModal() override;

    std::size_t PageCount() const { return pages_.size(); }
    // The page's dialog while the sheet is open, else null.
    HWND PageWindow(std::size_t page) const;
    std::size_t ActivePage() const { return active_; }
    void SetActivePage(std::size_t page);
    // Every block's callback with CPSUICB_REASON_APPLYNOW.
    void Apply();

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnOK() override;

private:
    struct Page;

    Platform::PrinterUiHost& host_;
    std::u16string caption_;
    std::vector<std::unique_ptr<Page>> pages_;
    std::size_t active_ = 0;
    bool open_ = false;
};

}  // namespace Mfc
