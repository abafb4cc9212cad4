#include "Windows/Win32-USBUtils/USBUtils.h"

#include "Tessary/i8n/UTFConversion.h"
#include "Windows/Win32-USBUtils/USBDescriptors.h"
#include "Windows/Win32-USBUtils/USBHandles.h"

#include <algorithm>
#include <cstring>
#include <new>

using Tessary::TSInvalidArgument;
using Tessary::TSLogicError;
using Tessary::TSRuntimeError;
using USB::ScopedDeviceInfoList;
using USB::ScopedHandle;

namespace {

// No name or id the hub driver, SetupAPI or the configuration manager
// reports comes near this; a larger size is treated as an allocation that
// cannot be made.
constexpr std::size_t kMaxRecordSize = 0x20000;

template <class Unit>
std::vector<Unit> Allocate(std::size_t count, const char* failure) {
    if (count > kMaxRecordSize / sizeof(Unit)) TS_THROW(TSRuntimeError, failure);
    try {
        return std::vector<Unit>(count, Unit{});
    } catch (const std::bad_alloc&) {
        TS_THROW(TSRuntimeError, failure);
    }
}

std::vector<BYTE> AllocateRecord(std::size_t size) {
    return Allocate<BYTE>(size, "Allocation failed");
}

// The zero-ended UTF-16 text at offset of a record the callee filled up to
// `filled` bytes.
std::u16string TextAt(const std::vector<BYTE>& record, std::size_t offset, std::size_t filled) {
    std::u16string text;
    const std::size_t end = std::min(filled, record.size());
    for (std::size_t i = offset; i + 1 < end; i += 2) {
        const auto unit = static_cast<char16_t>(record[i] | (record[i + 1] << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

std::string ToUtf8(const std::u16string& text) {
    return Tessary::UTF16ToUTF8String(text.data(), static_cast<int>(text.size()));
}

void RequireHub(HANDLE hub) {
    if (hub == nullptr) TS_THROW(TSInvalidArgument, "NULL hub handle");
}

HANDLE OpenForWalk(const std::u16string& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// A name record asked twice of the hub driver: first the bare record for
// ActualLength, then a record of that size. ConnectionIndex leads the
// record when there is one.
std::u16string AskName(HANDLE device, DWORD code, const ULONG* connectionIndex, std::size_t recordSize,
                       const char* sizeFailure, const char* failure) {
    const std::size_t headSize = recordSize - sizeof(WCHAR);
    std::vector<BYTE> first(recordSize, 0);
    if (connectionIndex != nullptr) std::memcpy(first.data(), connectionIndex, sizeof(ULONG));
    DWORD returned = 0;
    if (!DeviceIoControl(device, code, first.data(), static_cast<DWORD>(first.size()), first.data(),
                         static_cast<DWORD>(first.size()), &returned, nullptr))
        TS_THROW(TSRuntimeError, sizeFailure);
    ULONG actualLength = 0;
    std::memcpy(&actualLength, first.data() + headSize - sizeof(ULONG), sizeof actualLength);

    std::vector<BYTE> record = AllocateRecord(std::max<std::size_t>(actualLength, recordSize));
    if (connectionIndex != nullptr) std::memcpy(record.data(), connectionIndex, sizeof(ULONG));
    if (!DeviceIoControl(device, code, record.data(), static_cast<DWORD>(record.size()), record.data(),
                         static_cast<DWORD>(record.size()), &returned, nullptr))
        TS_THROW(TSRuntimeError, failure);
    return TextAt(record, headSize, returned);
}

std::u16string InterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& itf) {
    DWORD size = 0;
    if (SetupDiGetDeviceInterfaceDetailW(list, &itf, nullptr, 0, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        TS_THROW(TSRuntimeError, "SetupDiGetDeviceInterfaceDetail failed");
    constexpr std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    std::vector<BYTE> record = AllocateRecord(std::max<std::size_t>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
    const DWORD cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    std::memcpy(record.data(), &cbSize, sizeof cbSize);
    if (!SetupDiGetDeviceInterfaceDetailW(list, &itf,
                                          reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(record.data()),
                                          static_cast<DWORD>(record.size()), nullptr, nullptr))
        TS_THROW(TSRuntimeError, "SetupDiGetDeviceInterfaceDetail failed");
    return TextAt(record, pathOffset, record.size());
}

// Path of the device's interface of that class at index 0.
std::u16string FirstInterfacePath(HDEVINFO list, SP_DEVINFO_DATA& device, const GUID& interfaceClass) {
    SP_DEVICE_INTERFACE_DATA itf{};
    itf.cbSize = sizeof itf;
    if (!SetupDiEnumDeviceInterfaces(list, &device, &interfaceClass, 0, &itf))
        TS_THROW(TSRuntimeError, "SetupDiEnumDeviceInterfaces failed");
    return InterfacePath(list, itf);
}

HDEVINFO PresentInterfaces(const GUID& interfaceClass) {
    HDEVINFO list = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) TS_THROW(TSRuntimeError, "SetupDiGetClassDevs failed");
    return list;
}

// The next device of a list; false at the end of it.
bool NextDevice(HDEVINFO list, DWORD index, SP_DEVINFO_DATA& device) {
    device = SP_DEVINFO_DATA{};
    device.cbSize = sizeof device;
    if (SetupDiEnumDeviceInfo(list, index, &device)) return true;
    if (GetLastError() == ERROR_NO_MORE_ITEMS) return false;
    TS_THROW(TSRuntimeError, "setupDiEnumDeviceInfo failed");
}

HANDLE OpenPath(const std::string& path) {
    if (path.empty()) return INVALID_HANDLE_VALUE;
    const std::vector<char16_t> wide = Tessary::ToWideVector(path);
    return CreateFileW(wide.data(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Vendor and product alone when no serial number is asked for.
template <class Result>
Result WalkForFirst(std::uint32_t vendorId, std::uint32_t productId, const std::string& serialNumber) {
    HubEnumSingleResult<Result> result;
    DeviceOnHubMatchedVidPid byIds(vendorId, productId);
    DeviceOnHubMatchedVidPidSerialNum bySerial(vendorId, productId, serialNumber);
    HubEnumDirector director(serialNumber.empty() ? static_cast<HubDevicePredicate*>(&byIds) : &bySerial, &result);
    EnumerateHubs(director);
    return result.GetResult();
}

}  // namespace

bool ReadDriverKey(HDEVINFO list, SP_DEVINFO_DATA& device, std::string& key) {
    DWORD size = 0;
    if (SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_DRIVER, nullptr, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        // A present device that no driver was installed for has no key; it
        // cannot be the device looked for.
        if (GetLastError() == ERROR_INVALID_DATA) return false;
        TS_THROW(TSRuntimeError, "SetupDiGetDeviceRegistryProperty failed");
    }
    std::vector<BYTE> value = AllocateRecord(size);
    if (!SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_DRIVER, nullptr, value.data(), size, &size))
        TS_THROW(TSRuntimeError, "SetupDiGetDeviceRegistryProperty failed");
    key = ToUtf8(TextAt(value, 0, size));
    return true;
}

// ---- Predicates ----

HubDevicePredicate::~HubDevicePredicate() = default;

bool DeviceOnHubMatched::Matches(HANDLE, ULONG, const USB_NODE_CONNECTION_INFORMATION&) {
    return true;
}

DeviceOnHubMatchedVidPid::DeviceOnHubMatchedVidPid(std::uint32_t vendorId, std::uint32_t productId)
    : vendorId_(vendorId), productId_(productId) {}

bool DeviceOnHubMatchedVidPid::Matches(HANDLE, ULONG, const USB_NODE_CONNECTION_INFORMATION& info) {
    return info.DeviceDescriptor.idVendor == vendorId_ && info.DeviceDescriptor.idProduct == productId_;
}

DeviceOnHubMatchedVidPidSerialNum::DeviceOnHubMatchedVidPidSerialNum(std::uint32_t vendorId, std::uint32_t productId,
                                                                     std::string serialNumber)
    : DeviceOnHubMatchedVidPid(vendorId, productId), serialNumber_(std::move(serialNumber)) {}

bool DeviceOnHubMatchedVidPidSerialNum::Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) {
    if (!DeviceOnHubMatchedVidPid::Matches(hub, port, info)) return false;
    const BYTE serialIndex = info.DeviceDescriptor.iSerialNumber;
    return serialIndex != 0 && GetStringDescriptor(hub, port, serialIndex) == serialNumber_;
}

DeviceOnHubMatchedDriverKeyName::DeviceOnHubMatchedDriverKeyName(std::string driverKeyName)
    : driverKeyName_(std::move(driverKeyName)) {}

bool DeviceOnHubMatchedDriverKeyName::Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION&) {
    return !driverKeyName_.empty() && GetDriverKeyName(hub, port) == driverKeyName_;
}

// ---- Result records ----

DriverKeyNameResult::DriverKeyNameResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION&)
    : driverKeyName(GetDriverKeyName(hub, port)) {}
DriverKeyNameResult::~DriverKeyNameResult() = default;

PrinterMaxPacketSizeResult::PrinterMaxPacketSizeResult(HANDLE hub, ULONG port,
                                                       const USB_NODE_CONNECTION_INFORMATION& info) {
    GetPrinterMaxPacketSizes(hub, port, info, maxOutPacketSize, maxInPacketSize);
}
PrinterMaxPacketSizeResult::~PrinterMaxPacketSizeResult() = default;

DeviceInfoResult::DeviceInfoResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info)
    : vendorId(info.DeviceDescriptor.idVendor), productId(info.DeviceDescriptor.idProduct) {
    if (info.DeviceDescriptor.iProduct != 0) product = GetStringDescriptor(hub, port, info.DeviceDescriptor.iProduct);
    if (info.DeviceDescriptor.iSerialNumber != 0)
        serialNumber = GetStringDescriptor(hub, port, info.DeviceDescriptor.iSerialNumber);
}
DeviceInfoResult::~DeviceInfoResult() = default;

PrinterConnectionInfoResult::PrinterConnectionInfoResult(HANDLE hub, ULONG port,
                                                         const USB_NODE_CONNECTION_INFORMATION& info)
    : DriverKeyNameResult(hub, port, info), PrinterMaxPacketSizeResult(hub, port, info) {}
PrinterConnectionInfoResult::~PrinterConnectionInfoResult() = default;

PrinterInfoResult::PrinterInfoResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info)
    : PrinterConnectionInfoResult(hub, port, info), DeviceInfoResult(hub, port, info) {}
PrinterInfoResult::~PrinterInfoResult() = default;

// ---- Collectors ----

HubEnumResult::~HubEnumResult() = default;
HubEnumDirector::~HubEnumDirector() = default;

bool HubEnumDirector::IsComplete() const {
    return result_->IsComplete();
}

void HubEnumDirector::ProcessDevice(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) {
    if (predicate_->Matches(hub, port, info)) result_->AddResult(hub, port, info);
}

// ---- The walk ----

void EnumerateHubs(HubEnumDirector& director) {
    ScopedDeviceInfoList list(PresentInterfaces(GUID_DEVINTERFACE_USB_HOST_CONTROLLER));
    SP_DEVINFO_DATA device{};
    for (DWORD index = 0; !director.IsComplete() && NextDevice(list.Get(), index, device); ++index) {
        for (DWORD member = 0; !director.IsComplete(); ++member) {
            SP_DEVICE_INTERFACE_DATA itf{};
            itf.cbSize = sizeof itf;
            if (!SetupDiEnumDeviceInterfaces(list.Get(), &device, &GUID_DEVINTERFACE_USB_HOST_CONTROLLER, member,
                                             &itf)) {
                if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
                TS_THROW(TSRuntimeError, "SetupDiEnumDeviceInterfaces failed");
            }
            EnumerateRootHub(InterfacePath(list.Get(), itf), director);
        }
    }
}

void EnumerateRootHub(const std::u16string& hostControllerPath, HubEnumDirector& director) {
    ScopedHandle controller(OpenForWalk(hostControllerPath));
    if (!controller.IsValid()) TS_THROW(TSRuntimeError, "CreateFile failed");
    const std::u16string rootHub =
        AskName(controller.Get(), IOCTL_USB_GET_ROOT_HUB_NAME, nullptr, sizeof(USB_ROOT_HUB_NAME),
                "DeviceIoControl get root hub name size failed", "DeviceIoControl get root hub name failed");
    EnumerateHub(rootHub, director);
}

void EnumerateHub(const std::u16string& hubName, HubEnumDirector& director) {
    ScopedHandle hub(OpenForWalk(u"\\\\.\\" + hubName));
    if (!hub.IsValid()) TS_THROW(TSRuntimeError, "CreateFile failed");

    USB_NODE_INFORMATION node{};
    DWORD returned = 0;
    if (!DeviceIoControl(hub.Get(), IOCTL_USB_GET_NODE_INFORMATION, &node, sizeof node, &node, sizeof node, &returned,
                         nullptr))
        TS_THROW(TSRuntimeError, "DeviceIoControl get node info failed");
    if (node.NodeType != UsbHub) TS_THROW(TSLogicError, "Not a USB hub");

    const ULONG ports = node.u.HubInformation.HubDescriptor.bNumberOfPorts;
    for (ULONG port = 1; port <= ports && !director.IsComplete(); ++port) {
        USB_NODE_CONNECTION_INFORMATION info{};
        info.ConnectionIndex = port;
        if (!DeviceIoControl(hub.Get(), IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof info, &info,
                             sizeof info, &returned, nullptr))
            TS_THROW(TSRuntimeError, "DeviceIoControl get connection info failed");
        if (info.ConnectionStatus != DeviceConnected) continue;
        if (info.DeviceIsHub) {
            const std::u16string downstream = AskName(
                hub.Get(), IOCTL_USB_GET_NODE_CONNECTION_NAME, &port, sizeof(USB_NODE_CONNECTION_NAME),
                "DeviceIoControl get connection name size failed", "DeviceIoControl get connection name failed");
            EnumerateHub(downstream, director);
        } else {
            director.ProcessDevice(hub.Get(), port, info);
        }
    }
}

// ---- Descriptors and names ----

std::uint16_t GetDescriptorLength(HANDLE hub, ULONG port, BYTE type, BYTE index) {
    RequireHub(hub);
    constexpr std::uint16_t kAsked = 2;
    std::vector<BYTE> buffer(sizeof(USB_DESCRIPTOR_REQUEST) + kAsked, 0);
    USB_DESCRIPTOR_REQUEST request{};
    request.ConnectionIndex = port;
    request.SetupPacket = {0x80, USB_REQUEST_GET_DESCRIPTOR, static_cast<USHORT>((type << 8) | index), 0, kAsked};
    std::memcpy(buffer.data(), &request, sizeof request);
    DWORD returned = 0;
    if (!DeviceIoControl(hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, buffer.data(),
                         static_cast<DWORD>(buffer.size()), buffer.data(), static_cast<DWORD>(buffer.size()), &returned,
                         nullptr))
        TS_THROW(TSRuntimeError, "DeviceIoControl get descriptor size failed");
    return returned > sizeof request ? buffer[sizeof request] : 0;
}

std::vector<BYTE> GetDescriptor(HANDLE hub, ULONG port, BYTE type, BYTE index, std::uint16_t length) {
    RequireHub(hub);
    std::vector<BYTE> buffer = AllocateRecord(sizeof(USB_DESCRIPTOR_REQUEST) + length);
    USB_DESCRIPTOR_REQUEST request{};
    request.ConnectionIndex = port;
    request.SetupPacket = {0x80, USB_REQUEST_GET_DESCRIPTOR, static_cast<USHORT>((type << 8) | index), 0, length};
    std::memcpy(buffer.data(), &request, sizeof request);
    DWORD returned = 0;
    if (!DeviceIoControl(hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, buffer.data(),
                         static_cast<DWORD>(buffer.size()), buffer.data(), static_cast<DWORD>(buffer.size()), &returned,
                         nullptr))
        TS_THROW(TSRuntimeError, "DeviceIoControl get descriptor failed");
    // Only what the device sent back is descriptor.
    const std::size_t end = std::min<std::size_t>(std::max<std::size_t>(returned, sizeof request), buffer.size());
    return std::vector<BYTE>(buffer.begin() + sizeof request, buffer.begin() + end);
}

std::string GetStringDescriptor(HANDLE hub, ULONG port, BYTE index) {
    const std::uint16_t length = GetDescriptorLength(hub, port, USB_STRING_DESCRIPTOR_TYPE, index);
    const std::vector<BYTE> data = GetDescriptor(hub, port, USB_STRING_DESCRIPTOR_TYPE, index, length);
    return ToUtf8(USBDescriptors::ParseStringDescriptor(data.data(), data.size()));
}

std::vector<BYTE> GetConfigurationDescriptor(HANDLE hub, ULONG port, BYTE index) {
    const std::uint16_t length = GetDescriptorLength(hub, port, USB_CONFIGURATION_DESCRIPTOR_TYPE, index);
    const std::vector<BYTE> head = GetDescriptor(hub, port, USB_CONFIGURATION_DESCRIPTOR_TYPE, index, length);
    const std::uint16_t total = USBDescriptors::ConfigurationTotalLength(head.data(), head.size());
    return GetDescriptor(hub, port, USB_CONFIGURATION_DESCRIPTOR_TYPE, index, total);
}

void GetPrinterMaxPacketSizes(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info,
                              std::uint32_t& outPacketSize, std::uint32_t& inPacketSize) {
    outPacketSize = 0;
    inPacketSize = 0;
    // Descriptor indexes count from 0 while configuration values count from
    // 1, so the active set is the one whose bConfigurationValue is current.
    const BYTE current = info.CurrentConfigurationValue;
    if (current == 0) return;
    for (BYTE index = 0; index < info.DeviceDescriptor.bNumConfigurations; ++index) {
        const std::vector<BYTE> set = GetConfigurationDescriptor(hub, port, index);
        if (set.size() <= 5 || set[5] != current) continue;
        USBDescriptors::FindPrinterMaxPacketSizes(set.data(), set.size(), outPacketSize, inPacketSize);
        return;
    }
}

std::string GetDriverKeyName(HANDLE hub, ULONG port) {
    RequireHub(hub);
    USB_NODE_CONNECTION_DRIVERKEY_NAME first{};
    first.ConnectionIndex = port;
    DWORD returned = 0;
    if (!DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, &first, sizeof first, &first, sizeof first,
                         &returned, nullptr)) {
        // The hub driver has no key to report for a device that no driver
        // was installed for.
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return {};
        TS_THROW(TSRuntimeError, "DeviceIoControl get driver key name size failed");
    }
    std::vector<BYTE> record =
        AllocateRecord(std::max<std::size_t>(first.ActualLength, sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME)));
    std::memcpy(record.data(), &port, sizeof port);
    if (!DeviceIoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, record.data(),
                         static_cast<DWORD>(record.size()), record.data(), static_cast<DWORD>(record.size()), &returned,
                         nullptr))
        TS_THROW(TSRuntimeError, "DeviceIoControl get driver key name failed");
    return ToUtf8(TextAt(record, offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName), returned));
}

// ---- Lookups and opens ----

std::string FindDevicePathByDriverKeyName(const std::string& driverKeyName) {
    if (driverKeyName.empty()) return {};
    ScopedDeviceInfoList list(PresentInterfaces(GUID_DEVINTERFACE_USB_DEVICE));
    SP_DEVINFO_DATA device{};
    for (DWORD index = 0; NextDevice(list.Get(), index, device); ++index) {
        std::string key;
        if (!ReadDriverKey(list.Get(), device, key) || key != driverKeyName) continue;
        return ToUtf8(FirstInterfacePath(list.Get(), device, GUID_DEVINTERFACE_USB_DEVICE));
    }
    return {};
}

std::string FindDevicePathByVidPid(std::uint32_t vendorId, std::uint32_t productId, const std::string& serialNumber) {
    return FindDevicePathByDriverKeyName(
        WalkForFirst<DriverKeyNameResult>(vendorId, productId, serialNumber).driverKeyName);
}

std::string FindChildDevicePathByDriverKeyName(const std::string& driverKeyName) {
    if (driverKeyName.empty()) return {};
    ScopedDeviceInfoList devices(PresentInterfaces(GUID_DEVINTERFACE_USB_DEVICE));
    ScopedDeviceInfoList printers(PresentInterfaces(GUID_DEVINTERFACE_USBPRINT));
    SP_DEVINFO_DATA printer{};
    for (DWORD index = 0; NextDevice(printers.Get(), index, printer); ++index) {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, printer.DevInst, 0) != CR_SUCCESS) continue;
        ULONG length = 0;
        if (CM_Get_Device_ID_Size(&length, parent, 0) != CR_SUCCESS || length == 0)
            TS_THROW(TSRuntimeError, "CM_Get_Device_ID_Size failed");
        // Counted in size_t: a reported length of 0xFFFFFFFF must not wrap.
        std::vector<WCHAR> id = Allocate<WCHAR>(std::size_t{length} + 1, "allocation failed");
        if (CM_Get_Device_IDW(parent, id.data(), static_cast<ULONG>(id.size()), 0) != CR_SUCCESS)
            TS_THROW(TSRuntimeError, "CM_Get_Device_ID failed");
        SP_DEVINFO_DATA parentData{};
        parentData.cbSize = sizeof parentData;
        if (!SetupDiOpenDeviceInfoW(devices.Get(), id.data(), nullptr, 0, &parentData))
            TS_THROW(TSRuntimeError, "SetupDiOpenDeviceInfo failed");
        std::string key;
        if (!ReadDriverKey(devices.Get(), parentData, key) || key != driverKeyName) continue;
        return ToUtf8(FirstInterfacePath(printers.Get(), printer, GUID_DEVINTERFACE_USBPRINT));
    }
    return {};
}

HANDLE OpenUSBDeviceByDriverKeyName(const std::string& driverKeyName) {
    if (driverKeyName.empty()) return INVALID_HANDLE_VALUE;
    return OpenPath(FindDevicePathByDriverKeyName(driverKeyName));
}

HANDLE OpenUSBDeviceByVidPid(std::uint32_t vendorId, std::uint32_t productId, const std::string& serialNumber) {
    return OpenPath(FindDevicePathByVidPid(vendorId, productId, serialNumber));
}

HANDLE OpenUSBChildDeviceByDriverKeyName(const std::string& driverKeyName) {
    return OpenPath(FindChildDevicePathByDriverKeyName(driverKeyName));
}

HANDLE OpenUSBPrinter(std::uint32_t vendorId, std::uint32_t productId, const std::string& serialNumber,
                      std::uint32_t& outPacketSize, std::uint32_t& inPacketSize) {
    const PrinterConnectionInfoResult printer =
        WalkForFirst<PrinterConnectionInfoResult>(vendorId, productId, serialNumber);
    outPacketSize = printer.maxOutPacketSize;
    inPacketSize = printer.maxInPacketSize;
    return OpenPath(FindChildDevicePathByDriverKeyName(printer.driverKeyName));
}
