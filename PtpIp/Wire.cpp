#include "Wire.h"

#include <algorithm>
#include <cstring>

namespace Jorvale::Wire {
namespace {

void PutHeader(std::uint8_t* p, std::uint32_t length, std::uint32_t type) {
    Put32(p, length);
    Put32(p + 4, type);
}

std::string Describe(const char* what, std::uint32_t value) {
    return std::string(what) + " " + std::to_string(value);
}

}  // namespace

Header DecodeHeader(std::span<const std::uint8_t, kHeaderSize> bytes) {
    return {Get32(bytes.data()), Get32(bytes.data() + 4)};
}

std::vector<std::uint8_t> EncodeInitCommandRequest(const std::array<std::uint8_t, 16>& guid, std::u16string_view name) {
    name = name.substr(0, name.find(u'\0'));
    const std::size_t length = kHeaderSize + 16 + 2 * (name.size() + 1);
    std::vector<std::uint8_t> packet(length, 0);
    PutHeader(packet.data(), static_cast<std::uint32_t>(length), kInitCommandRequest);
    std::memcpy(packet.data() + kHeaderSize, guid.data(), guid.size());
    std::uint8_t* text = packet.data() + kHeaderSize + 16;
    for (std::size_t i = 0; i < name.size(); ++i) Put16(text + 2 * i, name[i]);
    return packet;
}

std::array<std::uint8_t, kInitEventRequestSize> EncodeInitEventRequest(std::uint32_t connectionNumber) {
    std::array<std::uint8_t, kInitEventRequestSize> packet{};
    PutHeader(packet.data(), kInitEventRequestSize, kInitEventRequest);
    Put32(packet.data() + 8, connectionNumber);
    return packet;
}

RequestBytes EncodeOperationRequest(std::uint16_t operation, std::uint32_t transactionId,
                                    std::span<const std::uint32_t> parameters, std::uint32_t dataOutLength) {
    if (parameters.size() > kMaxOperationParameters) throw std::invalid_argument("more than 5 operation parameters");
    RequestBytes out;
    std::uint8_t* p = out.bytes.data();
    const auto length = static_cast<std::uint32_t>(18 + 4 * parameters.size());
    PutHeader(p, length, kOperationRequest);
    Put32(p + 8, dataOutLength != 0 ? kDataPhaseOut : kDataPhaseNone);
    Put16(p + 12, operation);
    Put32(p + 14, transactionId);
    for (std::size_t i = 0; i < parameters.size(); ++i) Put32(p + 18 + 4 * i, parameters[i]);
    out.size = length;
    if (dataOutLength != 0) {
        const auto start = EncodeStartData(transactionId, dataOutLength);
        std::memcpy(p + out.size, start.data(), start.size());
        out.size += start.size();
    }
    return out;
}

std::array<std::uint8_t, kStartDataSize> EncodeStartData(std::uint32_t transactionId, std::uint32_t total) {
    std::array<std::uint8_t, kStartDataSize> packet{};
    PutHeader(packet.data(), kStartDataSize, kStartData);
    Put32(packet.data() + 8, transactionId);
    Put32(packet.data() + 12, total);
    return packet;
}

std::array<std::uint8_t, kDataHeaderSize> EncodeDataHeader(std::uint32_t transactionId, std::uint32_t payloadSize) {
    std::array<std::uint8_t, kDataHeaderSize> packet{};
    PutHeader(packet.data(), static_cast<std::uint32_t>(kDataHeaderSize + payloadSize), kData);
    Put32(packet.data() + 8, transactionId);
    return packet;
}

std::array<std::uint8_t, kCancelSize> EncodeCancel(std::uint32_t transactionId) {
    std::array<std::uint8_t, kCancelSize> packet{};
    PutHeader(packet.data(), kCancelSize, kCancel);
    Put32(packet.data() + 8, transactionId);
    return packet;
}

std::array<std::uint8_t, kHeaderSize> EncodeProbeRequest() {
    std::array<std::uint8_t, kHeaderSize> packet{};
    PutHeader(packet.data(), kHeaderSize, kProbeRequest);
    return packet;
}

void CheckHandshakeLength(const Header& header) {
    if (header.length < kHeaderSize || header.length > kMaxHandshakePacket)
        throw ProtocolError(Describe("handshake packet of length", header.length));
}

namespace {

Header WholePacketHeader(std::span<const std::uint8_t> packet) {
    if (packet.size() < kHeaderSize) throw ProtocolError("handshake packet shorter than its header");
    const Header header = DecodeHeader(packet.first<kHeaderSize>());
    CheckHandshakeLength(header);
    if (header.length != packet.size()) throw ProtocolError("handshake packet length does not match its bytes");
    return header;
}

HandshakeOutcome FailReason(const Header& header, std::span<const std::uint8_t> packet) {
    if (header.length < kMinInitFail) throw ProtocolError(Describe("Init_Fail of length", header.length));
    return Get32(packet.data() + 8) == kInitFailRejected ? HandshakeOutcome::Rejected : HandshakeOutcome::Busy;
}

}  // namespace

CommandReply DecodeCommandReply(std::span<const std::uint8_t> packet) {
    const Header header = WholePacketHeader(packet);
    if (header.type == kInitCommandAck) {
        if (header.length < kMinInitCommandAck)
            throw ProtocolError(Describe("Init_Command_Ack of length", header.length));
        return {HandshakeOutcome::Accepted, Get32(packet.data() + 8)};
    }
    if (header.type == kInitFail) return {FailReason(header, packet), 0};
    throw ProtocolError(Describe("unexpected packet type in command handshake:", header.type));
}

HandshakeOutcome DecodeEventReply(std::span<const std::uint8_t> packet) {
    const Header header = WholePacketHeader(packet);
    if (header.type == kInitEventAck) {
        if (header.length != kHeaderSize) throw ProtocolError(Describe("Init_Event_Ack of length", header.length));
        return HandshakeOutcome::Accepted;
    }
    if (header.type == kInitFail) return FailReason(header, packet);
    throw ProtocolError(Describe("unexpected packet type in event handshake:", header.type));
}

bool IsResponseLength(std::uint32_t length) {
    return length >= kMinResponseSize && length <= kMaxResponseSize && (length - 2) % 4 == 0;
}

bool IsEventLength(std::uint32_t length) {
    return length >= kMinResponseSize && length <= kMaxEventSize && (length - 2) % 4 == 0;
}

Response DecodeResponse(std::uint32_t length, std::span<const std::uint8_t> payload) {
    if (!IsResponseLength(length) || payload.size() != length - kHeaderSize)
        throw ProtocolError(Describe("Operation_Response of length", length));
    Response r;
    r.code = Get16(payload.data());
    r.transactionId = Get32(payload.data() + 2);
    r.parameterCount = (length - kMinResponseSize) / 4;
    for (std::uint32_t i = 0; i < r.parameterCount; ++i) r.parameters[i] = Get32(payload.data() + 6 + 4 * i);
    return r;
}

Event DecodeEvent(std::uint32_t length, std::span<const std::uint8_t> payload) {
    if (!IsEventLength(length) || payload.size() != length - kHeaderSize)
        throw ProtocolError(Describe("Event of length", length));
    Event e;
    e.code = Get16(payload.data());
    e.transactionId = Get32(payload.data() + 2);
    e.parameterCount = (length - kMinResponseSize) / 4;
    for (std::uint32_t i = 0; i < e.parameterCount; ++i) e.parameters[i] = Get32(payload.data() + 6 + 4 * i);
    return e;
}

StartData DecodeStartData(std::span<const std::uint8_t, 8> payload) {
    return {Get32(payload.data()), Get32(payload.data() + 4)};
}

std::uint32_t DecodeDataHeader(std::span<const std::uint8_t, kDataHeaderSize> bytes, std::uint32_t transactionId,
                               std::uint32_t remaining) {
    const Header header = DecodeHeader(bytes.first<kHeaderSize>());
    if (header.type != kData) throw ProtocolError(Describe("expected Data, got packet type", header.type));
    if (header.length < kDataHeaderSize) throw ProtocolError(Describe("Data packet of length", header.length));
    const std::uint32_t id = Get32(bytes.data() + 8);
    if (id != transactionId) throw ProtocolError(Describe("Data packet for transaction", id));
    const std::uint32_t payload = header.length - static_cast<std::uint32_t>(kDataHeaderSize);
    if (remaining != kUnknownLength && payload > remaining)
        throw ProtocolError(Describe("Data packet longer than the data announced:", payload));
    return payload;
}

}  // namespace Jorvale::Wire
