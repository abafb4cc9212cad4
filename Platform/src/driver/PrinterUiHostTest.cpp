#include "Platform/DriverHost.h"
#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Platform::PrinterUiHost;

constexpr const char16_t* kQueue = u"Velmo Glimmer Dock";

// A plug-in that does what a sheet-building plug-in does, and remembers
// what it was given.
class FakePlugin final : public IPrintOemUI {
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
    ULONG AddRef() override { return static_cast<ULONG>(++references); }
    ULONG Release() override {
        --references;
        if (references == 0 && driver != nullptr) {
            driver->Release();
            driver = nullptr;
        }
        return static_cast<ULONG>(references);
    }
    HRESULT GetInfo(DWORD, PVOID, DWORD, PDWORD) override { return E_NOTIMPL; }
    HRESULT DevMode(DWORD mode, POEM_DMPARAM param) override {
        if (mode == OEMDM_SIZE) param->cbBufSize = 12;
        if (mode == OEMDM_DEFAULT) {
            std::memset(param->pOEMDMOut, 0x5A, param->cbBufSize);
            defaultsFor = param->pPublicDMIn->dmDeviceName;
        }
        return S_OK;
    }
    HRESULT PublishDriverInterface(IUnknown* unknown) override {
        void* helper = nullptr;
        if (FAILED(unknown->QueryInterface(IID_IPrintOemDriverUI, &helper))) return E_FAIL;
        driver = static_cast<IPrintOemDriverUI*>(helper);
        return S_OK;
    }
    HRESULT CommonUIProp(DWORD mode, POEMCUIPPARAM param) override {
        modes.push_back(mode);
        if (param->pOEMOptItems == nullptr) {
            param->cOEMOptItems = 2;
            return S_OK;
        }
        for (DWORD i = 0; i < param->cOEMOptItems; ++i) {
            filledZeroed = filledZeroed && param->pOEMOptItems[i].cbSize == 0;
            param->pOEMOptItems[i].cbSize = sizeof(OPTITEM);
            param->pOEMOptItems[i].Sel = static_cast<LONG>(i) + 3;
        }
        for (DWORD i = 0; i < param->cDrvOptItems; ++i)
            if (param->pDrvOptItems[i].DMPubID == DMPUB_NUP) param->pDrvOptItems[i].Flags |= OPTIF_HIDE;
        documentBlock = param->pOEMDM;
        param->OEMCUIPCallback = [](PCPSUICBPARAM cb, OEMCUIPPARAM* oem) -> LONG {
            return cb->Reason == CPSUICB_REASON_APPLYNOW && cb->pCurItem == oem->pOEMOptItems + 1
                       ? CPSUICB_ACTION_ITEMS_APPLIED + cb->pCurItem->Sel
                       : 0;
        };
        return S_OK;
    }
    HRESULT DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM param) override { return Sheet(info, param, 2); }
    HRESULT DevicePropertySheets(PPROPSHEETUI_INFO info, LPARAM param) override { return Sheet(info, param, 1); }
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

    HRESULT Sheet(PPROPSHEETUI_INFO info, LPARAM param, int pages) {
        if (info->Version != PROPSHEETUI_INFO_VERSION) return E_FAIL;
        lastReason = info->Reason;
        if (info->Reason == PROPSHEETUI_REASON_SET_RESULT) {
            info->Result = static_cast<ULONG_PTR>(reinterpret_cast<PSETRESULT_INFO>(param)->Result);
            return S_OK;
        }
        if (info->Reason != PROPSHEETUI_REASON_INIT) return S_OK;
        context = reinterpret_cast<POEMUIPSPARAM>(info->lParamInit);
        LONG_PTR last = 0;
        for (int i = 0; i < pages; ++i) {
            page[i] = DLGPAGE{sizeof(DLGPAGE), 0, nullptr, nullptr, 0, static_cast<WORD>(600 + 2 * i), nullptr};
            item[i] = OPTITEM{};
            item[i].cbSize = sizeof(OPTITEM);
            item[i].Sel = 40 + i;
            block[i] = COMPROPSHEETUI{};
            block[i].cbSize = sizeof(COMPROPSHEETUI);
            block[i].pDlgPage = &page[i];
            block[i].cDlgPage = 1;
            block[i].pOptItem = &item[i];
            block[i].cOptItem = 1;
            block[i].UserData = static_cast<ULONG_PTR>(i + 1);
            block[i].pfnCallBack = [](PCPSUICBPARAM cb) -> LONG {
                return static_cast<LONG>(cb->UserData * 100 + cb->Reason + static_cast<ULONG_PTR>(cb->pCurItem->Sel));
            };
            last = info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_ADD_PCOMPROPSHEETUIW,
                                         reinterpret_cast<LPARAM>(&block[i]), 0);
        }
        info->pfnComPropSheet(info->hComPropSheet, CPSFUNC_SET_RESULT, last, CPSUI_OK);
        info->Result = CPSUI_OK;
        return last > 0 ? S_OK : E_FAIL;
    }

    int references = 1;
    IPrintOemDriverUI* driver = nullptr;
    std::u16string defaultsFor;
    std::vector<DWORD> modes;
    bool filledZeroed = true;
    PVOID documentBlock = reinterpret_cast<PVOID>(1);
    POEMUIPSPARAM context = nullptr;
    WORD lastReason = 0xFFFF;
    DLGPAGE page[2]{};
    OPTITEM item[2]{};
    COMPROPSHEETUI block[2]{};
};

class PrinterUi : public ::testing::Test {
protected:
    PrinterUi() {
        Platform::GetMachine().Spooler().AddPrinter(kQueue, u"USB001", u"Velmo Glimmer Driver");
        EXPECT_EQ(host_.Attach(&plugin_), S_OK);
        EXPECT_EQ(host_.Open(kQueue), S_OK);
    }

    Platform::ScopedFreshMachine machine_;
    FakePlugin plugin_;
    PrinterUiHost host_;
};

TEST_F(PrinterUi, SettingsBlockAndHelperFollowTheDriversOrder) {
    EXPECT_EQ(plugin_.defaultsFor, kQueue) << "defaults are asked for the queue of the public settings";
    EXPECT_EQ(host_.PrivateSettings(), std::vector<BYTE>(12, 0x5A));
    EXPECT_EQ(host_.HelperReferences(), 1) << "the plug-in keeps the helper it asked for";
    EXPECT_EQ(plugin_.references, 2);
}

TEST_F(PrinterUi, OptionItemsAreAskedForThenFilledInZeroedSlots) {
    ASSERT_EQ(host_.CommonUIProp(OEMCUIP_DOCPROP), S_OK);
    EXPECT_EQ(plugin_.modes, (std::vector<DWORD>{OEMCUIP_DOCPROP, OEMCUIP_DOCPROP}));
    ASSERT_EQ(host_.PluginItems().size(), 2u);
    EXPECT_TRUE(plugin_.filledZeroed);
    EXPECT_EQ(host_.PluginItems()[1].Sel, 4);
    EXPECT_EQ(plugin_.documentBlock, host_.PrivateSettings().data());

    int hidden = 0;
    for (const auto& item : host_.DriverItems()) hidden += (item.Flags & OPTIF_HIDE) != 0 ? 1 : 0;
    EXPECT_EQ(hidden, 1) << "the plug-in changes the driver's own list in place";

    // The driver calls back with the item the user changed.
    host_.PluginItems()[1].Sel = 7;
    EXPECT_EQ(host_.ItemCallback(1, CPSUICB_REASON_APPLYNOW), CPSUICB_ACTION_ITEMS_APPLIED + 7);
    EXPECT_EQ(host_.ItemCallback(0, CPSUICB_REASON_APPLYNOW), 0);
    EXPECT_EQ(host_.ItemCallback(5, CPSUICB_REASON_APPLYNOW), 0) << "no such item";

    ASSERT_EQ(host_.CommonUIProp(OEMCUIP_PRNPROP), S_OK);
    EXPECT_EQ(plugin_.documentBlock, nullptr) << "printer properties have no document block";
}

TEST_F(PrinterUi, SheetsRecordTheAddedBlocksAndTheResult) {
    ASSERT_EQ(host_.DocumentPropertySheets(), S_OK);
    ASSERT_NE(plugin_.context, nullptr);
    EXPECT_EQ(plugin_.context->pOEMDM, host_.PrivateSettings().data());
    EXPECT_EQ(plugin_.context->hPrinter, host_.Printer());
    EXPECT_EQ(std::u16string(plugin_.context->pPrinterName), kQueue);

    const auto& blocks = host_.Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].pages.at(0).DlgTemplateID, 600);
    EXPECT_EQ(blocks[1].pages.at(0).DlgTemplateID, 602);
    EXPECT_NE(blocks[0].handle, 0);
    EXPECT_NE(blocks[0].handle, blocks[1].handle);

    const auto& calls = host_.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].function, CPSFUNC_ADD_PCOMPROPSHEETUIW);
    EXPECT_EQ(calls[2].function, CPSFUNC_SET_RESULT);
    EXPECT_EQ(calls[2].param1, blocks[1].handle);
    EXPECT_EQ(calls[2].param2, CPSUI_OK);

    // Block callbacks get the block's item and user data.
    EXPECT_EQ(host_.BlockCallback(1, CPSUICB_REASON_KILLACTIVE, nullptr), 200 + 11 + 41);
    EXPECT_EQ(host_.BlockCallback(2, CPSUICB_REASON_KILLACTIVE, nullptr), 0);

    ASSERT_EQ(host_.SheetEvent(PROPSHEETUI_REASON_SET_RESULT, CPSUI_CANCEL), S_OK);
    EXPECT_EQ(plugin_.lastReason, PROPSHEETUI_REASON_SET_RESULT);
    EXPECT_EQ(host_.SheetInfo().Result, static_cast<ULONG_PTR>(CPSUI_CANCEL));

    ASSERT_EQ(host_.DevicePropertySheets(), S_OK);
    EXPECT_EQ(plugin_.context->pOEMDM, nullptr) << "the printer sheet has no document block";
    EXPECT_EQ(host_.Blocks().size(), 1u) << "a new sheet starts empty";
}

TEST_F(PrinterUi, BadBlocksAndForgedSheetsAreRefused) {
    COMPROPSHEETUI block{};
    block.cbSize = sizeof block - 1;
    EXPECT_EQ(PrinterUiHost::ComPropSheet(&host_, CPSFUNC_ADD_PCOMPROPSHEETUIW, reinterpret_cast<LPARAM>(&block), 0),
              0);
    block.cbSize = sizeof block;
    block.cDlgPage = 1;  // and no pages
    EXPECT_EQ(PrinterUiHost::ComPropSheet(&host_, CPSFUNC_ADD_PCOMPROPSHEETUIW, reinterpret_cast<LPARAM>(&block), 0),
              0);
    EXPECT_EQ(PrinterUiHost::ComPropSheet(&host_, CPSFUNC_ADD_PCOMPROPSHEETUIW, 0, 0), 0);
    EXPECT_TRUE(host_.Blocks().empty());
    EXPECT_EQ(host_.Calls().size(), 3u) << "refused calls are still recorded";

    int forged = 0;
    EXPECT_EQ(PrinterUiHost::ComPropSheet(&forged, CPSFUNC_SET_RESULT, 0, CPSUI_OK), 0);
    EXPECT_EQ(host_.Calls().size(), 3u);
}

TEST(DriverHeap, BlocksLiveUntilFreedOrTheHeapEnds) {
    HANDLE ended = nullptr;
    {
        Platform::DriverHeap heap;
        ended = heap.Handle();
        auto* zeroed = static_cast<BYTE*>(HeapAlloc(heap.Handle(), HEAP_ZERO_MEMORY, 100));
        ASSERT_NE(zeroed, nullptr);
        EXPECT_EQ(std::count(zeroed, zeroed + 100, 0), 100);
        void* other = HeapAlloc(heap.Handle(), 0, 0);
        ASSERT_NE(other, nullptr) << "an empty block is still a block";
        EXPECT_EQ(heap.Blocks(), 2u);
        EXPECT_TRUE(HeapFree(heap.Handle(), 0, other));
        EXPECT_FALSE(HeapFree(heap.Handle(), 0, other)) << "freed twice";
        EXPECT_EQ(heap.Blocks(), 1u);
        // The rest goes with the heap (the leak checker would see it otherwise).
    }
    EXPECT_EQ(HeapAlloc(ended, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
