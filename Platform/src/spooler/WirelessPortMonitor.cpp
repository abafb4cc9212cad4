#include "Platform/WirelessPortMonitor.h"

#include "Common/Headers/XcvPortRecord.h"
#include "Platform/Machine.h"
#include "Platform/Registry.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>

namespace Platform {
namespace {

constexpr std::u16string_view kPortPrefix = u"WLP";
constexpr std::u16string_view kDefaultPort = u"WLP000:";
constexpr unsigned kMaxPorts = 999;
// The log keeps the latest commands only, so a long run cannot exhaust memory.
constexpr std::size_t kMaxLoggedCalls = 256;
// Far from the spooler's and the kernel's handles.
constexpr std::uintptr_t kFirstXcvHandle = std::uintptr_t{3} << 48;

struct MonitorState {
    std::mutex mutex;
    std::set<std::uintptr_t> handles;
    std::uintptr_t next = kFirstXcvHandle;
    std::vector<XcvCall> calls;
    std::optional<DWORD> status;
    std::optional<DWORD> needed;
    bool alwaysShort = false;
};

MonitorState& State() {
    static MonitorState state;
    return state;
}

std::u16string PortName(unsigned number) {
    char text[16];
    std::snprintf(text, sizeof text, "WLP%03u:", number);
    return std::u16string(text, text + std::strlen(text));
}

bool IsOurPort(std::u16string_view name) {
    return FoldName(name.substr(0, kPortPrefix.size())) == FoldName(kPortPrefix);
}

// A port name from a command's input: UTF-16 ending in its first NUL.
std::optional<std::u16string> InputName(const BYTE* input, DWORD size) {
    if (input == nullptr || size < 2 || size % 2 != 0) return std::nullopt;
    std::u16string name;
    for (DWORD i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(input[i] | (input[i + 1] << 8));
        if (unit == 0) return name.empty() ? std::nullopt : std::optional(name);
        name.push_back(unit);
    }
    return std::nullopt;
}

// The port for the record: an existing one of the same device, else a new
// one. Empty when every number is taken.
std::u16string PortFor(const XcvPortRecord& record, bool defaultPort) {
    auto& spooler = GetMachine().Spooler();
    if (defaultPort) {
        if (!spooler.FindPort(kDefaultPort)) {
            spooler.AddPort(PortEntry{std::u16string(kDefaultPort), record.vendorId, record.productId,
                                      record.deviceName, record.address});
        }
        return std::u16string(kDefaultPort);
    }
    for (const auto& port : spooler.Ports()) {
        if (IsOurPort(port.name) && port.name != kDefaultPort &&
            FoldName(port.deviceName) == FoldName(record.deviceName) && port.address == record.address) {
            return port.name;
        }
    }
    for (unsigned n = 1; n <= kMaxPorts; ++n) {
        std::u16string name = PortName(n);
        if (spooler.FindPort(name)) continue;
        spooler.AddPort(PortEntry{name, record.vendorId, record.productId, record.deviceName, record.address});
        return name;
    }
    return {};
}

DWORD AddPort(const BYTE* input, DWORD inputSize, BYTE* output, DWORD outputSize, DWORD& needed, bool defaultPort,
              const MonitorState& knobs) {
    if (inputSize != XcvPortRecord::kSize) return ERROR_INVALID_PARAMETER;
    XcvPortRecord record;
    try {
        record = XcvPortRecord::Decode(input, inputSize);
    } catch (const std::invalid_argument&) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::u16string name = PortFor(record, defaultPort);
    if (name.empty()) return ERROR_NOT_ENOUGH_MEMORY;
    const auto bytes = static_cast<DWORD>((name.size() + 1) * sizeof(char16_t));
    needed = std::max(bytes, knobs.needed.value_or(0));
    if (knobs.alwaysShort || output == nullptr || outputSize < needed) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(output, name.c_str(), bytes);
    return ERROR_SUCCESS;
}

DWORD PortExists(const BYTE* input, DWORD inputSize, BYTE* output, DWORD outputSize, DWORD& needed) {
    const auto name = InputName(input, inputSize);
    if (!name) return ERROR_INVALID_PARAMETER;
    needed = sizeof(DWORD);
    if (output == nullptr || outputSize < sizeof(DWORD)) return ERROR_INSUFFICIENT_BUFFER;
    const DWORD exists = GetMachine().Spooler().FindPort(*name) ? 1 : 0;
    std::memcpy(output, &exists, sizeof exists);
    return ERROR_SUCCESS;
}

DWORD DeletePort(const BYTE* input, DWORD inputSize) {
    const auto name = InputName(input, inputSize);
    if (!name) return ERROR_INVALID_PARAMETER;
    auto& spooler = GetMachine().Spooler();
    if (!IsOurPort(*name) || !spooler.FindPort(*name)) return ERROR_UNKNOWN_PORT;
    if (spooler.PortInUse(*name)) return ERROR_BUSY;
    spooler.RemovePort(*name);
    return ERROR_SUCCESS;
}

BOOL XcvOpen(LPCWSTR, ACCESS_MASK, PHANDLE xcv) {
    if (xcv == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& state = State();
    std::lock_guard lock(state.mutex);
    const std::uintptr_t value = state.next;
    state.next += 4;
    state.handles.insert(value);
    *xcv = reinterpret_cast<HANDLE>(value);
    return TRUE;
}

BOOL XcvClose(HANDLE xcv) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    if (state.handles.erase(reinterpret_cast<std::uintptr_t>(xcv)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD XcvData(HANDLE xcv, LPCWSTR dataName, LPBYTE input, DWORD inputSize, LPBYTE output, DWORD outputSize,
              LPDWORD needed) {
    if (dataName == nullptr || needed == nullptr || (input == nullptr && inputSize != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    auto& state = State();
    MonitorState knobs;
    XcvCall call;
    {
        std::lock_guard lock(state.mutex);
        if (!state.handles.contains(reinterpret_cast<std::uintptr_t>(xcv))) return ERROR_INVALID_HANDLE;
        knobs.status = state.status;
        knobs.needed = state.needed;
        knobs.alwaysShort = state.alwaysShort;
    }
    call.command = dataName;
    if (input != nullptr) call.input.assign(input, input + inputSize);
    call.outputSize = outputSize;

    DWORD size = 0;
    DWORD status = ERROR_NOT_SUPPORTED;
    if (knobs.status) {
        status = *knobs.status;
    } else {
        try {
            if (call.command == u"AddPort") {
                status = AddPort(input, inputSize, output, outputSize, size, false, knobs);
            } else if (call.command == u"AddDefaultPort") {
                status = AddPort(input, inputSize, output, outputSize, size, true, knobs);
            } else if (call.command == u"PortExists") {
                status = PortExists(input, inputSize, output, outputSize, size);
            } else if (call.command == u"DeletePort") {
                status = DeletePort(input, inputSize);
            }
        } catch (const std::exception&) {
            status = ERROR_GEN_FAILURE;  // the spooler's store failed
        }
    }
    *needed = size;
    call.status = status;
    call.needed = size;
    std::lock_guard lock(state.mutex);
    if (state.calls.size() == kMaxLoggedCalls) state.calls.erase(state.calls.begin());
    state.calls.push_back(std::move(call));
    return status;
}

}  // namespace

const MONITOR& WirelessPortMonitor() {
    static const MONITOR table = [] {
        MONITOR m{};
        m.pfnXcvOpenPort = &XcvOpen;
        m.pfnXcvDataPort = &XcvData;
        m.pfnXcvClosePort = &XcvClose;
        return m;
    }();
    return table;
}

std::vector<XcvCall> WirelessPortMonitorCalls() {
    std::lock_guard lock(State().mutex);
    return State().calls;
}

std::size_t WirelessPortMonitorOpenHandles() {
    std::lock_guard lock(State().mutex);
    return State().handles.size();
}

void ForceWirelessPortMonitorStatus(std::optional<DWORD> status) {
    std::lock_guard lock(State().mutex);
    State().status = status;
}

void ForceWirelessPortMonitorNeeded(std::optional<DWORD> needed) {
    std::lock_guard lock(State().mutex);
    State().needed = needed;
}

void SetWirelessPortMonitorAlwaysShort(bool alwaysShort) {
    std::lock_guard lock(State().mutex);
    State().alwaysShort = alwaysShort;
}

void ResetWirelessPortMonitor() {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    state.handles.clear();
    state.calls.clear();
    state.status.reset();
    state.needed.reset();
    state.alwaysShort = false;
}

}  // namespace Platform
