#include "PrinterInstallSteps.h"

#include <array>
#include <cstring>
#include <stdexcept>

#include "PrinterDescription.h"
#include "Windows/Common/ResourceDLL.h"

namespace PrinterInstall {

using PortMonitorUtilities::PortMonitorException;

namespace {

std::u16string Writable(std::u16string_view text) {
    return std::u16string(text);
}

DWORD LastErrorOr31() {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

// Runs an enumeration with the grow-on-122 protocol; the buffer holds the
// records and their strings afterwards.
template <class Call>
std::vector<BYTE> GrowingEnumeration(Call call, DWORD& returned) {
    std::vector<BYTE> buffer;
    for (int attempt = 0; attempt < PortMonitorUtilities::kXcvMaxRetries; ++attempt) {
        DWORD needed = 0;
        returned = 0;
        if (call(buffer.empty() ? nullptr : buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned)) {
            return buffer;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
            throw PortMonitorException(error != 0 ? error : ERROR_GEN_FAILURE);
        }
        buffer.assign(needed, 0);
    }
    throw PortMonitorException(ERROR_GEN_FAILURE);
}

}  // namespace

PrinterHandle& PrinterHandle::operator=(PrinterHandle&& other) noexcept {
    if (this != &other) {
        Reset();
        handle_ = other.Release();
    }
    return *this;
}

HANDLE PrinterHandle::Release() noexcept {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
}

BOOL PrinterHandle::Reset() noexcept {
    HANDLE handle = Release();
    return handle != nullptr ? ClosePrinter(handle) : TRUE;
}

void InstallPortMonitor() {
    std::u16string name = Writable(PortMonitorUtilities::kMonitorName);
    std::u16string environment = Writable(PortMonitorUtilities::kMonitorEnvironment);
    std::u16string library = Writable(PortMonitorUtilities::kMonitorLibrary);
    MONITOR_INFO_2W info{name.data(), environment.data(), library.data()};
    if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        const DWORD error = GetLastError();
        if (error != ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            throw PortMonitorException(error);
        }
    }
}

XcvAnswer SendMonitorCommand(HANDLE xcv, std::u16string_view command, const XcvPortRecord& record,
                             DWORD initialOutputBytes) {
    const std::u16string name(command);
    XcvPortRecord::Bytes input;
    try {
        input = record.Encode();
    } catch (const std::length_error&) {
        // A device name or address cut to fit would name another port.
        throw PortMonitorException(ERROR_INVALID_PARAMETER);
    }
    // Units, with one more than the monitor may fill so the name always ends.
    std::vector<char16_t> output(initialOutputBytes / 2 + 1, u'\0');
    DWORD outputBytes = initialOutputBytes;
    for (int attempt = 0;; ++attempt) {
        DWORD needed = 0;
        DWORD status = 0;
        const BOOL delivered = XcvDataW(xcv, name.c_str(), input.data(), static_cast<DWORD>(input.size()),
                                        reinterpret_cast<LPBYTE>(output.data()), outputBytes, &needed, &status);
        if (status == ERROR_INSUFFICIENT_BUFFER) {
            if (attempt + 1 >= PortMonitorUtilities::kXcvMaxRetries) {
                throw PortMonitorException(ERROR_GEN_FAILURE);
            }
            output.assign(PortMonitorUtilities::XcvOutputUnits(needed), u'\0');
            outputBytes = static_cast<DWORD>((output.size() - 1) * sizeof(char16_t));
            continue;
        }
        if (!delivered) {
            throw PortMonitorException(status != 0 ? status : LastErrorOr31());
        }
        output.back() = u'\0';
        return XcvAnswer{status, std::u16string(output.data())};
    }
}

std::u16string AddMonitorPort(const XcvPortRecord& record) {
    std::u16string openName = Writable(PortMonitorUtilities::kXcvMonitorOpenName);
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE raw = nullptr;
    if (!OpenPrinterW(openName.c_str(), &raw, &defaults)) {
        throw PortMonitorException(LastErrorOr31());
    }
    PrinterHandle xcv(raw);
    const XcvAnswer answer = SendMonitorCommand(xcv.Get(), PortMonitorUtilities::kCommandAddPort, record);
    DWORD returned = 0;
    GrowingEnumeration([](LPBYTE buffer, DWORD size, LPDWORD needed,
                          LPDWORD count) { return EnumPortsW(nullptr, 1, buffer, size, needed, count); },
                       returned);
    xcv.Reset();
    if (answer.status != 0) {
        throw PortMonitorException(answer.status);
    }
    return answer.output;
}

std::vector<std::u16string> LocalPrinterNames() {
    DWORD returned = 0;
    const std::vector<BYTE> buffer = GrowingEnumeration(
        [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD count) {
            return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, data, size, needed, count);
        },
        returned);
    std::vector<std::u16string> names;
    names.reserve(returned);
    for (DWORD i = 0; i < returned; ++i) {
        PRINTER_INFO_4W info;
        std::memcpy(&info, buffer.data() + i * sizeof(PRINTER_INFO_4W), sizeof(info));
        if (info.pPrinterName != nullptr) {
            names.emplace_back(info.pPrinterName);
        }
    }
    return names;
}

std::u16string BasePrinterName(std::uint32_t vendorId, std::uint32_t productId, std::u16string_view fallback) {
    PrinterConfig config;
    if (!LoadPrinterConfigByVidPid(GetPrinterConfigPath(), vendorId, productId, config)) {
        return std::u16string(fallback);
    }
    const StResourceString name(static_cast<unsigned>(config.longNameResourceId));
    return std::u16string(static_cast<const WCHAR*>(name));
}

PrinterHandle AddPrinterQueue(std::u16string_view name, std::u16string_view port, std::u16string_view driver) {
    std::u16string printerName = Writable(name);
    std::u16string portName = Writable(port);
    std::u16string driverName = Writable(driver);
    std::u16string processor = Writable(PortMonitorUtilities::kPrintProcessor);
    PRINTER_INFO_2W info{};
    info.pPrinterName = printerName.data();
    info.pPortName = portName.data();
    info.pDriverName = driverName.data();
    info.pPrintProcessor = processor.data();
    info.Attributes = PortMonitorUtilities::kPrinterAttributes;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        throw PortMonitorException(ERROR_GEN_FAILURE);
    }
    return PrinterHandle(printer);
}

BOOL GrantEveryoneFullAccess(std::u16string_view printerName) {
    const std::u16string name(printerName);
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE raw = nullptr;
    if (!OpenPrinterW(name.c_str(), &raw, &defaults)) {
        return FALSE;
    }
    PrinterHandle printer(raw);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(printer.Get(), SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) == ERROR_SUCCESS) {
        std::u16string everyone = u"EVERYONE";
        EXPLICIT_ACCESS_W access{};
        access.grfAccessPermissions = 0x1FFFFF;
        access.grfAccessMode = GRANT_ACCESS;
        access.grfInheritance = OBJECT_INHERIT_ACE;
        access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
        access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
        access.Trustee.ptstrName = everyone.data();
        PACL updated = nullptr;
        if (SetEntriesInAclW(1, &access, dacl, &updated) == ERROR_SUCCESS) {
            SetSecurityInfo(printer.Get(), SE_PRINTER_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, updated,
                            nullptr);
            LocalFree(updated);
        }
        LocalFree(descriptor);
    }
    return printer.Reset();
}

}  // namespace PrinterInstall
