// Sets up the simulated machine kept on disk: the documents the programs
// read, the docks plugged into it and the dock simulator that serves them.
#include "Platform/DockLink.h"
#include "Platform/Machine.h"
#include "Platform/MachineFile.h"
#include "Platform/Paths.h"
#include "Platform/Registry.h"
#include "Platform/UsbQueue.h"
#include "Simulators/DockPrinter/DockStateText.h"
#include "Simulators/DockPrinter/DriverPackage.h"
#include "ToolFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <thread>
#include <vector>

#ifndef VELMO_DATA_DIR
#define VELMO_DATA_DIR "data"
#endif

namespace {

namespace fs = std::filesystem;
using namespace Simulators;
namespace Wire = Platform::DockWire;

constexpr const char* kUsage =
    "usage: velmo-machine [--root DIR] COMMAND [OPTIONS]\n"
    "Sets up the simulated machine in DIR (default: $VELMO_MACHINE_ROOT).\n"
    "\n"
    "commands:\n"
    "  install [--from DIR] [--path WINPATH]\n"
    "        copy the documents (*.xml of DIR, default the source tree's data/)\n"
    "        into the install folder the registry names; when it names none,\n"
    "        record WINPATH (default C:\\Program Files\\Velmo) there first\n"
    "  attach --product ID [--serial S] [--port N] [--pin PIN]\n"
    "         [--bluetooth-name NAME] [--bluetooth on|off] [--profile ID,SSID[,WPAKEY]]...\n"
    "         [--guid XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX] [--mac XX:XX:XX:XX:XX:XX]\n"
    "         [--firmware VERSION]\n"
    "        plug a dock in: model by USB product id (0x410F Glimmer Dock,\n"
    "        0x4104 Glimmer Dock Wireless, 0x410A Glimmer Photo 4, 0x410B\n"
    "        Glimmer Photo 6 Studio); serial GD0001 and the first free port\n"
    "        unless given (serials differ in more than case); its state\n"
    "        starts from the factory's with the settings given, and a GUID\n"
    "        and MAC address that follow from its serial unless given (a\n"
    "        station's: not multicast, broadcast or zero); a PIN is four\n"
    "        digits; a Wi-Fi model (0x4104, 0x410B) given no --profile holds,\n"
    "        besides \"Default\" (id 0), the empty profiles 1 to 3 (\"Profile 1\"\n"
    "        to \"Profile 3\", no SSID) to fill in; each --profile sets one id;\n"
    "        its device id reports firmware VERSION (default 3.01; letters,\n"
    "        digits and marks, no ';' or ':')\n"
    "  install-driver     put the family's driver package into the driver store\n"
    "  usb-queue SERIAL [--name NAME] [--driver DRIVER]\n"
    "        add a print queue on the dock's USB port as plug and play does,\n"
    "        its PnPData naming the dock's printer node; NAME and DRIVER are\n"
    "        \"Velmo <model>\" unless given\n"
    "  detach SERIAL      pull the dock out and forget its state\n"
    "  start              start the dock simulator in the background\n"
    "  stop               stop it (it keeps the docks' state)\n"
    "  list               the docks, their ports and state, and the simulator\n"
    "  state SERIAL       the dock's whole state\n"
    "  network SSID [--channel N] [--wpa PASSPHRASE]\n"
    "        put an access point around the machine (open unless a WPA\n"
    "        passphrase is given; channel 6 unless given); docks whose\n"
    "        profile fits join it, also while the simulator runs, and\n"
    "        announce themselves through the Avahi daemon\n"
    "  printers           the machine's ports and print queues\n";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Model {
    WORD productId;
    const char* name;
    bool wifi;
};
constexpr Model kModels[] = {{0x410F, "Glimmer Dock", false},
                             {0x4104, "Glimmer Dock Wireless", true},
                             {0x410A, "Glimmer Photo 4", false},
                             {0x410B, "Glimmer Photo 6 Studio", true}};

bool SameSerial(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

unsigned ParseNumber(const std::string& text, unsigned max, const std::string& what) {
    unsigned value = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const auto [ptr, ec] = std::from_chars(first, text.data() + text.size(), value, hex ? 16 : 10);
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size() || value > max)
        throw UsageError(what + " must be a number up to " + std::to_string(max) + ", got '" + text + "'");
    return value;
}

class Tool {
public:
    explicit Tool(std::string root) : root_(std::move(root)), docksPath_(root_ + "/docks.txt") {}

    std::vector<Platform::DockEntry> Docks() const {
        const auto text = Tools::ReadTextFile(docksPath_);
        return text ? Platform::ParseDocksText(*text, docksPath_) : std::vector<Platform::DockEntry>{};
    }

    // The simulator's process while one runs for the folder, answering or not.
    std::optional<pid_t> Simulator() const { return Tools::SimulatorLock::Holder(root_); }

    bool SimulatorAnswers() const {
        const auto answer = Wire::Call(Platform::DockSocketPath(root_), Wire::Request{});
        return answer && answer->error == ERROR_SUCCESS;
    }

    int Install(const std::vector<std::string>& args) {
        std::string from = VELMO_DATA_DIR;
        std::u16string fallback = u"C:\\Program Files\\Velmo";
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--from" && i + 1 < args.size())
                from = args[++i];
            else if (args[i] == "--path" && i + 1 < args.size()) {
                const std::string path = args[++i];
                fallback.assign(path.begin(), path.end());
            } else
                throw UsageError("install: unknown option '" + args[i] + "'");
        }
        if (!fs::is_directory(from)) throw UsageError("install: no folder " + from);
        std::vector<fs::path> documents;
        for (const auto& entry : fs::directory_iterator(from))
            if (entry.path().extension() == ".xml") documents.push_back(entry.path());
        if (documents.empty()) throw UsageError("install: " + from + " holds no documents (*.xml)");
        Platform::LoadMachine(root_);
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            throw std::runtime_error("cannot open the product's registry key");
        std::u16string installPath(260, u'\0');
        DWORD size = static_cast<DWORD>(installPath.size() * sizeof(char16_t));
        DWORD type = 0;
        if (RegQueryValueExW(key, u"InstallPath", nullptr, &type, reinterpret_cast<BYTE*>(installPath.data()), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ) {
            installPath.resize(std::char_traits<char16_t>::length(installPath.c_str()));
        } else {
            installPath = fallback;
            const DWORD bytes = static_cast<DWORD>((installPath.size() + 1) * sizeof(char16_t));
            if (RegSetValueExW(key, u"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(installPath.c_str()),
                               bytes) != ERROR_SUCCESS) {
                RegCloseKey(key);
                throw std::runtime_error("cannot record the install path in the registry");
            }
        }
        RegCloseKey(key);
        const fs::path target = Platform::MapPath(installPath.c_str());
        fs::create_directories(target);
        for (const auto& document : documents)
            fs::copy_file(document, target / document.filename(), fs::copy_options::overwrite_existing);
        std::cout << "installed " << documents.size() << " documents into " << target.string() << "\n";
        return 0;
    }

    int Attach(const std::vector<std::string>& args) {
        Platform::DockEntry entry;
        entry.serial = "GD0001";
        std::optional<unsigned> port;
        auto state = Dock::FactoryState();
        std::optional<std::string> guid;
        std::optional<std::string> mac;
        std::set<int> profiles;
        bool haveProduct = false;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& option = args[i];
            if (i + 1 >= args.size()) throw UsageError("attach: " + option + " needs a value");
            const std::string value = args[++i];
            if (option == "--product") {
                entry.productId = static_cast<WORD>(ParseNumber(value, 0xFFFF, "the product id"));
                haveProduct = true;
            } else if (option == "--serial") {
                entry.serial = value;
            } else if (option == "--port") {
                port = ParseNumber(value, 127, "the port");
                if (*port == 0) throw UsageError("ports count from 1");
            } else if (option == "--pin") {
                // As the Bluetooth plug-in and the dock take a PIN.
                if (value.size() != 4 || !std::all_of(value.begin(), value.end(), [](char c) {
                        return c >= '0' && c <= '9';
                    }))
                    throw UsageError("--pin takes four digits (0-9), got '" + value + "'");
                state.pin = value;
            } else if (option == "--bluetooth-name") {
                state.bluetooth.friendlyName = value;
            } else if (option == "--bluetooth") {
                if (value != "on" && value != "off") throw UsageError("--bluetooth is on or off, got '" + value + "'");
                state.bluetooth.enabled = value == "on";
            } else if (option == "--profile") {
                const int id = AddProfile(state, value);
                if (!profiles.insert(id).second)
                    throw UsageError("--profile: profile " + std::to_string(id) + " is given twice");
            } else if (option == "--guid") {
                guid = HexPattern(option, value, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
                if (guid->find_first_not_of("0-") == std::string::npos)
                    throw UsageError("--guid: the all-zero GUID names no dock");
            } else if (option == "--firmware") {
                if (!Dock::IsFirmwareText(value))
                    throw UsageError("--firmware takes 1 to 63 letters, digits and marks, no ';' or ':', got '" +
                                     value + "'");
                state.firmware = value;
            } else if (option == "--mac") {
                mac = HexPattern(option, value, "XX:XX:XX:XX:XX:XX");
                // A dock's own address: a station's, never a group's.
                if (mac->find_first_not_of("0:") == std::string::npos)
                    throw UsageError("--mac: " + *mac + " is no station's address");
                if (*mac == "FF:FF:FF:FF:FF:FF")
                    throw UsageError("--mac: " + *mac + " is the broadcast address, not a dock's");
                if (std::stoi(mac->substr(0, 2), nullptr, 16) & 1)
                    throw UsageError("--mac: " + *mac + " is a multicast address (its first byte is odd), not a dock's");
            } else {
                throw UsageError("attach: unknown option '" + option + "'");
            }
        }
        if (!haveProduct) throw UsageError("attach: --product is required");
        const auto own = Dock::FactoryState(entry.serial);
        state.guid = guid.value_or(own.guid);
        state.macAddress = mac.value_or(own.macAddress);
        for (const auto& model : kModels) {
            if (model.productId != entry.productId) continue;
            entry.product = model.name;
            if (model.wifi && profiles.empty()) Dock::AddBlankProfiles(state);
        }
        if (entry.product.empty()) throw UsageError("attach: no model has the product id " + ToHex(entry.productId));
        auto docks = Docks();
        std::vector<bool> taken(128, false);
        for (const auto& dock : docks) {
            // Docks announce themselves by their serials in lower case.
            if (SameSerial(dock.serial, entry.serial))
                throw UsageError("a dock with serial " + dock.serial + " is attached already" +
                                 (dock.serial == entry.serial ? "" : " (serials differ in more than case)"));
            taken[dock.port] = true;
        }
        if (port && taken[*port]) throw UsageError("port " + std::to_string(*port) + " is taken");
        if (!port) {
            port = 1;
            while (*port < 127 && taken[*port]) ++*port;
        }
        entry.port = *port;
        docks.push_back(entry);
        // Checked as the programs will read it (the serial's characters above all).
        const auto text = Platform::FormatDocksText(docks);
        try {
            Platform::ParseDocksText(text, docksPath_);
        } catch (const Platform::MachineFileError&) {
            throw UsageError("attach: a serial number has 1 to 64 letters, digits, '-' or '_'");
        }
        Tools::WriteTextFile(Dock::StatePath(root_, entry.serial), Dock::FormatStateText(state));
        Tools::WriteTextFile(docksPath_, text);
        std::cout << "attached " << entry.product << " " << entry.serial << " on port " << entry.port << "\n";
        return 0;
    }

    int Detach(const std::vector<std::string>& args) {
        if (args.size() != 1) throw UsageError("detach SERIAL");
        auto docks = Docks();
        const auto it = std::find_if(docks.begin(), docks.end(), [&](const auto& d) { return d.serial == args[0]; });
        if (it == docks.end()) throw UsageError("no dock with serial " + args[0] + " is attached");
        if (Simulator()) throw UsageError("stop the simulator before pulling a dock out");
        docks.erase(it);
        Tools::WriteTextFile(docksPath_, Platform::FormatDocksText(docks));
        fs::remove(Dock::StatePath(root_, args[0]));
        std::cout << "detached " << args[0] << "\n";
        return 0;
    }

    int Start() {
        std::optional<pid_t> ours;
        if (!Simulator()) ours = Spawn();
        // Starts that race each start a simulator; the one that holds the
        // lock serves, the others end.
        const auto serving = AwaitAnswer(ours);
        if (!serving) {
            if (const auto silent = Simulator())
                throw std::runtime_error("the dock simulator (process " + std::to_string(*silent) +
                                         ") does not answer; velmo-machine stop ends it");
            throw std::runtime_error("the dock simulator did not start (see " + root_ + "/dock-simulator.log)");
        }
        if (serving != ours) {
            std::cout << "the dock simulator is running already\n";
            return 0;
        }
        std::cout << "dock simulator started\n";
        if (!AvahiDaemonRuns())
            std::cerr << "velmo-machine: no Avahi daemon is running, so docks that join a network will not be "
                         "announced\n";
        return 0;
    }

    int Stop() {
        const auto simulator = Simulator();
        if (!simulator) {
            std::cout << "the dock simulator is not running\n";
            return 0;
        }
        // Signals go to that process, never to another given its number later.
        const Process process(*simulator);
        Wire::Request quit;
        quit.op = Wire::kQuit;
        const auto answer = Wire::Call(SocketPath(), quit);
        if (!answer || answer->error != ERROR_SUCCESS) {
            std::cout << "the dock simulator does not answer; ending process " << *simulator << "\n";
            End(process);
        } else if (!AwaitEnd(*simulator)) {
            // Its docks withdraw their announcements first, within seconds.
            std::cout << "the dock simulator did not end; ending process " << *simulator << "\n";
            End(process);
        }
        std::cout << "dock simulator stopped\n";
        return 0;
    }

    // The package's texts are ASCII.
    static std::string Ascii(const std::u16string& text) {
        std::string out;
        for (const char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }

    int InstallDriver() {
        Platform::LoadMachine(root_);
        for (const auto& package : VelmoDriverPackages()) {
            Platform::GetMachine().Drivers().Install(package);
            std::cout << "installed driver \"" << Ascii(package.description) << "\" for "
                      << Ascii(package.hardwareIds.front()) << "\n";
        }
        return 0;
    }

    int UsbQueue(const std::vector<std::string>& args) {
        if (args.empty()) throw UsageError("usb-queue SERIAL [--name NAME] [--driver DRIVER]");
        const auto docks = Docks();
        const auto dock = std::find_if(docks.begin(), docks.end(), [&](const auto& d) { return d.serial == args[0]; });
        if (dock == docks.end()) throw UsageError("no dock with serial " + args[0] + " is attached");
        std::string name = "Velmo " + dock->product;
        std::string driver = name;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (i + 1 >= args.size()) throw UsageError("usb-queue: " + args[i] + " needs a value");
            if (args[i] == "--name")
                name = args[++i];
            else if (args[i] == "--driver")
                driver = args[++i];
            else
                throw UsageError("usb-queue: unknown option '" + args[i] + "'");
        }
        // The programs see the docks where LoadMachine plugs them in, under
        // the ids the tree gives a device by its serial number.
        Platform::LoadMachine(root_);
        char vidPid[32];
        std::snprintf(vidPid, sizeof vidPid, "USB\\VID_%04X&PID_%04X\\", dock->vendorId, dock->productId);
        const std::u16string instanceId = Wide(vidPid + dock->serial);
        DEVINST device = 0;
        if (CM_Locate_DevNodeW(&device, instanceId.c_str(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
            throw std::runtime_error("dock " + dock->serial + " is not on the machine's USB bus");
        std::u16string port;
        try {
            port = Platform::AddUsbPrinterQueue(Wide(name), Wide(driver), device);
        } catch (const std::invalid_argument& error) {
            throw UsageError("usb-queue: cannot add \"" + name + "\": " + error.what());
        }
        std::cout << "added queue \"" << name << "\" on " << Ascii(port) << " for " << dock->serial << " ("
                  << Ascii(Platform::UsbPrinterInstanceId(device)) << ")\n";
        return 0;
    }

    int List() {
        const auto docks = Docks();
        const auto status = SimulatorStatus();
        std::cout << "dock simulator: " << status << "\n";
        if (docks.empty()) std::cout << "no docks attached\n";
        for (const auto& dock : docks) {
            std::cout << dock.serial << "  " << ToHex(dock.productId) << " " << dock.product << "  port " << dock.port
                      << "\n";
            const auto state = State(dock.serial);
            std::cout << "  pin \"" << state.pin << "\", bluetooth " << (state.bluetooth.enabled ? "on" : "off")
                      << " \"" << state.bluetooth.friendlyName << "\", " << state.bluetooth.pairedDevices.size()
                      << " paired, " << state.profiles.size() << " profiles\n";
            if (status == "running") {
                Wire::Request ask;
                ask.op = Wire::kNetwork;
                ask.serial = dock.serial;
                const auto answer = Wire::Call(SocketPath(), ask);
                if (answer && answer->error == ERROR_SUCCESS && !answer->data.empty())
                    std::cout << "  " << std::string(answer->data.begin(), answer->data.end()) << "\n";
            }
        }
        return 0;
    }

    int ShowState(const std::vector<std::string>& args) {
        if (args.size() != 1) throw UsageError("state SERIAL");
        const auto docks = Docks();
        if (std::none_of(docks.begin(), docks.end(), [&](const auto& d) { return d.serial == args[0]; }))
            throw UsageError("no dock with serial " + args[0] + " is attached");
        std::cout << Dock::FormatStateText(State(args[0]));
        return 0;
    }

    int Network(const std::vector<std::string>& args) {
        if (args.empty() || args[0].empty() || args[0].size() > 32)
            throw UsageError("network SSID (1 to 32 bytes) [--channel N] [--wpa PASSPHRASE]");
        Platform::AccessPoint point;
        point.ssid = args[0];
        point.channel = 6;
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string& option = args[i];
            if (i + 1 >= args.size()) throw UsageError("network: " + option + " needs a value");
            const std::string value = args[++i];
            if (option == "--channel") {
                point.channel = static_cast<int>(ParseNumber(value, 14, "the channel"));
                if (point.channel == 0) throw UsageError("channels count from 1");
            } else if (option == "--wpa") {
                if (value.size() < 8 || value.size() > 63) throw UsageError("a WPA passphrase has 8 to 63 characters");
                point.authentication = Platform::WifiAuthentication::WpaPsk;
                point.encryption = Platform::WifiEncryption::Aes;
                point.wpaKey = value;
            } else {
                throw UsageError("network: unknown option '" + option + "'");
            }
        }
        const std::string path = root_ + "/machine.txt";
        const auto text = Tools::ReadTextFile(path);
        auto settings = text ? Platform::ParseMachineSettingsText(*text, path) : Platform::MachineSettings{};
        std::erase_if(settings.networks, [&](const auto& other) { return other.ssid == point.ssid; });
        settings.networks.push_back(point);
        Tools::WriteTextFile(path, Platform::FormatMachineSettingsText(settings));
        std::cout << "network \"" << point.ssid << "\" on channel " << point.channel << ", "
                  << (point.wpaKey.empty() ? "open" : "WPA") << "\n";
        return 0;
    }

    int Printers() {
        Platform::LoadMachine(root_);
        const auto spooler = Platform::GetMachine().Spooler().Snapshot();
        if (spooler.ports.empty()) std::cout << "no ports\n";
        for (const auto& [folded, port] : spooler.ports) {
            std::cout << "port " << Ascii(port.name);
            if (!port.address.empty()) std::cout << "  " << Ascii(port.address) << "  " << Ascii(port.deviceName);
            std::cout << "\n";
        }
        if (spooler.printers.empty()) std::cout << "no printers\n";
        for (const auto& [folded, queue] : spooler.printers) {
            std::cout << "printer \"" << Ascii(queue.name) << "\"  port " << Ascii(queue.port) << "  driver \""
                      << Ascii(queue.driver) << "\"\n";
        }
        return 0;
    }

private:
    std::string SimulatorStatus() const {
        const auto simulator = Simulator();
        if (!simulator) return "stopped";
        if (SimulatorAnswers()) return "running";
        return "not answering (process " + std::to_string(*simulator) + ")";
    }

    // Starts the simulator detached from this process and its terminal;
    // returns its process id.
    pid_t Spawn() const {
        const std::string program = Platform::ProgramDirectory() + "/velmo-dock-simulator";
        const std::string logPath = root_ + "/dock-simulator.log";
        fs::create_directories(root_);
        int told[2];
        if (::pipe2(told, O_CLOEXEC) != 0) throw std::runtime_error("cannot start the dock simulator");
        const pid_t child = ::fork();
        if (child < 0) {
            ::close(told[0]);
            ::close(told[1]);
            throw std::runtime_error("cannot start the dock simulator");
        }
        if (child == 0) {
            // Its messages go to the machine folder.
            ::setsid();
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (log >= 0) {
                ::dup2(log, STDOUT_FILENO);
                ::dup2(log, STDERR_FILENO);
            }
            if (null >= 0) ::dup2(null, STDIN_FILENO);
            const pid_t simulator = ::fork();
            if (simulator != 0) {
                const bool sent = ::write(told[1], &simulator, sizeof simulator) == sizeof simulator;
                ::_exit(sent ? 0 : 1);
            }
            ::execl(program.c_str(), program.c_str(), "--root", root_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(told[1]);
        int status = 0;
        ::waitpid(child, &status, 0);
        pid_t simulator = -1;
        const bool got = ::read(told[0], &simulator, sizeof simulator) == sizeof simulator;
        ::close(told[0]);
        if (!got || simulator <= 0) throw std::runtime_error("cannot start the dock simulator");
        return simulator;
    }

    // The simulator that holds the lock once it answers; nullopt when none
    // does within a few seconds. One without its socket is starting or on
    // its way out: it is given longer, and when it ends before this start
    // spawned one (ours), one is spawned then.
    std::optional<pid_t> AwaitAnswer(std::optional<pid_t>& ours) const {
        using Clock = std::chrono::steady_clock;
        auto until = Clock::now() + std::chrono::seconds(5);
        std::optional<Clock::time_point> socketless;
        bool told = false;
        for (;;) {
            const auto simulator = Simulator();
            if (simulator && SimulatorAnswers()) return simulator;
            if (!simulator && !ours) {
                ours = Spawn();
                until = Clock::now() + std::chrono::seconds(5);
            } else if (simulator && !ours && !fs::exists(SocketPath())) {
                if (!socketless) socketless = Clock::now();
                if (!told && Clock::now() - *socketless >= std::chrono::seconds(1)) {
                    std::cout << "waiting for the dock simulator (process " << *simulator << ") to end or answer"
                              << std::endl;
                    told = true;
                    until = Clock::now() + std::chrono::seconds(30);
                }
            }
            if (Clock::now() >= until) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::string SocketPath() const { return Platform::DockSocketPath(root_); }

    // Whether that simulator let go of the lock within the given seconds
    // (another may hold it by then).
    bool AwaitEnd(pid_t simulator, int seconds = 20) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (Simulator() == simulator) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    // A process held by a pidfd, so a signal reaches it or nothing.
    class Process {
    public:
        explicit Process(pid_t pid)
            : pid_(pid), fd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}
        ~Process() {
            if (fd_ >= 0) ::close(fd_);
        }
        Process(const Process&) = delete;
        Process& operator=(const Process&) = delete;
        pid_t Pid() const { return pid_; }
        void Signal(int signal) const {
            if (fd_ >= 0) ::syscall(SYS_pidfd_send_signal, fd_, signal, nullptr, 0);
        }

    private:
        pid_t pid_;
        int fd_;
    };

    // Ends a simulator that does not answer or does not end: as a stop ends
    // it when it still can, else at once. Each signal goes only while the
    // process still holds the lock.
    void End(const Process& simulator) const {
        if (Simulator() != simulator.Pid()) return;
        // A stopped process takes the signal once it is let run again.
        simulator.Signal(SIGTERM);
        simulator.Signal(SIGCONT);
        if (AwaitEnd(simulator.Pid())) return;
        simulator.Signal(SIGKILL);
        if (!AwaitEnd(simulator.Pid(), 5))
            throw std::runtime_error("the dock simulator (process " + std::to_string(simulator.Pid()) +
                                     ") did not end");
    }

    // Where the Avahi daemon listens while it runs; avahi-publish needs it.
    static bool AvahiDaemonRuns() {
        const int fd = Wire::Connect("/run/avahi-daemon/socket");
        if (fd < 0) return false;
        ::close(fd);
        return true;
    }

    Dock::PrinterState State(const std::string& serial) const {
        const auto path = Dock::StatePath(root_, serial);
        const auto text = Tools::ReadTextFile(path);
        return text ? Dock::ParseStateText(*text, path) : Dock::FactoryState(serial);
    }

    // Names given on the command line are UTF-8.
    static std::u16string Wide(const std::string& utf8) {
        std::u16string out;
        for (std::size_t i = 0; i < utf8.size();) {
            const auto lead = static_cast<unsigned char>(utf8[i]);
            const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
            if (length == 0 || lead > 0xF4 || i + length > utf8.size()) throw UsageError("a name must be UTF-8 text");
            char32_t code = length == 1 ? lead : lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(utf8[i + k]);
                if ((next & 0xC0) != 0x80) throw UsageError("a name must be UTF-8 text");
                code = (code << 6) | (next & 0x3F);
            }
            const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                throw UsageError("a name must be UTF-8 text");
            if (code >= 0x10000) {
                out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
            } else {
                out.push_back(static_cast<char16_t>(code));
            }
            i += length;
        }
        return out;
    }

    // The value in capitals when it fits the pattern, whose X stand for hex digits.
    static std::string HexPattern(const std::string& option, const std::string& value, std::string_view pattern) {
        std::string out;
        for (std::size_t i = 0; i < value.size() && i < pattern.size(); ++i) {
            const bool hex = std::isxdigit(static_cast<unsigned char>(value[i])) != 0;
            if (pattern[i] == 'X' ? !hex : value[i] != pattern[i]) break;
            out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(value[i]))));
        }
        if (value.size() != pattern.size() || out.size() != pattern.size())
            throw UsageError(option + " takes " + std::string(pattern) + " (X a hex digit), got '" + value + "'");
        return out;
    }

    static std::string ToHex(WORD value) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", value);
        return text;
    }

    // The id of the profile set.
    static int AddProfile(Dock::PrinterState& state, const std::string& value) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        while (true) {
            const auto comma = value.find(',', start);
            parts.push_back(value.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (parts.size() < 2 || parts.size() > 3 || parts[1].empty() || parts[1].size() > 32)
            throw UsageError("--profile ID,SSID[,WPAKEY] (an SSID of 1 to 32 bytes), got '" + value + "'");
        const int id = static_cast<int>(ParseNumber(parts[0], 255, "the profile id"));
        Dock::Profile profile;
        profile.id = id;
        profile.country = "US";
        profile.domain = "FCC";
        profile.profileName = parts[1];
        profile.wifi.ssid = parts[1];
        if (parts.size() == 3) {
            if (parts[2].size() < 8 || parts[2].size() > 63) throw UsageError("a WPA key has 8 to 63 characters");
            profile.wifi.network = Dock::NetworkMode::WpaPsk;
            profile.wifi.data = Dock::DataMode::Aes;
            profile.wifi.keys = Dock::KeyKind::WpaPsk;
            profile.wifi.wpaKey = parts[2];
        }
        state.profiles[id] = profile;
        return id;
    }

    std::string root_;
    std::string docksPath_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string root;
    if (args.size() >= 2 && args[0] == "--root") {
        root = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (!root.empty()) ::setenv("VELMO_MACHINE_ROOT", root.c_str(), 1);
    Tool tool(Platform::MachineRoot());
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        if (command == "install") return tool.Install(rest);
        if (command == "attach") return tool.Attach(rest);
        if (command == "install-driver" && rest.empty()) return tool.InstallDriver();
        if (command == "usb-queue") return tool.UsbQueue(rest);
        if (command == "detach") return tool.Detach(rest);
        if (command == "start" && rest.empty()) return tool.Start();
        if (command == "stop" && rest.empty()) return tool.Stop();
        if (command == "list" && rest.empty()) return tool.List();
        if (command == "state") return tool.ShowState(rest);
        if (command == "network") return tool.Network(rest);
        if (command == "printers" && rest.empty()) return tool.Printers();
        throw UsageError("unknown command '" + command + "' (or it takes no arguments)");
    } catch (const UsageError& error) {
        std::cerr << "velmo-machine: " << error.what() << "\n(velmo-machine --help shows the usage)\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "velmo-machine: " << error.what() << "\n";
        return 1;
    }
}
