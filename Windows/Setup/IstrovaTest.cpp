#include "Istrova.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Platform/DriverStore.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Process.h"
#include "Platform/SetupApi.h"
#include "Platform/WirelessPortMonitor.h"
#include "PrinterInstallSteps.h"
#include "Simulators/DockPrinter/DriverPackage.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t kQueue[] = u"Glimmer Dock Wireless";
constexpr char16_t kDriver[] = u"Velmo Glimmer Dock Wireless";

std::u16string TextAt(const std::vector<BYTE>& bytes, std::size_t at) {
    std::u16string text;
    for (std::size_t i = at; bytes.at(i) != 0 || bytes.at(i + 1) != 0; i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
}

class SetupLibrary : public ::testing::Test {
protected:
    SetupLibrary() {
        for (const auto& package : Simulators::VelmoDriverPackages()) Machine().Drivers().Install(package);
        PrinterInstall::InstallPortMonitor();
        nodesBefore_ = Machine().Devices().NodeCount();
    }
    static Platform::Machine& Machine() { return Platform::GetMachine(); }
    static Platform::PrintSpooler& Spooler() { return Machine().Spooler(); }
    static std::size_t Associations() { return Machine().Drivers().Snapshot().profiles.size(); }
    static std::vector<Platform::XcvCall> Calls(std::u16string_view command) {
        auto calls = Platform::WirelessPortMonitorCalls();
        std::erase_if(calls, [&](const Platform::XcvCall& call) { return call.command != command; });
        return calls;
    }
    void ExpectNodeRemoved() { EXPECT_EQ(Machine().Devices().NodeCount(), nodesBefore_); }

    Platform::ScopedFreshMachine machine_;
    std::size_t nodesBefore_ = 0;
};

TEST_F(SetupLibrary, StandAloneSetupMakesTheQueueWithItsColourProfile) {
    StandAloneSetup(nullptr);
    const auto queue = Spooler().FindPrinter(kQueue);
    ASSERT_TRUE(queue.has_value());
    EXPECT_EQ(queue->driver, kDriver);
    EXPECT_EQ(queue->printProcessor, u"winprint");
    EXPECT_EQ(queue->attributes, 0xA40u);
    const auto port = Spooler().FindPort(queue->port);
    ASSERT_TRUE(port.has_value());
    EXPECT_EQ(port->vendorId, 0x3B7Du);
    EXPECT_EQ(port->productId, 0x4104u);
    EXPECT_EQ(port->deviceName, u"Temp GUID");
    EXPECT_EQ(port->address, u"");
    const auto profiles = Machine().Drivers().Snapshot().profiles;
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].profile, u"Glimmer Dock.icm");
    EXPECT_EQ(profiles[0].device, kQueue);
    ExpectNodeRemoved();
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

TEST_F(SetupLibrary, TakenNamesGiveTheFirstFreeCopyNumber) {
    for (const char16_t* name :
         {u"Glimmer Dock Wireless", u"glimmer dock wireless (copy 3)", u"Glimmer Dock Wireless (copy 1)"}) {
        Spooler().AddPrinter(name, u"LPT1:", kDriver);
    }
    StandAloneSetup(nullptr);
    EXPECT_TRUE(Spooler().FindPrinter(u"Glimmer Dock Wireless (copy 2)").has_value());
}

TEST_F(SetupLibrary, MonitorAskingForMoreGetsTheCommandAgain) {
    Platform::ForceWirelessPortMonitorNeeded(33);
    StandAloneSetup(nullptr);
    const auto calls = Calls(u"AddPort");
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front().status, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(calls.back().status, 0u);
    EXPECT_GE(calls.back().outputSize, 33u);
    EXPECT_EQ(calls.back().input, calls.front().input);
    EXPECT_TRUE(Spooler().FindPrinter(kQueue).has_value());
}

// Each step's failure ends the setup there; the temporary device node never
// stays, and what came before stays.
TEST_F(SetupLibrary, FailureAfterTheTemporaryNodeStopsEverythingAndRemovesIt) {
    Machine().Devices().FailCall(Platform::DeviceCall::SetupDiGetDriverInfoDetail, ERROR_GEN_FAILURE);
    StandAloneSetup(nullptr);
    EXPECT_TRUE(Platform::WirelessPortMonitorCalls().empty());
    EXPECT_TRUE(Spooler().PrinterNames().empty());
    ExpectNodeRemoved();
}

TEST_F(SetupLibrary, MissingDriverStopsEverything) {
    Machine().Drivers().Reset();
    StandAloneSetup(nullptr);
    EXPECT_TRUE(Platform::WirelessPortMonitorCalls().empty());
    EXPECT_TRUE(Spooler().PrinterNames().empty());
    ExpectNodeRemoved();
}

TEST_F(SetupLibrary, RefusedPortStopsBeforeTheQueue) {
    Platform::ForceWirelessPortMonitorStatus(ERROR_ACCESS_DENIED);
    StandAloneSetup(nullptr);
    EXPECT_FALSE(Calls(u"AddPort").empty());
    EXPECT_TRUE(Spooler().PrinterNames().empty());
    EXPECT_EQ(Associations(), 0u);
    ExpectNodeRemoved();
}

TEST_F(SetupLibrary, FailedQueueLeavesThePortMadeBeforeIt) {
    Spooler().FailAddPrinter(ERROR_UNKNOWN_PRINTER_DRIVER);
    StandAloneSetup(nullptr);
    EXPECT_TRUE(Spooler().PrinterNames().empty());
    EXPECT_EQ(Associations(), 0u);
    const auto ports = Spooler().Ports();
    EXPECT_TRUE(std::any_of(ports.begin(), ports.end(),
                            [](const Platform::PortEntry& port) { return port.deviceName == u"Temp GUID"; }));
    ExpectNodeRemoved();
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

TEST_F(SetupLibrary, UnreadableDriverFilesStopBeforeThePort) {
    for (const auto call :
         {Platform::DeviceCall::SetupOpenInfFile, Platform::DeviceCall::SetupInstallFilesFromInfSection}) {
        Machine().Devices().FailCall(call, ERROR_GEN_FAILURE, 0, 1);
        StandAloneSetup(nullptr);
        EXPECT_TRUE(Platform::WirelessPortMonitorCalls().empty());
        EXPECT_TRUE(Spooler().PrinterNames().empty());
        EXPECT_EQ(Platform::OpenInfHandleCount(), 0u);
        ExpectNodeRemoved();
    }
}

TEST_F(SetupLibrary, UnlistablePrintersStopAfterThePort) {
    Spooler().FailEnumPrinters(ERROR_NOT_ENOUGH_MEMORY);
    StandAloneSetup(nullptr);
    EXPECT_FALSE(Calls(u"AddPort").empty());
    Spooler().FailEnumPrinters(std::nullopt);
    EXPECT_TRUE(Spooler().PrinterNames().empty());
    EXPECT_EQ(Associations(), 0u);
    ExpectNodeRemoved();
}

// The profile association is the last step: the queue stays without it.
TEST_F(SetupLibrary, AProfileThatCannotBeAssociatedLeavesTheQueue) {
    Machine().Devices().FailCall(Platform::DeviceCall::AssociateColorProfileWithDevice, ERROR_GEN_FAILURE);
    StandAloneSetup(nullptr);
    EXPECT_TRUE(Spooler().FindPrinter(kQueue).has_value());
    EXPECT_EQ(Associations(), 0u);
    ExpectNodeRemoved();
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

TEST_F(SetupLibrary, ColourProfilesAreTakenByTheirLastExtension) {
    // The Photo 6 package's profile has dots in its name; the Photo 4's
    // extension is upper case.
    EXPECT_EQ(Istrova::ColourProfilesOf(u"C:\\Windows\\INF\\velmo.inf", u"GlimmerPhoto6Studio.NT"),
              std::vector<std::u16string>{u"Glimmer.Photo6.Studio.icm"});
    EXPECT_EQ(Istrova::ColourProfilesOf(u"C:\\Windows\\INF\\velmo.inf", u"GlimmerPhoto4.NT"),
              std::vector<std::u16string>{u"Glimmer Photo 4 Gloss.ICM"});
    try {
        Istrova::ColourProfilesOf(u"C:\\Windows\\INF\\other.inf", u"GlimmerPhoto4.NT");
        ADD_FAILURE() << "an INF file the store does not hold was opened";
    } catch (const PortMonitorUtilities::PortMonitorException& e) {
        EXPECT_EQ(e.Code(), ERROR_FILE_NOT_FOUND);
    }
}

TEST_F(SetupLibrary, CompareAsksForTheDefaultPort) {
    EXPECT_TRUE(Compare(nullptr));
    const auto calls = Calls(u"AddDefaultPort");
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].input.size(), 520u);
    EXPECT_EQ(TextAt(calls[0].input, 136), u"Temp GUID");
    EXPECT_EQ(calls[0].outputSize, 20u);
    EXPECT_TRUE(Spooler().FindPort(u"WLP000:").has_value());

    Platform::ForceWirelessPortMonitorStatus(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Compare(nullptr));
    Platform::ForceWirelessPortMonitorStatus(std::nullopt);
    Machine().SetUserIsAdministrator(false);
    EXPECT_FALSE(Compare(nullptr));
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

class CustomSetupLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "velmo-istrova-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        const char* old = std::getenv("VELMO_MACHINE_ROOT");
        if (old != nullptr) oldRoot_ = old;
        ::setenv("VELMO_MACHINE_ROOT", root_.c_str(), 1);
        Platform::ClearProcessLaunches();
    }
    void TearDown() override {
        if (oldRoot_) {
            ::setenv("VELMO_MACHINE_ROOT", oldRoot_->c_str(), 1);
        } else {
            ::unsetenv("VELMO_MACHINE_ROOT");
        }
        fs::remove_all(root_);
        Platform::ClearProcessLaunches();
    }

    Platform::ScopedFreshMachine machine_;
    std::string root_;
    std::optional<std::string> oldRoot_;
};

TEST_F(CustomSetupLaunch, AssistantInAFolderWithBlanksGetsItsArgumentWhole) {
    Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                                                u"C:\\Program Files\\Velmo");
    const fs::path program = Platform::MapPath(u"C:\\Program Files\\Velmo\\Amberlo.exe");
    fs::create_directories(program.parent_path());
    std::ofstream(program)
        << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"$0.args.new\"\nmv \"$0.args.new\" \"$0.args\"\n";
    ::chmod(program.c_str(), 0755);

    char arguments[] = "Glimmer Dock";
    EXPECT_TRUE(CustomSetup(nullptr, nullptr, arguments, 1));
    const auto launches = Platform::ProcessLaunches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].application, u"C:\\Program Files\\Velmo\\Amberlo.exe");
    EXPECT_EQ(launches[0].commandLine, u"Glimmer Dock");

    const std::string written = program.string() + ".args";
    for (int i = 0; i < 500 && !fs::exists(written); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::stringstream text;
    text << std::ifstream(written).rdbuf();
    EXPECT_EQ(text.str(), "1|Glimmer Dock");
}

TEST_F(CustomSetupLaunch, WithoutInstallPathTheProgramIsNamedAloneAndLongTextIsRefused) {
    char none[] = "";
    EXPECT_FALSE(CustomSetup(nullptr, nullptr, none, 1));  // no such program here
    const auto launches = Platform::ProcessLaunches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].application, u"Amberlo.exe");
    EXPECT_EQ(launches[0].commandLine, u"");

    std::string tooLong(1024, 'a');
    EXPECT_FALSE(CustomSetup(nullptr, nullptr, tooLong.data(), 1));
    EXPECT_EQ(Platform::ProcessLaunches().size(), 1u);
}

}  // namespace
