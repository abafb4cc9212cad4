// The plug-in's pages as the driver's property sheet shows them: built
// through the driver's user interface, opened as dialogs from their
// templates, read and applied as a user sees and does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Mfc/WinUser.h"
#include "Pages.h"
#include "Platform/DriverHost.h"
#include "Platform/Paths.h"
#include "PluginTestSupport.h"
#include "PrivateDevMode.h"
#include "UiPlugin.h"
#include "Windows/Common/ResourceDLL.h"

namespace {

using namespace PluginTest;
using Platform::PrinterUiHost;

constexpr const char* kStatusId = "MFG:Velmo;MDL:Glimmer Dock;CMD:VELMO;CCP:2;PUR:7;TSZ:4x6;VER:3.10;";

class PagesTest : public MachineFixture {
protected:
    PagesTest() {
        ResourceDLL::Reset();
        sheet_ = CreateWindowExW(0, u"Sheet", u"Properties", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                                 nullptr, nullptr);
    }
    ~PagesTest() override {
        for (HWND page : pages_) DestroyWindow(page);
        DestroyWindow(sheet_);
        host_.Close();
        ResourceDLL::Reset();
    }

    void Start(bool document) {
        ASSERT_EQ(host_.Load(u"Gorlith.dll", Gorlith::kUiPluginClass), S_OK);
        ASSERT_EQ(host_.Open(kQueue), S_OK);
        ASSERT_EQ(document ? host_.DocumentPropertySheets() : host_.DevicePropertySheets(), S_OK);
    }
    std::vector<UINT> Templates() const {
        std::vector<UINT> ids;
        for (const auto& block : host_.Blocks()) ids.push_back(block.pages.at(0).DlgTemplateID);
        return ids;
    }
    // The block's page as the sheet opens it.
    HWND Open(std::size_t block) {
        const auto& added = host_.Blocks().at(block);
        PROPSHEETPAGEW page{sizeof(PROPSHEETPAGEW), 0, nullptr, added.pages[0].DlgProc,
                            static_cast<LPARAM>(added.block.UserData)};
        HWND dialog = CreateDialogIndirectParamW(nullptr, static_cast<LPCDLGTEMPLATEW>(added.pages[0].hDlgTemplate),
                                                 sheet_, added.pages[0].DlgProc, reinterpret_cast<LPARAM>(&page));
        if (dialog == nullptr) return nullptr;
        pages_.push_back(dialog);
        ShowWindow(dialog, SW_SHOW);  // as the sheet shows its current page
        return dialog;
    }
    static std::u16string TextOf(HWND dialog, int id) {
        WCHAR text[256] = {};
        GetDlgItemTextW(dialog, id, text, 256);
        return std::u16string(text);
    }
    static bool Visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
    PrivateDevMode Block() { return PrivateDevMode::Read(host_.PrivateSettings().data()); }
    void SetBlockIndex(int index) {
        PrivateDevMode block = Block();
        block.ccIndex = index;
        block.Write(host_.PrivateSettings().data());
    }
    // The model with four more tables, seven in all; the new ones have no
    // module on the head.
    void SevenTables() {
        std::ifstream in(install_ / "ORV.xml");
        std::stringstream text;
        text << in.rdbuf();
        std::string xml = text.str();
        const std::string mono = "<lut id=\"mono\" resourceId=\"603\"/>";
        xml.replace(xml.find(mono), mono.size(),
                    mono +
                        "<lut id=\"t4\" resourceId=\"602\"/><lut id=\"t5\" resourceId=\"602\"/>"
                        "<lut id=\"t6\" resourceId=\"602\"/><lut id=\"t7\" resourceId=\"602\"/>");
        std::ofstream(install_ / "ORV.xml") << xml;
    }

    Platform::ResourceRegistration resources_ = Platform::RegisterResourceModule(
        u"ORVRES.DLL", Platform::LoadResourceFile(VELMO_SOURCE_DIR "/data/ORVRES.rc.txt"));
    PrinterUiHost host_;
    HWND sheet_ = nullptr;
    std::vector<HWND> pages_;
};

TEST_F(PagesTest, PrinterSheetShowsTheDocksStatusWithFirmware) {
    SetDeviceId(kStatusId);
    Start(false);
    ASSERT_EQ(Templates(), (std::vector<UINT>{602}));
    HWND page = Open(0);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(TextOf(page, 652), u"7 of 10 prints remaining");
    EXPECT_EQ(SendDlgItemMessageW(page, 651, PBM_GETPOS, 0, 0), 7);
    EXPECT_EQ(TextOf(page, 656), u"4x6 in");
    EXPECT_EQ(TextOf(page, 657), u"Plug-in version 1.0.0.1");
    EXPECT_TRUE(Visible(page, 659));
    EXPECT_EQ(TextOf(page, 659), u"3.10");
    EXPECT_EQ(GetPropW(page, Gorlith::kPageProperty),
              host_.Blocks()[0].block.UserData
                  ? reinterpret_cast<const Gorlith::PageBlock*>(host_.Blocks()[0].block.UserData)->page
                  : nullptr);
    DestroyWindow(page);
    pages_.clear();
    EXPECT_EQ(reinterpret_cast<const Gorlith::PageBlock*>(host_.Blocks()[0].block.UserData)->page->window, nullptr);
}

TEST_F(PagesTest, DocumentSheetStatusPageHasNoFirmware) {
    SetDeviceId(kStatusId);
    Start(true);
    ASSERT_EQ(Templates(), (std::vector<UINT>{600, 602}));
    HWND page = Open(1);
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(Visible(page, 659));
    EXPECT_FALSE(Visible(page, 658));
    EXPECT_TRUE(Visible(page, 652));
}

TEST_F(PagesTest, WithoutDeviceIdTheStatusLinesAreHidden) {
    Start(false);
    HWND bare = Open(0);
    ASSERT_NE(bare, nullptr);
    for (int id : {650, 651, 652, 655, 656, 660}) EXPECT_FALSE(Visible(bare, id)) << id;
    EXPECT_TRUE(Visible(bare, 657));
}

TEST_F(PagesTest, ColourPageOffersTheTablesAndAppliesIntoTheDocument) {
    SetDeviceId(kDockId);
    Start(true);
    SetBlockIndex(2);
    HWND page = Open(0);
    ASSERT_NE(page, nullptr);
    // Tables in key order, then none; unused buttons stay hidden.
    EXPECT_EQ(TextOf(page, 603), u"Black and white");
    EXPECT_EQ(TextOf(page, 604), u"Natural");
    EXPECT_EQ(TextOf(page, 605), u"Vivid");
    EXPECT_EQ(TextOf(page, 606), u"None");
    EXPECT_FALSE(Visible(page, 607));
    EXPECT_FALSE(Visible(page, 609));
    EXPECT_EQ(IsDlgButtonChecked(page, 605), BST_CHECKED);

    CheckRadioButton(page, 603, 608, 604);
    EXPECT_EQ(host_.BlockCallback(0, CPSUICB_REASON_KILLACTIVE, page), 1);
    EXPECT_EQ(Block().ccIndex, 1);
    EXPECT_STREQ(Block().ccFilter, "ORVDynCC.dll");
    EXPECT_STREQ(Block().ccFilterData, "natural");
    // None switches the filter off.
    CheckRadioButton(page, 603, 608, 606);
    EXPECT_EQ(host_.BlockCallback(0, CPSUICB_REASON_APPLYNOW, page), 0);
    EXPECT_EQ(Block().ccIndex, 3);
    EXPECT_STREQ(Block().ccFilter, "");
    EXPECT_STREQ(Block().ccFilterData, "");
    ASSERT_FALSE(host_.Calls().empty());
    EXPECT_EQ(host_.Calls().back().function, CPSFUNC_SET_RESULT);
    EXPECT_EQ(host_.Calls().back().param2, CPSUI_OK);
}

TEST_F(PagesTest, SevenTablesGiveSixButtonsAndEightItemEntries) {
    SevenTables();
    SetDeviceId(kDockId);
    Start(true);
    SetBlockIndex(7);  // the last record has no button
    HWND page = Open(0);
    ASSERT_NE(page, nullptr);
    for (int id = 603; id <= 608; ++id) {
        EXPECT_TRUE(Visible(page, id)) << id;
        EXPECT_EQ(IsDlgButtonChecked(page, id), BST_UNCHECKED) << id;
    }
    // Applying with nothing checked keeps the document's choice.
    EXPECT_EQ(host_.BlockCallback(0, CPSUICB_REASON_KILLACTIVE, page), 1);
    EXPECT_EQ(Block().ccIndex, 7);

    ASSERT_EQ(host_.CommonUIProp(OEMCUIP_DOCPROP), S_OK);
    ASSERT_EQ(host_.PluginItems().size(), 1u);
    EXPECT_EQ(host_.PluginItems()[0].pOptType->Count, 8);
}

TEST_F(PagesTest, DeveloperModeListsTableFilesAndStoresTheChosenOne) {
    SetDeviceId(kDockId);
    Set(u"CC_DEV_TESTING", Platform::RegValue::Dword(1));
    const std::filesystem::path system = Platform::MapPath(u"C:\\Windows\\system32");
    std::filesystem::create_directories(system);
    for (const char* name : {"b.tli", "a.tli", "notes.txt"}) std::ofstream(system / name) << "x";
    Start(true);
    HWND page = Open(0);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(Visible(page, 608));
    EXPECT_TRUE(Visible(page, 609));
    ASSERT_EQ(SendDlgItemMessageW(page, 609, CB_GETCOUNT, 0, 0), 2);
    SendDlgItemMessageW(page, 609, CB_SETCURSEL, 1, 0);
    CheckRadioButton(page, 603, 608, 608);
    host_.BlockCallback(0, CPSUICB_REASON_KILLACTIVE, page);
    EXPECT_EQ(Block().ccIndex, 5);
    EXPECT_STREQ(Block().ccFilterData, "b.tli");
}

TEST_F(PagesTest, PrinterOptionItemAppliesThroughTheDriver) {
    SetDeviceId(kDockId);
    ASSERT_EQ(host_.Load(u"Gorlith.dll", Gorlith::kUiPluginClass), S_OK);
    ASSERT_EQ(host_.Open(kQueue), S_OK);
    ASSERT_EQ(host_.CommonUIProp(OEMCUIP_PRNPROP), S_OK);
    for (const auto& item : host_.DriverItems()) EXPECT_EQ(item.Flags & OPTIF_HIDE, 0u);
    host_.PluginItems()[0].Sel = 2;
    EXPECT_EQ(host_.ItemCallback(0, CPSUICB_REASON_APPLYNOW), CPSUICB_ACTION_ITEMS_APPLIED);
    EXPECT_EQ(Spooler().GetPrinterData(kQueue, Platform::kPrinterDriverDataKey, u"CC_FILTER_DATA")->data,
              Text(u"vivid").data);
    ASSERT_EQ(host_.CommonUIProp(OEMCUIP_DOCPROP), S_OK);
    for (const auto& item : host_.DriverItems()) {
        const bool hidden = item.DMPubID == DMPUB_COLOR || item.DMPubID == DMPUB_NUP || item.DMPubID == DMPUB_PAGEORDER;
        EXPECT_EQ(item.Flags & 0x1A2u, hidden ? 0x1A2u : 0u) << int(item.DMPubID);
    }
}

}  // namespace
