#include "Platform/PrintMonitor.h"

#include "Platform/Files.h"
#include "Platform/Kernel.h"
#include "Platform/Machine.h"
#include "Platform/SetupApi.h"
#include "Platform/Usb.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace Platform {
namespace {

// One open USB port: the printing interface's file.
class UsbPort final : public KernelObject {
public:
    explicit UsbPort(HANDLE file) : file_(file) {}
    ~UsbPort() override { CloseHandle(file_); }
    HANDLE File() const { return file_; }

private:
    HANDLE file_;
};

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// "USB001" -> 1; 0 for any other name.
unsigned PortNumber(LPCWSTR name) {
    const std::u16string text(name);
    if (text.size() < 4 || (text[0] != u'U' && text[0] != u'u') || (text[1] != u'S' && text[1] != u's') ||
        (text[2] != u'B' && text[2] != u'b')) {
        return 0;
    }
    unsigned number = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9' || number > 9999) return 0;
        number = number * 10 + static_cast<unsigned>(text[i] - u'0');
    }
    return number;
}

// The device path of the n-th present printing interface (1-based).
std::u16string PrintingInterfacePath(unsigned number) {
    HDEVINFO list =
        SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return {};
    std::u16string path;
    SP_DEVICE_INTERFACE_DATA itf{};
    itf.cbSize = sizeof itf;
    if (SetupDiEnumDeviceInterfaces(list, nullptr, &GUID_DEVINTERFACE_USBPRINT, number - 1, &itf)) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(list, &itf, nullptr, 0, &size, nullptr);
        if (size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            std::vector<std::uint64_t> storage(size / sizeof(std::uint64_t) + 1);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (SetupDiGetDeviceInterfaceDetailW(list, &itf, detail, size, &size, nullptr)) path = detail->DevicePath;
        }
    }
    SetupDiDestroyDeviceInfoList(list);
    return path;
}

std::shared_ptr<UsbPort> Port(HANDLE port) {
    return LookupHandleAs<UsbPort>(port);
}

BOOL UsbOpenPort(LPWSTR name, PHANDLE port) {
    if (name == nullptr || port == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *port = nullptr;
    const unsigned number = PortNumber(name);
    if (number == 0) return Fail(ERROR_INVALID_PARAMETER);
    const std::u16string path = PrintingInterfacePath(number);
    if (path.empty()) return Fail(ERROR_FILE_NOT_FOUND);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    *port = InsertHandle(std::make_shared<UsbPort>(file));
    return TRUE;
}

BOOL UsbStartDocPort(HANDLE port, LPWSTR, DWORD, DWORD, LPBYTE) {
    return Port(port) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL UsbWritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
    if (written == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    const auto open = Port(port);
    if (!open) return Fail(ERROR_INVALID_HANDLE);
    return WriteFile(open->File(), buffer, size, written, nullptr);
}

BOOL UsbReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
    if (read == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *read = 0;
    const auto open = Port(port);
    if (!open) return Fail(ERROR_INVALID_HANDLE);
    return ReadFile(open->File(), buffer, size, read, nullptr);
}

BOOL UsbEndDocPort(HANDLE port) {
    return Port(port) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL UsbClosePort(HANDLE port) {
    if (!Port(port)) return Fail(ERROR_INVALID_HANDLE);
    return CloseHandle(port);
}

BOOL UsbGetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer, DWORD inSize,
                               LPWSTR outBuffer, DWORD outSize, LPDWORD returned) {
    if (returned == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *returned = 0;
    const auto open = Port(port);
    if (!open) return Fail(ERROR_INVALID_HANDLE);
    if (valueName != nullptr || controlId == 0) return Fail(ERROR_NOT_SUPPORTED);
    auto* out = reinterpret_cast<BYTE*>(outBuffer);
    DWORD got = 0;
    if (!DeviceIoControl(open->File(), controlId, inBuffer, inSize, out, outSize, &got, nullptr)) return FALSE;
    if (controlId == IOCTL_USBPRINT_GET_1284_ID && got >= 2 && out != nullptr) {
        // The printer puts the id's length (big-endian, itself included) in
        // front; callers read the id as text from the first byte.
        const DWORD announced = (DWORD{out[0]} << 8) | out[1];
        if (announced == got) {
            std::memmove(out, out + 2, got - 2);
            got -= 2;
            if (got < outSize) out[got] = 0;
        }
    }
    *returned = got;
    return TRUE;
}

}  // namespace

const MONITOR& UsbPortMonitor() {
    static const MONITOR table = [] {
        MONITOR m{};
        m.pfnOpenPort = &UsbOpenPort;
        m.pfnStartDocPort = &UsbStartDocPort;
        m.pfnWritePort = &UsbWritePort;
        m.pfnReadPort = &UsbReadPort;
        m.pfnEndDocPort = &UsbEndDocPort;
        m.pfnClosePort = &UsbClosePort;
        m.pfnGetPrinterDataFromPort = &UsbGetPrinterDataFromPort;
        return m;
    }();
    return table;
}

LoadedPrintMonitor::LoadedPrintMonitor(const std::u16string& library) {
    module_ = LoadLibraryW(library.c_str());
    if (module_ == nullptr) throw std::runtime_error("print monitor library not found");
    const auto init = reinterpret_cast<InitializePrintMonitorProc>(GetProcAddress(module_, "InitializePrintMonitor"));
    const MONITOREX* ex = init != nullptr ? init(nullptr) : nullptr;
    if (ex == nullptr || ex->dwMonitorSize < sizeof(MONITOR)) {
        FreeLibrary(module_);
        throw std::runtime_error("print monitor library offers no monitor table");
    }
    table_ = &ex->Monitor;
}

LoadedPrintMonitor::~LoadedPrintMonitor() {
    FreeLibrary(module_);
}

LanguageMonitorBinding::LanguageMonitorBinding(std::u16string printer, const MONITOR& monitor, HANDLE port)
    : printer_(std::move(printer)) {
    const auto query = monitor.pfnGetPrinterDataFromPort;
    GetMachine().Spooler().SetLanguageMonitor(
        printer_, [query, port](LPCWSTR valueName, LPBYTE out, DWORD size, DWORD& returned) -> BOOL {
            if (query == nullptr) return FALSE;
            std::u16string name(valueName);
            return query(port, 0, name.data(), nullptr, 0, reinterpret_cast<LPWSTR>(out), size, &returned);
        });
}

LanguageMonitorBinding::~LanguageMonitorBinding() {
    GetMachine().Spooler().SetLanguageMonitor(printer_, nullptr);
}

}  // namespace Platform
