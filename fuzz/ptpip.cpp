// The PTP/IP packet decoders of both channels, walked the way the transport
// reads what a printer sends.
//
// Input: one byte choosing the channel (bit 0: event channel, else command
// channel; bit 1: the command had a data-out phase), then the bytes the
// printer sends on it, from its handshake reply on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <stdexcept>

#include "PtpIp/Wire.h"

namespace {

using namespace Jorvale;

class Stream {
public:
    Stream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    // The next n bytes, or null when the printer sent fewer (a closed connection).
    const std::uint8_t* Take(std::size_t n) {
        if (size_ - at_ < n) return nullptr;
        const std::uint8_t* p = data_ + at_;
        at_ += n;
        return p;
    }
    std::size_t Left() const { return size_ - at_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

Wire::Header TakeHeader(Stream& in) {
    const std::uint8_t* p = in.Take(Wire::kHeaderSize);
    if (!p) throw Wire::ProtocolError("closed");
    return Wire::DecodeHeader(std::span<const std::uint8_t, Wire::kHeaderSize>(p, Wire::kHeaderSize));
}

// The general reader: a bounded whole packet.
std::span<const std::uint8_t> TakeHandshakePacket(Stream& in, const std::uint8_t* start) {
    const Wire::Header header = TakeHeader(in);
    Wire::CheckHandshakeLength(header);
    Check(header.length >= 8 && header.length <= 520);
    if (!in.Take(header.length - Wire::kHeaderSize)) throw Wire::ProtocolError("closed");
    return {start, header.length};
}

void CommandChannel(Stream& in, const std::uint8_t* start, bool dataOut) {
    if (Wire::DecodeCommandReply(TakeHandshakePacket(in, start)).outcome != Wire::HandshakeOutcome::Accepted) return;
    while (in.Left() > 0) {
        const Wire::Header header = TakeHeader(in);
        if (header.type == Wire::kOperationResponse && Wire::IsResponseLength(header.length)) {
            const std::size_t body = header.length - Wire::kHeaderSize;
            const std::uint8_t* p = in.Take(body);
            if (!p) return;
            const auto response = Wire::DecodeResponse(header.length, {p, body});
            Check(response.parameterCount <= Wire::kMaxOperationParameters);
            continue;
        }
        if (header.type != Wire::kStartData || header.length != Wire::kStartDataSize || dataOut) return;
        const std::uint8_t* p = in.Take(8);
        if (!p) return;
        // The phase belongs to the transaction Start_Data names.
        const auto start = Wire::DecodeStartData(std::span<const std::uint8_t, 8>(p, 8));
        const std::uint32_t tid = start.transactionId;
        std::uint32_t remaining = start.total;
        while (remaining != 0) {
            const std::uint8_t* h = in.Take(Wire::kDataHeaderSize);
            if (!h) return;
            const std::uint32_t payload = Wire::DecodeDataHeader(
                std::span<const std::uint8_t, Wire::kDataHeaderSize>(h, Wire::kDataHeaderSize), tid, remaining);
            Check(remaining == Wire::kUnknownLength || payload <= remaining);
            if (payload == 0) break;
            if (!in.Take(std::min<std::size_t>(payload, in.Left()))) return;
            if (remaining != Wire::kUnknownLength) remaining -= payload;
        }
    }
}

void EventChannel(Stream& in, const std::uint8_t* start) {
    if (Wire::DecodeEventReply(TakeHandshakePacket(in, start)) != Wire::HandshakeOutcome::Accepted) return;
    while (in.Left() > 0) {
        const Wire::Header header = TakeHeader(in);
        if (header.type == Wire::kProbeResponse && header.length == Wire::kHeaderSize) continue;
        if (header.type != Wire::kEvent || !Wire::IsEventLength(header.length)) return;
        const std::size_t body = header.length - Wire::kHeaderSize;
        const std::uint8_t* p = in.Take(body);
        if (!p) return;
        const auto event = Wire::DecodeEvent(header.length, {p, body});
        Check(event.parameterCount <= Wire::kMaxEventParameters);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    Stream in(data + 1, size - 1);
    try {
        if (mode & 1) {
            EventChannel(in, data + 1);
        } else {
            CommandChannel(in, data + 1, (mode & 2) != 0);
        }
    } catch (const Wire::ProtocolError&) {
        // Refused input: what the transport turns into a protocol error.
    }
    return 0;
}
