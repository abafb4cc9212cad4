// The driver's user interface around a user-interface plug-in.
#include "Platform/DriverHost.h"

#include "HostHelper.h"

#include <algorithm>
#include <mutex>
#include <set>

namespace Platform {

namespace {

// Sheets a plug-in may name: the hosts alive.
struct LiveSheets {
    std::mutex mutex;
    std::set<const PrinterUiHost*> hosts;
};

LiveSheets& AllSheets() {
    static auto* sheets = new LiveSheets;
    return *sheets;
}

OPTITEM DriverItem(const char16_t* name, BYTE pubId) {
    OPTITEM item{};
    item.cbSize = sizeof item;
    item.Level = 1;
    item.pName = const_cast<char16_t*>(name);
    item.DMPubID = pubId;
    return item;
}

}  // namespace

class PrinterUiHost::Helper final : public detail::HostHelper<IPrintOemDriverUI, IID_IPrintOemDriverUI> {};

PrinterUiHost::PrinterUiHost() : helper_(std::make_unique<Helper>()), heap_(std::make_unique<DriverHeap>()) {
    driverItems_ = {
        DriverItem(u"Orientation", DMPUB_ORIENTATION), DriverItem(u"Copies", DMPUB_COPIES_COLLATE),
        DriverItem(u"Paper Source", DMPUB_DEFSOURCE),  DriverItem(u"Color", DMPUB_COLOR),
        DriverItem(u"Pages per Sheet", DMPUB_NUP),     DriverItem(u"Page Order", DMPUB_PAGEORDER),
    };
    auto& sheets = AllSheets();
    std::lock_guard lock(sheets.mutex);
    sheets.hosts.insert(this);
}

PrinterUiHost::~PrinterUiHost() {
    {
        auto& sheets = AllSheets();
        std::lock_guard lock(sheets.mutex);
        sheets.hosts.erase(this);
    }
    Close();
    if (plugin_ != nullptr) plugin_->Release();
    plugin_ = nullptr;
}

int PrinterUiHost::HelperReferences() const {
    return helper_->references;
}

HRESULT PrinterUiHost::Load(const std::u16string& moduleName, REFCLSID clsid) {
    if (plugin_ != nullptr) return E_UNEXPECTED;
    if (!module_.Load(moduleName)) return E_FAIL;
    void* object = nullptr;
    const HRESULT result = module_.CreateInstance(clsid, IID_IPrintOemUI, &object);
    if (FAILED(result)) return result;
    plugin_ = static_cast<IPrintOemUI*>(object);
    return plugin_->PublishDriverInterface(static_cast<IPrintOemDriverUI*>(helper_.get()));
}

HRESULT PrinterUiHost::Attach(IPrintOemUI* plugin) {
    if (plugin_ != nullptr || plugin == nullptr) return E_UNEXPECTED;
    plugin->AddRef();
    plugin_ = plugin;
    return plugin_->PublishDriverInterface(static_cast<IPrintOemDriverUI*>(helper_.get()));
}

HRESULT PrinterUiHost::Open(const std::u16string& queueName) {
    if (plugin_ == nullptr) return E_UNEXPECTED;
    Close();
    // The properties of a queue may change it; an ordinary user only looks.
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(queueName.c_str(), &printer_, &defaults)) {
        defaults.DesiredAccess = PRINTER_ACCESS_USE;
        if (!OpenPrinterW(queueName.c_str(), &printer_, &defaults)) return E_FAIL;
    }
    printerName_ = queueName;
    publicSettings_ = DEVMODEW{};
    const std::size_t units = std::min<std::size_t>(queueName.size(), CCHDEVICENAME - 1);
    std::copy_n(queueName.data(), units, publicSettings_.dmDeviceName);
    publicSettings_.dmSize = sizeof(DEVMODEW);
    publicSettings_.dmOrientation = DMORIENT_PORTRAIT;
    publicSettings_.dmCopies = 1;

    OEM_DMPARAM param{};
    param.cbSize = sizeof param;
    param.hPrinter = printer_;
    HRESULT result = plugin_->DevMode(OEMDM_SIZE, &param);
    if (FAILED(result)) return result;
    privateSettings_.assign(param.cbBufSize, 0);
    param.pPublicDMIn = &publicSettings_;
    param.pPublicDMOut = &publicSettings_;
    param.pOEMDMOut = privateSettings_.data();
    return plugin_->DevMode(OEMDM_DEFAULT, &param);
}

HRESULT PrinterUiHost::CommonUIProp(DWORD mode) {
    if (plugin_ == nullptr) return E_UNEXPECTED;
    pluginItems_.clear();
    commonParam_ = OEMCUIPPARAM{};
    commonParam_.cbSize = sizeof commonParam_;
    commonParam_.hPrinter = printer_;
    commonParam_.pPrinterName = printerName_.data();
    commonParam_.hOEMHeap = heap_->Handle();
    commonParam_.pPublicDM = &publicSettings_;
    commonParam_.pOEMDM = mode == OEMCUIP_DOCPROP && !privateSettings_.empty() ? privateSettings_.data() : nullptr;
    commonParam_.pDrvOptItems = driverItems_.data();
    commonParam_.cDrvOptItems = static_cast<DWORD>(driverItems_.size());
    HRESULT result = plugin_->CommonUIProp(mode, &commonParam_);
    if (FAILED(result) || commonParam_.cOEMOptItems == 0) return result;
    // Far more items than a plug-in offers means a broken count.
    if (commonParam_.cOEMOptItems > 256) return E_FAIL;
    pluginItems_.assign(commonParam_.cOEMOptItems, OPTITEM{});
    commonParam_.pOEMOptItems = pluginItems_.data();
    return plugin_->CommonUIProp(mode, &commonParam_);
}

LONG PrinterUiHost::ItemCallback(std::size_t item, WORD reason) {
    if (item >= pluginItems_.size() || commonParam_.OEMCUIPCallback == nullptr) return 0;
    CPSUICBPARAM param{};
    param.cbSize = sizeof param;
    param.Reason = reason;
    param.pOptItem = pluginItems_.data();
    param.cOptItem = static_cast<WORD>(pluginItems_.size());
    param.pCurItem = &pluginItems_[item];
    param.OldSel = pluginItems_[item].Sel;
    return commonParam_.OEMCUIPCallback(&param, &commonParam_);
}

HRESULT PrinterUiHost::DocumentPropertySheets() {
    return Sheets(true);
}

HRESULT PrinterUiHost::DevicePropertySheets() {
    return Sheets(false);
}

HRESULT PrinterUiHost::Sheets(bool document) {
    if (plugin_ == nullptr) return E_UNEXPECTED;
    blocks_.clear();
    calls_.clear();
    documentSheet_ = document;
    pageParameters_ = OEMUIPSPARAM{};
    pageParameters_.cbSize = sizeof pageParameters_;
    pageParameters_.hPrinter = printer_;
    pageParameters_.pPrinterName = printerName_.data();
    pageParameters_.hOEMHeap = heap_->Handle();
    pageParameters_.pPublicDM = &publicSettings_;
    pageParameters_.pOEMDM = document && !privateSettings_.empty() ? privateSettings_.data() : nullptr;
    return SheetEvent(PROPSHEETUI_REASON_INIT);
}

HRESULT PrinterUiHost::SheetEvent(WORD reason, LRESULT result) {
    if (plugin_ == nullptr) return E_UNEXPECTED;
    SETRESULT_INFO setResult{};
    setResult.cbSize = sizeof setResult;
    setResult.hSetResult = this;
    setResult.Result = result;
    sheetInfo_ = PROPSHEETUI_INFO{};
    sheetInfo_.cbSize = sizeof sheetInfo_;
    sheetInfo_.Version = PROPSHEETUI_INFO_VERSION;
    sheetInfo_.Reason = reason;
    sheetInfo_.hComPropSheet = this;
    sheetInfo_.pfnComPropSheet = &PrinterUiHost::ComPropSheet;
    sheetInfo_.lParamInit = reinterpret_cast<LPARAM>(&pageParameters_);
    const LPARAM param = reason == PROPSHEETUI_REASON_SET_RESULT ? reinterpret_cast<LPARAM>(&setResult)
                                                                 : reinterpret_cast<LPARAM>(&pageParameters_);
    return documentSheet_ ? plugin_->DocumentPropertySheets(&sheetInfo_, param)
                          : plugin_->DevicePropertySheets(&sheetInfo_, param);
}

LONG PrinterUiHost::BlockCallback(std::size_t block, WORD reason, HWND dialog) {
    if (block >= blocks_.size()) return 0;
    const COMPROPSHEETUI& b = blocks_[block].block;
    if (b.pfnCallBack == nullptr) return 0;
    CPSUICBPARAM param{};
    param.cbSize = sizeof param;
    param.Reason = reason;
    param.hDlg = dialog;
    param.pOptItem = b.pOptItem;
    param.cOptItem = b.cOptItem;
    param.pCurItem = b.pOptItem;
    param.OldSel = b.pOptItem != nullptr ? b.pOptItem->Sel : 0;
    param.UserData = b.UserData;
    return b.pfnCallBack(&param);
}

void PrinterUiHost::Close() {
    blocks_.clear();
    pluginItems_.clear();
    commonParam_ = OEMCUIPPARAM{};
    // What the plug-in left on the heap ends with the sheet.
    heap_ = std::make_unique<DriverHeap>();
    if (printer_ != nullptr) ClosePrinter(printer_);
    printer_ = nullptr;
}

LONG_PTR PrinterUiHost::ComPropSheet(HANDLE sheet, UINT function, LPARAM param1, LPARAM param2) {
    auto& sheets = AllSheets();
    PrinterUiHost* host = nullptr;
    {
        std::lock_guard lock(sheets.mutex);
        auto it = sheets.hosts.find(static_cast<const PrinterUiHost*>(sheet));
        if (it == sheets.hosts.end()) return 0;
        host = const_cast<PrinterUiHost*>(*it);
    }
    return host->Record(function, param1, param2);
}

LONG_PTR PrinterUiHost::Record(UINT function, LPARAM param1, LPARAM param2) {
    LONG_PTR result = 0;
    if (function == CPSFUNC_ADD_PCOMPROPSHEETUIW) {
        const auto* block = reinterpret_cast<const COMPROPSHEETUI*>(param1);
        if (block != nullptr && block->cbSize == sizeof(COMPROPSHEETUI) &&
            (block->cDlgPage == 0 || block->pDlgPage != nullptr)) {
            SheetBlock added;
            added.block = *block;
            added.pages.assign(block->pDlgPage, block->pDlgPage + block->cDlgPage);
            // Handles of added pages are small numbers, never 0.
            added.handle = static_cast<LONG_PTR>(0x100 + blocks_.size());
            result = added.handle;
            blocks_.push_back(std::move(added));
        }
    } else if (function == CPSFUNC_SET_RESULT) {
        result = 1;
    }
    calls_.push_back(SheetCall{function, param1, param2, result});
    return result;
}

}  // namespace Platform
