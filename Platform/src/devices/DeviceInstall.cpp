// Installing devices: creating nodes in a list, registering them, choosing
// their driver from the driver store, and removing them again.
#include "DeviceState.h"
#include "Platform/Machine.h"
#include "Platform/SetupApi.h"

#include <algorithm>
#include <cstring>

using namespace Platform;
using namespace Platform::detail;

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

struct ClassInfo {
    const GUID* guid;
    const char16_t* description;
    const char16_t* idName;  // the enumerator's part of generated ids
};

constexpr ClassInfo kClasses[] = {
    {&GUID_DEVCLASS_PRINTER, u"Printers", u"PRINTER"},
    {&GUID_DEVCLASS_USB, u"Universal Serial Bus controllers", u"USB"},
    {&GUID_DEVCLASS_SYSTEM, u"System devices", u"SYSTEM"},
};

const ClassInfo* FindClass(const GUID& guid) {
    for (const auto& info : kClasses)
        if (*info.guid == guid) return &info;
    return nullptr;
}

bool Registered(const DeviceState& s, const std::shared_ptr<Node>& node) {
    return s.Find(node->devinst) == node;
}

void CopyText(WCHAR* out, std::size_t units, const std::u16string& text) {
    const std::size_t n = std::min(text.size(), units - 1);
    std::memcpy(out, text.data(), n * sizeof(WCHAR));
    out[n] = 0;
}

void Unlink(DeviceState& s, const std::shared_ptr<Node>& node) {
    if (auto parent = node->parent.lock()) std::erase(parent->children, node);
    s.nodes.erase(node->devinst);
    node->present = false;
}

}  // namespace

HDEVINFO SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiCreateDeviceInfoList)) {
        SetLastError(fault->error);
        return INVALID_HANDLE_VALUE;
    }
    DeviceInfoList list;
    if (classGuid != nullptr) list.classGuid = *classGuid;
    const std::uintptr_t value = s.nextList;
    s.nextList += 8;
    s.lists.emplace(value, std::move(list));
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HDEVINFO>(value);
}

BOOL SetupDiGetClassDescriptionW(const GUID* classGuid, PWSTR buffer, DWORD bufferSize, DWORD* requiredSize) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    const CallFault* fault = s.FaultOn(DeviceCall::SetupDiGetClassDescription);
    if (fault != nullptr && !fault->size) return Fail(fault->error);
    if (classGuid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const ClassInfo* info = FindClass(*classGuid);
    if (info == nullptr) return Fail(ERROR_INVALID_CLASS);
    const std::u16string text = info->description;
    const DWORD needed = static_cast<DWORD>(text.size() + 1);  // in characters
    if (requiredSize != nullptr) *requiredSize = fault != nullptr ? *fault->size : needed;
    if (buffer == nullptr && bufferSize != 0) return Fail(ERROR_INVALID_USER_BUFFER);
    if (bufferSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, text.c_str(), needed * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiCreateDeviceInfoW(HDEVINFO list, PCWSTR deviceName, const GUID* classGuid, PCWSTR description, HWND,
                              DWORD flags, PSP_DEVINFO_DATA device) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiCreateDeviceInfo)) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (deviceName == nullptr || *deviceName == 0 || classGuid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (l->classGuid && !(*l->classGuid == *classGuid)) return Fail(ERROR_CLASS_MISMATCH);
    const ClassInfo* info = FindClass(*classGuid);
    if (info == nullptr) return Fail(ERROR_INVALID_CLASS);

    std::u16string instanceId;
    if (flags & DICD_GENERATE_ID) {
        // The name is an enumerator part made of the class; the first free
        // number of that class follows.
        auto taken = [&](const std::u16string& id) {
            if (s.FindByInstanceId(id)) return true;
            return std::any_of(l->nodes.begin(), l->nodes.end(),
                               [&](const auto& n) { return EqualsNoCase(n->instanceId, id); });
        };
        for (unsigned n = 0; instanceId.empty() && n <= 9999; ++n) {
            const auto decimal = std::to_string(n);
            auto id = std::u16string(u"ROOT\\") + info->idName + u"\\" +
                      Ascii(std::string(4 - decimal.size(), '0') + decimal);
            if (!taken(id)) instanceId = id;
        }
        if (instanceId.empty()) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
    } else {
        instanceId = deviceName;
        if (s.FindByInstanceId(instanceId)) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
    }
    auto node = std::make_shared<Node>();
    node->devinst = s.nextDevinst++;
    node->instanceId = std::move(instanceId);
    node->setupClass = *classGuid;
    node->description = description != nullptr ? std::u16string(description) : std::u16string();
    node->present = false;
    l->nodes.push_back(node);
    if (device != nullptr) {
        device->ClassGuid = node->setupClass;
        device->DevInst = node->devinst;
        device->Reserved = 0;
    }
    return TRUE;
}

BOOL SetupDiSetDeviceRegistryPropertyW(HDEVINFO list, PSP_DEVINFO_DATA device, DWORD property, const BYTE* buffer,
                                       DWORD bufferSize) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiSetDeviceRegistryProperty)) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    auto node = NodeOfRecord(*l, device);
    if (!node) return FALSE;
    if (property != SPDRP_HARDWAREID) return Fail(ERROR_INVALID_REG_PROPERTY);
    if (buffer == nullptr || bufferSize % sizeof(WCHAR) != 0) return Fail(ERROR_INVALID_PARAMETER);
    std::u16string units(bufferSize / sizeof(WCHAR), u'\0');
    std::memcpy(units.data(), buffer, bufferSize);
    // A multi-string: texts each ended by a zero; a missing last zero is
    // forgiven, as the platform does.
    std::vector<std::u16string> ids;
    std::size_t start = 0;
    while (start < units.size()) {
        std::size_t end = units.find(u'\0', start);
        if (end == std::u16string::npos) end = units.size();
        if (end == start) break;
        ids.push_back(units.substr(start, end - start));
        start = end + 1;
    }
    node->hardwareIds = std::move(ids);
    return TRUE;
}

BOOL SetupDiBuildDriverInfoList(HDEVINFO list, PSP_DEVINFO_DATA device, DWORD driverType) {
    std::vector<std::u16string> ids;
    {
        auto& s = Devices();
        std::lock_guard lock(s.mutex);
        if (const auto* fault = s.FaultOn(DeviceCall::SetupDiBuildDriverInfoList)) return Fail(fault->error);
        auto* l = s.FindList(list);
        if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
        if (driverType != SPDIT_COMPATDRIVER) return Fail(ERROR_INVALID_PARAMETER);
        auto node = NodeOfRecord(*l, device);
        if (!node) return FALSE;
        ids = node->hardwareIds;
    }
    // The store has its own lock; asked outside the tree's.
    auto compatible = GetMachine().Drivers().Compatible(ids);
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    l->drivers[device->DevInst].compatible = std::move(compatible);
    return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO list, PSP_DEVINFO_DATA device) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiCallClassInstaller)) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    auto node = NodeOfRecord(*l, device);
    if (!node) return FALSE;
    switch (function) {
        case DIF_REGISTERDEVICE: {
            if (Registered(s, node)) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
            if (s.FindByInstanceId(node->instanceId)) return Fail(ERROR_DEVINST_ALREADY_EXISTS);
            node->parent = s.root;
            s.root->children.push_back(node);
            s.nodes.emplace(node->devinst, node);
            node->present = true;
            return TRUE;
        }
        case DIF_SELECTBESTCOMPATDRV: {
            auto& choice = l->drivers[node->devinst];
            if (choice.compatible.empty()) return Fail(ERROR_NO_COMPAT_DRIVERS);
            choice.selected = choice.compatible.front();
            return TRUE;
        }
        case DIF_REMOVE:
            if (!Registered(s, node)) return Fail(ERROR_NO_SUCH_DEVINST);
            Unlink(s, node);
            // Gone from the list too, so its id can be given out again.
            std::erase(l->nodes, node);
            l->drivers.erase(node->devinst);
            return TRUE;
        default:
            return Fail(ERROR_INVALID_PARAMETER);
    }
}

BOOL SetupDiGetSelectedDriverW(HDEVINFO list, PSP_DEVINFO_DATA device, PSP_DRVINFO_DATA_W driver) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiGetSelectedDriver)) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    auto node = NodeOfRecord(*l, device);
    if (!node) return FALSE;
    if (driver == nullptr || driver->cbSize != sizeof(SP_DRVINFO_DATA_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    const auto it = l->drivers.find(node->devinst);
    if (it == l->drivers.end() || !it->second.selected) return Fail(ERROR_NO_DRIVER_SELECTED);
    const auto& chosen = *it->second.selected;
    driver->DriverType = SPDIT_COMPATDRIVER;
    driver->Reserved = 0;
    CopyText(driver->Description, LINE_LEN, chosen.description);
    CopyText(driver->MfgName, LINE_LEN, u"");
    CopyText(driver->ProviderName, LINE_LEN, u"");
    driver->DriverDate = {};
    driver->DriverVersion = 0;
    return TRUE;
}

BOOL SetupDiGetDriverInfoDetailW(HDEVINFO list, PSP_DEVINFO_DATA device, PSP_DRVINFO_DATA_W driver,
                                 PSP_DRVINFO_DETAIL_DATA_W detail, DWORD detailSize, DWORD* requiredSize) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    const CallFault* fault = s.FaultOn(DeviceCall::SetupDiGetDriverInfoDetail);
    if (fault != nullptr && !fault->size) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    auto node = NodeOfRecord(*l, device);
    if (!node) return FALSE;
    if (driver == nullptr || driver->cbSize != sizeof(SP_DRVINFO_DATA_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    const auto it = l->drivers.find(node->devinst);
    if (it == l->drivers.end()) return Fail(ERROR_NO_DRIVER_SELECTED);
    // The caller's record may lack its terminator: read it bounded.
    const WCHAR* name = driver->Description;
    const std::u16string_view wanted(name, std::find(name, name + LINE_LEN, u'\0') - name);
    const DriverPackage* package = nullptr;
    for (const auto& candidate : it->second.compatible)
        if (std::u16string_view(candidate.description).substr(0, LINE_LEN - 1) == wanted) package = &candidate;
    if (package == nullptr) return Fail(ERROR_INVALID_PARAMETER);

    std::u16string ids;
    for (const auto& id : package->hardwareIds) ids += id + u'\0';
    ids.push_back(u'\0');
    const std::size_t idsOffset = offsetof(SP_DRVINFO_DETAIL_DATA_W, HardwareID);
    const DWORD needed = static_cast<DWORD>(idsOffset + ids.size() * sizeof(WCHAR));
    if (requiredSize != nullptr) *requiredSize = fault != nullptr ? *fault->size : needed;
    if (detail == nullptr) return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    if (detail->cbSize != sizeof(SP_DRVINFO_DETAIL_DATA_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    detail->InfDate = {};
    detail->CompatIDsOffset = 0;
    detail->CompatIDsLength = 0;
    detail->Reserved = 0;
    CopyText(detail->SectionName, LINE_LEN, package->section);
    CopyText(detail->InfFileName, MAX_PATH, package->infPath);
    CopyText(detail->DrvDescription, LINE_LEN, package->description);
    std::memcpy(reinterpret_cast<BYTE*>(detail) + idsOffset, ids.data(), ids.size() * sizeof(WCHAR));
    return TRUE;
}

CONFIGRET CM_Locate_DevNodeW(PDEVINST device, PCWSTR instanceId, ULONG flags) {
    if (device == nullptr) return CR_INVALID_POINTER;
    *device = 0;
    if ((flags & ~CM_LOCATE_DEVNODE_PHANTOM) != 0) return CR_INVALID_FLAG;
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::CM_Locate_DevNode)) return fault->error;
    std::shared_ptr<Node> node =
        instanceId == nullptr || *instanceId == 0 ? s.root : s.FindByInstanceId(std::u16string(instanceId));
    if (!node) return CR_NO_SUCH_DEVNODE;
    if (!node->present && !(flags & CM_LOCATE_DEVNODE_PHANTOM)) return CR_NO_SUCH_DEVNODE;
    *device = node->devinst;
    return CR_SUCCESS;
}
