// The PTP/IP packets as this system speaks them: an 8-byte header (length of
// the whole packet, type), little-endian fields, UTF-16LE strings. Three
// departures from the common form are part of the format: no protocol
// version in Init_Command_Request, a 32-bit total in Start_Data, and data
// phases made of Data packets only (End_Data is never used).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Jorvale::Wire {

enum PacketType : std::uint32_t {
    kInitCommandRequest = 1,
    kInitCommandAck = 2,
    kInitEventRequest = 3,
    kInitEventAck = 4,
    kInitFail = 5,
    kOperationRequest = 6,
    kOperationResponse = 7,
    kEvent = 8,
    kStartData = 9,
    kData = 10,
    kCancel = 11,
    kEndData = 12,
    kProbeRequest = 13,
    kProbeResponse = 14,
};

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kDataHeaderSize = 12;
constexpr std::size_t kStartDataSize = 16;
constexpr std::size_t kCancelSize = 12;
constexpr std::size_t kInitEventRequestSize = 12;
// Handshake replies are read whole; longer ones are refused.
constexpr std::size_t kMaxHandshakePacket = 520;
constexpr std::size_t kMinInitCommandAck = 30;
constexpr std::size_t kMinInitFail = 12;
constexpr std::size_t kMaxOperationParameters = 5;
constexpr std::size_t kMaxEventParameters = 3;
constexpr std::size_t kMinResponseSize = 14;
constexpr std::size_t kMaxResponseSize = 14 + 4 * kMaxOperationParameters;  // 34
constexpr std::size_t kMaxEventSize = 14 + 4 * kMaxEventParameters;         // 26
constexpr std::uint32_t kUnknownLength = 0xFFFFFFFFu;
// Data out goes in Data packets of at most this many bytes.
constexpr std::size_t kMaxDataOutPiece = 4096;

constexpr std::uint32_t kDataPhaseNone = 1;
constexpr std::uint32_t kDataPhaseOut = 2;

constexpr std::uint32_t kInitFailRejected = 1;

// Malformed or unexpected input from the printer.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

struct Header {
    std::uint32_t length = 0;  // whole packet, header included
    std::uint32_t type = 0;
};
Header DecodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes);

// --- Encoders (initiator to printer) ---------------------------------------

std::vector<std::uint8_t> EncodeInitCommandRequest(const std::array<std::uint8_t, 16>& guid, std::u16string_view name);
std::array<std::uint8_t, kInitEventRequestSize> EncodeInitEventRequest(std::uint32_t connectionNumber);

// Operation_Request, followed by Start_Data when a data-out length is given.
struct RequestBytes {
    std::array<std::uint8_t, 18 + 4 * kMaxOperationParameters + kStartDataSize> bytes{};
    std::size_t size = 0;
};
RequestBytes EncodeOperationRequest(std::uint16_t operation, std::uint32_t transactionId,
                                    std::span<const std::uint32_t> parameters, std::uint32_t dataOutLength);

std::array<std::uint8_t, kStartDataSize> EncodeStartData(std::uint32_t transactionId, std::uint32_t total);
std::array<std::uint8_t, kDataHeaderSize> EncodeDataHeader(std::uint32_t transactionId, std::uint32_t payloadSize);
std::array<std::uint8_t, kCancelSize> EncodeCancel(std::uint32_t transactionId);
std::array<std::uint8_t, kHeaderSize> EncodeProbeRequest();

// --- Decoders (printer to initiator) ---------------------------------------

// Handshake replies come whole (header included) through the general reader.
void CheckHandshakeLength(const Header& header);

enum class HandshakeOutcome { Accepted, Rejected, Busy };
struct CommandReply {
    HandshakeOutcome outcome = HandshakeOutcome::Accepted;
    std::uint32_t connectionNumber = 0;
};
// Init_Command_Ack or Init_Fail; anything else throws ProtocolError.
CommandReply DecodeCommandReply(std::span<const std::uint8_t> packet);
// Init_Event_Ack (exactly 8 bytes) or Init_Fail; anything else throws.
HandshakeOutcome DecodeEventReply(std::span<const std::uint8_t> packet);

bool IsResponseLength(std::uint32_t length);
bool IsEventLength(std::uint32_t length);

struct Response {
    std::uint16_t code = 0;
    std::uint32_t transactionId = 0;
    std::uint32_t parameterCount = 0;
    std::uint32_t parameters[kMaxOperationParameters] = {};
};
// The payload after the header of an Operation_Response of the given length.
Response DecodeResponse(std::uint32_t length, std::span<const std::uint8_t> payload);

struct Event {
    std::uint16_t code = 0;
    std::uint32_t transactionId = 0;
    std::uint32_t parameterCount = 0;
    std::uint32_t parameters[kMaxEventParameters] = {};
};
Event DecodeEvent(std::uint32_t length, std::span<const std::uint8_t> payload);

struct StartData {
    std::uint32_t transactionId = 0;
    std::uint32_t total = 0;
};
// The 8 bytes after the header of a 16-byte Start_Data.
StartData DecodeStartData(std::span<const std::uint8_t, 8> payload);

// A Data packet header, checked against the transaction and what remains of
// the phase (unknown remaining accepts any size). Returns the payload size.
std::uint32_t DecodeDataHeader(std::span<const std::uint8_t, kDataHeaderSize> bytes, std::uint32_t transactionId,
                               std::uint32_t remaining);

}  // namespace Jorvale::Wire
