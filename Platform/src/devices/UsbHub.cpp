// The hub driver: what a host controller or hub file answers to the USB
// control codes.
#include "DeviceState.h"
#include "Platform/Machine.h"

#include <algorithm>
#include <cstring>

namespace Platform::detail {
namespace {

// A name record: [connection index,] ActualLength, then the zero-ended
// name, cut to the caller's buffer. ActualLength is the whole record's size,
// so a caller can ask with the bare record first and then with that size.
DWORD WriteNameRecord(BYTE* out, DWORD outSize, const ULONG* connectionIndex, const std::u16string& name,
                      DWORD& returned) {
    const std::size_t headSize = (connectionIndex != nullptr ? 2 : 1) * sizeof(ULONG);
    if (outSize < headSize + sizeof(WCHAR)) return ERROR_INSUFFICIENT_BUFFER;
    const auto actual = static_cast<ULONG>(headSize + (name.size() + 1) * sizeof(WCHAR));
    std::vector<BYTE> record(actual, 0);
    if (connectionIndex != nullptr) std::memcpy(record.data(), connectionIndex, sizeof(ULONG));
    std::memcpy(record.data() + headSize - sizeof(ULONG), &actual, sizeof actual);
    std::memcpy(record.data() + headSize, name.data(), name.size() * sizeof(WCHAR));
    const std::size_t n = std::min<std::size_t>(outSize, actual);
    std::memcpy(out, record.data(), n);
    returned = static_cast<DWORD>(n);
    return ERROR_SUCCESS;
}

// Copies at most `limit` bytes of a descriptor. An empty one has no data
// pointer to hand to memcpy.
void CopyBytes(void* out, const std::vector<BYTE>& bytes, std::size_t limit) {
    const std::size_t n = std::min(bytes.size(), limit);
    if (n != 0) std::memcpy(out, bytes.data(), n);
}

bool ReadConnectionIndex(const BYTE* in, DWORD inSize, ULONG& index) {
    if (in == nullptr || inSize < sizeof(ULONG)) return false;
    std::memcpy(&index, in, sizeof index);
    return true;
}

// The port a request names, or null with the error.
const Port* PortFor(const Node& hub, ULONG index, DWORD& error) {
    if (index < 1 || index > hub.ports.size()) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return &hub.ports[index - 1];
}

DWORD NodeInformation(const Node& hub, BYTE* out, DWORD outSize, DWORD& returned) {
    if (outSize < sizeof(USB_NODE_INFORMATION)) return ERROR_INSUFFICIENT_BUFFER;
    USB_NODE_INFORMATION info{};
    info.NodeType = hub.faults.nodeType.value_or(UsbHub);
    auto& d = info.u.HubInformation.HubDescriptor;
    const auto ports = static_cast<unsigned>(hub.ports.size());
    d.bDescriptorLength = static_cast<UCHAR>(7 + 2 * ((ports + 1 + 7) / 8));
    d.bDescriptorType = USB_HUB_DESCRIPTOR_TYPE;
    d.bNumberOfPorts = static_cast<UCHAR>(ports);
    d.wHubCharacteristics = 0x0009;
    d.bPowerOnToPowerGood = 50;
    d.bHubControlCurrent = 100;
    info.u.HubInformation.HubIsBusPowered = hub.model != nullptr;  // external hubs
    std::memcpy(out, &info, sizeof info);
    returned = sizeof info;
    return ERROR_SUCCESS;
}

DWORD ConnectionInformation(const Node& hub, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD& returned) {
    ULONG index = 0;
    if (!ReadConnectionIndex(in, inSize, index)) return ERROR_INVALID_PARAMETER;
    if (outSize < sizeof(USB_NODE_CONNECTION_INFORMATION)) return ERROR_INSUFFICIENT_BUFFER;
    DWORD error = ERROR_SUCCESS;
    const Port* port = PortFor(hub, index, error);
    if (port == nullptr) return error;
    USB_NODE_CONNECTION_INFORMATION info{};
    info.ConnectionIndex = index;
    info.ConnectionStatus = port->device ? port->status : NoDeviceConnected;
    if (port->device) {
        const auto& set = port->device->model->Descriptors();
        CopyBytes(&info.DeviceDescriptor, set.device, sizeof(USB_DEVICE_DESCRIPTOR));
        info.CurrentConfigurationValue = port->status == DeviceConnected ? set.currentConfiguration : 0;
        info.LowSpeed = port->lowSpeed;
        info.DeviceIsHub = port->device->isHub;
        info.DeviceAddress = port->address;
    }
    std::memcpy(out, &info, sizeof info);
    returned = sizeof info;
    return ERROR_SUCCESS;
}

DWORD DescriptorFromConnection(const Node& hub, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                               DWORD& returned) {
    USB_DESCRIPTOR_REQUEST request{};
    if (in == nullptr || inSize < sizeof request || outSize < sizeof request) return ERROR_INVALID_PARAMETER;
    std::memcpy(&request, in, sizeof request);
    DWORD error = ERROR_SUCCESS;
    const Port* port = PortFor(hub, request.ConnectionIndex, error);
    if (port == nullptr) return error;
    if (!port->device || port->status != DeviceConnected) return ERROR_DEVICE_NOT_CONNECTED;
    const auto& setup = request.SetupPacket;
    if (setup.bmRequest != 0x80 || setup.bRequest != USB_REQUEST_GET_DESCRIPTOR) return ERROR_INVALID_PARAMETER;
    const BYTE type = static_cast<BYTE>(setup.wValue >> 8);
    const BYTE index = static_cast<BYTE>(setup.wValue);
    const auto& set = port->device->model->Descriptors();
    const std::vector<BYTE>* blob = nullptr;
    if (type == USB_DEVICE_DESCRIPTOR_TYPE && index == 0) {
        blob = &set.device;
    } else if (type == USB_CONFIGURATION_DESCRIPTOR_TYPE && index < set.configurations.size()) {
        blob = &set.configurations[index];
    } else if (type == USB_STRING_DESCRIPTOR_TYPE) {
        auto it = set.strings.find(index);
        if (it != set.strings.end()) blob = &it->second;
    }
    // The device stalls a request for a descriptor it does not have.
    if (blob == nullptr) return ERROR_GEN_FAILURE;
    const std::size_t n = std::min<std::size_t>({setup.wLength, blob->size(), outSize - sizeof request});
    std::memcpy(out, &request, sizeof request);
    CopyBytes(out + sizeof request, *blob, n);
    returned = static_cast<DWORD>(sizeof request + n);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD HubIoControl(const std::shared_ptr<Node>& node, Channel channel, DWORD code, const BYTE* in, DWORD inSize,
                   BYTE* out, DWORD outSize, DWORD& returned) {
    returned = 0;
    auto& s = GetMachine().Devices().State();
    std::lock_guard lock(s.mutex);
    for (auto& fault : node->faults.ioctls) {
        if (fault.code != code) continue;
        if (fault.skip > 0) {
            --fault.skip;
            break;
        }
        return fault.error;
    }
    // The request may share its buffer with the answer.
    const std::vector<BYTE> request(in, in + (in != nullptr ? inSize : 0));
    const BYTE* req = request.empty() ? nullptr : request.data();

    if (channel == Channel::HostController) {
        if (code != IOCTL_USB_GET_ROOT_HUB_NAME) return ERROR_INVALID_FUNCTION;
        for (const auto& child : node->children)
            if (child->isHub && child->present)
                for (const auto& itf : child->interfaces)
                    if (itf.classGuid == GUID_DEVINTERFACE_USB_HUB)
                        return WriteNameRecord(out, outSize, nullptr, itf.link, returned);
        return ERROR_DEVICE_NOT_CONNECTED;
    }

    switch (code) {
        case IOCTL_USB_GET_NODE_INFORMATION:
            return NodeInformation(*node, out, outSize, returned);
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION:
            return ConnectionInformation(*node, req, inSize, out, outSize, returned);
        case IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION:
            return DescriptorFromConnection(*node, req, inSize, out, outSize, returned);
        case IOCTL_USB_GET_NODE_CONNECTION_NAME:
        case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME: {
            ULONG index = 0;
            if (!ReadConnectionIndex(req, inSize, index)) return ERROR_INVALID_PARAMETER;
            DWORD error = ERROR_SUCCESS;
            const Port* port = PortFor(*node, index, error);
            if (port == nullptr) return error;
            std::u16string name;
            if (code == IOCTL_USB_GET_NODE_CONNECTION_NAME) {
                // Empty unless a hub is on the port.
                if (port->device && port->device->isHub)
                    for (const auto& itf : port->device->interfaces)
                        if (itf.classGuid == GUID_DEVINTERFACE_USB_HUB) name = itf.link;
            } else {
                if (!port->device) return ERROR_DEVICE_NOT_CONNECTED;
                // A device no driver was installed for has no driver key.
                if (port->device->driverKey.empty()) return ERROR_FILE_NOT_FOUND;
                name = port->device->driverKey;
            }
            return WriteNameRecord(out, outSize, &index, name, returned);
        }
        default:
            return ERROR_INVALID_FUNCTION;
    }
}

}  // namespace Platform::detail
