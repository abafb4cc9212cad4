// The channel to a printer in configuration mode: one request document at a
// time behind a request header, answered by a status block and a response
// document. ConfigAPI is what every caller holds; the USB implementation
// supplies the device and the framing.
#pragma once

#include <boost/noncopyable.hpp>

#include <cstdint>
#include <string>

#include "Tessary/NoCopy.h"
#include "Tessary/TSException.h"

// A transfer failed, or the status data of a request was malformed. The code
// is the system's last-error value of a failed transfer.
class ConfigModeIOException : public Tessary::TSRuntimeError {
public:
    ConfigModeIOException(const std::string& message, const std::string& file, int line, std::int32_t errorCode)
        : Tessary::TSRuntimeError(message, file, line), errorCode(errorCode) {}
    std::int32_t GetErrorCode() const noexcept { return errorCode; }

private:
    std::int32_t errorCode;
};

// The printer answered a request with a status other than 1 (handled).
class RequestFailureException : public Tessary::TSRuntimeError {
public:
    RequestFailureException(const std::string& message, const std::string& file, int line, std::int32_t status)
        : Tessary::TSRuntimeError(message, file, line), status(status) {}
    // The status byte, 0-255.
    std::int32_t GetStatus() const noexcept { return status; }

private:
    std::int32_t status;
};

class ConfigAPI : private Tessary::NoCopy, private boost::noncopyable {
public:
    ConfigAPI() = default;
    virtual ~ConfigAPI();

    // Sends one request document, confirming configuration mode first when
    // it is not confirmed yet.
    virtual void SendRequest(const char* data, int length);
    // Reads one response document: exactly its body bytes. Confirms
    // configuration mode first when it is not confirmed yet.
    virtual void ReadResponse(std::string& response);
    // Waits for the printer to confirm entry into (or exit from)
    // configuration mode: a status block polled every 100 ms, given up when
    // more than 5 whole seconds have passed.
    virtual void SetConfigMode(bool on);

    // Open the printer's channel and send the block that enters configuration
    // mode. The mode is confirmed later (SetConfigMode, or the first request).
    virtual void OpenByDriverKeyName(const std::string& driverKeyName, int outPacketSize, int inPacketSize) = 0;
    virtual void OpenBySerialNumber(int vendorId, int productId, const std::string& serialNumber) = 0;
    // Not offered: throws TSUnimplementedError.
    virtual void Reopen();
    // Leaves configuration mode (when in it) and releases the device.
    virtual void Close(bool leaveConfigMode) = 0;
    // Request header, then body.
    virtual void WriteRequestData(const void* data, int length) = 0;
    // Status block, then body.
    virtual void ReadResponseData(std::string& out) = 0;
    virtual bool IsConnected() const = 0;
    // Reads up to `length` bytes; `length` becomes the count read (0 when the
    // device delivers nothing).
    virtual void ReadRaw(void* buffer, unsigned& length) = 0;
    // The 16-bit length field of a status block in host order.
    virtual short DeviceToHostShort(short value) = 0;

    // TSLogicError "Not currently connected to a device" unless connected.
    void CheckConnected() const;

    // True once configuration mode has been confirmed. Open to the channel's
    // users: a caller that reopens a channel clears it first.
    bool inConfigMode = false;
};
