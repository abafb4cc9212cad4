// USB on the simulated machine: the hub driver's control codes and their
// records, the device interface classes, and the device-model interface
// that simulated USB devices implement.
#pragma once

#include "Platform/Clock.h"
#include "Platform/Guid.h"
#include "Platform/Win32.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;

// Device interface classes.
inline constexpr GUID GUID_DEVINTERFACE_USB_HOST_CONTROLLER = {
    0x3abf6f2d, 0x71c4, 0x462a, {0x8a, 0x92, 0x1e, 0x68, 0x61, 0xe6, 0xaf, 0x27}};
inline constexpr GUID GUID_DEVINTERFACE_USB_HUB = {
    0xf18a0e88, 0xc30c, 0x11d0, {0x88, 0x15, 0x00, 0xa0, 0xc9, 0x06, 0xbe, 0xd8}};
inline constexpr GUID GUID_DEVINTERFACE_USB_DEVICE = {
    0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};
inline constexpr GUID GUID_DEVINTERFACE_USBPRINT = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
// Device setup classes.
inline constexpr GUID GUID_DEVCLASS_USB = {
    0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_DEVCLASS_PRINTER = {
    0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
inline constexpr GUID GUID_DEVCLASS_SYSTEM = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Hub driver control codes (METHOD_BUFFERED on the USB device type). The
// first code means "root hub name" on a host controller and "node
// information" on a hub.
constexpr DWORD IOCTL_USB_GET_ROOT_HUB_NAME = 0x220408;
constexpr DWORD IOCTL_USB_GET_NODE_INFORMATION = 0x220408;
constexpr DWORD IOCTL_USB_GET_NODE_CONNECTION_INFORMATION = 0x22040C;
constexpr DWORD IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION = 0x220410;
constexpr DWORD IOCTL_USB_GET_NODE_CONNECTION_NAME = 0x220414;
constexpr DWORD IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME = 0x220420;
// Printing class driver: the IEEE 1284 device id.
constexpr DWORD IOCTL_USBPRINT_GET_1284_ID = 0x16000C;

constexpr BYTE USB_DEVICE_DESCRIPTOR_TYPE = 1;
constexpr BYTE USB_CONFIGURATION_DESCRIPTOR_TYPE = 2;
constexpr BYTE USB_STRING_DESCRIPTOR_TYPE = 3;
constexpr BYTE USB_INTERFACE_DESCRIPTOR_TYPE = 4;
constexpr BYTE USB_ENDPOINT_DESCRIPTOR_TYPE = 5;
constexpr BYTE USB_HUB_DESCRIPTOR_TYPE = 0x29;
constexpr BYTE USB_DEVICE_CLASS_PRINTER = 7;
constexpr BYTE USB_DEVICE_CLASS_HUB = 9;
constexpr BYTE USB_REQUEST_GET_DESCRIPTOR = 6;

enum USB_CONNECTION_STATUS : std::int32_t {
    NoDeviceConnected = 0,
    DeviceConnected = 1,
    DeviceFailedEnumeration = 2,
    DeviceGeneralFailure = 3,
    DeviceCausedOvercurrent = 4,
    DeviceNotEnoughPower = 5,
};

enum USB_HUB_NODE : std::int32_t {
    UsbHub = 0,
    UsbMIParent = 1,
};

// The records the hub driver reads and writes, packed as the driver lays
// them out.
#pragma pack(push, 1)

struct USB_DEVICE_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdUSB;
    UCHAR bDeviceClass;
    UCHAR bDeviceSubClass;
    UCHAR bDeviceProtocol;
    UCHAR bMaxPacketSize0;
    USHORT idVendor;
    USHORT idProduct;
    USHORT bcdDevice;
    UCHAR iManufacturer;
    UCHAR iProduct;
    UCHAR iSerialNumber;
    UCHAR bNumConfigurations;
};

// Read with no pipe entries after it.
struct USB_NODE_CONNECTION_INFORMATION {
    ULONG ConnectionIndex;
    USB_DEVICE_DESCRIPTOR DeviceDescriptor;
    UCHAR CurrentConfigurationValue;
    BOOLEAN LowSpeed;
    BOOLEAN DeviceIsHub;
    USHORT DeviceAddress;
    ULONG NumberOfOpenPipes;
    USB_CONNECTION_STATUS ConnectionStatus;
};

struct USB_HUB_DESCRIPTOR {
    UCHAR bDescriptorLength;
    UCHAR bDescriptorType;
    UCHAR bNumberOfPorts;
    USHORT wHubCharacteristics;
    UCHAR bPowerOnToPowerGood;
    UCHAR bHubControlCurrent;
    UCHAR bRemoveAndPowerMask[64];
};

struct USB_HUB_INFORMATION {
    USB_HUB_DESCRIPTOR HubDescriptor;
    BOOLEAN HubIsBusPowered;
};

struct USB_MI_PARENT_INFORMATION {
    ULONG NumberOfInterfaces;
};

struct USB_NODE_INFORMATION {
    USB_HUB_NODE NodeType;
    union {
        USB_HUB_INFORMATION HubInformation;
        USB_MI_PARENT_INFORMATION MiParentInformation;
    } u;
};

struct USB_SETUP_PACKET {
    UCHAR bmRequest;
    UCHAR bRequest;
    USHORT wValue;
    USHORT wIndex;
    USHORT wLength;
};

// Followed directly by the descriptor data.
struct USB_DESCRIPTOR_REQUEST {
    ULONG ConnectionIndex;
    USB_SETUP_PACKET SetupPacket;
};

// The name arrays are variable: the caller allocates ActualLength bytes.
struct USB_ROOT_HUB_NAME {
    ULONG ActualLength;
    WCHAR RootHubName[1];
};

struct USB_NODE_CONNECTION_NAME {
    ULONG ConnectionIndex;
    ULONG ActualLength;
    WCHAR NodeName[1];
};

struct USB_NODE_CONNECTION_DRIVERKEY_NAME {
    ULONG ConnectionIndex;
    ULONG ActualLength;
    WCHAR DriverKeyName[1];
};

#pragma pack(pop)

static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION) == 35);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, CurrentConfigurationValue) == 22);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceAddress) == 25);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionStatus) == 31);
static_assert(sizeof(USB_HUB_DESCRIPTOR) == 71);
static_assert(sizeof(USB_NODE_INFORMATION) == 76);
static_assert(sizeof(USB_DESCRIPTOR_REQUEST) == 12);
static_assert(sizeof(USB_ROOT_HUB_NAME) == 6);
static_assert(sizeof(USB_NODE_CONNECTION_NAME) == 10);
static_assert(sizeof(USB_NODE_CONNECTION_DRIVERKEY_NAME) == 10);

namespace Platform {

// Raw descriptors as a device answers GET_DESCRIPTOR. They are kept as
// bytes, not records, so a simulated device can be as malformed as a real
// one can.
struct UsbDescriptorSet {
    std::vector<BYTE> device;                       // normally 18 bytes
    std::vector<std::vector<BYTE>> configurations;  // whole sets, by descriptor index
    std::map<BYTE, std::vector<BYTE>> strings;      // by string index; 0 holds the language ids
    BYTE currentConfiguration = 1;                  // bConfigurationValue the host selected
};

// A device attached to a hub port. The data-channel operations serve the
// device's printing function; each returns a Win32 error code (0 for
// success). They are called without any machine lock held and may block.
class UsbDeviceModel {
public:
    explicit UsbDeviceModel(UsbDescriptorSet descriptors);
    virtual ~UsbDeviceModel();
    UsbDeviceModel(const UsbDeviceModel&) = delete;
    UsbDeviceModel& operator=(const UsbDeviceModel&) = delete;

    const UsbDescriptorSet& Descriptors() const { return descriptors_; }

    virtual DWORD Write(const BYTE* data, DWORD length, DWORD& written);
    // Returns within a bounded time; 0 bytes when the device had nothing.
    virtual DWORD Read(BYTE* buffer, DWORD length, DWORD& read);
    virtual DWORD Control(DWORD code, const BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD& returned);

    // Called by the machine when the device is plugged into or pulled from a port.
    virtual void OnAttached() {}
    virtual void OnDetached() {}

private:
    const UsbDescriptorSet descriptors_;
};

// What makes a standard USB printer's descriptors.
struct UsbPrinterIdentity {
    WORD vendorId = 0;
    WORD productId = 0;
    WORD bcdDevice = 0x0100;
    std::u16string manufacturer;  // an empty text gets no string descriptor (index 0)
    std::u16string product;
    std::u16string serialNumber;
    WORD outPacketSize = 512;  // 0: no bulk OUT endpoint
    WORD inPacketSize = 512;   // 0: no bulk IN endpoint
    // A second, vendor-specific interface after the printer interface makes
    // the device composite, so its printing function becomes a child node.
    bool composite = true;
};

std::vector<BYTE> MakeStringDescriptor(const std::u16string& text);
// Device descriptor, one configuration (printer interface 0, bulk OUT 0x01,
// bulk IN 0x82), strings 1 manufacturer, 2 product, 3 serial number.
UsbDescriptorSet MakeUsbPrinterDescriptors(const UsbPrinterIdentity& identity);

// A USB printer's data channel: what the host writes goes to OnHostWrite;
// what the device queues with Deliver the host reads, one queued transfer
// at most per read (a read ends at a transfer's end, as a short packet
// ends a bulk read). A read waits for data at most the read time-out on the
// machine's clock. Simulated printers derive from it.
class UsbPrinterModel : public UsbDeviceModel {
public:
    explicit UsbPrinterModel(const UsbPrinterIdentity& identity);
    explicit UsbPrinterModel(UsbDescriptorSet descriptors);

    // Device side.
    void Deliver(std::vector<BYTE> transfer);
    std::size_t PendingTransfers() const;
    void SetReadTimeout(Milliseconds timeout);
    // Raw answer to IOCTL_USBPRINT_GET_1284_ID; empty: the control fails.
    void SetDeviceId(std::string raw);
    // What the host wrote, when OnHostWrite is not overridden.
    std::vector<BYTE> TakeReceived();
    bool IsAttached() const;

    DWORD Write(const BYTE* data, DWORD length, DWORD& written) override;
    DWORD Read(BYTE* buffer, DWORD length, DWORD& read) override;
    DWORD Control(DWORD code, const BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD& returned) override;
    void OnAttached() override;
    void OnDetached() override;

protected:
    // Called on the writer's thread, without the model's lock held, so it
    // may call Deliver.
    virtual void OnHostWrite(const BYTE* data, DWORD length);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<BYTE>> toHost_;
    std::vector<BYTE> received_;
    std::string deviceId_;
    Milliseconds readTimeout_{1000};
    bool attached_ = false;
};

}  // namespace Platform
