#include "Platform/SetupApi.h"

#include "DeviceState.h"
#include "Platform/Machine.h"

#include <cstring>

using namespace Platform;
using namespace Platform::detail;

namespace Platform::detail {

DeviceState& Devices() {
    return GetMachine().Devices().State();
}

std::shared_ptr<Node> NodeOfRecord(DeviceInfoList& list, const SP_DEVINFO_DATA* data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    for (const auto& node : list.nodes)
        if (node->devinst == data->DevInst) return node;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

}  // namespace Platform::detail

namespace {

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

void Describe(const Node& node, SP_DEVINFO_DATA& data) {
    data.ClassGuid = node.setupClass;
    data.DevInst = node.devinst;
    data.Reserved = 0;
}

bool Active(const Node& node) {
    return node.present && node.attachment->connected;
}

std::u16string FirstComponent(const std::u16string& instanceId) {
    return instanceId.substr(0, instanceId.find(u'\\'));
}

}  // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
    const bool all = (flags & DIGCF_ALLCLASSES) != 0;
    if (classGuid == nullptr && !all) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string filter = enumerator != nullptr ? std::u16string(enumerator) : std::u16string();
    auto& s = Devices();
    if (!all && (flags & DIGCF_DEVICEINTERFACE) && *classGuid == GUID_DEVINTERFACE_USB_HOST_CONTROLLER) {
        std::function<void()> hook;
        {
            std::lock_guard lock(s.mutex);
            hook = s.hubWalkHook;
        }
        // Outside the lock: the hook plugs devices in and out.
        if (hook) hook();
    }
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiGetClassDevs)) {
        SetLastError(fault->error);
        return INVALID_HANDLE_VALUE;
    }
    DeviceInfoList list;
    for (const auto& [devinst, node] : s.nodes) {
        if ((flags & DIGCF_PRESENT) && !node->present) continue;
        if (!filter.empty() && !EqualsNoCase(FirstComponent(node->instanceId), filter) &&
            !EqualsNoCase(node->instanceId, filter))
            continue;
        bool wanted;
        if (flags & DIGCF_DEVICEINTERFACE) {
            wanted = false;
            for (const auto& itf : node->interfaces)
                if (all || itf.classGuid == *classGuid) wanted = true;
        } else {
            wanted = all || node->setupClass == *classGuid;
        }
        if (wanted) list.nodes.push_back(node);
    }
    const std::uintptr_t value = s.nextList;
    s.nextList += 8;
    s.lists.emplace(value, std::move(list));
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HDEVINFO>(value);
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO list) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (s.lists.erase(reinterpret_cast<std::uintptr_t>(list)) == 0) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA data) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiEnumDeviceInfo)) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (index >= l->nodes.size()) return Fail(ERROR_NO_MORE_ITEMS);
    Describe(*l->nodes[index], *data);
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device, const GUID* interfaceClass, DWORD index,
                                 PSP_DEVICE_INTERFACE_DATA data) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiEnumDeviceInterfaces)) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceClass == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    std::vector<std::shared_ptr<Node>> scope;
    if (device != nullptr) {
        auto node = NodeOfRecord(*l, device);
        if (!node) return FALSE;
        scope.push_back(node);
    } else {
        scope = l->nodes;
    }
    DWORD seen = 0;
    for (const auto& node : scope) {
        for (const auto& itf : node->interfaces) {
            if (!(itf.classGuid == *interfaceClass)) continue;
            if (seen++ != index) continue;
            data->InterfaceClassGuid = itf.classGuid;
            data->Flags = Active(*node) ? SPINT_ACTIVE : SPINT_REMOVED;
            data->Reserved = static_cast<ULONG_PTR>(itf.id);
            return TRUE;
        }
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO list, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize, DWORD* requiredSize,
                                      PSP_DEVINFO_DATA device) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    const CallFault* fault = s.FaultOn(DeviceCall::SetupDiGetDeviceInterfaceDetail);
    if (fault != nullptr && !fault->size) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    const DeviceInterface* found = nullptr;
    std::shared_ptr<Node> owner;
    for (const auto& node : l->nodes)
        for (const auto& itf : node->interfaces)
            if (itf.id == interfaceData->Reserved) {
                found = &itf;
                owner = node;
            }
    if (found == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (device != nullptr) {
        if (device->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        Describe(*owner, *device);
    }
    const std::u16string path = u"\\\\?\\" + ToLowerAscii(found->link);
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    const DWORD needed = static_cast<DWORD>(pathOffset + (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr) *requiredSize = fault != nullptr ? *fault->size : needed;
    if (detail == nullptr) return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    auto* bytes = reinterpret_cast<BYTE*>(detail);
    std::memcpy(bytes + pathOffset, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO list, PSP_DEVINFO_DATA device, DWORD property, DWORD* valueType,
                                       BYTE* buffer, DWORD bufferSize, DWORD* requiredSize) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    const CallFault* fault = s.FaultOn(DeviceCall::SetupDiGetDeviceRegistryProperty);
    if (fault != nullptr && !fault->size) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    auto node = NodeOfRecord(*l, device);
    if (!node) return FALSE;

    std::u16string value;  // with every terminating zero the type needs
    DWORD type = REG_SZ;
    switch (property) {
        case SPDRP_DEVICEDESC:
            value = node->description;
            break;
        case SPDRP_HARDWAREID:
            type = REG_MULTI_SZ;
            for (const auto& id : node->hardwareIds) value += id + u'\0';
            break;
        case SPDRP_CLASSGUID:
            value = GuidToString(node->setupClass);
            break;
        case SPDRP_DRIVER:
            value = node->driverKey;
            break;
        default:
            return Fail(ERROR_INVALID_PARAMETER);
    }
    // A property the node does not have is missing, not empty.
    if (value.empty()) return Fail(ERROR_INVALID_DATA);
    value.push_back(u'\0');
    const DWORD needed = static_cast<DWORD>(value.size() * sizeof(WCHAR));
    if (requiredSize != nullptr) *requiredSize = fault != nullptr ? *fault->size : needed;
    if (buffer == nullptr && bufferSize != 0) return Fail(ERROR_INVALID_PARAMETER);
    if (bufferSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, value.data(), needed);
    if (valueType != nullptr) *valueType = type;
    return TRUE;
}

BOOL SetupDiOpenDeviceInfoW(HDEVINFO list, PCWSTR instanceId, HWND, DWORD, PSP_DEVINFO_DATA device) {
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::SetupDiOpenDeviceInfo)) return Fail(fault->error);
    auto* l = s.FindList(list);
    if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (instanceId == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (device != nullptr && device->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
    auto node = s.FindByInstanceId(instanceId);
    if (!node) return Fail(ERROR_NO_SUCH_DEVINST);
    bool listed = false;
    for (const auto& n : l->nodes)
        if (n == node) listed = true;
    if (!listed) l->nodes.push_back(node);
    if (device != nullptr) Describe(*node, *device);
    return TRUE;
}

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST device, ULONG flags) {
    if (parent == nullptr) return CR_INVALID_POINTER;
    *parent = 0;
    if (flags != 0) return CR_INVALID_FLAG;
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::CM_Get_Parent)) return fault->error;
    auto node = s.Find(device);
    if (!node) return CR_INVALID_DEVNODE;
    auto up = node->parent.lock();
    if (!up) return CR_NO_SUCH_DEVNODE;
    *parent = up->devinst;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_ID_Size(PULONG length, DEVINST device, ULONG flags) {
    if (length == nullptr) return CR_INVALID_POINTER;
    *length = 0;
    if (flags != 0) return CR_INVALID_FLAG;
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    const CallFault* fault = s.FaultOn(DeviceCall::CM_Get_Device_ID_Size);
    if (fault != nullptr && !fault->size) return fault->error;
    auto node = s.Find(device);
    if (!node) return CR_INVALID_DEVNODE;
    *length = fault != nullptr ? *fault->size : static_cast<ULONG>(node->instanceId.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_IDW(DEVINST device, PWSTR buffer, ULONG bufferLength, ULONG flags) {
    if (buffer == nullptr) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    auto& s = Devices();
    std::lock_guard lock(s.mutex);
    if (const auto* fault = s.FaultOn(DeviceCall::CM_Get_Device_ID)) return fault->error;
    auto node = s.Find(device);
    if (!node) return CR_INVALID_DEVNODE;
    const auto& id = node->instanceId;
    if (bufferLength < id.size()) return CR_BUFFER_SMALL;
    std::memcpy(buffer, id.data(), id.size() * sizeof(WCHAR));
    // Terminated only when there is room, as callers allocate length + 1.
    if (bufferLength > id.size()) buffer[id.size()] = 0;
    return CR_SUCCESS;
}
