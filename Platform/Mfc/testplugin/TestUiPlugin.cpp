// A user-interface plug-in for the tests of the printer-properties
// program: its printer sheet has one status page with a media line, a
// progress bar and its own file version.
#include "Mfc/WinUser.h"

#include "Platform/DriverUi.h"
#include "Platform/Version.h"

#include <string>

namespace {

constexpr CLSID kClass{0x5E1F0001, 0x0001, 0x0001, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};

Platform::ResourceRegistration RegisterOwnResources() {
    Platform::ResourceTable table = Platform::ParseResourceText(R"rc(
DIALOG 602 180 60 "Printer Status"
    LTEXT 652 "" 5 5 150 8
    PROGRESS 651 "" 5 18 120 10
    LTEXT 657 "" 5 32 150 8
END
)rc",
                                                                "VelmoTestUi");
    Platform::AddVersionText(table, "FileVersion=3.4.0.1\n");
    return Platform::RegisterResourceModule(u"VelmoTestUi.dll", std::move(table));
}

const Platform::ResourceRegistration g_resources = RegisterOwnResources();

std::u16string g_printer;

INT_PTR StatusPage(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return 0;
    SetDlgItemTextW(dialog, 652, (u"7 of 10 prints left on " + g_printer).c_str());
    SendDlgItemMessageW(dialog, 651, PBM_SETRANGE, 0, MAKELPARAM(0, 10));
    SendDlgItemMessageW(dialog, 651, PBM_SETPOS, 7, 0);
    DWORD handle = 0;
    std::u16string block(GetFileVersionInfoSizeW(u"VelmoTestUi.dll", &handle) / 2 + 1, u'\0');
    LPVOID value = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoW(u"VelmoTestUi.dll", 0, static_cast<DWORD>(block.size() * 2), block.data()) &&
        VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\FileVersion", &value, &length)) {
        SetDlgItemTextW(dialog, 657, (u"Version " + std::u16string(static_cast<const char16_t*>(value))).c_str());
    }
    return TRUE;
}

class Plugin final : public IPrintOemUI {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IPrintOemUI) {
            *object = static_cast<IPrintOemUI*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG Release() override {
        const long left = --references_;
        if (left == 0) {
            if (driver_ != nullptr) driver_->Release();
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT GetInfo(DWORD, PVOID, DWORD, PDWORD) override { return E_NOTIMPL; }
    HRESULT DevMode(DWORD mode, POEM_DMPARAM param) override {
        if (param == nullptr) return E_FAIL;
        if (mode == OEMDM_SIZE || mode == OEMDM_DEFAULT) param->cbBufSize = 4;
        return S_OK;
    }
    HRESULT PublishDriverInterface(IUnknown* unknown) override {
        if (driver_ != nullptr) return S_OK;
        return unknown->QueryInterface(IID_IPrintOemDriverUI, reinterpret_cast<void**>(&driver_));
    }
    HRESULT CommonUIProp(DWORD, POEMCUIPPARAM) override { return E_NOTIMPL; }
    HRESULT DocumentPropertySheets(PPROPSHEETUI_INFO, LPARAM) override { return E_NOTIMPL; }
    HRESULT DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM) override {
        if (info == nullptr || info->Version != PROPSHEETUI_INFO_VERSION) return E_FAIL;
        if (info->Reason != PROPSHEETUI_REASON_INIT) return S_OK;
        g_printer = reinterpret_cast<POEMUIPSPARAM>(info->lParamInit)->pPrinterName;
        page_ = DLGPAGE{sizeof(DLGPAGE), 0, &StatusPage, nullptr, 0, 602, nullptr};
        block_ = COMPROPSHEETUI{};
        block_.cbSize = sizeof block_;
        block_.hInstCaller = GetModuleHandleW(u"VelmoTestUi.dll");
        block_.pDlgPage = &page_;
        block_.cDlgPage = 1;
        const LONG_PTR added = info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PCOMPROPSHEETUIW,
                                                     reinterpret_cast<LPARAM>(&block_), 0);
        return added > 0 ? S_OK : E_FAIL;
    }
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
    long references_ = 1;
    IPrintOemDriverUI* driver_ = nullptr;
    DLGPAGE page_{};
    COMPROPSHEETUI block_{};
};

class Factory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* plugin = new Plugin;
        const HRESULT result = plugin->QueryInterface(iid, object);
        plugin->Release();
        return result;
    }
    HRESULT LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!(clsid == kClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

extern "C" HRESULT DllCanUnloadNow() {
    return S_FALSE;
}
