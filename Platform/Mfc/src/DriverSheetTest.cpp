// The driver's property sheet around a plug-in's pages, driven as a user
// drives it.
#include "Mfc/DriverSheet.h"
#include "Mfc/GTestDriver.h"

#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kPages[] = R"rc(
DIALOG 600 180 80 "Colour Correction" CHILD
    RADIOBUTTON 603 "Natural" 5 5 90 10 GROUP
    RADIOBUTTON 604 "None" 5 17 90 10
END
DIALOG 602 180 60 "Printer Status"
    LTEXT 652 "media" 5 5 150 8
    PROGRESS 651 "" 5 20 120 10
END
)rc";

std::vector<std::string> g_log;

INT_PTR PageProcedure(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* header = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        g_log.push_back("init " + std::to_string(header->lParam));
        SetPropW(dialog, u"Block", reinterpret_cast<HANDLE>(header->lParam));
        return TRUE;
    }
    if (message == WM_DESTROY) {
        g_log.push_back("destroy " + std::to_string(reinterpret_cast<LPARAM>(RemovePropW(dialog, u"Block"))));
    }
    return 0;
}

LONG BlockCallback(PCPSUICBPARAM param) {
    g_log.push_back("block " + std::to_string(param->UserData) + " reason " + std::to_string(param->Reason));
    return 1;
}

// Adds two blocks of one page each: the first by template handle, the
// second by template id of its module.
class SheetPlugin final : public IPrintOemUI {
public:
    explicit SheetPlugin(HMODULE module) : module_(module) {}
    HRESULT QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetInfo(DWORD, PVOID, DWORD, PDWORD) override { return E_NOTIMPL; }
    HRESULT DevMode(DWORD mode, POEM_DMPARAM param) override {
        if (mode == OEMDM_SIZE) param->cbBufSize = 4;
        return S_OK;
    }
    HRESULT PublishDriverInterface(IUnknown*) override { return S_OK; }
    HRESULT CommonUIProp(DWORD, POEMCUIPPARAM) override { return E_NOTIMPL; }
    HRESULT DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM) override { return Sheet(info); }
    HRESULT DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM) override { return Sheet(info); }
    HRESULT DevQueryPrintEx(POEMUIOBJ, PVOID, PDEVMODEW, PVOID) override { return E_NOTIMPL; }
    HRESULT DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW, PVOID, DWORD, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT UpgradePrinter(DWORD, PBYTE) override { return E_NOTIMPL; }
    HRESULT PrinterEvent(PWSTR, int, DWORD, LPARAM) override { return S_OK; }
    HRESULT DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) override { return E_NOTIMPL; }
    HRESULT QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW, PVOID, ULONG, PVOID, ULONG*, FLONG*) override {
        return E_NOTIMPL;
    }
    HRESULT FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT UpdateExternalFonts(HANDLE, HANDLE, PWSTR) override { return E_NOTIMPL; }

private:
    HRESULT Sheet(PPROPSHEETUI_INFO info) {
        if (info->Reason != PROPSHEETUI_REASON_INIT) {
            g_log.push_back("sheet reason " + std::to_string(info->Reason));
            return S_OK;
        }
        HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(600), RT_DIALOG);
        pages_[0] = DLGPAGE{sizeof(DLGPAGE),
                            DPF_USE_HDLGTEMPLATE,
                            &PageProcedure,
                            nullptr,
                            0,
                            0,
                            LockResource(LoadResource(module_, found))};
        pages_[1] = DLGPAGE{sizeof(DLGPAGE), 0, &PageProcedure, nullptr, 0, 602, nullptr};
        for (int i = 0; i < 2; ++i) {
            blocks_[i] = COMPROPSHEETUI{};
            blocks_[i].cbSize = sizeof(COMPROPSHEETUI);
            blocks_[i].hInstCaller = module_;
            blocks_[i].pDlgPage = &pages_[i];
            blocks_[i].cDlgPage = 1;
            blocks_[i].pfnCallBack = &BlockCallback;
            blocks_[i].UserData = static_cast<ULONG_PTR>(i + 1);
            info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PCOMPROPSHEETUIW,
                                  reinterpret_cast<LPARAM>(&blocks_[i]), 0);
        }
        return S_OK;
    }

    HMODULE module_;
    DLGPAGE pages_[2]{};
    COMPROPSHEETUI blocks_[2]{};
};

class DriverSheet : public ::testing::Test {
protected:
    DriverSheet()
        : registration_(
              Platform::RegisterResourceModule(u"MfcTestSheet.dll", Platform::ParseResourceText(kPages, "sheet"))),
          module_(LoadLibraryW(u"MfcTestSheet.dll")),
          plugin_(module_) {
        g_log.clear();
        Platform::GetMachine().Spooler().AddPrinter(u"Dock", u"USB001", u"Velmo Glimmer Driver");
        EXPECT_EQ(host_.Attach(&plugin_), S_OK);
        EXPECT_EQ(host_.Open(u"Dock"), S_OK);
        EXPECT_EQ(host_.DocumentPropertySheets(), S_OK);
    }
    ~DriverSheet() override { FreeLibrary(module_); }

    Platform::ScopedFreshMachine machine_;
    Platform::ResourceRegistration registration_;
    HMODULE module_;
    SheetPlugin plugin_;
    Platform::PrinterUiHost host_;
    Mfc::TestDriver driver_{Mfc::GTestFailures()};
};

TEST_F(DriverSheet, PagesRunInsideTheSheetAndHearEveryMove) {
    Mfc::DriverPropertySheet sheet(host_, u"Dock Properties");
    ASSERT_EQ(sheet.PageCount(), 2u);
    auto s = driver_.BeginModal(sheet);
    EXPECT_EQ(g_log, (std::vector<std::string>{"init 1", "init 2", "block 1 reason 10"}));
    EXPECT_TRUE(s.Visible(603));
    EXPECT_FALSE(s.Visible(652)) << "one page at a time";
    EXPECT_EQ(s.Text(Mfc::ID_SHEET_PAGE_FIRST + 1), CString(u"Printer Status")) << "tabs named by page captions";
    EXPECT_TRUE(IsChild(s.Window(), sheet.PageWindow(1))) << "a popup template becomes a pane of the sheet";

    g_log.clear();
    s.Check(604);
    EXPECT_TRUE(s.Checked(604));
    s.Click(Mfc::ID_SHEET_PAGE_FIRST + 1);
    EXPECT_EQ(sheet.ActivePage(), 1u);
    EXPECT_TRUE(s.Visible(652));
    SendMessageW(s.Control(651), PBM_SETRANGE, 0, MAKELPARAM(0, 10));
    SendMessageW(s.Control(651), PBM_SETPOS, 7, 0);
    EXPECT_NE(s.Render().find("at 7 of 10"), std::string::npos) << s.Render();
    s.Click(Mfc::ID_APPLY_NOW);
    EXPECT_TRUE(s.IsOpen());
    s.Click(IDOK);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Result(), IDOK);
    EXPECT_EQ(g_log, (std::vector<std::string>{"block 1 reason 11", "block 2 reason 10", "block 1 reason 6",
                                               "block 2 reason 6", "block 1 reason 6", "block 2 reason 6", "destroy 1",
                                               "destroy 2", "sheet reason 3", "sheet reason 2"}));
    EXPECT_EQ(host_.SheetInfo().Reason, PROPSHEETUI_REASON_DESTROY);
}

TEST_F(DriverSheet, CancelAppliesNothingAndTellsTheResult) {
    Mfc::DriverPropertySheet sheet(host_, u"Dock Properties");
    auto s = driver_.BeginModal(sheet);
    g_log.clear();
    s.Click(IDCANCEL);
    EXPECT_EQ(s.Result(), IDCANCEL);
    EXPECT_EQ(g_log, (std::vector<std::string>{"destroy 1", "destroy 2", "sheet reason 3", "sheet reason 2"}));

    host_.DevicePropertySheets();
    Platform::PrinterUiHost empty;
    Mfc::DriverPropertySheet none(empty, u"Nothing");
    EXPECT_EQ(none.DoModal(), -1) << "a sheet without pages does not open";
}

}  // namespace
