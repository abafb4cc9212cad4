// The utility driven as a user drives it, on a machine with simulated docks
// and the documents we ship, loading the test plug-ins.
#include "ConfigUtilityApp.h"
#include "ConfigUtilityDlg.h"
#include "TestPluginControl.h"

#include "Mfc/GTestDriver.h"
#include "Platform/HtmlHelp.h"
#include "Platform/Machine.h"
#include "Platform/Registry.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Windows/Common/ResourceDLL.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

using Simulators::DockPrinter;
using ::testing::ElementsAre;

constexpr char16_t kPluginA[] = u"VelmoTestPluginA";
constexpr char16_t kPluginB[] = u"VelmoTestPluginB";
constexpr int kValueEdit = 1001;        // the test plug-ins' edit box
constexpr int kDeviceNameEdit = 12010;  // the Bluetooth plug-in's device name

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

int CountOf(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

class ConfigUtilityTest : public ::testing::Test {
protected:
    ConfigUtilityTest() {
        ResetTestPlugins();
        install_ = std::filesystem::temp_directory_path() /
                   ("velmo-fandrel-" + std::to_string(::getpid()) + "-" + std::to_string(++serial_));
        std::filesystem::create_directories(install_);
        const std::filesystem::path data = std::filesystem::path(VELMO_SOURCE_DIR) / "data";
        std::filesystem::copy_file(data / "ORV.xml", install_ / "ORV.xml");
        std::filesystem::copy_file(data / "ORVIDs.xml", install_ / "ORVIDs.xml");
        // The dock and the studio printer have plug-ins; the wireless dock
        // (a network model too) has none.
        Map({{0x410F, "VelmoTestPluginA"}, {0x410B, "VelmoTestPluginB"}});
        auto& registry = Platform::GetMachine().Registry();
        registry.CreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300");
        registry.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                          Platform::RegValue::String(Wide(install_.string())));
        PluginScript(kPluginB).guid = u"0123-4567";

        dock_ = Dock(0x410F, u"Glimmer Dock", u"GD0001", "MFG:Velmo;MDL:Glimmer Dock;VER:3.01;");
        studio_ = Dock(0x410B, u"Glimmer Photo 6 Studio", u"GS0001", "MFG:Velmo;MDL:Glimmer Photo 6 Studio;VER:2.0;");
        dock_->Attach(hub_, 1);
        studio_->Attach(hub_, 2);
    }
    ~ConfigUtilityTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(install_, ignored);
        ResetTestPlugins();
    }

    void Map(const std::map<unsigned, std::string>& plugins) {
        std::ofstream file(install_ / "WinPluginMapping.xml");
        file << "<velmo_pd_config>";
        for (const auto& [pid, name] : plugins) {
            file << "<printer vid=\"0x3B7D\" pid=\"" << pid << "\"><plugin><name>" << name
                 << "</name></plugin></printer>";
        }
        file << "</velmo_pd_config>";
    }

    static std::shared_ptr<DockPrinter> Dock(WORD productId, std::u16string product, std::u16string serial,
                                             std::string deviceId) {
        auto identity = DockPrinter::DefaultIdentity();
        identity.productId = productId;
        identity.product = std::move(product);
        identity.serialNumber = std::move(serial);
        auto dock = std::make_shared<DockPrinter>(identity);
        dock->SetDeviceIdBase(std::move(deviceId));
        return dock;
    }

    Mfc::ModalSession Start() { return driver_.BeginModal(dialog_); }

    // The resource library the programs ship with, as installed beside them.
    Platform::ResourceRegistration resources_ = Platform::RegisterResourceModule(
        u"ORVRES.DLL", Platform::LoadResourceFile(VELMO_SOURCE_DIR "/data/ORVRES.rc.txt"));

    // Where the host placed the plug-in's pane, in the host's client area.
    RECT PaneRect() const {
        RECT r;
        dialog_.PluginDialog()->GetWindowRect(&r);
        dialog_.ScreenToClient(&r);
        return r;
    }

    static inline int serial_ = 0;
    Platform::ScopedFreshMachine machine_;
    std::filesystem::path install_;
    DEVINST hub_ = Platform::GetMachine().Devices().AddHostController(8).rootHub;
    std::shared_ptr<DockPrinter> dock_;
    std::shared_ptr<DockPrinter> studio_;
    Mfc::TestDriver driver_{Mfc::GTestFailures()};
    CConfigUtilityDlg dialog_;
};

TEST_F(ConfigUtilityTest, ListsThePrintersAndLoadsEachOnesPlugin) {
    auto s = Start();
    ASSERT_TRUE(s.IsOpen());
    EXPECT_THAT(s.ComboItems(IDC_PRINTER_LIST),
                ElementsAre(CString(u"Glimmer Dock"), CString(u"Glimmer Photo 6 Studio")));
    EXPECT_EQ(s.ComboIndex(IDC_PRINTER_LIST), 0);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0001"));
    EXPECT_FALSE(s.Visible(IDC_PRINTER_IDENTITY));
    // Create, window, mask (layout), read, identity.
    EXPECT_THAT(PluginCalls(kPluginA),
                ElementsAre("CreateConfigDialog", "GetOptionalButtons", "NewPrinterSelected GD0001",
                            "IsPrinterSupported", "GetPrinterGuid"));
    EXPECT_EQ(PaneRect().left, 0);
    EXPECT_EQ(PaneRect().top, 110);
    EXPECT_EQ(ConfigPlugin::LoadedCount(), 1);

    ClearPluginLog();
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    EXPECT_THAT(PluginCalls(kPluginA), ElementsAre("AreSettingsSaved", "DestroyWindow", "~CTestConfigDlg"));
    EXPECT_THAT(PluginCalls(kPluginB),
                ElementsAre("CreateConfigDialog", "GetOptionalButtons", "NewPrinterSelected GS0001",
                            "IsPrinterSupported", "GetPrinterGuid"));
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GS0001"));
    EXPECT_TRUE(s.Visible(IDC_PRINTER_IDENTITY));
    EXPECT_EQ(s.Text(IDC_PRINTER_IDENTITY), CString(u"0123-4567"));
    EXPECT_EQ(ConfigPlugin::LoadedCount(), 1);
    EXPECT_TRUE(driver_.MessageBoxes().empty());

    s.Click(IDOK);
    EXPECT_EQ(s.Result(), IDOK);
    EXPECT_EQ(ConfigPlugin::LoadedCount(), 0);
}

TEST_F(ConfigUtilityTest, ARejectedPrinterStaysRejectedAndAnUnreadableOneIsIdentifiedAgain) {
    // A dock whose device id cannot be read, and a base dock on firmware
    // older than 3.01.
    studio_->Unplug();
    dock_->SetDeviceIdBase("");
    auto old = Dock(0x410F, u"Glimmer Dock", u"GD0002", "MFG:Velmo;MDL:Glimmer Dock;VER:3.0;");
    old->Attach(hub_, 2);
    const std::u16string failed = u"The operation failed.";
    const std::u16string rejected = u"This printer is not supported by the configuration utility.";
    driver_.ExpectMessageBox(failed, IDOK);
    auto s = Start();
    ASSERT_TRUE(s.IsOpen()) << "one unreadable printer does not end the program";
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0001"));
    EXPECT_EQ(dialog_.PluginDialog(), nullptr);

    driver_.ExpectMessageBox(rejected, IDOK);
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0002"));
    // Still unreadable: read again, and told again.
    driver_.ExpectMessageBox(failed, IDOK);
    s.SelectCombo(IDC_PRINTER_LIST, 0);
    EXPECT_EQ(dialog_.PluginDialog(), nullptr);
    // Readable now: identified, and its plug-in loads.
    dock_->SetDeviceIdBase("MFG:Velmo;MDL:Glimmer Dock;VER:3.01;");
    driver_.ExpectMessageBox(rejected, IDOK);
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    s.SelectCombo(IDC_PRINTER_LIST, 0);
    EXPECT_EQ(CountOf(PluginCalls(kPluginA), "NewPrinterSelected GD0001"), 1);
    // The rejected printer stays rejected, and the plug-in of the one before
    // does not stay behind under its name.
    driver_.ExpectMessageBox(rejected, IDOK);
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    EXPECT_EQ(dialog_.PluginDialog(), nullptr);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0002"));
    EXPECT_EQ(CountOf(PluginCalls(kPluginA), "NewPrinterSelected GD0002"), 0);
    EXPECT_EQ(driver_.MessageBoxes().size(), 5u);
}

TEST_F(ConfigUtilityTest, ADockWhoseVersionIsNoNumberIsAnUnreadableOne) {
    dock_->SetDeviceIdBase("MFG:Velmo;MDL:Glimmer Dock;VER:3.01b;");
    const std::u16string failed = u"The operation failed.";
    driver_.ExpectMessageBox(failed, IDOK);
    auto s = Start();
    ASSERT_TRUE(s.IsOpen());
    EXPECT_EQ(s.ComboIndex(IDC_PRINTER_LIST), 0);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0001"));
    EXPECT_EQ(dialog_.PluginDialog(), nullptr);

    s.SelectCombo(IDC_PRINTER_LIST, 1);
    ASSERT_NE(dialog_.PluginDialog(), nullptr);
    // Identified again on its next selection; the list, the serial and the
    // plug-in stay with the one printer.
    driver_.ExpectMessageBox(failed, IDOK);
    s.SelectCombo(IDC_PRINTER_LIST, 0);
    EXPECT_EQ(s.ComboIndex(IDC_PRINTER_LIST), 0);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0001"));
    EXPECT_EQ(dialog_.PluginDialog(), nullptr);
    EXPECT_EQ(driver_.MessageBoxes().size(), 2u);

    // And a Refresh goes on as well.
    driver_.ExpectMessageBox(failed, IDOK);
    s.Click(IDC_REFRESH);
    EXPECT_TRUE(s.IsOpen());
    EXPECT_EQ(s.ComboItems(IDC_PRINTER_LIST).size(), 2u);
}

TEST_F(ConfigUtilityTest, LeaveCheckNoDropsTheEditsAndCancelKeepsThePrinter) {
    auto s = Start();
    s.Type(kValueEdit, u"edited");
    driver_.ExpectMessageBox(u"The settings have changed. Do you want to save the changes?", IDNO);
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    EXPECT_EQ(CountOf(PluginCalls(kPluginA), "ApplySettings edited -> 0"), 0);
    EXPECT_EQ(CountOf(PluginCalls(kPluginB), "CreateConfigDialog"), 1);
    EXPECT_EQ(driver_.MessageBoxes().back().request.type, static_cast<UINT>(MB_YESNOCANCEL));

    s.Type(kValueEdit, u"kept");
    ClearPluginLog();
    driver_.AnswerNextMessageBox(IDCANCEL);
    s.SelectCombo(IDC_PRINTER_LIST, 0);
    EXPECT_EQ(s.ComboIndex(IDC_PRINTER_LIST), 1);
    EXPECT_EQ(s.Text(kValueEdit), CString(u"kept"));
    EXPECT_EQ(CountOf(PluginCalls(kPluginB), "DestroyWindow"), 0);
    EXPECT_TRUE(PluginCalls(kPluginA).empty());

    // Yes applies before leaving.
    driver_.AnswerNextMessageBox(IDYES);
    s.Click(IDOK);
    EXPECT_EQ(CountOf(PluginCalls(kPluginB), "ApplySettings kept -> 0"), 1);
    EXPECT_EQ(s.Result(), IDOK);
}

TEST_F(ConfigUtilityTest, AFailedApplyIsToldOnceAndAsksAgainOnlyWhenLeaving) {
    // The Bluetooth plug-in on the dock: it asks for a rescan after every
    // apply.
    Map({{0x410F, "Corrani"}, {0x410B, "VelmoTestPluginB"}});
    const std::u16string question = u"The settings have changed. Do you want to save the changes?";
    const std::u16string unreachable =
        u"Unable to communicate with the printer. Please check your cable connections and try again.";
    auto s = Start();
    ASSERT_NE(dialog_.PluginDialog(), nullptr);

    // Refused: the plug-in says why, and nothing follows.
    s.Type(kDeviceNameEdit, u"");
    driver_.ExpectMessageBox(u"Please enter a device name.", IDOK);
    s.Click(IDC_APPLY);
    EXPECT_EQ(driver_.MessageBoxes().size(), 1u);

    // The printer gone: told once; no rescan, and the edit stays.
    s.Type(kDeviceNameEdit, u"Hall dock");
    dock_->Unplug();
    driver_.ExpectMessageBox(unreachable, IDOK);
    s.Click(IDC_APPLY);
    EXPECT_EQ(driver_.MessageBoxes().size(), 2u);
    EXPECT_EQ(s.ComboItems(IDC_PRINTER_LIST).size(), 2u);
    EXPECT_EQ(s.Text(kDeviceNameEdit), CString(u"Hall dock"));

    // Leaving asks; Yes applies again, fails again, and the user stays.
    driver_.ExpectMessageBox(question, IDYES);
    driver_.ExpectMessageBox(unreachable, IDOK);
    s.Click(IDOK);
    EXPECT_TRUE(s.IsOpen());
    // No drops the edit and ends it.
    driver_.ExpectMessageBox(question, IDNO);
    s.Click(IDOK);
    EXPECT_EQ(s.Result(), IDOK);
    EXPECT_EQ(driver_.MessageBoxes().size(), 5u);
}

TEST_F(ConfigUtilityTest, EachActionAsksItsQuestionOnceAndAFailedTestIsLeftAsTold) {
    PluginScript(kPluginA).mask = kConfigButtonTest;
    PluginScript(kPluginA).testStatus = kConfigInvalid;
    const std::u16string question = u"The settings have changed. Do you want to save the changes?";
    auto s = Start();

    // Refresh: one question; No drops the edit and the printer is read anew.
    s.Type(kValueEdit, u"edited");
    driver_.ExpectMessageBox(question, IDNO);
    s.Click(IDC_REFRESH);
    EXPECT_EQ(driver_.MessageBoxes().size(), 1u);
    EXPECT_EQ(CountOf(PluginCalls(kPluginA), "NewPrinterSelected GD0001"), 2);
    EXPECT_EQ(s.Text(kValueEdit), CString(u""));

    // A failed test, which the plug-in has told: nothing is asked, and the
    // edit stays for the user's next step.
    s.Type(kValueEdit, u"tried");
    ClearPluginLog();
    s.Click(IDC_TEST);
    EXPECT_THAT(PluginCalls(kPluginA), ElementsAre("TestConnection"));
    EXPECT_EQ(driver_.MessageBoxes().size(), 1u);
    EXPECT_EQ(s.Text(kValueEdit), CString(u"tried"));
}

TEST_F(ConfigUtilityTest, RescanKeepsThePrinterByDriverKey) {
    auto s = Start();
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    // The dock moves behind the studio printer.
    dock_->Unplug();
    dock_->Attach(hub_, 3);
    ClearPluginLog();
    s.Click(IDC_REFRESH);
    EXPECT_THAT(s.ComboItems(IDC_PRINTER_LIST),
                ElementsAre(CString(u"Glimmer Photo 6 Studio"), CString(u"Glimmer Dock")));
    EXPECT_EQ(s.ComboIndex(IDC_PRINTER_LIST), 0);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GS0001"));
    EXPECT_EQ(CountOf(PluginCalls(kPluginB), "NewPrinterSelected GS0001"), 1);

    // A printer gone: line 0.
    studio_->Unplug();
    s.Click(IDC_REFRESH);
    EXPECT_THAT(s.ComboItems(IDC_PRINTER_LIST), ElementsAre(CString(u"Glimmer Dock")));
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0001"));
}

TEST_F(ConfigUtilityTest, AnUnmappedPrinterFailsTheScanAndTheListStays) {
    auto s = Start();
    auto wireless = Dock(0x4104, u"Glimmer Dock Wireless", u"GW0001", "MFG:Velmo;MDL:Glimmer Dock Wireless;VER:1.0;");
    wireless->Attach(hub_, 3);
    driver_.ExpectMessageBox(u"The printer scan failed. Make sure a supported printer is connected and switched on.",
                             IDOK);
    s.Click(IDC_REFRESH);
    EXPECT_EQ(s.ComboItems(IDC_PRINTER_LIST).size(), 2u);
    EXPECT_EQ(dialog_.Printers().size(), 2u);
    EXPECT_TRUE(s.IsOpen());
}

TEST_F(ConfigUtilityTest, ButtonsFollowThePluginsMask) {
    PluginScript(kPluginB).mask = kConfigButtonHelp | kConfigButtonWizard | kConfigButtonTest;
    auto s = Start();
    EXPECT_TRUE(s.Visible(IDC_APPLY));
    EXPECT_TRUE(s.Visible(IDOK));
    EXPECT_FALSE(s.Visible(IDC_WIZARD));
    EXPECT_FALSE(s.Visible(IDC_TEST));
    EXPECT_FALSE(s.Visible(IDC_HELP_BUTTON));
    // The host is as wide as the pane, 185 pixels taller; buttons end 50
    // pixels above its bottom.
    const RECT pane = PaneRect();
    RECT host;
    dialog_.GetWindowRect(&host);
    EXPECT_EQ(host.right - host.left, pane.right - pane.left);
    const int height = (pane.bottom - pane.top) + 185;
    EXPECT_EQ(host.bottom - host.top, height);
    for (int id : {static_cast<int>(IDC_APPLY), IDOK}) {
        RECT r;
        ::GetWindowRect(s.Control(id), &r);
        dialog_.ScreenToClient(&r);
        EXPECT_EQ(r.bottom, height - 50) << id;
    }

    s.SelectCombo(IDC_PRINTER_LIST, 1);
    EXPECT_TRUE(s.Visible(IDC_WIZARD));
    EXPECT_TRUE(s.Visible(IDC_TEST));
    EXPECT_TRUE(s.Visible(IDC_HELP_BUTTON));
    ClearPluginLog();
    s.Click(IDC_WIZARD);
    s.Click(IDC_HELP_BUTTON);
    s.Click(IDC_TEST);
    // The test is followed by a fresh read.
    EXPECT_THAT(PluginCalls(kPluginB),
                ElementsAre("RunWizard", "ShowHelp", "TestConnection", "AreSettingsSaved", "DestroyWindow",
                            "~CTestConfigDlg", "CreateConfigDialog", "GetOptionalButtons", "NewPrinterSelected GS0001",
                            "IsPrinterSupported", "GetPrinterGuid"));
}

TEST_F(ConfigUtilityTest, NoUsablePluginLeavesTheAreaEmptyWithoutAMessage) {
    // A library without the export, one whose export makes nothing, and
    // names that would reach outside the program's folder.
    for (const std::string name : {"VelmoTestModule", "VelmoTestPluginB", "../bin/VelmoTestPluginB",
                                   "..\\bin\\VelmoTestPluginB", "sub/VelmoTestPluginB"}) {
        SCOPED_TRACE(name);
        ResetTestPlugins();
        PluginScript(kPluginB).nullDialog = true;
        Map({{0x410F, "VelmoTestPluginA"}, {0x410B, name}});
        CConfigUtilityDlg dialog;
        auto s = driver_.BeginModal(dialog);
        s.SelectCombo(IDC_PRINTER_LIST, 1);
        EXPECT_EQ(dialog.PluginDialog(), nullptr);
        EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GS0001"));
        EXPECT_EQ(CountOf(PluginCalls(kPluginA), "DestroyWindow"), 1);
        EXPECT_LE(ConfigPlugin::LoadedCount(), 1);
        if (name != "VelmoTestPluginB") {
            EXPECT_TRUE(PluginCalls(kPluginB).empty());
        }
        s.Click(IDOK);
    }
    EXPECT_TRUE(driver_.MessageBoxes().empty());
}

TEST_F(ConfigUtilityTest, ARescanAskedForDuringTheLeaveCheckWaitsForTheUsersChoice) {
    // The plug-in's apply makes the printer leave and rejoin the bus.
    PluginScript(kPluginA).rescanAfterApply = true;
    auto s = Start();
    s.Type(kValueEdit, u"new name");
    ClearPluginLog();
    driver_.AnswerNextMessageBox(IDYES);
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    EXPECT_EQ(CountOf(PluginCalls(kPluginA), "ApplySettings new name -> 0"), 1);
    EXPECT_EQ(s.ComboIndex(IDC_PRINTER_LIST), 1);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GS0001"));
    EXPECT_EQ(CountOf(PluginCalls(kPluginA), "CreateConfigDialog"), 0) << "the old printer's plug-in came back";
    EXPECT_EQ(CountOf(PluginCalls(kPluginB), "CreateConfigDialog"), 1);
    EXPECT_EQ(dialog_.PluginDialog() != nullptr, true);
    EXPECT_EQ(driver_.MessageBoxes().size(), 1u);
}

TEST_F(ConfigUtilityTest, AFailedRescanLeavesTheListOnThePrinterWhosePluginIsShown) {
    PluginScript(kPluginA).rescanAfterApply = true;
    auto s = Start();
    s.Type(kValueEdit, u"new name");
    // An attached printer without a plug-in fails the rescan the apply asks
    // for, put off until the user's choice of the studio printer is made.
    auto wireless = Dock(0x4104, u"Glimmer Dock Wireless", u"GW0001", "MFG:Velmo;MDL:Glimmer Dock Wireless;VER:1.0;");
    wireless->Attach(hub_, 3);
    ClearPluginLog();
    driver_.AnswerNextMessageBox(IDYES);
    driver_.ExpectMessageBox(u"The printer scan failed. Make sure a supported printer is connected and switched on.",
                             IDOK);
    s.SelectCombo(IDC_PRINTER_LIST, 1);
    EXPECT_EQ(CountOf(PluginCalls(kPluginA), "ApplySettings new name -> 0"), 1);
    EXPECT_EQ(CountOf(PluginCalls(kPluginB), "CreateConfigDialog"), 0);
    EXPECT_NE(dialog_.PluginDialog(), nullptr);
    EXPECT_EQ(s.ComboIndex(IDC_PRINTER_LIST), 0);
    EXPECT_EQ(s.Text(IDC_SERIAL), CString(u"GD0001"));
    EXPECT_EQ(driver_.MessageBoxes().size(), 2u);
}

TEST_F(ConfigUtilityTest, TheWindowCarriesTheUtilitysIcon) {
    auto s = Start();
    const HICON icon = LoadIconW(ResourceDLL::Handle(), MAKEINTRESOURCEW(IDI_CONFIG_UTILITY));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(dialog_.GetIcon(TRUE), icon);
    EXPECT_EQ(dialog_.GetIcon(FALSE), icon);
}

TEST_F(ConfigUtilityTest, F1OpensTheHelpFilesContentsOrSaysHelpIsUnavailable) {
    std::vector<std::pair<std::u16string, UINT>> opened;
    HWND viewer = reinterpret_cast<HWND>(std::uintptr_t{0x7E000000});
    Platform::ScopedHtmlHelpHandler help([&](HWND, LPCWSTR file, UINT command, DWORD_PTR) {
        opened.emplace_back(file, command);
        return viewer;
    });
    auto s = Start();
    // The plug-in offers no Help button: F1 is the way to help.
    ASSERT_FALSE(s.Visible(IDC_HELP_BUTTON));
    ASSERT_TRUE(Mfc::Input::Key(VK_F1));
    s.PumpUntilIdle();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].first, u"VelmoWirelessPrinter.chm");
    EXPECT_EQ(opened[0].second, HH_DISPLAY_TOC);
    EXPECT_TRUE(driver_.MessageBoxes().empty());

    // No viewer: the user is told.
    viewer = nullptr;
    driver_.ExpectMessageBox(u"Help is not available: no viewer for the help file could be opened.", IDOK);
    ASSERT_TRUE(Mfc::Input::Key(VK_F1));
    s.PumpUntilIdle();
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(driver_.MessageBoxes().size(), 1u);
    EXPECT_TRUE(s.IsOpen());
}

TEST_F(ConfigUtilityTest, MissingDocumentsEndTheProgram) {
    std::filesystem::remove(install_ / "ORV.xml");
    driver_.ExpectMessageBox(u"The configuration utility could not start.", IDOK);
    auto s = Start();
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Result(), 0);
}

TEST_F(ConfigUtilityTest, ASecondStartBringsTheFirstWindowForwardAndEnds) {
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, u"CConfigUtilityApp!InitInstance");
    ASSERT_NE(held, nullptr);
    {
        // No window yet: it just ends.
        CConfigUtilityApp second;
        EXPECT_FALSE(second.InitInstance());
    }
    auto s = Start();
    ::ShowWindow(s.Window(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(s.Window()));
    CConfigUtilityApp second;
    EXPECT_FALSE(second.InitInstance());
    EXPECT_FALSE(IsIconic(s.Window()));
    EXPECT_TRUE(s.IsOpen());
    CloseHandle(held);
}

}  // namespace
