// The open USB printing interface of one printer: whole-buffer writes, and
// reads through a one-packet read-ahead buffer so that a small read (a
// 12-byte status block) keeps the rest of the packet for the next call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Win32.h"

class PrinterDevice {
public:
    // Opens the printer with that vendor id, product id and serial number
    // (any serial when it is empty). Throws TSRuntimeError when none opens.
    PrinterDevice(int vendorId, int productId, const std::string& serialNumber);
    // Opens the printer a hub walk found, with the packet sizes it read.
    PrinterDevice(const std::string& driverKeyName, int outPacketSize, int inPacketSize);
    virtual ~PrinterDevice();

    PrinterDevice(const PrinterDevice&) = delete;
    PrinterDevice& operator=(const PrinterDevice&) = delete;

    // Writes all bytes in one system call or throws.
    void Write(const void* data, unsigned length);
    // On entry `length` is the count wanted, on return the count delivered
    // (0 up to the count wanted). At most one system read per call.
    void Read(void* buffer, unsigned& length);

    // The printer's IEEE 1284 device id, without the class driver's
    // big-endian length prefix. Throws TSRuntimeError when it cannot be read.
    void GetDeviceID(std::string& out);

    // As the hub walk reported them; the IN size is at least 1 (64 when the
    // walk gave none).
    std::uint32_t OutPacketSize() const { return outPacketSize; }
    std::int32_t InPacketSize() const { return inPacketSize; }

private:
    void AllocateReadBuffer();
    unsigned Drain(BYTE* out, unsigned wanted);

    HANDLE handle;
    std::uint32_t outPacketSize;
    std::int32_t inPacketSize;
    std::unique_ptr<BYTE[]> readBuffer;
    std::uint32_t bufferedCount;
    std::uint32_t bufferPosition;
};
