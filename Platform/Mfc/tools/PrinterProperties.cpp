// Opens the properties of a print queue of the machine kept on disk as the
// printer driver's user interface does: the user-interface plug-in adds its
// pages and a person works them through the terminal front end.
//
//   velmo-printer-properties QUEUE [--document] [--plugin NAME.dll --class {GUID}]
#include "Mfc/DriverSheet.h"

#include "Platform/MachineFile.h"
#include "Platform/PrintMonitor.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: velmo-printer-properties QUEUE [--document] [--monitor NAME.dll|none]\n"
    "                                [--plugin NAME.dll --class {GUID}]\n"
    "Opens the properties of the print queue QUEUE of the simulated machine\n"
    "($VELMO_MACHINE_ROOT, default ~/.velmo-machine) with the printer driver's\n"
    "user-interface plug-in, and shows the pages it adds: on a terminal you\n"
    "work them with the terminal's commands (help lists them); with\n"
    "VELMO_UI_SCRIPT set they run a script of the same commands (\"-\": read\n"
    "from standard input).\n"
    "  --document   the properties of a document printed on the queue instead\n"
    "               of the printer's own\n"
    "  --monitor    the language monitor that answers the printer's device id\n"
    "               over the queue's port (default Kemblin.dll; none: no\n"
    "               device id but what the queue stores)\n"
    "  --plugin     the plug-in library (default Gorlith.dll) and the class id\n"
    "  --class      of its object (default that of Gorlith.dll)\n"
    "  --help       show this text\n"
    "Exit status: 0 when the sheet ended with OK or Cancel, 1 when it could not\n"
    "be opened, 2 for a bad command line or a failed script.\n";

// {ABCE80D7-9F46-11D1-882A-00C04FB961EC}
constexpr CLSID kDefaultClass{0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

int Refuse(const std::string& reason) {
    std::fprintf(stderr, "velmo-printer-properties: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", braces optional.
std::optional<GUID> ParseGuid(std::string text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    std::string hex;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (text[i] == '-')) return std::nullopt;
        if (dash) continue;
        if (HexDigit(text[i]) < 0) return std::nullopt;
        hex += text[i];
    }
    auto number = [&](std::size_t at, std::size_t digits) {
        unsigned long long value = 0;
        for (std::size_t i = 0; i < digits; ++i) value = value * 16 + static_cast<unsigned>(HexDigit(hex[at + i]));
        return value;
    };
    GUID guid{static_cast<DWORD>(number(0, 8)), static_cast<WORD>(number(8, 4)), static_cast<WORD>(number(12, 4)), {}};
    for (std::size_t i = 0; i < 8; ++i) guid.Data4[i] = static_cast<BYTE>(number(16 + 2 * i, 2));
    return guid;
}

std::u16string Widen(const std::string& text) {
    // Command-line names are ASCII here; anything else is refused before.
    return std::u16string(text.begin(), text.end());
}

// The queue's language monitor on its port, as the spooler keeps it: the
// queue's "DEVICE_ID" then comes from the printer.
class QueueMonitor {
public:
    QueueMonitor(const std::u16string& queue, const std::u16string& library) : monitor_(library) {
        HANDLE printer = nullptr;
        if (!OpenPrinterW(queue.c_str(), &printer, nullptr)) throw std::runtime_error("the queue cannot be opened");
        DWORD needed = 0;
        GetPrinterW(printer, 2, nullptr, 0, &needed);
        std::vector<BYTE> info(needed + sizeof(PRINTER_INFO_2W));
        const BOOL read = GetPrinterW(printer, 2, info.data(), static_cast<DWORD>(info.size()), &needed);
        ClosePrinter(printer);
        const auto* level2 = reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
        if (!read || level2->pPortName == nullptr) throw std::runtime_error("the queue has no port");
        std::u16string port = level2->pPortName, name = queue;
        MONITOR portMonitor = Platform::UsbPortMonitor();
        if (monitor_.Table().pfnOpenPortEx == nullptr ||
            !monitor_.Table().pfnOpenPortEx(port.data(), name.data(), &port_, &portMonitor))
            throw std::runtime_error("the port cannot be opened");
        binding_ = std::make_unique<Platform::LanguageMonitorBinding>(queue, monitor_.Table(), port_);
    }
    ~QueueMonitor() {
        binding_.reset();
        if (port_ != nullptr && monitor_.Table().pfnClosePort != nullptr) monitor_.Table().pfnClosePort(port_);
    }
    QueueMonitor(const QueueMonitor&) = delete;
    QueueMonitor& operator=(const QueueMonitor&) = delete;

private:
    Platform::LoadedPrintMonitor monitor_;
    HANDLE port_ = nullptr;
    std::unique_ptr<Platform::LanguageMonitorBinding> binding_;
};

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80 || c < 0x20) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string queue;
    std::string plugin = "Gorlith.dll";
    std::string monitor = "Kemblin.dll";
    std::optional<GUID> clsid;
    bool document = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--document") {
            document = true;
        } else if (arg == "--monitor") {
            if (i + 1 >= argc) return Refuse(arg + " needs a value");
            monitor = argv[++i];
        } else if (arg == "--plugin" || arg == "--class") {
            if (i + 1 >= argc) return Refuse(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--plugin") {
                plugin = value;
            } else if (!(clsid = ParseGuid(value))) {
                return Refuse("'" + value + "' is not a class id");
            }
        } else if (arg.starts_with("-")) {
            return Refuse("unknown option '" + arg + "'");
        } else if (!queue.empty()) {
            return Refuse("one queue at a time ('" + queue + "', then '" + arg + "')");
        } else {
            queue = arg;
        }
    }
    if (queue.empty()) return Refuse("no queue given");
    if (!IsAscii(queue) || !IsAscii(plugin) || !IsAscii(monitor)) return Refuse("names must be plain ASCII text");
    if (plugin != "Gorlith.dll" && !clsid) return Refuse("--plugin needs --class");
    try {
        Platform::LoadMachine();
        // Nothing else is worth trying, nor telling, for a queue that is not there.
        HANDLE printer = nullptr;
        if (!OpenPrinterW(Widen(queue).c_str(), &printer, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_PRINTER_NAME) {
                std::fprintf(stderr, "velmo-printer-properties: no print queue named \"%s\"\n", queue.c_str());
            } else {
                std::fprintf(stderr, "velmo-printer-properties: cannot open the queue \"%s\" (error %u)\n",
                             queue.c_str(), static_cast<unsigned>(error));
            }
            return 1;
        }
        ClosePrinter(printer);
        std::unique_ptr<QueueMonitor> queueMonitor;
        if (monitor != "none") {
            try {
                queueMonitor = std::make_unique<QueueMonitor>(Widen(queue), Widen(monitor));
            } catch (const std::exception& e) {
                std::fprintf(stderr, "velmo-printer-properties: no language monitor %s for \"%s\" (%s)\n",
                             monitor.c_str(), queue.c_str(), e.what());
            }
        }
        Platform::PrinterUiHost host;
        HRESULT result = host.Load(Widen(plugin), clsid.value_or(kDefaultClass));
        if (FAILED(result)) {
            std::fprintf(stderr, "velmo-printer-properties: cannot load the plug-in %s (0x%08X, error %u)\n",
                         plugin.c_str(), static_cast<unsigned>(result), static_cast<unsigned>(GetLastError()));
            return 1;
        }
        result = host.Open(Widen(queue));
        if (FAILED(result)) {
            std::fprintf(stderr, "velmo-printer-properties: cannot open the queue \"%s\" (0x%08X, error %u)\n",
                         queue.c_str(), static_cast<unsigned>(result), static_cast<unsigned>(GetLastError()));
            return 1;
        }
        result = document ? host.DocumentPropertySheets() : host.DevicePropertySheets();
        Mfc::DriverPropertySheet sheet(host, Widen(queue) + (document ? u" Document Properties" : u" Properties"));
        if (FAILED(result) || sheet.PageCount() == 0) {
            std::fprintf(stderr, "velmo-printer-properties: the plug-in added no page (0x%08X)\n",
                         static_cast<unsigned>(result));
            return 1;
        }
        const INT_PTR ended = sheet.DoModal();
        if (ended != IDOK && ended != IDCANCEL) {
            std::fprintf(stderr, "velmo-printer-properties: the sheet could not be shown\n");
            return 1;
        }
        std::printf("%s\n", ended == IDOK ? "OK" : "Cancel");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmo-printer-properties: %s\n", e.what());
        return 1;
    }
}
