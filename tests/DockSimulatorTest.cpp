// A program on a machine kept on disk reaches a dock that lives in the dock
// simulator program, and what it changes outlives the simulator.
#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Platform/DockLink.h"
#include "Platform/Machine.h"
#include "Platform/MachineFile.h"
#include "Platform/Paths.h"
#include "Simulators/DockPrinter/DockStateText.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using testing::HasSubstr;
namespace Dock = Simulators::Dock;
namespace Wire = Platform::DockWire;

const std::string kGetSettingsBt =
    "<bluetoothDockConfig version=\"1.0\"><getPrinterSettings></getPrinterSettings></bluetoothDockConfig>";
const std::string kGetBluetoothBt =
    "<bluetoothDockConfig version=\"1.0\"><getBluetoothProfile></getBluetoothProfile></bluetoothDockConfig>";
const std::string kSetPinBt =
    "<bluetoothDockConfig version=\"1.0\"><setPrinterSettings><pin>4321</pin></setPrinterSettings>"
    "</bluetoothDockConfig>";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class DockSimulatorRoad : public ::testing::Test {
protected:
    DockSimulatorRoad() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmo-sim-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        folder_ = pattern;
    }
    ~DockSimulatorRoad() override {
        api_.Close(false);
        StopSimulator();
        std::filesystem::remove_all(folder_);
    }

    void StartSimulator() {
        const std::string program = Platform::ProgramDirectory() + "/velmo-dock-simulator";
        simulator_ = ::fork();
        ASSERT_GE(simulator_, 0);
        if (simulator_ == 0) {
            ::execl(program.c_str(), program.c_str(), "--root", folder_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200; ++i) {
            if (Wire::Call(Platform::DockSocketPath(folder_), Wire::Request{})) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        FAIL() << "the dock simulator did not start";
    }

    // Asks it to stop as the machine tool does; it writes the docks' state.
    void StopSimulator() {
        if (simulator_ <= 0) return;
        Wire::Request quit;
        quit.op = Wire::kQuit;
        if (!Wire::Call(Platform::DockSocketPath(folder_), quit)) ::kill(simulator_, SIGTERM);
        int status = 0;
        ::waitpid(simulator_, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        simulator_ = -1;
    }

    PrinterInfoResult Find(const std::string& serial) {
        DeviceOnHubMatchedVidPidSerialNum predicate(0x3B7D, 0x410F, serial);
        HubEnumSingleResult<PrinterInfoResult> result;
        HubEnumDirector director(&predicate, &result);
        EnumerateHubs(director);
        EXPECT_TRUE(result.IsComplete()) << serial;
        return result.GetResult();
    }

    void Open(const std::string& serial) {
        const auto info = Find(serial);
        api_.OpenByDriverKeyName(info.driverKeyName, static_cast<int>(info.maxOutPacketSize),
                                 static_cast<int>(info.maxInPacketSize));
    }

    std::string Exchange(const std::string& request) {
        api_.SendRequest(request.data(), static_cast<int>(request.size()));
        std::string response;
        api_.ReadResponse(response);
        return response;
    }

    std::string folder_;
    pid_t simulator_ = -1;
    Platform::ScopedFreshMachine machine_;
    Win32ConfigAPI api_;
};

TEST_F(DockSimulatorRoad, TheConfigConversationCrossesTheSocketAndTheStateOutlivesTheSimulator) {
    std::ofstream(folder_ + "/docks.txt") << "[dock \"GD0001\"]\nproduct = 0x410F\nname = \"Glimmer Dock\"\nport = 2\n"
                                          << "[dock \"GD0002\"]\nproduct = 0x410F\nname = \"Glimmer Dock\"\nport = 3\n";
    auto state = Dock::FactoryState();
    state.bluetooth.friendlyName = "Kitchen";
    std::filesystem::create_directories(folder_ + "/docks");
    std::ofstream(Dock::StatePath(folder_, "GD0001")) << Dock::FormatStateText(state);
    Platform::LoadMachine(folder_);
    StartSimulator();

    // The dock is on the program's hub with its descriptors.
    const auto info = Find("GD0001");
    EXPECT_EQ(info.productId, 0x410Fu);
    EXPECT_EQ(info.maxOutPacketSize, 512u);

    Open("GD0001");
    EXPECT_THAT(Exchange(kGetBluetoothBt), HasSubstr("Kitchen"));
    EXPECT_THAT(Exchange(kSetPinBt), HasSubstr("result=\"0\""));
    api_.Close(true);
    // The other dock keeps its own state.
    Open("GD0002");
    EXPECT_THAT(Exchange(kGetSettingsBt), HasSubstr("<pin>1234</pin>"));
    api_.Close(true);

    // Written at once, so the machine tool sees it while the simulator runs.
    EXPECT_THAT(ReadAll(Dock::StatePath(folder_, "GD0001")), HasSubstr("pin = \"4321\""));
    StopSimulator();

    // A program opening the dock while no simulator runs is told it is gone.
    EXPECT_ANY_THROW(Open("GD0001"));
    api_.Close(false);

    StartSimulator();
    Open("GD0001");
    EXPECT_THAT(Exchange(kGetSettingsBt), HasSubstr("<pin>4321</pin>"));
    EXPECT_THAT(Exchange(kGetBluetoothBt), HasSubstr("Kitchen"));
    api_.Close(true);
}

}  // namespace
