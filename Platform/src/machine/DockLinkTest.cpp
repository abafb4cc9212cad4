// Docks of a machine kept on disk: their list, the wire, and a program's
// device reaching a server over the socket.
#include "Platform/DockLink.h"
#include "Platform/Files.h"
#include "Platform/Kernel.h"
#include "Platform/Machine.h"
#include "Platform/MachineFile.h"
#include "Platform/SetupApi.h"
#include "Platform/Usb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using Platform::DockEntry;
using Platform::MachineFileError;
using testing::HasSubstr;
namespace Wire = Platform::DockWire;

std::string FailureOf(std::string_view text) {
    try {
        Platform::ParseDocksText(text, "docks.txt");
    } catch (const MachineFileError& error) {
        return error.what();
    }
    return "accepted";
}

TEST(DockList, RoundTripsAndRefusesWhatCouldHurt) {
    DockEntry first;
    first.serial = "GD0001";
    first.productId = 0x410F;
    first.product = "Glimmer Dock";
    first.port = 1;
    DockEntry second = first;
    second.serial = "GW-0002_b";
    second.productId = 0x4104;
    second.product = "Glimmer \"Dock\" Wireless";
    second.port = 7;
    const std::vector<DockEntry> docks{first, second};
    EXPECT_EQ(Platform::ParseDocksText(Platform::FormatDocksText(docks), "docks.txt"), docks);

    // The serial names a file of the simulator: nothing that leaves its folder.
    EXPECT_THAT(FailureOf("[dock \"../x\"]\n"), HasSubstr("docks.txt:1: a serial number has"));
    EXPECT_THAT(FailureOf("[dock \"a/b\"]\n"), HasSubstr("a serial number has"));
    EXPECT_THAT(FailureOf("[dock \"\"]\n"), HasSubstr("a serial number has"));
    EXPECT_THAT(FailureOf("[dock \"A\"]\nport = 1\n[dock \"A\"]\n"),
                HasSubstr("docks.txt:3: dock \"A\" is given twice"));
    EXPECT_THAT(FailureOf("[dock \"A\"]\nport = 1\n[dock \"B\"]\nport = 1\n"),
                HasSubstr("docks.txt:4: port 1 is taken twice"));
    EXPECT_THAT(FailureOf("[dock \"A\"]\nport = 0\n"), HasSubstr("ports count from 1"));
    EXPECT_THAT(FailureOf("[dock \"A\"]\nport = 1\n\n[dock \"B\"]\nproduct = 1\n"),
                HasSubstr("docks.txt:4: dock \"B\" has no port"));
    EXPECT_THAT(FailureOf("[dock \"A\"]\nport = 128\n"), HasSubstr("port out of range"));
    EXPECT_THAT(FailureOf("port = 1\n"), HasSubstr("before the first [dock"));
    EXPECT_THAT(FailureOf("[dock \"A\"]\ncolour = 1\n"), HasSubstr("unknown setting 'colour'"));
    EXPECT_THAT(FailureOf("[dock \"A\"]\nproduct = 0x410F\nproduct = 0x410F\nport = 1\n"), HasSubstr("given twice"));
    EXPECT_THAT(FailureOf("[dock \"A\"\n"), HasSubstr("expected ']'"));
}

TEST(DockWireMessages, RoundTripAndRejectMalformedBodies) {
    Wire::Request control;
    control.op = Wire::kControl;
    control.serial = "GD0001";
    control.code = 0x16000C;
    control.most = 1024;
    control.data = {1, 2, 3};
    const auto decoded = Wire::DecodeRequest(Wire::Encode(control));
    EXPECT_EQ(decoded.op, Wire::kControl);
    EXPECT_EQ(decoded.serial, "GD0001");
    EXPECT_EQ(decoded.code, 0x16000Cu);
    EXPECT_EQ(decoded.most, 1024u);
    EXPECT_EQ(decoded.data, (std::vector<BYTE>{1, 2, 3}));

    auto body = Wire::Encode(control);
    for (std::size_t cut = 0; cut < 2 + 6 + 8; ++cut)
        EXPECT_THROW(Wire::DecodeRequest(std::vector<BYTE>(body.begin(), body.begin() + cut)), std::invalid_argument)
            << cut;
    EXPECT_THROW(Wire::DecodeRequest({9, 0}), std::invalid_argument);
    EXPECT_THROW(Wire::DecodeRequest({Wire::kPing, 0, 7}), std::invalid_argument);  // bytes after the end
    EXPECT_THROW(Wire::DecodeAnswer({0, 0}), std::invalid_argument);
}

TEST(DockWireMessages, ALengthAboveTheLimitIsRefusedBeforeAnythingIsRead) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const BYTE huge[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    ASSERT_EQ(::send(pair[0], huge, 4, 0), 4);
    EXPECT_THROW(Wire::Receive(pair[1]), std::runtime_error);
    const BYTE cut[6] = {8, 0, 0, 0, 1, 2};
    ASSERT_EQ(::send(pair[0], cut, 6, 0), 6);
    ::shutdown(pair[0], SHUT_WR);
    EXPECT_THROW(Wire::Receive(pair[1]), std::runtime_error);
    ::close(pair[0]);
    ::close(pair[1]);
}

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmo-docks-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path_); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Answers every call on the socket: reads echo the last write back; the
// 1284 control answers a fixed id.
class EchoServer {
public:
    explicit EchoServer(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 4) != 0)
            throw std::runtime_error("listen");
        thread_ = std::thread([this] { Run(); });
    }
    ~EchoServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::vector<std::string> serials;

private:
    void Run() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            while (auto body = Wire::Receive(fd)) {
                const auto request = Wire::DecodeRequest(*body);
                serials.push_back(request.serial);
                Wire::Answer answer;
                if (request.op == Wire::kWrite) {
                    last_ = request.data;
                    const auto n = static_cast<std::uint32_t>(request.data.size());
                    answer.data = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), 0, 0};
                } else if (request.op == Wire::kRead) {
                    answer.data = last_;
                } else if (request.op == Wire::kControl) {
                    const std::string id = "MFG:Velmo;MDL:Glimmer Dock;";
                    answer.data.assign(id.begin(), id.end());
                }
                Wire::Send(fd, Wire::Encode(answer));
            }
            ::close(fd);
        }
    }
    int listener_ = -1;
    std::thread thread_;
    std::vector<BYTE> last_;
};

TEST(LinkedDocks, AProgramOnADiskMachineFindsTheDockAndTalksThroughTheSocket) {
    TemporaryFolder folder;
    Platform::ScopedFreshMachine machine;
    std::ofstream(folder.Path() + "/docks.txt")
        << "[dock \"GD0009\"]\nvendor = 0x3B7D\nproduct = 0x410F\nname = \"Glimmer Dock\"\nport = 3\n";
    Platform::LoadMachine(folder.Path());

    // On the hub with its descriptors, its printing interface present.
    auto& devices = Platform::GetMachine().Devices();
    DEVINST node = 0;
    for (DEVINST n = 1; n < 64 && node == 0; ++n)
        if (devices.InstanceId(n).find(u"GD0009") != std::u16string::npos) node = n;
    ASSERT_NE(node, 0u);
    EXPECT_EQ(devices.InstanceId(node), u"USB\\VID_3B7D&PID_410F\\GD0009");
    const auto path = devices.InterfacePath(devices.PrintingFunction(node), GUID_DEVINTERFACE_USBPRINT);
    ASSERT_FALSE(path.empty());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    // No simulator: the device says it is not connected.
    const BYTE hello[] = {'h', 'i', '!'};
    DWORD done = 0;
    EXPECT_FALSE(WriteFile(file, hello, 3, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));

    {
        EchoServer server(Platform::DockSocketPath(folder.Path()));
        ASSERT_TRUE(WriteFile(file, hello, 3, &done, nullptr));
        EXPECT_EQ(done, 3u);
        BYTE buffer[8] = {};
        ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), done), "hi!");
        char id[64] = {};
        ASSERT_TRUE(DeviceIoControl(file, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, id, sizeof id, &done, nullptr));
        EXPECT_EQ(std::string(id, done), "MFG:Velmo;MDL:Glimmer Dock;");
        EXPECT_THAT(server.serials, testing::Each(std::string("GD0009")));
    }
    CloseHandle(file);
}

TEST(LinkedDocks, EachWalkOfTheUsbTreeSeesTheDocksListedThen) {
    TemporaryFolder folder;
    Platform::ScopedFreshMachine machine;
    const std::string docks = folder.Path() + "/docks.txt";
    std::ofstream(docks) << "[dock \"GD0009\"]\nproduct = 0x410F\nname = \"Glimmer Dock\"\nport = 3\n";
    Platform::LoadMachine(folder.Path());
    auto& devices = Platform::GetMachine().Devices();
    auto present = [&](std::u16string_view serial) {
        for (DEVINST n = 1; n < 64; ++n)
            if (devices.InstanceId(n).ends_with(serial)) return devices.IsPresent(n);
        return false;
    };
    auto walk = [] {
        HDEVINFO list = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_HOST_CONTROLLER, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(list, INVALID_HANDLE_VALUE);
        SetupDiDestroyDeviceInfoList(list);
    };
    ASSERT_TRUE(present(u"\\GD0009"));

    // One dock plugged in and the first pulled out while the program runs.
    std::filesystem::remove(docks);
    std::ofstream(docks) << "[dock \"RA0002\"]\nproduct = 0x4104\nname = \"Glimmer Dock Wireless\"\nport = 9\n";
    walk();
    EXPECT_TRUE(present(u"\\RA0002"));
    EXPECT_FALSE(present(u"\\GD0009"));

    // A list broken by hand changes nothing; mended, it counts again.
    std::filesystem::remove(docks);
    std::ofstream(docks) << "[dock \"GD0009\"]\nport = 300\n";
    walk();
    EXPECT_TRUE(present(u"\\RA0002"));
    std::filesystem::remove(docks);
    std::ofstream(docks) << "[dock \"GD0009\"]\nproduct = 0x410F\nname = \"Glimmer Dock\"\nport = 3\n";
    walk();
    EXPECT_TRUE(present(u"\\GD0009"));
    EXPECT_FALSE(present(u"\\RA0002"));
}

// A write whose answer does not come in time fails as a USB transfer that
// times out, counting the bytes that went over.
TEST(LinkedDocks, AWriteWhoseAnswerTimesOutCountsWhatWentOver) {
    TemporaryFolder folder;
    Platform::ScopedFreshMachine machine;
    std::ofstream(folder.Path() + "/docks.txt")
        << "[dock \"GD0009\"]\nvendor = 0x3B7D\nproduct = 0x410F\nname = \"Glimmer Dock\"\nport = 3\n";
    Platform::LoadMachine(folder.Path());
    const std::string socketPath = Platform::DockSocketPath(folder.Path());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socketPath.c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    // Takes the request and says nothing until the program hangs up.
    std::thread silent([listener] {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        const auto body = Wire::Receive(fd);
        BYTE rest = 0;
        while (body && ::recv(fd, &rest, 1, 0) > 0) {
        }
        ::close(fd);
    });

    auto& devices = Platform::GetMachine().Devices();
    DEVINST node = 0;
    for (DEVINST n = 1; n < 64 && node == 0; ++n)
        if (devices.InstanceId(n).find(u"GD0009") != std::u16string::npos) node = n;
    ASSERT_NE(node, 0u);
    const auto path = devices.InterfacePath(devices.PrintingFunction(node), GUID_DEVINTERFACE_USBPRINT);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const BYTE hello[] = {'h', 'i', '!'};
    DWORD done = 0;
    EXPECT_FALSE(WriteFile(file, hello, 3, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_EQ(done, 3u);
    CloseHandle(file);
    silent.join();
    ::close(listener);
}

TEST(LinkedDocks, ABrokenDockListLoadsNothingOfTheMachine) {
    TemporaryFolder folder;
    Platform::ScopedFreshMachine machine;
    std::ofstream(folder.Path() + "/docks.txt") << "[dock \"GD0001\"]\nport = 200\n";
    EXPECT_THROW(Platform::LoadMachine(folder.Path()), MachineFileError);
    Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo", u"x", u"y");
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "/registry.txt")) << "the registry stayed in memory";
}

}  // namespace
