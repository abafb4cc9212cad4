// The setup assistant driven as a user drives it, on the simulated machine
// with the dock on USB announcing itself through the fake DNS-SD.
#include "SetupAssistantResources.h"
#include "WSAWizardSheet.h"
#include "WirelessSetupAssistantApp.h"

#include "Platform/Process.h"
#include "Platform/Resource.h"
#include "Platform/Spooler.h"
#include "Platform/UsbQueue.h"
#include "Platform/WirelessPortMonitor.h"
#include "Simulators/DockPrinter/DriverPackage.h"
#include "Windows/Common/ResourceDLL.h"
#include "WizardTestSupport.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using namespace SetupAssistant;

// The resource library as installed beside the programs.
Platform::ResourceTable Resources() {
    return Platform::LoadResourceFile(VELMO_SOURCE_DIR "/data/ORVRES.rc.txt");
}

unsigned ActiveTemplate(const CPropertySheet& sheet) {
    const CPropertyPage* page = sheet.GetActivePage();
    return page == nullptr ? 0 : page->GetTemplateId();
}

// The wizard buttons a user can press: Back, Next, Finish.
std::string LiveButtons(const Mfc::ModalSession& s) {
    std::string out;
    for (const auto& [id, name] : {std::pair{ID_WIZBACK, "Back"}, {ID_WIZNEXT, "Next"}, {ID_WIZFINISH, "Finish"}}) {
        if (s.Visible(id) && s.Enabled(id)) out += std::string(out.empty() ? "" : " ") + name;
    }
    return out;
}

// The user's instance locks in a folder of this test program's own, so that
// test programs running at once do not hold each other's instance.
class SetupAssistantTest : public ::testing::Test {
protected:
    SetupAssistantTest() {
        for (const auto& package : Simulators::VelmoDriverPackages()) {
            Platform::GetMachine().Drivers().Install(package);
        }
        const std::filesystem::path data = std::filesystem::path(VELMO_SOURCE_DIR) / "data";
        rig_.root.Install(std::u16string(WizardTest::kInstallPath) + u"\\ORV.xml", data / "ORV.xml");
        rig_.root.Install(std::u16string(WizardTest::kInstallPath) + u"\\ORVIDs.xml", data / "ORVIDs.xml");
    }

    Platform::PrintSpooler& Spooler() { return Platform::GetMachine().Spooler(); }

    static void SetArguments(CWirelessSetupAssistantApp& app, std::vector<CString> arguments) {
        app.m_arguments = {CString(u"Amberlo")};
        for (auto& argument : arguments) app.m_arguments.push_back(std::move(argument));
    }

    // Runs the program; `script` drives the wizard, which must open.
    void Run(CWirelessSetupAssistantApp& app, std::vector<CString> arguments,
             std::function<void(Mfc::ModalSession&)> script) {
        SetArguments(app, std::move(arguments));
        bool opened = false;
        rig_.driver.OnNextModal([&](Mfc::ModalSession& s) {
            opened = true;
            script(s);
        });
        EXPECT_FALSE(app.InitInstance());
        EXPECT_TRUE(opened) << "no wizard opened";
    }

    // Runs the program, which must end without a wizard (the driver fails a
    // dialog nobody scripted).
    void RunWithoutSheet(CWirelessSetupAssistantApp& app, std::vector<CString> arguments) {
        SetArguments(app, std::move(arguments));
        EXPECT_FALSE(app.InitInstance());
        EXPECT_TRUE(rig_.driver.Failures().empty());
    }

    // The dock joins the open access point around the machine and announces
    // itself.
    void DockJoinsTheNetwork() {
        auto profile = WizardTest::DockProfile(3, "Cafe");
        profile.wifi.ssid = "Cafe";
        profile.wifi.channel = 1;
        rig_.dock->SetJoinDelay(std::chrono::milliseconds(0));
        rig_.dock->PutProfile(profile);
        ASSERT_TRUE(rig_.dock->WaitForNetwork("Cafe", std::chrono::seconds(5)));
    }

    // The queue plug and play made for the dock on USB.
    std::u16string DockQueue() {
        return Platform::AddUsbPrinterQueue(kDockQueue, u"Velmo Glimmer Dock Wireless", rig_.dock->DeviceNode());
    }

    static constexpr const char16_t* kDockQueue = u"Velmo Glimmer Dock";

    Platform::ResourceRegistration resources_ = Platform::RegisterResourceModule(u"ORVRES.DLL", Resources());
    WizardTest::Rig rig_;
    // Sheets the tests open themselves find their pages where the program does.
    ResourceDLLScope scope_;
};

// ----- Start-up

TEST(SetupAssistantVersion, SixOnwardsOrFiveOneWithAServicePack) {
    Platform::ScopedFreshMachine machine;
    struct Case {
        DWORD major, minor;
        std::u16string servicePack;
        bool allowed;
    };
    for (const Case& c : {Case{10, 0, u"", true}, Case{6, 0, u"", true}, Case{5, 1, u"Service Pack 2", true},
                          Case{5, 1, u"", false}, Case{5, 2, u"Service Pack 2", false}, Case{5, 0, u"SP4", false}}) {
        Platform::GetMachine().SetVersion({c.major, c.minor, 2600, c.servicePack});
        EXPECT_EQ(VersionAllowsWizard(), c.allowed) << c.major << "." << c.minor;
    }
}

TEST_F(SetupAssistantTest, WithoutAQueueTheNetworkRoadStartsOnTheFirstPage) {
    CWirelessSetupAssistantApp app;
    Run(app, {}, [&](Mfc::ModalSession& s) {
        EXPECT_EQ(s.Caption(), u"Velmo Wireless Printer Setup Assistant");
        EXPECT_FALSE(s.Visible(IDHELP));
        EXPECT_NE(CWnd::FromHandle(s.Window())->GetIcon(TRUE), nullptr);
        EXPECT_NE(CWnd::FromHandle(s.Window())->GetIcon(FALSE), nullptr);
        EXPECT_EQ(ActiveTemplate(*app.Sheet()), IDD_STANDALONE);
        EXPECT_TRUE(app.Sheet()->IsWizard());
        s.Click(IDCANCEL);
    });
}

TEST_F(SetupAssistantTest, QueuesNotOnUsbEndWithoutASheetAndKeepTheirAccess) {
    // The port test is case-sensitive: "usb001" is not a USB port.
    for (const char16_t* port : {u"WLP001:", u"usb001", u"LPT1:"}) {
        Spooler().AddPrinter(u"Queue", port, u"Velmo Glimmer Dock Wireless");
        CWirelessSetupAssistantApp app;
        RunWithoutSheet(app, {CString(u"Queue")});
        const auto queue = Spooler().FindPrinter(u"Queue");
        ASSERT_TRUE(queue.has_value());
        EXPECT_TRUE(queue->access.empty()) << "not opened to everyone";
        Spooler().RemovePrinter(u"Queue");
    }
}

TEST_F(SetupAssistantTest, OldSystemsEndWithoutASheet) {
    Spooler().AddPrinter(u"Dock", u"USB001", u"Velmo Glimmer Dock Wireless");
    for (const Platform::OsVersion& version :
         {Platform::OsVersion{5, 1, 2600, u""}, Platform::OsVersion{5, 2, 3790, u"Service Pack 2"}}) {
        Platform::GetMachine().SetVersion(version);
        CWirelessSetupAssistantApp app;
        RunWithoutSheet(app, {CString(u"Dock")});
        EXPECT_TRUE(Spooler().FindPrinter(u"Dock")->access.empty()) << "the checks come first";
    }
}

TEST_F(SetupAssistantTest, ASecondStartBringsTheFirstWizardForwardAndEnds) {
    WSAWizardSheet first(IDS_WSA_TITLE);
    auto s = rig_.driver.BeginModal(first);
    ::ShowWindow(s.Window(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(s.Window()));
    // The first program holds the instance.
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, u"CWirelessSetupAssistantApp!InitInstance");
    ASSERT_NE(held, nullptr);
    CWirelessSetupAssistantApp second;
    RunWithoutSheet(second, {});
    EXPECT_FALSE(IsIconic(s.Window()));
    EXPECT_TRUE(s.IsOpen());
    EXPECT_EQ(second.Sheet(), nullptr);
    CloseHandle(held);
}

// ----- Pages

TEST_F(SetupAssistantTest, NotFoundGoesBackToTheSearchAndBackRetracesThePathTaken) {
    WSAWizardSheet sheet(IDS_WSA_TITLE);
    CWizardEngine& engine = sheet.Engine();
    sheet.SetActivePage(kPnpWelcomePage);
    auto s = rig_.driver.BeginModal(sheet);
    EXPECT_EQ(LiveButtons(s), "Next");

    s.Click(ID_WIZNEXT);
    EXPECT_EQ(ActiveTemplate(sheet), IDD_PNP_SEARCH_BEGIN);
    EXPECT_EQ(LiveButtons(s), "");
    s.Advance(std::chrono::milliseconds(1999));
    EXPECT_EQ(ActiveTemplate(sheet), IDD_PNP_SEARCH_BEGIN);
    // No printer behind a queue: not found.
    s.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(ActiveTemplate(sheet), IDD_PNP_SEARCH_NOT_FOUND);
    EXPECT_EQ(engine.PageHistory(), std::vector<unsigned>{IDD_PNP_WELCOME});

    // Back from not found is always the search, and the history stays.
    s.Click(ID_WIZBACK);
    EXPECT_EQ(ActiveTemplate(sheet), IDD_PNP_SEARCH_BEGIN);
    EXPECT_EQ(engine.PageHistory(), std::vector<unsigned>{IDD_PNP_WELCOME});
    s.Advance(std::chrono::milliseconds(2000));
    ASSERT_EQ(ActiveTemplate(sheet), IDD_PNP_SEARCH_NOT_FOUND);

    s.Click(ID_WIZNEXT);
    EXPECT_EQ(ActiveTemplate(sheet), IDD_PNP_WELCOME);
    EXPECT_EQ(engine.PageHistory(), (std::vector<unsigned>{IDD_PNP_WELCOME, IDD_PNP_SEARCH_NOT_FOUND}));
    // The welcome page offers Next only.
    EXPECT_EQ(LiveButtons(s), "Next");
    s.Click(IDCANCEL);
}

TEST_F(SetupAssistantTest, TheSearchAnimationIsCentredBelowTheTopAndTheTimerStopsOnLeaving) {
    WSAWizardSheet sheet(IDS_WSA_TITLE);
    sheet.SetActivePage(kPnpSearchBeginPage);
    auto s = rig_.driver.BeginModal(sheet);
    CWnd* page = sheet.GetActivePage();
    HWND picture = s.Control(IDC_SEARCH_ANIMATION);
    ASSERT_NE(picture, nullptr);
    RECT pageRect, pictureRect;
    ::GetWindowRect(page->m_hWnd, &pageRect);
    ::GetWindowRect(picture, &pictureRect);
    // 90 units at 13 pixels per 8 units, and the GIF's 96 x 64.
    EXPECT_EQ(pictureRect.top - pageRect.top, 146);
    EXPECT_EQ(pictureRect.bottom - pictureRect.top, 64);
    EXPECT_EQ((pictureRect.left - pageRect.left) - (pageRect.right - pictureRect.right), 0);

    // Left before the timer is due: it never fires there.
    sheet.SetActivePage(kStandAlonePage);
    s.Advance(std::chrono::milliseconds(5000));
    EXPECT_EQ(ActiveTemplate(sheet), IDD_STANDALONE);
    s.Click(IDCANCEL);
}

TEST_F(SetupAssistantTest, ResultPagesOfferTheirButtons) {
    WSAWizardSheet sheet(IDS_WSA_TITLE);
    sheet.SetActivePage(kStandAloneAddedPage);
    auto s = rig_.driver.BeginModal(sheet);
    EXPECT_EQ(LiveButtons(s), "Finish");
    sheet.SetActivePage(kPrinterNotAddedPage);
    s.PumpUntilIdle();
    EXPECT_EQ(LiveButtons(s), "Back");
    sheet.SetActivePage(kPnpPrinterConfiguredPage);
    s.PumpUntilIdle();
    EXPECT_EQ(LiveButtons(s), "");
    sheet.SetActivePage(kStandAloneAddedPage);
    s.PumpUntilIdle();
    s.Click(ID_WIZFINISH);
    EXPECT_EQ(s.Result(), ID_WIZFINISH);
}

// ----- The roads through the whole program

TEST_F(SetupAssistantTest, TheNetworkRoadAddsTheAnnouncedDockAndBackRetracesThePathTaken) {
    DockJoinsTheNetwork();
    CWirelessSetupAssistantApp app;
    Run(app, {}, [&](Mfc::ModalSession& s) {
        WSAWizardSheet& sheet = *app.Sheet();
        s.Click(ID_WIZNEXT);
        ASSERT_EQ(ActiveTemplate(sheet), IDD_SELECT_WIRELESS_PRINTER) << "the introduction leads to the list";
        ASSERT_TRUE(s.PumpUntil([&] { return s.Rows(IDC_PRINTER_LIST).size() == 1; }));
        s.PumpUntilIdle();
        EXPECT_EQ(s.Rows(IDC_PRINTER_LIST)[0][0], u"Cafe dock");
        EXPECT_EQ(LiveButtons(s), "Back Next");

        // Back goes to the page Next left, not to the page before in order.
        s.Click(ID_WIZBACK);
        EXPECT_EQ(ActiveTemplate(sheet), IDD_STANDALONE);
        EXPECT_TRUE(sheet.Engine().PageHistory().empty());
        s.Click(ID_WIZNEXT);
        ASSERT_TRUE(s.PumpUntil([&] { return s.Rows(IDC_PRINTER_LIST).size() == 1; }));
        s.PumpUntilIdle();

        s.Click(ID_WIZNEXT);
        EXPECT_EQ(ActiveTemplate(sheet), IDD_STANDALONE_ADDED);
        EXPECT_EQ(LiveButtons(s), "Finish");
        s.Click(ID_WIZFINISH);
    });

    const auto names = Spooler().PrinterNames();
    ASSERT_EQ(names.size(), 1u);
    const auto queue = Spooler().FindPrinter(names[0]);
    ASSERT_TRUE(queue.has_value());
    const auto port = Spooler().FindPort(queue->port);
    ASSERT_TRUE(port.has_value());
    EXPECT_EQ(port->deviceName, u"{" + std::u16string(Tessary::I8NString(rig_.dock->Guid()).c_str()) + u"}");
    ASSERT_EQ(queue->access.size(), 1u);
    EXPECT_EQ(queue->access[0].trustee, u"EVERYONE");
}

TEST_F(SetupAssistantTest, AMonitorFailureLandsOnPrinterNotAddedAndBackReturnsToTheList) {
    DockJoinsTheNetwork();
    CWirelessSetupAssistantApp app;
    Run(app, {}, [&](Mfc::ModalSession& s) {
        WSAWizardSheet& sheet = *app.Sheet();
        s.Click(ID_WIZNEXT);
        ASSERT_TRUE(s.PumpUntil([&] { return s.Rows(IDC_PRINTER_LIST).size() == 1; }));
        s.PumpUntilIdle();
        Platform::ForceWirelessPortMonitorStatus(ERROR_ACCESS_DENIED);
        s.Click(ID_WIZNEXT);
        Platform::ForceWirelessPortMonitorStatus(std::nullopt);
        EXPECT_EQ(ActiveTemplate(sheet), IDD_PRINTER_NOT_ADDED);
        EXPECT_EQ(LiveButtons(s), "Back");
        EXPECT_EQ(sheet.Engine().PageHistory(), (std::vector<unsigned>{IDD_STANDALONE, IDD_SELECT_WIRELESS_PRINTER}));

        s.Click(ID_WIZBACK);
        EXPECT_EQ(ActiveTemplate(sheet), IDD_SELECT_WIRELESS_PRINTER);
        s.Click(ID_WIZBACK);
        EXPECT_EQ(ActiveTemplate(sheet), IDD_STANDALONE);
        s.Click(IDCANCEL);
    });
    EXPECT_TRUE(Spooler().PrinterNames().empty());
}

TEST_F(SetupAssistantTest, TheUsbRoadConfiguresTheDockBehindTheQueueThenEndsNotAdded) {
    DockQueue();
    CWirelessSetupAssistantApp app;
    Run(app, {CString(kDockQueue)}, [&](Mfc::ModalSession& s) {
        WSAWizardSheet& sheet = *app.Sheet();
        CWizardEngine& engine = sheet.Engine();
        EXPECT_EQ(ActiveTemplate(sheet), IDD_PNP_WELCOME);
        EXPECT_TRUE(engine.IsConnected());
        // The queue passed the checks: it is opened to everyone.
        const auto queue = Spooler().FindPrinter(kDockQueue);
        ASSERT_TRUE(queue.has_value());
        ASSERT_EQ(queue->access.size(), 1u);
        EXPECT_EQ(queue->access[0].trustee, u"EVERYONE");
        EXPECT_EQ(
            engine.GetDriverKeyName(),
            Tessary::I8NString(Platform::GetMachine().Devices().DriverKey(rig_.dock->DeviceNode()).c_str()).ToString());

        // The full wizard opens for the connected printer; the printer is
        // not asked again to find out.
        rig_.dock->ClearHistory();
        int screen = -1;
        rig_.driver.OnNextModal([&](Mfc::ModalSession& wizard) {
            screen = WizardTest::ScreenOf(wizard);
            EXPECT_TRUE(rig_.dock->Requests().empty());
            wizard.Click(WizardTest::kCancel);
        });
        s.Click(IDC_CONFIGURE_WIRELESS);
        EXPECT_EQ(screen, WelcomeScreen);

        s.Click(ID_WIZNEXT);
        ASSERT_EQ(ActiveTemplate(sheet), IDD_PNP_SEARCH_BEGIN);
        s.Advance(std::chrono::milliseconds(2000));
        // The loader's transport finds no address: the port step fails.
        EXPECT_EQ(ActiveTemplate(sheet), IDD_PNP_PRINTER_NOT_ADDED);
        EXPECT_EQ(engine.PrinterRecord().deviceName, u"{GD0001}");
        s.Click(IDCANCEL);
    });
    EXPECT_TRUE(Platform::WirelessPortMonitorCalls().empty());
    EXPECT_EQ(Spooler().PrinterNames(), std::vector<std::u16string>{kDockQueue});
}

TEST_F(SetupAssistantTest, APrinterWithoutWirelessHardwareOrALongNameGetsNoWizard) {
    DockQueue();
    Simulators::DockPrinter::Fault noMac;
    noMac.result = 1;
    rig_.dock->SetFault("getMacAddress", noMac);
    {
        CWirelessSetupAssistantApp app;
        RunWithoutSheet(app, {CString(kDockQueue)});
        ASSERT_NE(app.Sheet(), nullptr);
        EXPECT_TRUE(app.Sheet()->Engine().IsConnected());
        EXPECT_TRUE(Spooler().FindPrinter(kDockQueue)->access.empty()) << "no dock with wireless hardware";
    }
    rig_.dock->ClearFaults();
    CWirelessSetupAssistantApp app;
    RunWithoutSheet(app, {CString(std::u16string(1024, u'Q').c_str())});
    ASSERT_NE(app.Sheet(), nullptr);
    EXPECT_TRUE(app.Sheet()->Engine().PrinterName().empty());
}

}  // namespace
