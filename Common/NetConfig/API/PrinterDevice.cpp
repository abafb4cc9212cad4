#include "Common/NetConfig/API/PrinterDevice.h"

#include <algorithm>
#include <cstring>

#include "Platform/Files.h"
#include "Platform/Usb.h"
#include "Tessary/TSException.h"
#include "Windows/Win32-USBUtils/USBHandles.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

namespace {

constexpr std::int32_t kDefaultPacketSize = 64;
constexpr DWORD kDeviceIdBufferSize = 1024;

bool IsOpen(HANDLE h) {
    return h != INVALID_HANDLE_VALUE && h != nullptr;
}

// ERROR_MORE_DATA still delivers the bytes it counted.
bool ReadSucceeded(BOOL result) {
    return result || GetLastError() == ERROR_MORE_DATA;
}

}  // namespace

PrinterDevice::PrinterDevice(int vendorId, int productId, const std::string& serialNumber)
    : handle(INVALID_HANDLE_VALUE), outPacketSize(0), inPacketSize(0), bufferedCount(0), bufferPosition(0) {
    const auto vid = static_cast<std::uint32_t>(vendorId);
    const auto pid = static_cast<std::uint32_t>(productId);
    // The serial goes to the hub walk too: with several printers of one
    // model attached, the first one found need not be the one asked for.
    std::uint32_t outSize = 0;
    std::uint32_t inSize = 0;
    HANDLE h = OpenUSBPrinter(vid, pid, serialNumber, outSize, inSize);
    outPacketSize = outSize;
    inPacketSize = static_cast<std::int32_t>(std::min<std::uint32_t>(inSize, INT32_MAX));
    if (!IsOpen(h)) h = OpenUSBDeviceByVidPid(vid, pid, serialNumber);
    if (!IsOpen(h)) TS_THROW(Tessary::TSRuntimeError, "Printer (serial #" + serialNumber + ") unavailable");
    USB::ScopedHandle opened(h);
    AllocateReadBuffer();
    handle = opened.Release();
}

PrinterDevice::PrinterDevice(const std::string& driverKeyName, int outPacketSize, int inPacketSize)
    : handle(INVALID_HANDLE_VALUE),
      outPacketSize(static_cast<std::uint32_t>(outPacketSize)),
      inPacketSize(inPacketSize),
      bufferedCount(0),
      bufferPosition(0) {
    HANDLE h = OpenUSBChildDeviceByDriverKeyName(driverKeyName);
    if (!IsOpen(h)) h = OpenUSBDeviceByDriverKeyName(driverKeyName);
    if (!IsOpen(h)) TS_THROW(Tessary::TSRuntimeError, "Printer " + driverKeyName + " is unavailable");
    USB::ScopedHandle opened(h);
    AllocateReadBuffer();
    handle = opened.Release();
}

PrinterDevice::~PrinterDevice() {
    if (IsOpen(handle)) CloseHandle(handle);
}

void PrinterDevice::AllocateReadBuffer() {
    if (inPacketSize < 1) inPacketSize = kDefaultPacketSize;
    readBuffer = std::make_unique<BYTE[]>(static_cast<std::size_t>(inPacketSize));
}

void PrinterDevice::Write(const void* data, unsigned length) {
    DWORD written = 0;
    if (!WriteFile(handle, data, length, &written, nullptr)) TS_THROW(Tessary::TSRuntimeError, "WriteFile failed");
    if (written < length) TS_THROW(Tessary::TSRuntimeError, "All data was not written");
}

unsigned PrinterDevice::Drain(BYTE* out, unsigned wanted) {
    const unsigned n = std::min(bufferedCount - bufferPosition, wanted);
    if (n > 0) std::memcpy(out, readBuffer.get() + bufferPosition, n);
    bufferPosition += n;
    if (bufferPosition == bufferedCount) bufferPosition = bufferedCount = 0;
    return n;
}

void PrinterDevice::Read(void* buffer, unsigned& length) {
    const unsigned wanted = length;
    auto* out = static_cast<BYTE*>(buffer);
    unsigned n = Drain(out, wanted);
    if (n == wanted) {
        length = n;
        return;
    }
    const unsigned rest = wanted - n;
    const auto packet = static_cast<unsigned>(inPacketSize);
    DWORD got = 0;
    if (rest < packet) {
        const BOOL ok = ReadFile(handle, readBuffer.get(), packet, &got, nullptr);
        if (!ReadSucceeded(ok)) TS_THROW(Tessary::TSRuntimeError, "ReadFile (buffered) failed");
        // A count beyond what was asked is not trusted.
        bufferedCount = std::min<DWORD>(got, packet);
        bufferPosition = 0;
        n += Drain(out + n, rest);
    } else {
        const BOOL ok = ReadFile(handle, out + n, rest, &got, nullptr);
        if (!ReadSucceeded(ok)) TS_THROW(Tessary::TSRuntimeError, "ReadFile failed");
        n += std::min<DWORD>(got, rest);
    }
    length = n;
}

void PrinterDevice::GetDeviceID(std::string& out) {
    if (!IsOpen(handle)) TS_THROW(Tessary::TSRuntimeError, "Printer handle is NULL in PrinterDevice::GetDeviceID");
    BYTE in[kDeviceIdBufferSize] = {};
    BYTE id[kDeviceIdBufferSize] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_USBPRINT_GET_1284_ID, in, sizeof in, id, sizeof id, &returned, nullptr) ||
        returned == 0)
        TS_THROW(Tessary::TSRuntimeError, "DeviceIoControl failed in PrinterDevice::GetDeviceID");
    const DWORD count = std::min(returned, kDeviceIdBufferSize);
    // The printing class hands the id on as the printer sent it, after two
    // bytes of big-endian length. A length that fits the count is taken for
    // that prefix; otherwise the answer is read as bare text.
    DWORD start = 0;
    if (count >= 2 && ((static_cast<DWORD>(id[0]) << 8) | id[1]) <= count) start = 2;
    const BYTE* text = id + start;
    const BYTE* end = std::find(text, static_cast<const BYTE*>(id) + count, BYTE{0});
    out.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(end - text));
}
