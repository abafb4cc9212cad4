// Thin wrappers over a SetupAPI device-information record, and the
// exceptions they throw (a family apart from the foundation's).
#pragma once

#include "Platform/SetupApi.h"
#include "Tessary/i8n/I8NString.h"

#include <cstdint>
#include <exception>
#include <string>

namespace USB {

class Exception : public std::exception {
public:
    Exception(std::uint32_t code, std::string message) : code_(code), message_(std::move(message)) {}
    ~Exception() override;
    const char* what() const noexcept override { return message_.c_str(); }
    std::uint32_t Code() const noexcept { return code_; }

private:
    std::uint32_t code_;
    std::string message_;
};

// Carries a Win32 error code.
class WindowsException : public Exception {
public:
    using Exception::Exception;
};

// Carries a configuration-manager CONFIGRET.
class CR_Exception : public Exception {
public:
    using Exception::Exception;
};

class USBDeviceBase {
public:
    USBDeviceBase() : classGuid_{}, flags_(0) {}
    // Throws WindowsException 87 for an all-zero class or no flags.
    USBDeviceBase(const GUID& classGuid, DWORD flags);
    USBDeviceBase(const USBDeviceBase&) = default;
    USBDeviceBase& operator=(const USBDeviceBase&) = default;
    virtual ~USBDeviceBase();

    const GUID& ClassGuid() const noexcept { return classGuid_; }
    DWORD Flags() const noexcept { return flags_; }

private:
    GUID classGuid_;
    DWORD flags_;
};

class USBDevice : public USBDeviceBase {
public:
    USBDevice() : data_{} {}
    explicit USBDevice(const SP_DEVINFO_DATA& data);
    USBDevice(const USBDevice&) = default;
    USBDevice& operator=(const USBDevice&) = default;
    ~USBDevice() override;

    const SP_DEVINFO_DATA& DeviceInfoData() const noexcept { return data_; }

    // The instance id of the device node the record names (its own, not its
    // parent's). Throws CR_Exception "Unable to get device parent.".
    Tessary::I8NString GetParentDeviceId() const;

private:
    SP_DEVINFO_DATA data_;
};

}  // namespace USB
