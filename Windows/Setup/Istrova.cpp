#include "Istrova.h"

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "DriverLookup.h"
#include "HardwareId.h"
#include "Platform/Icm.h"
#include "Platform/Process.h"
#include "Platform/SetupApi.h"
#include "PortMonitorException.h"
#include "PrinterDescription.h"
#include "PrinterInstallRules.h"
#include "PrinterInstallSteps.h"
#include "SetupCommandLine.h"

namespace Istrova {

namespace {

using PortMonitorUtilities::PortMonitorException;

std::u16string_view ModelText() {
    return PortMonitorUtilities::ModelNameFor(kProductId);
}

UINT CollectColourProfile(void* context, UINT notification, UINT_PTR target, UINT_PTR) {
    if (context == nullptr || target == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if (notification != SPFILENOTIFY_QUEUESCAN) {
        return 0;
    }
    try {
        const std::u16string_view path(reinterpret_cast<LPCWSTR>(target));
        if (PortMonitorUtilities::IsColourProfile(path)) {
            static_cast<std::vector<std::u16string>*>(context)->emplace_back(
                PortMonitorUtilities::LastPathComponent(path));
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

struct InfCloser {
    void operator()(void* inf) const { SetupCloseInfFile(inf); }
};
struct QueueCloser {
    void operator()(void* queue) const { SetupCloseFileQueue(queue); }
};

}  // namespace

std::vector<std::u16string> ColourProfilesOf(const std::u16string& infFile, const std::u16string& section) {
    std::unique_ptr<void, InfCloser> inf(SetupOpenInfFileW(infFile.c_str(), nullptr, INF_STYLE_WIN4, nullptr));
    if (inf.get() == INVALID_HANDLE_VALUE) {
        inf.release();
        throw PortMonitorException(GetLastError());
    }
    std::unique_ptr<void, QueueCloser> queue(SetupOpenFileQueue());
    if (queue.get() == INVALID_HANDLE_VALUE) {
        queue.release();
        throw PortMonitorException(GetLastError());
    }
    if (!SetupInstallFilesFromInfSectionW(inf.get(), nullptr, queue.get(), section.c_str(), nullptr,
                                          SP_COPY_NEWER_OR_SAME)) {
        throw PortMonitorException(GetLastError());
    }
    // Only the list of files is wanted; nothing is copied.
    std::vector<std::u16string> profiles;
    DWORD result = 0;
    if (!SetupScanFileQueueW(queue.get(), SPQ_SCAN_USE_CALLBACK, nullptr, &CollectColourProfile, &profiles, &result)) {
        throw PortMonitorException(GetLastError());
    }
    return profiles;
}

void InstallStandAlonePrinter() {
    const std::u16string model(ModelText());
    const PortMonitorUtilities::DriverInfo driver = PortMonitorUtilities::FindDriver(
        PortMonitorUtilities::MakeHardwareId(PortMonitorUtilities::kManufacturer, model), model);
    const std::vector<std::u16string> profiles = ColourProfilesOf(driver.infFile, driver.section);

    XcvPortRecord record;
    record.vendorId = PortMonitorUtilities::kVendorId;
    record.productId = kProductId;
    record.deviceName = kDeviceGuid;
    const std::u16string port = PrinterInstall::AddMonitorPort(record);

    const std::u16string base = PrinterInstall::BasePrinterName(PortMonitorUtilities::kVendorId, kProductId, model);
    const std::u16string name = PortMonitorUtilities::UniquePrinterName(base, PrinterInstall::LocalPrinterNames(),
                                                                        PortMonitorUtilities::CopyPattern::Library);
    PrinterInstall::PrinterHandle printer = PrinterInstall::AddPrinterQueue(name, port, driver.description);
    for (const std::u16string& profile : profiles) {
        AssociateColorProfileWithDeviceW(nullptr, profile.c_str(), name.c_str());
    }
}

}  // namespace Istrova

extern "C" BOOL CustomSetup(HWND, HINSTANCE, LPSTR commandLine, int) {
    try {
        const std::optional<Istrova::AssistantLaunch> launch =
            Istrova::AssistantCommandLine(GetInstallPath(), commandLine);
        if (!launch) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::u16string arguments = launch->arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(launch->program.c_str(), arguments.data(), nullptr, nullptr, FALSE, 0,
                                            nullptr, nullptr, &startup, &process);
        // The assistant runs on by itself.
        if (process.hThread != nullptr) CloseHandle(process.hThread);
        if (process.hProcess != nullptr) CloseHandle(process.hProcess);
        return started;
    } catch (...) {
        return FALSE;
    }
}

extern "C" void StandAloneSetup(void*) {
    try {
        Istrova::InstallStandAlonePrinter();
    } catch (...) {
        // Nobody is told: the installer goes on without the queue.
    }
}

extern "C" BOOL Compare(void*) {
    try {
        const std::u16string openName(PortMonitorUtilities::kXcvMonitorOpenName);
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
        HANDLE raw = nullptr;
        if (!OpenPrinterW(openName.c_str(), &raw, &defaults)) {
            return FALSE;
        }
        PrinterInstall::PrinterHandle xcv(raw);
        XcvPortRecord record;
        record.deviceName = Istrova::kDeviceGuid;
        XcvPortRecord::Bytes input = record.Encode();
        BYTE output[20] = {};
        DWORD needed = 0;
        DWORD status = 0;
        const std::u16string command(PortMonitorUtilities::kCommandAddDefaultPort);
        const BOOL delivered = XcvDataW(xcv.Get(), command.c_str(), input.data(), static_cast<DWORD>(input.size()),
                                        output, sizeof(output), &needed, &status);
        const BOOL closed = xcv.Reset();
        return delivered && status == ERROR_SUCCESS ? closed : FALSE;
    } catch (...) {
        return FALSE;
    }
}
