// INF files, file queues and colour profile associations over the driver
// store.
#include "DeviceState.h"
#include "MachineStore.h"
#include "Platform/Icm.h"
#include "Platform/Machine.h"
#include "Platform/SetupApi.h"

#include <map>

using namespace Platform;

namespace {

struct InfHandles {
    std::mutex mutex;
    std::map<std::uintptr_t, std::u16string> infs;  // handle to INF path
    std::map<std::uintptr_t, std::vector<std::u16string>> queues;
    std::uintptr_t next = 0x7E000000;
};

InfHandles& Handles() {
    static auto* handles = new InfHandles;
    return *handles;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The error a test armed for this call, or 0.
DWORD ArmedFault(DeviceCall call) {
    auto& state = GetMachine().Devices().State();
    std::lock_guard lock(state.mutex);
    const detail::CallFault* fault = state.FaultOn(call);
    return fault != nullptr ? fault->error : 0;
}

}  // namespace

namespace Platform {

std::size_t OpenInfHandleCount() {
    auto& h = Handles();
    std::lock_guard lock(h.mutex);
    return h.infs.size() + h.queues.size();
}

}  // namespace Platform

HINF SetupOpenInfFileW(PCWSTR fileName, PCWSTR, DWORD infStyle, UINT* errorLine) {
    if (errorLine != nullptr) *errorLine = 0;
    if (fileName == nullptr || *fileName == 0 || (infStyle & INF_STYLE_WIN4) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (const DWORD error = ArmedFault(DeviceCall::SetupOpenInfFile)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string path(fileName);
    if (GetMachine().Drivers().ByInf(path).empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto& h = Handles();
    std::lock_guard lock(h.mutex);
    const auto value = h.next;
    h.next += 8;
    h.infs.emplace(value, path);
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HINF>(value);
}

void SetupCloseInfFile(HINF inf) {
    auto& h = Handles();
    std::lock_guard lock(h.mutex);
    h.infs.erase(reinterpret_cast<std::uintptr_t>(inf));
}

HSPFILEQ SetupOpenFileQueue() {
    auto& h = Handles();
    std::lock_guard lock(h.mutex);
    const auto value = h.next;
    h.next += 8;
    h.queues.emplace(value, std::vector<std::u16string>{});
    return reinterpret_cast<HSPFILEQ>(value);
}

BOOL SetupCloseFileQueue(HSPFILEQ queue) {
    auto& h = Handles();
    std::lock_guard lock(h.mutex);
    if (h.queues.erase(reinterpret_cast<std::uintptr_t>(queue)) == 0) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL SetupInstallFilesFromInfSectionW(HINF inf, HINF, HSPFILEQ queue, PCWSTR section, PCWSTR, UINT) {
    if (const DWORD error = ArmedFault(DeviceCall::SetupInstallFilesFromInfSection)) return Fail(error);
    if (section == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::u16string path;
    {
        auto& h = Handles();
        std::lock_guard lock(h.mutex);
        const auto it = h.infs.find(reinterpret_cast<std::uintptr_t>(inf));
        if (it == h.infs.end() || !h.queues.contains(reinterpret_cast<std::uintptr_t>(queue)))
            return Fail(ERROR_INVALID_HANDLE);
        path = it->second;
    }
    std::vector<std::u16string> files;
    bool found = false;
    for (const auto& package : GetMachine().Drivers().ByInf(path)) {
        if (!detail::EqualsNoCase(package.section, section)) continue;
        found = true;
        files.insert(files.end(), package.targetFiles.begin(), package.targetFiles.end());
    }
    if (!found) return Fail(ERROR_SECTION_NOT_FOUND);
    auto& h = Handles();
    std::lock_guard lock(h.mutex);
    const auto it = h.queues.find(reinterpret_cast<std::uintptr_t>(queue));
    if (it == h.queues.end()) return Fail(ERROR_INVALID_HANDLE);
    it->second.insert(it->second.end(), files.begin(), files.end());
    return TRUE;
}

BOOL SetupScanFileQueueW(HSPFILEQ queue, DWORD flags, HWND, PSP_FILE_CALLBACK_W callback, void* context,
                         DWORD* result) {
    if (result == nullptr || flags != SPQ_SCAN_USE_CALLBACK || callback == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    *result = 0;
    std::vector<std::u16string> files;
    {
        auto& h = Handles();
        std::lock_guard lock(h.mutex);
        const auto it = h.queues.find(reinterpret_cast<std::uintptr_t>(queue));
        if (it == h.queues.end()) return Fail(ERROR_INVALID_HANDLE);
        files = it->second;
    }
    // Called without the lock: the callback may use the queue functions.
    for (const auto& file : files) {
        const UINT answer = callback(context, SPFILENOTIFY_QUEUESCAN, reinterpret_cast<UINT_PTR>(file.c_str()), 0);
        if (answer != 0) return Fail(answer);
    }
    return TRUE;
}

BOOL AssociateColorProfileWithDeviceW(LPCWSTR machineName, LPCWSTR profileName, LPCWSTR deviceName) {
    if (const DWORD error = ArmedFault(DeviceCall::AssociateColorProfileWithDevice)) return Fail(error);
    if (machineName != nullptr && *machineName != 0) return Fail(ERROR_NOT_SUPPORTED);
    if (profileName == nullptr || *profileName == 0 || deviceName == nullptr || *deviceName == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::u16string device(deviceName);
    const auto printers = GetMachine().Spooler().Snapshot().printers;
    if (!printers.contains(FoldName(device))) return Fail(ERROR_INVALID_PRINTER_NAME);
    try {
        GetMachine().Drivers().Associate({std::u16string(profileName), device});
    } catch (const std::exception& error) {
        return Fail(detail::MachineFileFailure(error));
    }
    return TRUE;
}
