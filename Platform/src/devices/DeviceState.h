// Inside the device tree: shared by the fixture calls, SetupAPI, the
// configuration manager and the device files. Not installed.
#pragma once

#include "Platform/Devices.h"
#include "Platform/DriverStore.h"
#include "Platform/Files.h"
#include "Platform/SetupApi.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace Platform::detail {

// What a file opened on an interface talks to.
enum class Channel { None, HostController, Hub, Printer };

// One plugging-in of a node. Files keep the attachment they were opened
// on, so pulling the device kills them even if it is plugged in again.
struct Attachment {
    std::atomic<bool> connected{true};
};

struct DeviceInterface {
    GUID classGuid{};
    std::u16string link;  // symbolic name without the "\\?\" prefix
    std::uint64_t id = 0;
    Channel channel = Channel::None;
};

struct IoctlFault {
    DWORD code = 0;
    DWORD error = 0;
    unsigned skip = 0;
};

// What a node is told to get wrong; the control codes and the node type
// only matter on controllers and hubs.
struct NodeFaults {
    std::vector<IoctlFault> ioctls;
    DWORD openError = ERROR_SUCCESS;
    std::optional<USB_HUB_NODE> nodeType;
};

struct CallFault {
    DeviceCall call{};
    DWORD error = 0;
    std::optional<DWORD> size;  // misreports this size instead of failing
    unsigned skip = 0;
    unsigned times = 0;  // DeviceManager::kEveryCall: no end
};

struct Node;

struct Port {
    std::shared_ptr<Node> device;
    USB_CONNECTION_STATUS status = NoDeviceConnected;
    bool lowSpeed = false;
    USHORT address = 0;
};

struct Node {
    DEVINST devinst = 0;
    std::u16string instanceId;
    GUID setupClass{};
    std::u16string driverKey;
    std::u16string description;
    std::vector<std::u16string> hardwareIds;
    std::weak_ptr<Node> parent;
    std::vector<std::shared_ptr<Node>> children;
    bool present = true;
    std::vector<DeviceInterface> interfaces;
    std::shared_ptr<UsbDeviceModel> model;  // USB devices and their functions
    std::shared_ptr<Attachment> attachment = std::make_shared<Attachment>();
    // Hubs (root and external) have ports.
    std::vector<Port> ports;
    bool isHub = false;
    NodeFaults faults;
};

// A node's drivers in a list: those built for it and the one selected.
struct DriverChoice {
    std::vector<DriverPackage> compatible;
    std::optional<DriverPackage> selected;
};

struct DeviceInfoList {
    std::vector<std::shared_ptr<Node>> nodes;
    std::optional<GUID> classGuid;  // lists made for installing one class
    std::map<DEVINST, DriverChoice> drivers;
};

struct DeviceState {
    mutable std::mutex mutex;
    std::shared_ptr<Node> root;
    std::map<DEVINST, std::shared_ptr<Node>> nodes;
    DEVINST nextDevinst = 1;
    std::uint64_t nextInterfaceId = 1;
    std::map<std::uintptr_t, DeviceInfoList> lists;
    std::uintptr_t nextList = 0x7D000000;
    std::map<std::u16string, unsigned> driverKeyCounters;  // by setup class
    unsigned controllers = 0;
    unsigned printerPorts = 0;
    USHORT nextAddress = 1;
    std::vector<CallFault> callFaults;
    std::function<void()> hubWalkHook;

    // All with the mutex held.
    // Counts a call and returns the fault due on it, if any.
    const CallFault* FaultOn(DeviceCall call);
    std::shared_ptr<Node> Find(DEVINST devinst) const;
    std::shared_ptr<Node> FindByInstanceId(const std::u16string& instanceId) const;
    // The interface whose link matches the path without its prefix (any case).
    std::shared_ptr<Node> FindInterface(const std::u16string& link, const DeviceInterface** found) const;
    DeviceInfoList* FindList(HDEVINFO list);
};

// The running machine's device state.
DeviceState& Devices();

// The list's node that a caller's record names, or null with the error set.
std::shared_ptr<Node> NodeOfRecord(DeviceInfoList& list, const SP_DEVINFO_DATA* data);

// A file opened on a device interface.
class DeviceFile final : public FileObject {
public:
    DeviceFile(std::shared_ptr<Node> node, std::shared_ptr<Attachment> attachment,
               std::shared_ptr<UsbDeviceModel> model, Channel channel, DWORD access);
    ~DeviceFile() override;

    DWORD Read(BYTE* buffer, DWORD length, DWORD& read) override;
    DWORD Write(const BYTE* data, DWORD length, DWORD& written) override;
    DWORD IoControl(DWORD code, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD& returned) override;

    static std::size_t LiveCount();

private:
    std::shared_ptr<Node> node_;
    std::shared_ptr<Attachment> attachment_;
    std::shared_ptr<UsbDeviceModel> model_;  // as attached when opened
    Channel channel_;
    DWORD access_;
};

// The hub driver's answer to a control code on a controller or hub file.
DWORD HubIoControl(const std::shared_ptr<Node>& node, Channel channel, DWORD code, const BYTE* in, DWORD inSize,
                   BYTE* out, DWORD outSize, DWORD& returned);

// Opens a device path ("\\?\" or "\\.\" prefix already removed).
HANDLE OpenDevicePath(const std::u16string& name, DWORD access, DWORD disposition);

// Text helpers; the tree's ids are ASCII.
std::u16string Ascii(const std::string& text);
std::u16string ToLowerAscii(std::u16string text);
bool EqualsNoCase(const std::u16string& a, const std::u16string& b);
std::u16string Hex(unsigned value, int digits);

}  // namespace Platform::detail
