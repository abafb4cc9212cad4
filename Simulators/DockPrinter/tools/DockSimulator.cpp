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
#include <sys/inotify.h>
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
            const auto announcer = Dock::MakeAvahiAnnouncer();
            dock->SetAnnouncer(announcer);
            dock->Attach(controller_.rootHub, entry.port);
            docks_[serial] = Served{dock, state, announcer};
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

    // Why the dock is not announced on the network it joined; empty when
    // it is, or when it joined none.
    std::string NetworkTrouble(const std::string& serial) {
        std::shared_ptr<DockPrinter> dock;
        std::shared_ptr<Dock::ServiceAnnouncer> announcer;
        {
            std::lock_guard lock(mutex_);
            const auto it = docks_.find(serial);
            if (it == docks_.end()) return {};
            dock = it->second.dock;
            announcer = it->second.announcer;
        }
        const auto network = dock->JoinedNetwork();
        if (network.empty()) return {};
        const auto failure = announcer->Failure();
        if (failure.empty()) return {};
        return "on network \"" + network + "\", not announced: " + failure;
    }

private:
    struct Served {
        std::shared_ptr<DockPrinter> dock;
        Dock::PrinterState saved;
        std::shared_ptr<Dock::ServiceAnnouncer> announcer;
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

// The access points of machine.txt, followed while the simulator runs: the
// folder is watched, and the list is read again whenever the file was
// written or replaced, so docks join and leave as networks come and go.
class Networks {
public:
    explicit Networks(const std::string& root)
        : path_(root + "/machine.txt"), watch_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (watch_ < 0 || ::inotify_add_watch(watch_, root.c_str(),
                                              IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE) < 0)
            throw std::runtime_error("cannot watch " + root + ": " + std::strerror(errno));
        Read();
    }
    ~Networks() { ::close(watch_); }
    Networks(const Networks&) = delete;
    Networks& operator=(const Networks&) = delete;

    // Readable when something in the folder changed.
    int Fd() const { return watch_; }

    // Takes the folder's changes; reads the networks again when machine.txt
    // was among them.
    void Follow() {
        alignas(inotify_event) char buffer[4096];
        bool touched = false;
        for (;;) {
            const ssize_t n = ::read(watch_, buffer, sizeof buffer);
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && std::strcmp(event->name, "machine.txt") == 0) touched = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (touched) Read();
    }

private:
    // A file broken by hand is reported and the networks stay as they were.
    void Read() {
        try {
            const auto settings = Tools::ReadTextFile(path_);
            auto networks = settings ? Platform::ParseMachineSettingsText(*settings, path_).networks
                                     : std::vector<Platform::AccessPoint>{};
            auto& air = Platform::GetMachine().Wireless();
            if (air.AccessPoints() != networks) air.SetAccessPoints(std::move(networks));
        } catch (const std::exception& error) {
            std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
        }
    }

    std::string path_;
    int watch_;
};

std::string_view OpName(Wire::Op op) {
    switch (op) {
        case Wire::kWrite:
            return "write";
        case Wire::kRead:
            return "read";
        case Wire::kControl:
            return "control";
        case Wire::kPing:
            return "ping";
        case Wire::kQuit:
            return "quit";
        case Wire::kNetwork:
            return "network";
    }
    return "unknown";
}

Wire::Answer Serve(Docks& docks, const Wire::Request& request) {
    Wire::Answer answer;
    if (request.op == Wire::kPing) return answer;
    if (request.op == Wire::kQuit) {
        g_stop = true;
        return answer;
    }
    if (request.op == Wire::kNetwork) {
        const auto trouble = docks.NetworkTrouble(request.serial);
        answer.data.assign(trouble.begin(), trouble.end());
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

// Whether the program hung up: it gave up on its call.
bool ClientGone(int fd) {
    pollfd hangUp{fd, POLLRDHUP, 0};
    return ::poll(&hangUp, 1, 0) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Serves one program's connection until it hangs up, stays silent longer
// than a program waits for an answer (a stopped or stuck one), or the
// simulator quits (quitting becomes readable).
void ServeConnection(Docks& docks, Networks& networks, std::mutex& networksMutex, int fd, int quitting) {
    const timeval limit{Wire::kAnswerSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    try {
        for (;;) {
            pollfd ready[2] = {{fd, POLLIN, 0}, {quitting, POLLIN, 0}};
            const int n = ::poll(ready, 2, Wire::kAnswerSeconds * 1000);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || ready[1].revents != 0) break;
            const auto body = Wire::Receive(fd);
            if (!body) break;
            Wire::Request request;
            try {
                request = Wire::DecodeRequest(*body);
            } catch (const std::invalid_argument& error) {
                std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
                break;
            }
            // A program that timed out has told its user the call failed.
            if (ClientGone(fd)) {
                std::cerr << "velmo-dock-simulator: dropped a " << OpName(request.op) << " request"
                          << (request.serial.empty() ? "" : " for " + request.serial)
                          << ": its program gave up waiting\n";
                break;
            }
            {
                // A network changed just now counts for this request.
                std::lock_guard lock(networksMutex);
                networks.Follow();
            }
            if (!Wire::Send(fd, Wire::Encode(Serve(docks, request)))) break;
        }
    } catch (const std::exception& error) {
        std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
    }
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
        Networks networks(root);
        std::mutex networksMutex;
        Docks docks(root);
        docks.PlugAll();
        const int listener = Listen(socketPath);
        // Closing its write end tells every connection that the simulator quits.
        int quitting[2];
        if (::pipe2(quitting, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
        // Programs connect once a call, so finished connections are reaped
        // as new ones come.
        struct Connection {
            std::atomic<bool> done{false};
            std::thread thread;
            int fd = -1;
        };
        std::list<Connection> connections;
        const auto reap = [&connections](bool all) {
            for (auto it = connections.begin(); it != connections.end();) {
                if (!all && !it->done) {
                    ++it;
                    continue;
                }
                it->thread.join();
                ::close(it->fd);
                it = connections.erase(it);
            }
        };
        while (!g_stop) {
            reap(false);
            pollfd ready[2] = {{listener, POLLIN, 0}, {networks.Fd(), POLLIN, 0}};
            if (::poll(ready, 2, 200) <= 0) continue;
            // Before the connection that may have come with the change.
            if (ready[1].revents != 0) {
                std::lock_guard lock(networksMutex);
                networks.Follow();
            }
            if (ready[0].revents == 0) continue;
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            auto& connection = connections.emplace_back();
            connection.fd = fd;
            connection.thread = std::thread([&, fd, quit = quitting[0]] {
                ServeConnection(docks, networks, networksMutex, fd, quit);
                connection.done = true;
            });
        }
        ::close(listener);
        ::unlink(socketPath.c_str());
        // Programs still connected are not waited for: a call in hand ends,
        // and the connection with it.
        ::close(quitting[1]);
        reap(true);
        ::close(quitting[0]);
        docks.SaveAll();
    } catch (const std::exception& error) {
        std::cerr << "velmo-dock-simulator: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
