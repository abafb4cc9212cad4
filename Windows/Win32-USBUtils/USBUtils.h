// Finding the maker's printers on the USB tree: a walk over every host
// controller, root hub and hub that offers each connected device to a
// predicate and records the matches in a result collector, and the lookups
// that turn a match into a device path or an open handle.
//
// A walk runs on the caller's thread, keeps no state between calls, and
// releases every handle and list it opened before it returns or throws.
#pragma once

#include "Platform/Files.h"
#include "Platform/SetupApi.h"
#include "Platform/Usb.h"
#include "Tessary/TSException.h"

#include <cstdint>
#include <string>
#include <vector>

// ---- Predicates: is the device on this port wanted? ----

class HubDevicePredicate {
public:
    virtual ~HubDevicePredicate();
    virtual bool Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) = 0;
};

// Every connected device that is not a hub.
class DeviceOnHubMatched : public HubDevicePredicate {
public:
    bool Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override;
};

class DeviceOnHubMatchedVidPid : public DeviceOnHubMatched {
public:
    DeviceOnHubMatchedVidPid(std::uint32_t vendorId, std::uint32_t productId);
    bool Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override;

protected:
    std::uint32_t vendorId_;
    std::uint32_t productId_;
};

// Vendor and product id, and the serial-number string equal byte for byte
// (UTF-8). A device without a serial-number string never matches.
class DeviceOnHubMatchedVidPidSerialNum : public DeviceOnHubMatchedVidPid {
public:
    DeviceOnHubMatchedVidPidSerialNum(std::uint32_t vendorId, std::uint32_t productId, std::string serialNumber);
    bool Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override;

protected:
    std::string serialNumber_;
};

// The port's driver key name equals the given one. A device without a
// driver key never matches.
class DeviceOnHubMatchedDriverKeyName : public DeviceOnHubMatched {
public:
    explicit DeviceOnHubMatchedDriverKeyName(std::string driverKeyName);
    bool Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override;

protected:
    std::string driverKeyName_;
};

// ---- Result records: what is kept of a matching device ----

class DriverKeyNameResult {
public:
    DriverKeyNameResult() = default;
    DriverKeyNameResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info);
    DriverKeyNameResult(const DriverKeyNameResult&) = default;
    DriverKeyNameResult& operator=(const DriverKeyNameResult&) = default;
    virtual ~DriverKeyNameResult();

    std::string driverKeyName;  // empty when the device has no driver
};

class PrinterMaxPacketSizeResult {
public:
    PrinterMaxPacketSizeResult() = default;
    PrinterMaxPacketSizeResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info);
    PrinterMaxPacketSizeResult(const PrinterMaxPacketSizeResult&) = default;
    PrinterMaxPacketSizeResult& operator=(const PrinterMaxPacketSizeResult&) = default;
    virtual ~PrinterMaxPacketSizeResult();

    std::uint32_t maxOutPacketSize = 0;  // bulk OUT endpoint of the printer interface; 0 when none
    std::uint32_t maxInPacketSize = 0;   // bulk IN endpoint; 0 when none
};

class DeviceInfoResult {
public:
    DeviceInfoResult() = default;
    DeviceInfoResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info);
    DeviceInfoResult(const DeviceInfoResult&) = default;
    DeviceInfoResult& operator=(const DeviceInfoResult&) = default;
    virtual ~DeviceInfoResult();

    std::uint32_t vendorId = 0;
    std::uint32_t productId = 0;
    std::string product;       // empty when the device names none
    std::string serialNumber;  // empty when the device has none
};

class PrinterConnectionInfoResult : public DriverKeyNameResult, public PrinterMaxPacketSizeResult {
public:
    PrinterConnectionInfoResult() = default;
    PrinterConnectionInfoResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info);
    PrinterConnectionInfoResult(const PrinterConnectionInfoResult&) = default;
    PrinterConnectionInfoResult& operator=(const PrinterConnectionInfoResult&) = default;
    ~PrinterConnectionInfoResult() override;
};

// How the rest of the system knows one USB printer.
class PrinterInfoResult : public PrinterConnectionInfoResult, public DeviceInfoResult {
public:
    PrinterInfoResult() = default;
    PrinterInfoResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info);
    PrinterInfoResult(const PrinterInfoResult&) = default;
    PrinterInfoResult& operator=(const PrinterInfoResult&) = default;
    ~PrinterInfoResult() override;
};

// ---- Collectors ----

class HubEnumResult {
public:
    virtual ~HubEnumResult();
    virtual void AddResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) = 0;
    virtual bool IsComplete() const = 0;
};

// Keeps the first match; complete once it has one.
template <class T>
class HubEnumSingleResult : public HubEnumResult {
public:
    void AddResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override {
        if (found_) TS_THROW(Tessary::TSLogicError, "Adding more than one result to a single enum result");
        result_ = T(hub, port, info);
        found_ = true;
    }
    bool IsComplete() const override { return found_; }
    // The match, or a default record when there was none.
    T GetResult() const { return result_; }

private:
    T result_{};
    bool found_ = false;
};

// Offers each device to the predicate and hands matches to the collector;
// borrows both.
class HubEnumDirector {
public:
    HubEnumDirector(HubDevicePredicate* predicate, HubEnumResult* result) : predicate_(predicate), result_(result) {}
    virtual ~HubEnumDirector();
    virtual bool IsComplete() const;
    virtual void ProcessDevice(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info);

private:
    HubDevicePredicate* predicate_;
    HubEnumResult* result_;
};

// ---- The walk: depth first, ports in order ----

void EnumerateHubs(HubEnumDirector& director);
void EnumerateRootHub(const std::u16string& hostControllerPath, HubEnumDirector& director);
void EnumerateHub(const std::u16string& hubName, HubEnumDirector& director);

// ---- Descriptors and names of the device on a hub port ----

// bLength of the descriptor (0 when the device returned no byte).
std::uint16_t GetDescriptorLength(HANDLE hub, ULONG port, BYTE type, BYTE index);
// The descriptor bytes the device returned, at most length of them.
std::vector<BYTE> GetDescriptor(HANDLE hub, ULONG port, BYTE type, BYTE index, std::uint16_t length);
// UTF-8 text of a string descriptor.
std::string GetStringDescriptor(HANDLE hub, ULONG port, BYTE index);
// The whole configuration set at that descriptor index.
std::vector<BYTE> GetConfigurationDescriptor(HANDLE hub, ULONG port, BYTE index);
// Packet sizes of the printer interface in the active configuration; both 0
// when there is none.
void GetPrinterMaxPacketSizes(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info,
                              std::uint32_t& outPacketSize, std::uint32_t& inPacketSize);
// The driver key name of the device on the port; empty when no driver was
// installed for it.
std::string GetDriverKeyName(HANDLE hub, ULONG port);
// The driver key of a device in a device-information list (UTF-8); false
// when no driver was installed for it, TSRuntimeError when it cannot be read.
bool ReadDriverKey(HDEVINFO list, SP_DEVINFO_DATA& device, std::string& key);

// ---- Lookups and opens. Paths are UTF-8; an empty result means no match ----

std::string FindDevicePathByDriverKeyName(const std::string& driverKeyName);
std::string FindDevicePathByVidPid(std::uint32_t vendorId, std::uint32_t productId, const std::string& serialNumber);
// The printing interface whose device's parent has that driver key.
std::string FindChildDevicePathByDriverKeyName(const std::string& driverKeyName);

// Each returns an open read-write handle the caller closes, or
// INVALID_HANDLE_VALUE when nothing matched or the open failed.
HANDLE OpenUSBDeviceByDriverKeyName(const std::string& driverKeyName);
HANDLE OpenUSBDeviceByVidPid(std::uint32_t vendorId, std::uint32_t productId, const std::string& serialNumber);
HANDLE OpenUSBChildDeviceByDriverKeyName(const std::string& driverKeyName);
// The first printer of that vendor and product id (and serial number, when
// not empty); its packet sizes are written even when the open fails, and
// are 0 when nothing matched.
HANDLE OpenUSBPrinter(std::uint32_t vendorId, std::uint32_t productId, const std::string& serialNumber,
                      std::uint32_t& outPacketSize, std::uint32_t& inPacketSize);
