// The dock simulator: serves the docks of a machine kept on disk over the
// Unix socket docks.sock in the machine folder, so that every program of
// the machine reaches the same docks. Each dock's state is kept in
// docks/<serial>.txt and written after every change, so a restarted
// simulator (or the machine tool) sees what programs changed. A dock whose
// profile fits an access point of machine.txt joins it and announces itself
// through the Avahi daemon (avahi-publish). One simulator serves a machine
// folder: it holds the lock of dock-simulator.lock there while it runs.
//
//   velmo-dock-simulator [--root DIR]     (default: $VELMO_MACHINE_ROOT)
#include "Platform/DockLink.h"
#include "Platform/Machine.h"
#include "Platform/MachineFile.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Simulators/DockPrinter/DockStateText.h"
#include "Simulators/DockPrinter/announce/Announcers.h"
#include "ToolFiles.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <list>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace Simulators;
namespace Wire = Platform::DockWire;

std::atomic<bool> g_stop{false};

extern "C" void OnSignal(int) {
    g_stop = true;
}

std::string DeviceIdOf(const std::string& product, const std::string& firmware) {
    return "MFG:Velmo;MDL:" + product + ";CMD:VELMO;CLS:PRINTER;DES:Velmo " + product + ";VER:" + firmware + ";";
}

class Docks {
public:
    explicit Docks(std::string root) : root_(std::move(root)) {
        controller_ = Platform::GetMachine().Devices().AddHostController(127);
    }

    // The device tree holds every dock it was given, so the docks would
    // outlive this: it lets them go, and each dock then withdraws its
    // announcement and ends its publishers.
    ~Docks() {
        SaveAll();
        Platform::GetMachine().Devices().Reset();
        docks_.clear();
    }

    // Every listed dock at once, so that those whose profile fits one of
    // the machine's access points join it and announce themselves.
    void PlugAll() {
        const auto listed = Tools::ReadTextFile(root_ + "/docks.txt");
        if (!listed) return;
        for (const auto& entry : Platform::ParseDocksText(*listed, root_ + "/docks.txt")) Find(entry.serial);
    }

    // The dock with that serial, plugged in on first use; null when
    // docks.txt does not list it.
    std::shared_ptr<DockPrinter> Find(const std::string& serial) {
        std::lock_guard lock(mutex_);
        auto it = docks_.find(serial);
        if (it != docks_.end()) return it->second.dock;
        const auto listed = Tools::ReadTextFile(root_ + "/docks.txt");
        if (!listed) return nullptr;
        for (const auto& entry : Platform::ParseDocksText(*listed, root_ + "/docks.txt")) {
            if (entry.serial != serial) continue;
            Platform::UsbPrinterIdentity identity = DockPrinter::DefaultIdentity();
            identity.vendorId = entry.vendorId;
            identity.productId = entry.productId;
            identity.product = std::u16string(entry.product.begin(), entry.product.end());
            identity.serialNumber = std::u16string(serial.begin(), serial.end());
            const auto path = Dock::StatePath(root_, serial);
            const auto text = Tools::ReadTextFile(path);
            auto state = text ? Dock::ParseStateText(*text, path) : Dock::FactoryState(serial);
            auto dock = std::make_shared<DockPrinter>(identity, state);
            dock->SetDeviceIdBase(DeviceIdOf(entry.product, state.firmware));
            dock->SetAnnouncer(Dock::MakeAvahiAnnouncer());
            dock->Attach(controller_.rootHub, entry.port);
            docks_[serial] = Served{dock, state};
            return dock;
        }
        return nullptr;
    }

    // Writes the dock's state when it changed since it was last written.
    void Save(const std::string& serial) {
        std::lock_guard lock(mutex_);
        auto it = docks_.find(serial);
        if (it != docks_.end()) SaveLocked(serial, it->second);
    }

    void SaveAll() {
        std::lock_guard lock(mutex_);
        for (auto& [serial, served] : docks_) SaveLocked(serial, served);
    }

private:
    struct Served {
        std::shared_ptr<DockPrinter> dock;
        Dock::PrinterState saved;
    };

    void SaveLocked(const std::string& serial, Served& served) {
        auto state = served.dock->State();
        state.configMode = false;
        if (state == served.saved) return;
        try {
            Tools::WriteTextFile(Dock::StatePath(root_, serial), Dock::FormatStateText(state));
            served.saved = state;
        } catch (const std::exception& error) {
            std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
        }
    }

    std::string root_;
    Platform::HostControllerNodes controller_;
    std::mutex mutex_;
    std::map<std::string, Served> docks_;
};

Wire::Answer Serve(Docks& docks, const Wire::Request& request) {
    Wire::Answer answer;
    if (request.op == Wire::kPing) return answer;
    if (request.op == Wire::kQuit) {
        g_stop = true;
        return answer;
    }
    const auto dock = docks.Find(request.serial);
    if (!dock) {
        answer.error = ERROR_DEVICE_NOT_CONNECTED;
        return answer;
    }
    DWORD done = 0;
    switch (request.op) {
        case Wire::kWrite:
            answer.error = dock->Write(request.data.data(), static_cast<DWORD>(request.data.size()), done);
            for (int i = 0; i < 4; ++i) answer.data.push_back(static_cast<BYTE>(done >> (8 * i)));
            docks.Save(request.serial);
            break;
        case Wire::kRead:
            answer.data.resize(std::min<std::size_t>(request.most, 1u << 20));
            answer.error = dock->Read(answer.data.data(), static_cast<DWORD>(answer.data.size()), done);
            answer.data.resize(done);
            break;
        case Wire::kControl:
            answer.data.resize(std::min<std::size_t>(request.most, 1u << 16));
            answer.error = dock->Control(request.code, request.data.data(), static_cast<DWORD>(request.data.size()),
                                         answer.data.data(), static_cast<DWORD>(answer.data.size()), done);
            answer.data.resize(done);
            break;
        default:
            break;
    }
    return answer;
}

void ServeConnection(Docks& docks, int fd) {
    try {
        while (auto body = Wire::Receive(fd)) {
            Wire::Answer answer;
            try {
                answer = Serve(docks, Wire::DecodeRequest(*body));
            } catch (const std::invalid_argument& error) {
                std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
                break;
            }
            if (!Wire::Send(fd, Wire::Encode(answer))) break;
        }
    } catch (const std::exception& error) {
        std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
    }
    ::close(fd);
}

int Listen(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw std::runtime_error("the socket path is too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("cannot make a socket");
    ::unlink(path.c_str());  // left by a simulator that died: the lock rules out a live one
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(errno));
    }
    return fd;
}

int Usage(std::ostream& out, int status) {
    out << "usage: velmo-dock-simulator [--root DIR]\n"
           "Serves the docks listed in DIR/docks.txt (default: the machine root,\n"
           "$VELMO_MACHINE_ROOT) over DIR/docks.sock until stopped.\n";
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return Usage(std::cout, 0);
        if (arg == "--root" && i + 1 < argc) {
            root = argv[++i];
        } else {
            std::cerr << "velmo-dock-simulator: unknown argument '" << arg << "'\n";
            return Usage(std::cerr, 2);
        }
    }
    // Printed pages and the machine root of the docks go to the same folder.
    if (!root.empty()) ::setenv("VELMO_MACHINE_ROOT", root.c_str(), 1);
    root = Platform::MachineRoot();
    const std::string socketPath = Platform::DockSocketPath(root);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    try {
        std::filesystem::create_directories(root);
        const Tools::SimulatorLock lock(root);
        if (!lock.Held()) {
            const auto holder = Tools::SimulatorLock::Holder(root);
            std::cerr << "velmo-dock-simulator: a simulator is running already for " << root;
            if (holder) std::cerr << " (process " << *holder << ")";
            std::cerr << "\n";
            return 1;
        }
        // The access points around the machine, as machine.txt lists them.
        const std::string settingsPath = root + "/machine.txt";
        if (const auto settings = Tools::ReadTextFile(settingsPath))
            Platform::GetMachine().Wireless().SetAccessPoints(
                Platform::ParseMachineSettingsText(*settings, settingsPath).networks);
        Docks docks(root);
        docks.PlugAll();
        const int listener = Listen(socketPath);
        // Programs connect once a call, so finished connections are reaped
        // as new ones come.
        struct Connection {
            std::atomic<bool> done{false};
            std::thread thread;
        };
        std::list<Connection> connections;
        while (!g_stop) {
            for (auto it = connections.begin(); it != connections.end();) {
                if (!it->done) {
                    ++it;
                    continue;
                }
                it->thread.join();
                it = connections.erase(it);
            }
            pollfd ready{listener, POLLIN, 0};
            if (::poll(&ready, 1, 200) <= 0) continue;
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            auto& connection = connections.emplace_back();
            connection.thread = std::thread([&docks, &connection, fd] {
                ServeConnection(docks, fd);
                connection.done = true;
            });
        }
        ::close(listener);
        ::unlink(socketPath.c_str());
        // Connections end when their programs close them or their dock's
        // read times out.
        for (auto& connection : connections) connection.thread.join();
        docks.SaveAll();
    } catch (const std::exception& error) {
        std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
