// The configuration channel over a printer's USB printing interface: the
// command blocks, the request header and the status block of every
// exchange, over one owned PrinterDevice.
#pragma once

#include <memory>
#include <string>

#include "Common/NetConfig/API/ConfigAPI.h"
#include "Common/NetConfig/API/PrinterDevice.h"

class Win32ConfigAPI : public ConfigAPI {
public:
    static constexpr unsigned kBlockSize = 12;

    Win32ConfigAPI();
    // Releases the device without sending any block.
    ~Win32ConfigAPI() override;

    // Both open operations replace any held device (without leaving
    // configuration mode on it), clear inConfigMode, drop the answers an
    // earlier channel left unread and send the block that enters
    // configuration mode; the mode is confirmed later.
    void OpenByDriverKeyName(const std::string& driverKeyName, int outPacketSize, int inPacketSize) override;
    void OpenBySerialNumber(int vendorId, int productId, const std::string& serialNumber) override;
    // When in configuration mode, sends the block that leaves it and, when
    // leaveConfigMode is set, waits for the printer to confirm. The device
    // is released on every way out, failures included; a failure is then
    // rethrown.
    void Close(bool leaveConfigMode) override;
    void WriteRequestData(const void* data, int length) override;
    void ReadResponseData(std::string& out) override;
    bool IsConnected() const override;
    void ReadRaw(void* buffer, unsigned& length) override;
    short DeviceToHostShort(short value) override;

    void SendCommandBlock(const unsigned char block[kBlockSize]);
    // Transfer failures become ConfigModeIOException carrying the last error.
    void WriteData(const void* data, unsigned length);

private:
    void Replace(std::unique_ptr<PrinterDevice> opened);
    void DropUnreadAnswers();

    std::unique_ptr<PrinterDevice> device;
};
