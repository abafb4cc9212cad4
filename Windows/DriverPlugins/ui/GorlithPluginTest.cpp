// The plug-in object as the driver's user interface uses it: loaded from
// its library, asked for its information, option item and pages.
#include <gtest/gtest.h>

#include <vector>

#include "Pages.h"
#include "PluginTestSupport.h"
#include "PrivateDevMode.h"
#include "UiPlugin.h"
#include "Windows/Common/ResourceDLL.h"

namespace {

using namespace PluginTest;
using namespace Gorlith;

// The sheet's add and set-result functions, recorded.
struct SheetRecord {
    struct Call {
        UINT function;
        UINT templateId;
        PageBlock* block;
        LPARAM result;
    };
    std::vector<Call> calls;
    LONG_PTR answer = 1;
};
SheetRecord* recording = nullptr;

LONG_PTR RecordSheetCall(HANDLE, UINT function, LPARAM param1, LPARAM param2) {
    SheetRecord::Call call{function, 0, nullptr, param2};
    if (function == CPSFUNC_ADD_PCOMPROPSHEETUIW) {
        const auto* block = reinterpret_cast<const COMPROPSHEETUI*>(param1);
        call.templateId = block->pDlgPage->DlgTemplateID;
        call.block = reinterpret_cast<PageBlock*>(block->UserData);
    }
    recording->calls.push_back(call);
    return function == CPSFUNC_ADD_PCOMPROPSHEETUIW ? recording->answer++ : 1;
}

class PluginTest : public MachineFixture {
protected:
    PluginTest() {
        ResourceDLL::Reset();
        recording = &sheet_;
        library_ = LoadLibraryW(u"Gorlith.dll");
        EXPECT_NE(library_, nullptr);
        using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
        auto getClassObject = reinterpret_cast<GetClassObject>(GetProcAddress(library_, "DllGetClassObject"));
        IClassFactory* factory = nullptr;
        EXPECT_EQ(getClassObject(kUiPluginClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin_)), S_OK);
        factory->Release();
        parameters_.cbSize = sizeof parameters_;
        parameters_.pPrinterName = name_.data();
        parameters_.hOEMHeap = heap_.Handle();
        PRINTER_DEFAULTSW administer{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
        EXPECT_TRUE(OpenPrinterW(kQueue, &parameters_.hPrinter, &administer));
        block_.Write(privateBlock_);
    }
    ~PluginTest() override {
        ClosePrinter(parameters_.hPrinter);
        if (plugin_ != nullptr) plugin_->Release();
        FreeLibrary(library_);
        recording = nullptr;
        ResourceDLL::Reset();
    }

    PROPSHEETUI_INFO Sheet(WORD reason, bool document) {
        if (document) parameters_.pOEMDM = privateBlock_;
        PROPSHEETUI_INFO info{};
        info.cbSize = sizeof info;
        info.Version = PROPSHEETUI_INFO_VERSION;
        info.Reason = reason;
        info.pfnComPropSheet = RecordSheetCall;
        info.lParamInit = reinterpret_cast<LPARAM>(&parameters_);
        return info;
    }
    std::vector<UINT> AddedTemplates() const {
        std::vector<UINT> ids;
        for (const auto& call : sheet_.calls)
            if (call.function == CPSFUNC_ADD_PCOMPROPSHEETUIW) ids.push_back(call.templateId);
        return ids;
    }
    OEMCUIPPARAM Options(bool document) {
        OEMCUIPPARAM param{};
        param.cbSize = sizeof param;
        param.hPrinter = parameters_.hPrinter;
        param.pPrinterName = name_.data();
        param.hOEMHeap = heap_.Handle();
        if (document) param.pOEMDM = privateBlock_;
        return param;
    }

    Platform::ResourceRegistration resources_ = Platform::RegisterResourceModule(
        u"ORVRES.DLL", Platform::LoadResourceFile(VELMO_SOURCE_DIR "/data/ORVRES.rc.txt"));
    SheetRecord sheet_;
    HMODULE library_ = nullptr;
    IPrintOemUI* plugin_ = nullptr;
    std::u16string name_ = kQueue;
    Platform::DriverHeap heap_;
    OEMUIPSPARAM parameters_{};
    PrivateDevMode block_;
    BYTE privateBlock_[kPrivateDevModeSize] = {};
};

TEST_F(PluginTest, GetInfoForEveryMode) {
    DWORD value = 0, needed = 0;
    for (DWORD mode : {0u, 2u, 5u}) {
        SetLastError(0);
        EXPECT_EQ(plugin_->GetInfo(mode, &value, sizeof value, &needed), E_FAIL) << mode;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(plugin_->GetInfo(1, &value, sizeof value, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(plugin_->GetInfo(1, nullptr, 0, &needed), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, 4u);
    EXPECT_EQ(plugin_->GetInfo(1, &value, 3, &needed), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(plugin_->GetInfo(1, &value, sizeof value, &needed), S_OK);
    EXPECT_EQ(value, 0x4C56u);
    EXPECT_EQ(plugin_->GetInfo(3, &value, sizeof value, &needed), S_OK);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(plugin_->GetInfo(4, &value, sizeof value, &needed), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(needed, 0u);
}

TEST_F(PluginTest, ServerAnswersOnlyItsClassAndUnloadsWhenFree) {
    using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT (*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(GetProcAddress(library_, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<CanUnloadNow>(GetProcAddress(library_, "DllCanUnloadNow"));
    void* object = &object;
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(kUiPluginClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(getClassObject(kUiPluginClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(PluginTest, DocumentSheetAddsColourPageOnlyForAnIdentifiedPrinter) {
    PROPSHEETUI_INFO info = Sheet(PROPSHEETUI_REASON_INIT, true);
    EXPECT_EQ(plugin_->DocumentPropertySheets(&info, 0), S_OK);
    EXPECT_EQ(AddedTemplates(), (std::vector<UINT>{602}));

    SetDeviceId(kDockId);
    sheet_.calls.clear();
    EXPECT_EQ(plugin_->DocumentPropertySheets(&info, 0), S_OK);
    EXPECT_EQ(AddedTemplates(), (std::vector<UINT>{600, 602}));
    EXPECT_EQ(info.Result, static_cast<ULONG_PTR>(sheet_.answer - 1));

    // Each block: one page by template, one item, the plug-in's icon.
    const PageBlock& colour = *sheet_.calls[0].block;
    EXPECT_EQ(colour.block.cDlgPage, 1);
    EXPECT_EQ(colour.block.IconID, 64062u);
    EXPECT_EQ(colour.block.Flags, CPSUIF_UPDATE_PERMISSION);
    EXPECT_EQ(colour.dialogPage.Flags, DPF_USE_HDLGTEMPLATE);
    EXPECT_EQ(colour.item.pOptType->Type, TVOT_UDARROW);
    EXPECT_EQ(colour.page->TemplateId(), 600u);

    sheet_.calls.clear();
    PROPSHEETUI_INFO printer = Sheet(PROPSHEETUI_REASON_INIT, false);
    parameters_.pOEMDM = nullptr;
    EXPECT_EQ(plugin_->DevicePropertySheets(&printer, 0), S_OK);
    EXPECT_EQ(AddedTemplates(), (std::vector<UINT>{602}));
}

TEST_F(PluginTest, SheetRequestsAreCheckedAndResultsKept) {
    PROPSHEETUI_INFO info = Sheet(PROPSHEETUI_REASON_INIT, false);
    info.Version = 0x0101;
    SetLastError(0);
    EXPECT_EQ(plugin_->DevicePropertySheets(&info, 0), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(plugin_->DocumentPropertySheets(nullptr, 0), E_FAIL);
    EXPECT_TRUE(sheet_.calls.empty());

    info.Version = PROPSHEETUI_INFO_VERSION;
    for (WORD reason : {PROPSHEETUI_REASON_GET_INFO_HEADER, PROPSHEETUI_REASON_DESTROY}) {
        info.Reason = reason;
        info.Result = 7;
        EXPECT_EQ(plugin_->DevicePropertySheets(&info, 0), S_OK);
        EXPECT_EQ(info.Result, 1u);
    }
    SETRESULT_INFO given{sizeof(SETRESULT_INFO), 0, nullptr, 42};
    info.Reason = PROPSHEETUI_REASON_SET_RESULT;
    info.lParamInit = reinterpret_cast<LPARAM>(&given);
    EXPECT_EQ(plugin_->DevicePropertySheets(&info, 0), S_OK);
    EXPECT_EQ(info.Result, 42u);
    info.Reason = PROPSHEETUI_REASON_GET_ICON;
    EXPECT_EQ(plugin_->DevicePropertySheets(&info, 0), S_OK);
    EXPECT_EQ(info.Result, 0u);
}

TEST_F(PluginTest, PageBlockAppliesAndSetsTheSheetResult) {
    SetDeviceId(kDockId);
    PROPSHEETUI_INFO info = Sheet(PROPSHEETUI_REASON_INIT, true);
    ASSERT_EQ(plugin_->DocumentPropertySheets(&info, 0), S_OK);
    PageBlock* status = sheet_.calls[1].block;
    CPSUICBPARAM param{};
    param.cbSize = sizeof param;
    param.UserData = status->block.UserData;
    param.Reason = CPSUICB_REASON_APPLYNOW;
    EXPECT_EQ(status->block.pfnCallBack(&param), CPSUICB_ACTION_NONE);
    ASSERT_EQ(sheet_.calls.back().function, CPSFUNC_SET_RESULT);
    EXPECT_EQ(sheet_.calls.back().result, CPSUI_OK);
    param.Reason = CPSUICB_REASON_SETACTIVE;
    EXPECT_EQ(status->block.pfnCallBack(&param), 1);
    EXPECT_TRUE(status->item.Flags & OPTIF_CHANGED);
    param.Reason = CPSUICB_REASON_KILLACTIVE;
    EXPECT_EQ(status->block.pfnCallBack(&param), 1);
    param.Reason = CPSUICB_REASON_SEL_CHANGED;
    EXPECT_EQ(status->block.pfnCallBack(&param), 0);
}

TEST_F(PluginTest, OptionItemListsEveryChoiceAndHidesThreeDocumentOptions) {
    SetDeviceId(kDockId);
    OEMCUIPPARAM param = Options(true);
    EXPECT_EQ(plugin_->CommonUIProp(OEMCUIP_DOCPROP, &param), S_OK);
    EXPECT_EQ(param.cOEMOptItems, 1u);

    OPTITEM own{};
    std::vector<OPTITEM> driver(5);
    const BYTE ids[] = {DMPUB_ORIENTATION, DMPUB_COLOR, DMPUB_NUP, DMPUB_PAGEORDER, DMPUB_COPIES_COLLATE};
    for (std::size_t i = 0; i < driver.size(); ++i) driver[i].DMPubID = ids[i];
    param.pOEMOptItems = &own;
    param.pDrvOptItems = driver.data();
    param.cDrvOptItems = static_cast<DWORD>(driver.size());
    block_.ccIndex = 2;
    block_.Write(privateBlock_);
    ASSERT_EQ(plugin_->CommonUIProp(OEMCUIP_DOCPROP, &param), S_OK);
    EXPECT_EQ(own.cbSize, sizeof(OPTITEM));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(own.pName)), u"Velmo Color Profile");
    ASSERT_NE(own.pOptType, nullptr);
    EXPECT_EQ(own.pOptType->Type, TVOT_COMBOBOX);
    ASSERT_EQ(own.pOptType->Count, 4);  // three tables and none
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(own.pOptType->pOptParam[3].pData)), u"None");
    EXPECT_EQ(own.Sel, 2);
    const DWORD hidden[] = {0, 0x1A2, 0x1A2, 0x1A2, 0};
    for (std::size_t i = 0; i < driver.size(); ++i) EXPECT_EQ(driver[i].Flags, hidden[i]) << i;

    // The printer's list hides nothing.
    for (auto& item : driver) item.Flags = 0;
    OEMCUIPPARAM printer = Options(false);
    printer.pOEMOptItems = &own;
    printer.pDrvOptItems = driver.data();
    printer.cDrvOptItems = static_cast<DWORD>(driver.size());
    ASSERT_EQ(plugin_->CommonUIProp(OEMCUIP_PRNPROP, &printer), S_OK);
    for (const auto& item : driver) EXPECT_EQ(item.Flags, 0u);
    EXPECT_EQ(plugin_->CommonUIProp(3, &printer), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PluginTest, PrinterItemAppliesTheChoiceToTheQueue) {
    SetDeviceId(kDockId);
    OPTITEM own{};
    OEMCUIPPARAM param = Options(false);
    param.pOEMOptItems = &own;
    ASSERT_EQ(plugin_->CommonUIProp(OEMCUIP_PRNPROP, &param), S_OK);
    ASSERT_NE(param.OEMCUIPCallback, nullptr);
    own.Sel = 1;
    CPSUICBPARAM change{};
    change.pCurItem = &own;
    change.Reason = CPSUICB_REASON_APPLYNOW;
    EXPECT_EQ(param.OEMCUIPCallback(&change, &param), CPSUICB_ACTION_ITEMS_APPLIED);
    const auto stored = [this](const char16_t* name) {
        return Spooler().GetPrinterData(kQueue, Platform::kPrinterDriverDataKey, name);
    };
    ASSERT_TRUE(stored(u"CC_INDEX"));
    EXPECT_EQ(stored(u"CC_INDEX")->data, (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(stored(u"CC_FILTER")->data, Text(u"ORVDynCC.dll").data);
    EXPECT_EQ(stored(u"CC_FILTER_DATA")->data, Text(u"natural").data);
    // The last choice switches correction off.
    own.Sel = 3;
    EXPECT_EQ(param.OEMCUIPCallback(&change, &param), CPSUICB_ACTION_ITEMS_APPLIED);
    EXPECT_TRUE(stored(u"CC_FILTER")->data.empty());
    EXPECT_TRUE(stored(u"CC_FILTER_DATA")->data.empty());
    change.Reason = CPSUICB_REASON_SETACTIVE;
    EXPECT_EQ(param.OEMCUIPCallback(&change, &param), 1);
}

TEST_F(PluginTest, DocumentItemKeepsItsChoiceInThePrivateBlock) {
    SetDeviceId(kDockId);
    OPTITEM own{};
    OEMCUIPPARAM param = Options(true);
    param.pOEMOptItems = &own;
    ASSERT_EQ(plugin_->CommonUIProp(OEMCUIP_DOCPROP, &param), S_OK);
    own.Sel = 2;
    CPSUICBPARAM change{};
    change.pCurItem = &own;
    change.Reason = CPSUICB_REASON_KILLACTIVE;
    EXPECT_EQ(param.OEMCUIPCallback(&change, &param), 0);
    EXPECT_EQ(PrivateDevMode::Read(privateBlock_).ccIndex, 2);
    own.Sel = 0;
    change.Reason = CPSUICB_REASON_SETACTIVE;
    EXPECT_EQ(param.OEMCUIPCallback(&change, &param), CPSUICB_ACTION_OPTIF_CHANGED);
    EXPECT_EQ(own.Sel, 2);
    EXPECT_TRUE(own.Flags & OPTIF_CHANGED);
    // Nothing is written to the queue from a document.
    EXPECT_FALSE(Spooler().GetPrinterData(kQueue, Platform::kPrinterDriverDataKey, u"CC_INDEX"));
}

}  // namespace
