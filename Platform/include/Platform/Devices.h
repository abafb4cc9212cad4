// The simulated machine's device tree: USB host controllers, hubs, ports,
// devices and their functions, with instance ids, driver keys and device
// interfaces. SetupAPI, the configuration manager and CreateFileW read it;
// tests and simulators build it through the fixture calls below.
//
// A USB device with a driver is shaped as the platform shapes it:
//   USB\VID_v&PID_p\<serial>          driver key (USB class), USB device interface
//   ... when composite (two or more interfaces):
//     USB\VID_v&PID_p&MI_nn\<id>      one child per interface; the printer
//                                     interface's child carries the printing interface
//       USBPRINT\<model>\<id>         the printer node (Printer class)
//   ... when not composite, the printing interface sits on the device node
//     itself and USBPRINT\<model>\<id> is its child.
// A device attached without a driver has no driver key and no children.
#pragma once

#include "Platform/Guid.h"
#include "Platform/SetupApi.h"
#include "Platform/Usb.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Platform {

namespace detail {
struct DeviceState;
}

struct HostControllerNodes {
    DEVINST controller = 0;
    DEVINST rootHub = 0;
};

// The SetupAPI and configuration-manager calls a fault can be put on.
enum class DeviceCall {
    SetupDiGetClassDevs,
    SetupDiEnumDeviceInfo,
    SetupDiEnumDeviceInterfaces,
    SetupDiGetDeviceInterfaceDetail,
    SetupDiGetDeviceRegistryProperty,
    SetupDiOpenDeviceInfo,
    CM_Get_Parent,
    CM_Get_Device_ID_Size,
    CM_Get_Device_ID,
    SetupDiCreateDeviceInfoList,
    SetupDiGetClassDescription,
    SetupDiCreateDeviceInfo,
    SetupDiSetDeviceRegistryProperty,
    SetupDiCallClassInstaller,
    SetupDiBuildDriverInfoList,
    SetupDiGetSelectedDriver,
    SetupDiGetDriverInfoDetail,
    CM_Locate_DevNode,
    SetupOpenInfFile,
    SetupInstallFilesFromInfSection,
    AssociateColorProfileWithDevice,
};

struct UsbAttachOptions {
    bool hasDriver = true;  // false: no driver was ever installed for it
    USB_CONNECTION_STATUS status = DeviceConnected;
    bool lowSpeed = false;
};

class DeviceManager {
public:
    DeviceManager();
    ~DeviceManager();
    DeviceManager(const DeviceManager&) = delete;
    DeviceManager& operator=(const DeviceManager&) = delete;

    // Removes every device node, list and fault; open handles stay open but
    // every operation on them fails with ERROR_DEVICE_NOT_CONNECTED.
    void Reset();

    // Building the tree. Ports are 1-based. Attaching to an occupied port or
    // to a node that is not a hub throws std::invalid_argument.
    HostControllerNodes AddHostController(unsigned rootPorts);
    DEVINST AttachHub(DEVINST parentHub, unsigned port, unsigned ports, WORD vendorId = 0x2109,
                      WORD productId = 0x2817);
    // Plugs a device into a port; returns its device node. A device whose
    // instance id was seen before gets its old node (and driver key) back.
    DEVINST AttachDevice(DEVINST hub, unsigned port, std::shared_ptr<UsbDeviceModel> model,
                         const UsbAttachOptions& options = {});
    // A standard printer model (see UsbPrinterModel) on a port.
    std::shared_ptr<UsbPrinterModel> AttachUsbPrinter(DEVINST hub, unsigned port, const UsbPrinterIdentity& identity,
                                                      const UsbAttachOptions& options = {});
    // Pulls whatever is on the port (with everything below a hub); its
    // nodes stay as non-present nodes. An empty port is left alone.
    void Detach(DEVINST hub, unsigned port);

    // Called as a walk of the USB tree begins (a list of the host
    // controllers' interfaces is asked for), on the walking thread and
    // before the list is made: a machine kept on disk plugs its docks in and
    // out there. Reset removes it.
    void SetHubWalkHook(std::function<void()> hook);

    // Fault knobs; each holds until ClearFaults (or until the node is
    // attached again).
    static constexpr unsigned kEveryCall = ~0u;
    // The control code on that controller or hub fails with error after
    // afterCalls more successful calls.
    void FailIoctl(DEVINST node, DWORD code, DWORD error = ERROR_GEN_FAILURE, unsigned afterCalls = 0);
    // The call fails with error (a Win32 error, or a CONFIGRET for the CM_
    // calls) after afterCalls more calls, for `times` calls. Calls that fail
    // by design, such as a size query, count too.
    void FailCall(DeviceCall call, DWORD error, unsigned afterCalls = 0, unsigned times = kEveryCall);
    // The call reports size as the size its answer needs, while buffers are
    // still checked against the true size. Only for the calls that report a
    // size: SetupDiGetDeviceInterfaceDetail, SetupDiGetDeviceRegistryProperty
    // and CM_Get_Device_ID_Size.
    void MisreportSize(DeviceCall call, DWORD size);
    // CreateFileW of any interface of the node fails with error.
    void FailOpen(DEVINST node, DWORD error = ERROR_ACCESS_DENIED);
    // The hub answers IOCTL_USB_GET_NODE_INFORMATION as a node of that type.
    void ReportNodeType(DEVINST hub, USB_HUB_NODE type);
    void ClearFaults();

    // Inspection.
    std::size_t OpenDeviceInfoListCount() const;
    std::size_t OpenDeviceHandleCount() const;  // files opened on device paths
    std::size_t NodeCount() const;              // registered nodes, the root included
    std::u16string InstanceId(DEVINST node) const;
    std::u16string DriverKey(DEVINST node) const;  // empty when none
    DEVINST Parent(DEVINST node) const;            // 0 for the root
    std::vector<DEVINST> Children(DEVINST node) const;
    bool IsPresent(DEVINST node) const;
    // "\\?\..." path of the node's interface of that class; empty when none.
    std::u16string InterfacePath(DEVINST node, const GUID& interfaceClass) const;
    // The node that carries the printing interface of a device, or 0.
    DEVINST PrintingFunction(DEVINST device) const;

    // For the platform's own calls.
    detail::DeviceState& State() { return *state_; }

private:
    std::unique_ptr<detail::DeviceState> state_;
};

}  // namespace Platform
