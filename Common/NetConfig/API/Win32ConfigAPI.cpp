#include "Common/NetConfig/API/Win32ConfigAPI.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Platform/Win32.h"

namespace {

constexpr unsigned char kPrefix = 0x37;
constexpr unsigned char kHandled = 1;
constexpr unsigned kPrefixSize = 4;

constexpr unsigned char kEnterBlock[Win32ConfigAPI::kBlockSize] = {kPrefix, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr unsigned char kLeaveBlock[Win32ConfigAPI::kBlockSize] = {kPrefix, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr unsigned char kRequestCommand = 0x01;

// Malformed status data is not a transfer failure: it carries this code
// instead of a last-error value.
constexpr std::int32_t kBadStatusCode = static_cast<std::int32_t>(ERROR_INVALID_DATA);

}  // namespace

Win32ConfigAPI::Win32ConfigAPI() = default;

Win32ConfigAPI::~Win32ConfigAPI() = default;

void Win32ConfigAPI::Replace(std::unique_ptr<PrinterDevice> opened) {
    device = std::move(opened);
    // A fresh device has not confirmed anything yet; a stale flag would make
    // the first response read swallow the confirmation block instead.
    inConfigMode = false;
    DropUnreadAnswers();
    SendCommandBlock(kEnterBlock);
}

// The printer keeps what the host did not read across a close and reopen:
// the confirmation of a leave that Close(false) did not wait for, or an
// answer a failed caller never read. Left there, the new channel would take
// it for its own confirmation and read every answer one behind. Only
// configuration status blocks (with their bodies) are dropped, and only what
// is already there: an empty read or anything else ends it (outside
// configuration mode a printer answers an idle read with its print status).
void Win32ConfigAPI::DropUnreadAnswers() {
    constexpr int kMaxBlocks = 64;
    try {
        for (int blocks = 0; blocks < kMaxBlocks; ++blocks) {
            unsigned char status[kBlockSize] = {};
            unsigned length = kBlockSize;
            ReadRaw(status, length);
            length = std::min(length, kBlockSize);
            if (length < kPrefixSize || status[0] != kPrefix) return;
            const short field =
                DeviceToHostShort(static_cast<short>(static_cast<std::uint16_t>(status[2] | (status[3] << 8))));
            const std::size_t announced = field < 0 ? 0 : static_cast<std::size_t>(field);
            std::size_t left = announced - std::min<std::size_t>(announced, length - kPrefixSize);
            std::vector<char> scratch(left);
            while (left > 0) {
                unsigned chunk = static_cast<unsigned>(left);
                ReadRaw(scratch.data(), chunk);
                if (chunk == 0) return;
                left -= std::min<std::size_t>(chunk, left);
            }
        }
    } catch (const ConfigModeIOException&) {
        // Nothing more to read; a device that really failed fails the enter block.
    }
}

void Win32ConfigAPI::OpenByDriverKeyName(const std::string& driverKeyName, int outPacketSize, int inPacketSize) {
    Replace(std::make_unique<PrinterDevice>(driverKeyName, outPacketSize, inPacketSize));
}

void Win32ConfigAPI::OpenBySerialNumber(int vendorId, int productId, const std::string& serialNumber) {
    Replace(std::make_unique<PrinterDevice>(vendorId, productId, serialNumber));
}

void Win32ConfigAPI::Close(bool leaveConfigMode) {
    if (!IsConnected()) return;
    // Callers decide whether to reopen by IsConnected(), so a failed leave
    // must not keep a dead or confused device held.
    struct Release {
        std::unique_ptr<PrinterDevice>& device;
        ~Release() { device.reset(); }
    } release{device};
    if (inConfigMode) {
        SendCommandBlock(kLeaveBlock);
        if (leaveConfigMode) SetConfigMode(false);
    }
}

void Win32ConfigAPI::WriteRequestData(const void* data, int length) {
    if (length < 0) TS_THROW(Tessary::TSInvalidArgument, "Negative request length");
    const auto size = static_cast<std::uint32_t>(length);
    // Prefix and command, the body length least significant byte first, 4 zeros.
    unsigned char header[kBlockSize] = {kPrefix, kRequestCommand};
    for (unsigned i = 0; i < 4; ++i) header[4 + i] = static_cast<unsigned char>(size >> (8 * i));
    SendCommandBlock(header);
    WriteData(data, size);
}

void Win32ConfigAPI::ReadResponseData(std::string& out) {
    unsigned char status[kBlockSize] = {};
    unsigned length = kBlockSize;
    ReadRaw(status, length);
    length = std::min(length, kBlockSize);
    if (length < kPrefixSize)
        TS_THROW_CODE(ConfigModeIOException, "Didn't get minimum amount of status data", kBadStatusCode);
    if (status[0] != kPrefix) {
        TS_THROW_CODE(ConfigModeIOException, "Status data prefix is incorrect: we aren't getting config mode status",
                      kBadStatusCode);
    }
    if (status[1] != kHandled) {
        TS_THROW_CODE(RequestFailureException, "Status indicates request could not be handled", status[1]);
    }

    const short field = DeviceToHostShort(static_cast<short>(static_cast<std::uint16_t>(status[2] | (status[3] << 8))));
    const std::size_t expected = field < 0 ? 0 : static_cast<std::size_t>(field);
    // Sized exactly, so a sanitizer sees any write past the announced length.
    std::vector<char> body(expected);

    // The status read may already hold the start of the body, or more than
    // was announced: copy no further than the body.
    std::size_t received = length - kPrefixSize;
    if (const std::size_t first = std::min(received, expected); first > 0)
        std::memcpy(body.data(), status + kPrefixSize, first);

    bool hadEmptyRead = false;
    while (received < expected) {
        unsigned chunk = static_cast<unsigned>(expected - received);
        const unsigned asked = chunk;
        ReadRaw(body.data() + received, chunk);
        if (chunk == 0) {
            // One empty read per response is tolerated, not one per stretch.
            if (hadEmptyRead) TS_THROW_CODE(ConfigModeIOException, "Failed to read any bytes", kBadStatusCode);
            hadEmptyRead = true;
            continue;
        }
        received += std::min(chunk, asked);
    }
    if (received != expected)
        TS_THROW_CODE(ConfigModeIOException, "Failed to read expected # of bytes", kBadStatusCode);
    out.assign(body.begin(), body.end());
}

bool Win32ConfigAPI::IsConnected() const {
    return device != nullptr;
}

void Win32ConfigAPI::ReadRaw(void* buffer, unsigned& length) {
    CheckConnected();
    try {
        device->Read(buffer, length);
    } catch (...) {
        const auto error = static_cast<std::int32_t>(GetLastError());
        TS_THROW_CODE(ConfigModeIOException, "Error reading data from printer", error);
    }
}

short Win32ConfigAPI::DeviceToHostShort(short value) {
    return value;
}

void Win32ConfigAPI::SendCommandBlock(const unsigned char block[kBlockSize]) {
    WriteData(block, kBlockSize);
}

void Win32ConfigAPI::WriteData(const void* data, unsigned length) {
    CheckConnected();
    try {
        device->Write(data, length);
    } catch (...) {
        const auto error = static_cast<std::int32_t>(GetLastError());
        TS_THROW_CODE(ConfigModeIOException, "Error sending data to printer", error);
    }
}
