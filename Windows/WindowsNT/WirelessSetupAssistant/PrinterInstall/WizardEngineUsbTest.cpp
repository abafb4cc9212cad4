// The engine's printer behind the queue named on the command line, over the
// simulated machine: the spooler's queue, the device tree, the hub walk and
// the channel all lead to one simulated dock.
#include "WizardEngine.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Common/ConfigSupport/ReaderTestSupport.h"
#include "Common/NetConfig/API/ConfigAPI.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Resource.h"
#include "Platform/UsbQueue.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Tessary/TSException.h"
#include "Windows/Common/ResourceDLL.h"

namespace {

using Simulators::DockPrinter;

constexpr char16_t kQueue[] = u"Velmo Glimmer Dock";
constexpr char16_t kInstallPath[] = u"C:\\Program Files\\Velmo";

std::string Utf8(const std::u16string& text) {
    return Tessary::I8NString(text.c_str()).ToString();
}

// The message of what the call threw; empty when it threw nothing.
template <class Call>
std::string ThrownText(Call&& call) {
    try {
        call();
    } catch (const Tessary::TSRuntimeError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("unexpected exception: ") + e.what();
    }
    return {};
}

class PrinterBehindQueue : public ::testing::Test {
protected:
    PrinterBehindQueue() {
        ResourceDLL::Reset();
        RecordInstallPath();
        const std::filesystem::path description =
            Platform::MapPath((std::u16string(kInstallPath) + u"\\ORV.xml").c_str());
        std::filesystem::create_directories(description.parent_path());
        std::filesystem::copy_file(std::filesystem::path(VELMO_SOURCE_DIR) / "data" / "ORV.xml", description);
    }
    ~PrinterBehindQueue() override { ResourceDLL::Reset(); }

    Platform::DeviceManager& Devices() { return Platform::GetMachine().Devices(); }

    static void RecordInstallPath() {
        Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                                                    kInstallPath);
    }

    // Plugs the dock in and makes the queue for it, as plug and play does.
    void PlugIn(const Platform::UsbPrinterIdentity& identity = DockPrinter::DefaultIdentity()) {
        dock_ = std::make_shared<DockPrinter>(identity);
        device_ = dock_->Attach(hub_, 1);
        Platform::AddUsbPrinterQueue(kQueue, u"Velmo Glimmer Dock", device_);
        ASSERT_TRUE(engine_.SetPrinterName(kQueue));
    }

    std::string DockDriverKey() { return Utf8(Devices().DriverKey(device_)); }

    std::vector<std::string> Commands() const {
        std::vector<std::string> commands;
        for (const auto& request : dock_->Requests()) commands.push_back(request.command);
        return commands;
    }

    // Nothing of the machine is left open by a lookup, whatever its end.
    void ExpectNothingLeftOpen() {
        EXPECT_EQ(Devices().OpenDeviceInfoListCount(), 0u);
        EXPECT_EQ(Devices().OpenDeviceHandleCount(), 0u);
        EXPECT_EQ(Platform::GetMachine().Spooler().OpenPrinterHandleCount(), 0u);
    }

    Platform::ScopedFreshMachine machine_;
    TestSupport::ScratchFolderVariable folder_{"VELMO_MACHINE_ROOT", "velmo-engine"};
    Platform::ResourceRegistration resources_ = Platform::RegisterResourceModule(
        u"ORVRES.DLL", Platform::LoadResourceFile(VELMO_SOURCE_DIR "/data/ORVRES.rc.txt"));
    DEVINST hub_ = Platform::GetMachine().Devices().AddHostController(4).rootHub;
    std::shared_ptr<DockPrinter> dock_;
    DEVINST device_ = 0;
    CWizardEngine engine_;
};

TEST_F(PrinterBehindQueue, ReadsTheDockOnceAndFillsTheEntry) {
    PlugIn();
    ASSERT_TRUE(engine_.IsPrinterConnected());
    EXPECT_TRUE(engine_.IsConnected());

    const std::string key = DockDriverKey();
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(engine_.GetDriverKeyName(), key);
    const PrinterCacheEntry entry = engine_.GetPrinterInfo();
    EXPECT_EQ(entry.printer.driverKeyName, key);
    EXPECT_EQ(entry.printer.vendorId, 0x3B7Du);
    EXPECT_EQ(entry.printer.productId, 0x410Fu);
    EXPECT_EQ(entry.printer.serialNumber, "GD0001");
    EXPECT_EQ(entry.printer.maxOutPacketSize, 512u);
    EXPECT_EQ(entry.printer.maxInPacketSize, 512u);
    EXPECT_EQ(entry.guid, dock_->Guid());
    EXPECT_EQ(entry.settings.pin, dock_->Pin());
    ASSERT_EQ(entry.profiles.size(), dock_->Profiles().size());
    EXPECT_EQ(entry.profiles[0].GetProfileName().ToString(), dock_->Profiles()[0].profileName);
    EXPECT_EQ(entry.selected, -1);
    EXPECT_TRUE(entry.networks.empty());
    EXPECT_FALSE(entry.scanAccepted);
    EXPECT_EQ(engine_.GetMacAddress(), dock_->MacAddress());

    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"getPrinterGuid", "getMacAddress", "getPrinterSettings", "getAllProfiles"}));
    EXPECT_EQ(dock_->GetCounters().enters, 1u);
    EXPECT_EQ(dock_->GetCounters().leaves, 1u);
    EXPECT_FALSE(dock_->InConfigMode());
    EXPECT_FALSE(engine_.GetConfigAPI().IsConnected());
    ExpectNothingLeftOpen();

    dock_->ClearHistory();
    EXPECT_TRUE(engine_.IsPrinterConnected());
    EXPECT_TRUE(dock_->Transcript().empty());
}

TEST_F(PrinterBehindQueue, APrinterWithoutMacAddressGetsTheResourceText) {
    PlugIn();
    DockPrinter::Fault noMac;
    noMac.result = 1;
    dock_->SetFault("getMacAddress", noMac);
    ASSERT_TRUE(engine_.IsPrinterConnected());
    EXPECT_EQ(engine_.GetMacAddress(), "No MAC address");
}

TEST_F(PrinterBehindQueue, EveryFailedReadThrowsItsTextAndLeavesConfigurationMode) {
    PlugIn();
    const std::pair<const char*, const char*> cases[] = {
        {"getPrinterGuid", "get guid"},
        {"getMacAddress", "get mac address"},
        {"getPrinterSettings", "get printer settings"},
        {"getAllProfiles", "get all profiles"},
    };
    for (const auto& [command, what] : cases) {
        SCOPED_TRACE(command);
        CWizardEngine engine;
        ASSERT_TRUE(engine.SetPrinterName(kQueue));
        dock_->ClearFaults();
        dock_->ClearHistory();
        DockPrinter::Fault garbled;
        garbled.body = "<dockConfig";
        dock_->SetFault(command, garbled);

        EXPECT_EQ(
            ThrownText([&] { engine.IsPrinterConnected(); }),
            std::string("Invalid response received for '") + what + "' request in CWizardEngine::GetWirelessSettings");
        EXPECT_FALSE(engine.IsConnected());
        EXPECT_EQ(dock_->GetCounters().leaves, 1u);
        EXPECT_FALSE(dock_->InConfigMode());
        EXPECT_FALSE(engine.GetConfigAPI().IsConnected());
        EXPECT_FALSE(engine.GetConfigAPI().inConfigMode);
    }
    ExpectNothingLeftOpen();
}

TEST_F(PrinterBehindQueue, AChannelErrorPassesThroughAndTheNextCallReadsAgain) {
    PlugIn();
    DockPrinter::Fault refused;
    refused.status = DockPrinter::kStatusBadRequest;
    refused.times = 1;
    dock_->SetFault("getPrinterSettings", refused);
    EXPECT_THROW(engine_.IsPrinterConnected(), RequestFailureException);
    EXPECT_EQ(dock_->GetCounters().leaves, 1u);
    EXPECT_FALSE(dock_->InConfigMode());

    dock_->ClearHistory();
    EXPECT_TRUE(engine_.IsPrinterConnected());
    EXPECT_EQ(dock_->GetCounters().enters, 1u);
    EXPECT_EQ(dock_->GetCounters().leaves, 1u);
}

TEST_F(PrinterBehindQueue, BrokenLinksAnswerFalseWithoutAWordOrTraffic) {
    struct Case {
        const char* name;
        std::function<void()> breakIt;
    };
    const Case cases[] = {
        {"no queue", [] { Platform::GetMachine().Spooler().RemovePrinter(kQueue); }},
        {"no PnPData",
         [] {
             auto queue = *Platform::GetMachine().Spooler().FindPrinter(kQueue);
             queue.data.clear();
             Platform::GetMachine().Spooler().RemovePrinter(kQueue);
             Platform::GetMachine().Spooler().AddPrinter(queue);
         }},
        {"not text",
         [] {
             Platform::GetMachine().Spooler().SetPrinterData(kQueue, u"PnPData", u"DeviceInstanceId",
                                                             Platform::RegValue::Dword(1));
         }},
        {"unknown instance",
         [] {
             Platform::GetMachine().Spooler().SetPrinterData(kQueue, u"PnPData", u"DeviceInstanceId",
                                                             Platform::RegValue::String(u"USBPRINT\\Nothing\\1"));
         }},
        {"instance not present", [this] { dock_->Unplug(); }},
        {"CM_Get_Parent fails",
         [this] { Devices().FailCall(Platform::DeviceCall::CM_Get_Parent, CR_NO_SUCH_DEVNODE, 1, 1); }},
        {"id size 0", [this] { Devices().MisreportSize(Platform::DeviceCall::CM_Get_Device_ID_Size, 0); }},
        {"driver key unreadable",
         [this] { Devices().FailCall(Platform::DeviceCall::SetupDiGetDeviceRegistryProperty, ERROR_INVALID_DATA); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Platform::GetMachine().Reset();
        RecordInstallPath();
        hub_ = Devices().AddHostController(4).rootHub;
        CWizardEngine engine;
        PlugIn();
        ASSERT_TRUE(engine.SetPrinterName(kQueue));
        c.breakIt();

        bool connected = true;
        EXPECT_NO_THROW(connected = engine.IsPrinterConnected());
        EXPECT_FALSE(connected);
        EXPECT_EQ(engine.GetDriverKeyName(), "");
        EXPECT_TRUE(dock_->Transcript().empty());
        Devices().ClearFaults();
        ExpectNothingLeftOpen();
    }
}

TEST_F(PrinterBehindQueue, ADriverKeyFoundEarlierOutlivesABrokenLink) {
    PlugIn();
    DockPrinter::Fault garbled;
    garbled.body = "x";
    dock_->SetFault("getPrinterGuid", garbled);
    EXPECT_FALSE(ThrownText([&] { engine_.IsPrinterConnected(); }).empty());
    EXPECT_EQ(engine_.GetDriverKeyName(), DockDriverKey());

    dock_->ClearFaults();
    // Only the lookup's first step up fails; the channel finds its way.
    Devices().FailCall(Platform::DeviceCall::CM_Get_Parent, CR_NO_SUCH_DEVNODE, 0, 1);
    EXPECT_TRUE(engine_.IsPrinterConnected());
    EXPECT_EQ(engine_.GetPrinterInfo().printer.driverKeyName, DockDriverKey());
}

TEST_F(PrinterBehindQueue, AnotherMakersDeviceBehindTheQueueIsNeverSentConfigurationBlocks) {
    auto identity = DockPrinter::DefaultIdentity();
    identity.vendorId = 0x04A9;
    PlugIn(identity);
    EXPECT_FALSE(engine_.IsPrinterConnected());
    EXPECT_FALSE(engine_.IsPrinterConnected());
    EXPECT_TRUE(dock_->Transcript().empty());
    EXPECT_EQ(dock_->GetCounters().enters, 0u);
    EXPECT_EQ(engine_.GetPrinterInfo().printer.driverKeyName, "");
    ExpectNothingLeftOpen();
}

TEST_F(PrinterBehindQueue, TheDescriptionIsReadOnceAndItsAbsenceIsAnError) {
    PlugIn();
    const auto description = Platform::MapPath((std::u16string(kInstallPath) + u"\\ORV.xml").c_str());
    const auto saved = folder_.Path() + "/ORV.saved";
    std::filesystem::rename(description, saved);
    EXPECT_EQ(ThrownText([&] { engine_.IsPrinterConnected(); }),
              "LoadPrinterConfig returned failure in CConfigUtilityDlg::RetrieveVidPidList");
    EXPECT_TRUE(dock_->Transcript().empty());

    std::filesystem::rename(saved, description);
    dock_->SetFault("getPrinterGuid", DockPrinter::Fault{.times = 1, .body = std::string("x")});
    EXPECT_FALSE(ThrownText([&] { engine_.IsPrinterConnected(); }).empty());
    // The list is kept: the description is not needed again.
    std::filesystem::remove(description);
    EXPECT_TRUE(engine_.IsPrinterConnected());
}

TEST_F(PrinterBehindQueue, ANameThatDoesNotFitTheBufferIsRefused) {
    EXPECT_TRUE(engine_.SetPrinterName(std::u16string(CWizardEngine::kPrinterNameUnits - 1, u'q')));
    EXPECT_EQ(engine_.PrinterName().size(), CWizardEngine::kPrinterNameUnits - 1);
    EXPECT_FALSE(engine_.SetPrinterName(std::u16string(CWizardEngine::kPrinterNameUnits, u'q')));
    EXPECT_EQ(engine_.PrinterName(), u"");
    EXPECT_FALSE(engine_.IsPrinterConnected());
}

TEST_F(PrinterBehindQueue, APrinterPulledOutMidReadReportsTheReadNotTheFailedLeave) {
    PlugIn();
    DockPrinter::Fault pulled;
    pulled.disconnectAfter = 4;
    dock_->SetFault("getMacAddress", pulled);
    std::string what;
    try {
        engine_.IsPrinterConnected();
    } catch (const ConfigModeIOException& e) {
        what = e.what();
    }
    // The leave block cannot reach a printer that is gone; that failure
    // must not hide why the read ended.
    EXPECT_EQ(what, "Error reading data from printer");
    EXPECT_FALSE(engine_.IsConnected());
    EXPECT_FALSE(engine_.GetConfigAPI().IsConnected());
    EXPECT_FALSE(engine_.GetConfigAPI().inConfigMode);
}

}  // namespace
