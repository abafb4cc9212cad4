#include "UiPlugin.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "Common/Headers/PrinterConfig.h"
#include "Common/Headers/RodizuzUzezProperties.h"
#include "Pages.h"
#include "PluginServer.h"
#include "PrivateDevMode.h"
#include "Windows/Common/ResourceDLL.h"

namespace Gorlith {

namespace {

HRESULT Fail(DWORD error) {
    SetLastError(error);
    return E_FAIL;
}

// A copy of text on the driver's heap; null when it runs out.
LPWSTR HeapText(HANDLE heap, std::u16string_view text) {
    auto* copy = static_cast<char16_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, (text.size() + 1) * sizeof(char16_t)));
    if (copy != nullptr) std::copy(text.begin(), text.end(), copy);
    return reinterpret_cast<LPWSTR>(copy);
}

PrivateDevMode ReadBlock(const void* block) {
    return PrivateDevMode::Read(static_cast<const BYTE*>(block));
}

LONG PrinterItemCallback(PCPSUICBPARAM param, OEMCUIPPARAM* oem) {
    try {
        if (param == nullptr || oem == nullptr || param->pCurItem == nullptr) return CPSUICB_ACTION_NONE;
        switch (param->Reason) {
            case CPSUICB_REASON_APPLYNOW: {
                RodizuzUzezProperties queue(oem->hPrinter);
                const HANDLE printer = oem->hPrinter;
                ApplyToQueue(queue, param->pCurItem->Sel, [printer] {
                    RodizuzUzezProperties again(printer);
                    return BuildChoiceList(again, ResourceStrings());
                });
                return CPSUICB_ACTION_ITEMS_APPLIED;
            }
            case CPSUICB_REASON_SETACTIVE:
            case CPSUICB_REASON_KILLACTIVE:
                return CPSUICB_ACTION_OPTIF_CHANGED;
            default:
                return CPSUICB_ACTION_NONE;
        }
    } catch (...) {
        return CPSUICB_ACTION_NONE;
    }
}

LONG DocumentItemCallback(PCPSUICBPARAM param, OEMCUIPPARAM* oem) {
    try {
        if (param == nullptr || oem == nullptr || param->pCurItem == nullptr || oem->pOEMDM == nullptr)
            return CPSUICB_ACTION_NONE;
        auto* raw = static_cast<BYTE*>(oem->pOEMDM);
        switch (param->Reason) {
            case CPSUICB_REASON_APPLYNOW:
            case CPSUICB_REASON_KILLACTIVE: {
                // The selection indexes the list the item was filled from;
                // the rendering plug-in goes by the filter data, so both go
                // into the block together.
                const auto* shown = static_cast<const ChoiceList*>(oem->pOEMUserData);
                if (shown == nullptr) return CPSUICB_ACTION_NONE;
                PrivateDevMode block = PrivateDevMode::Read(raw);
                ApplyToBlock(block, *shown, param->pCurItem->Sel);
                block.Write(raw);
                return CPSUICB_ACTION_NONE;
            }
            case CPSUICB_REASON_SETACTIVE:
                param->pCurItem->Sel = PrivateDevMode::Read(raw).ccIndex;
                param->pCurItem->Flags |= OPTIF_CHANGED;
                return CPSUICB_ACTION_OPTIF_CHANGED;
            default:
                return CPSUICB_ACTION_NONE;
        }
    } catch (...) {
        return CPSUICB_ACTION_NONE;
    }
}

class UiPlugin final : public DriverPlugin::ComObject<UiPlugin, IPrintOemUI, IID_IPrintOemUI> {
public:
    explicit UiPlugin(HINSTANCE module) : module_(module) {}

    HRESULT GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) override {
        if (needed == nullptr ||
            (mode != OEMGI_GETSIGNATURE && mode != OEMGI_GETVERSION && mode != OEMGI_GETPUBLISHERINFO))
            return Fail(ERROR_INVALID_PARAMETER);
        *needed = sizeof(DWORD);
        if (buffer == nullptr || size < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        DWORD value = 0;
        switch (mode) {
            case OEMGI_GETSIGNATURE:
                value = kPrivateDevModeSignature;
                break;
            case OEMGI_GETVERSION:
                value = kPrivateDevModeVersion;
                break;
            default:
                *needed = 0;
                return Fail(ERROR_NOT_SUPPORTED);
        }
        std::memcpy(buffer, &value, sizeof value);
        return S_OK;
    }
    HRESULT DevMode(DWORD mode, POEM_DMPARAM param) override { return OEMDevMode(mode, param); }
    HRESULT PublishDriverInterface(IUnknown* driver) override {
        if (helper_ != nullptr) return S_OK;
        if (driver == nullptr) return E_FAIL;
        void* helper = nullptr;
        if (FAILED(driver->QueryInterface(IID_IPrintOemDriverUI, &helper)) || helper == nullptr) return E_FAIL;
        helper_ = static_cast<IPrintOemDriverUI*>(helper);
        return S_OK;
    }
    HRESULT CommonUIProp(DWORD mode, POEMCUIPPARAM param) override {
        try {
            if (param == nullptr || (mode != OEMCUIP_DOCPROP && mode != OEMCUIP_PRNPROP))
                return Fail(ERROR_INVALID_PARAMETER);
            if (param->pOEMOptItems == nullptr) {
                param->cOEMOptItems = 1;
                return S_OK;
            }
            FillOptionItem(mode, *param);
            if (mode == OEMCUIP_DOCPROP && param->pDrvOptItems != nullptr) {
                for (DWORD i = 0; i < param->cDrvOptItems; ++i) {
                    OPTITEM& item = param->pDrvOptItems[i];
                    if (item.DMPubID == DMPUB_COLOR || item.DMPubID == DMPUB_NUP || item.DMPubID == DMPUB_PAGEORDER)
                        item.Flags |= OPTIF_HIDE | OPTIF_DISABLED | OPTIF_EXT_HIDE | OPTIF_EXT_DISABLED;
                }
            }
            return S_OK;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM) override { return Sheets(info, true); }
    HRESULT DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM) override { return Sheets(info, false); }
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
    friend ComObject;
    ~UiPlugin() {
        if (helper_ != nullptr) helper_->Release();
    }

    void FillOptionItem(DWORD mode, OEMCUIPPARAM& param) {
        OPTITEM& item = param.pOEMOptItems[0];
        item = OPTITEM{};
        item.cbSize = sizeof(OPTITEM);
        param.OEMCUIPCallback = mode == OEMCUIP_DOCPROP ? DocumentItemCallback : PrinterItemCallback;
        RodizuzUzezProperties queue(param.hPrinter);
        choices_ = BuildChoiceList(queue, ResourceStrings());
        param.pOEMUserData = &choices_;
        if (choices_.empty()) return;

        item.Level = 1;
        item.Flags = OPTIF_COLLAPSE;
        WCHAR name[256] = {};
        LoadStringW(module_, kOptionItemName, name, 256);
        item.pName = HeapText(param.hOEMHeap, name);
        auto* type = static_cast<OPTTYPE*>(HeapAlloc(param.hOEMHeap, HEAP_ZERO_MEMORY, sizeof(OPTTYPE)));
        auto* entries =
            static_cast<OPTPARAM*>(HeapAlloc(param.hOEMHeap, HEAP_ZERO_MEMORY, sizeof(OPTPARAM) * choices_.size()));
        if (type == nullptr || entries == nullptr) return;
        for (std::size_t i = 0; i < choices_.size(); ++i) {
            entries[i].cbSize = sizeof(OPTPARAM);
            entries[i].pData = HeapText(param.hOEMHeap, choices_[i].label);
        }
        type->cbSize = sizeof(OPTTYPE);
        type->Type = TVOT_COMBOBOX;
        type->Count = static_cast<WORD>(choices_.size());
        type->pOptParam = entries;
        item.pOptType = type;
        if (mode == OEMCUIP_DOCPROP) {
            item.Sel = param.pOEMDM != nullptr ? ReadBlock(param.pOEMDM).ccIndex : 0;
        } else {
            int index = 0;
            queue.GetCCIndex(&index);
            item.Sel = index;
        }
    }

    HRESULT Sheets(PPROPSHEETUI_INFO info, bool document) {
        try {
            if (info == nullptr || info->Version != PROPSHEETUI_INFO_VERSION) return Fail(ERROR_INVALID_PARAMETER);
            switch (info->Reason) {
                case PROPSHEETUI_REASON_INIT:
                    return AddPages(*info, document);
                case PROPSHEETUI_REASON_GET_INFO_HEADER:
                case PROPSHEETUI_REASON_DESTROY:
                    info->Result = 1;
                    return S_OK;
                case PROPSHEETUI_REASON_SET_RESULT: {
                    const auto* result = reinterpret_cast<const SETRESULT_INFO*>(info->lParamInit);
                    if (result != nullptr) info->Result = static_cast<ULONG_PTR>(result->Result);
                    return S_OK;
                }
                case PROPSHEETUI_REASON_GET_ICON:
                    info->Result = 0;
                    return S_OK;
                default:
                    return S_OK;
            }
        } catch (...) {
            return E_FAIL;
        }
    }

    HRESULT AddPages(PROPSHEETUI_INFO& info, bool document) {
        const auto* parameters = reinterpret_cast<const OEMUIPSPARAM*>(info.lParamInit);
        for (PropertyPage* page : {static_cast<PropertyPage*>(&colour_), static_cast<PropertyPage*>(&status_),
                                   static_cast<PropertyPage*>(&pin_)})
            page->context = parameters;
        if (parameters == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        if (document && Identified(parameters->pPrinterName)) AddPage(info, *parameters, colour_);
        return AddPage(info, *parameters, status_);
    }

    static bool Identified(const WCHAR* printerName) {
        if (printerName == nullptr) return false;
        RodizuzUzezProperties queue(printerName);
        PrinterConfig model;
        return queue.Handle() != nullptr && queue.IdentifyPrinter(model);
    }

    HRESULT AddPage(PROPSHEETUI_INFO& info, const OEMUIPSPARAM& parameters, PropertyPage& page) {
        auto* block = static_cast<PageBlock*>(HeapAlloc(parameters.hOEMHeap, HEAP_ZERO_MEMORY, sizeof(PageBlock)));
        if (block == nullptr) return E_OUTOFMEMORY;
        block->sheet = &info;
        block->parameters = &parameters;
        block->function = info.pfnComPropSheet;
        block->sheetHandle = info.hComPropSheet;
        block->page = &page;

        ResourceDLL library;
        library.Load();
        HMODULE resources = ResourceDLL::Handle();
        HRSRC found = FindResourceW(resources, MAKEINTRESOURCEW(static_cast<WORD>(page.TemplateId())), RT_DIALOG);
        HGLOBAL loaded = found != nullptr ? LoadResource(resources, found) : nullptr;

        DLGPAGE& dialog = block->dialogPage;
        dialog.cbSize = sizeof(DLGPAGE);
        dialog.Flags = DPF_USE_HDLGTEMPLATE;
        dialog.DlgProc = PageDispatcher;
        dialog.pTabName = reinterpret_cast<LPWSTR>(block->tabName);
        dialog.DlgTemplateID = static_cast<WORD>(page.DialogTemplateId());
        dialog.hDlgTemplate = loaded != nullptr ? LockResource(loaded) : nullptr;

        std::copy_n(u"Item", 5, block->itemName);
        block->range[0].cbSize = block->range[1].cbSize = sizeof(OPTPARAM);
        block->range[1].IconID = 0;
        block->range[1].lParam = 100;
        block->type.cbSize = sizeof(OPTTYPE);
        block->type.Type = TVOT_UDARROW;
        block->type.Count = 2;
        block->type.pOptParam = block->range;
        block->item.cbSize = sizeof(OPTITEM);
        block->item.Level = 1;
        block->item.Flags = OPTIF_COLLAPSE;
        block->item.pName = reinterpret_cast<LPWSTR>(block->itemName);
        block->item.pOptType = &block->type;
        block->item.Sel = parameters.pOEMDM != nullptr ? ReadBlock(parameters.pOEMDM).ccIndex : 0;

        COMPROPSHEETUI& sheet = block->block;
        sheet.cbSize = sizeof(COMPROPSHEETUI);
        sheet.Flags = CPSUIF_UPDATE_PERMISSION;
        sheet.hInstCaller = module_;
        sheet.UserData = reinterpret_cast<ULONG_PTR>(block);
        sheet.pfnCallBack = PageBlockCallback;
        sheet.pOptItem = &block->item;
        sheet.cOptItem = 1;
        sheet.pDlgPage = &block->dialogPage;
        sheet.cDlgPage = 1;
        sheet.IconID = kPluginIcon;
        sheet.CallerVersion = 0x0100;
        sheet.OptItemVersion = 0x0100;

        if (info.pfnComPropSheet == nullptr) return E_FAIL;
        block->added =
            info.pfnComPropSheet(info.hComPropSheet, CPSFUNC_ADD_PCOMPROPSHEETUIW, reinterpret_cast<LPARAM>(&sheet), 0);
        info.Result = static_cast<ULONG_PTR>(block->added);
        return block->added > 0 ? S_OK : E_FAIL;
    }

    HINSTANCE module_;
    IPrintOemDriverUI* helper_ = nullptr;
    ChoiceList choices_;
    ColourPropertyPage colour_;
    StatusPropertyPage status_;
    PinPropertyPage pin_;
};

}  // namespace

IPrintOemUI* CreateUiPlugin(HINSTANCE module) {
    return new (std::nothrow) UiPlugin(module);
}

}  // namespace Gorlith
