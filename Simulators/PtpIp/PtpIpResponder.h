// A PTP/IP printer on loopback, for the transport's tests.
//
// The responder listens on 127.0.0.1 (an ephemeral port unless one is
// given) and serves one session at a time: it accepts the command connection,
// answers Init_Command_Request, accepts the event connection, answers
// Init_Event_Request, then runs the command channel on its own thread and the
// event channel on a second one. It speaks the printer's dialect of PTP/IP:
// 16-byte Start_Data with a 32-bit total, data phases made of Data packets
// only (an empty Data packet ends a phase of unknown length), no version in
// Init_Command_Request (4 trailing version bytes are tolerated).
//
// What it does per operation code is scripted (OperationScript): response
// code and parameters, a data-in phase, delays, and the faults the transport
// must survive. Events are pushed on demand; probes are answered unless the
// probes are to go unanswered. Every byte received and sent is recorded per
// channel, with the packets cut out of it, for byte-exact assertions and as
// fuzz seeds.
//
// Every loop is bounded: reads poll in short slices, and a connection (or the
// listener) with no traffic for Settings::idleLimit of real time is given up,
// so a responder a test forgot never spins for ever. Delays and holds of a
// reply are measured on the machine's clock (Platform/Clock.h), so a test
// under a manual clock runs them at once. Sockets never raise SIGPIPE.
#pragma once

#include "Platform/Clock.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace PtpIpSim {

namespace PacketType {
constexpr std::uint32_t InitCommandRequest = 1;
constexpr std::uint32_t InitCommandAck = 2;
constexpr std::uint32_t InitEventRequest = 3;
constexpr std::uint32_t InitEventAck = 4;
constexpr std::uint32_t InitFail = 5;
constexpr std::uint32_t OperationRequest = 6;
constexpr std::uint32_t OperationResponse = 7;
constexpr std::uint32_t Event = 8;
constexpr std::uint32_t StartData = 9;
constexpr std::uint32_t Data = 10;
constexpr std::uint32_t Cancel = 11;
constexpr std::uint32_t EndData = 12;
constexpr std::uint32_t ProbeRequest = 13;
constexpr std::uint32_t ProbeResponse = 14;
}  // namespace PacketType

constexpr std::uint16_t ResponseOk = 0x2001;
constexpr std::uint16_t ResponseTransactionCancelled = 0x201F;
constexpr std::uint32_t UnknownTotal = 0xFFFFFFFFu;

enum class Channel { Command, Event };

// How a connection is ended: Graceful sends FIN, Reset sends RST.
enum class Close { None, Graceful, Reset };

// One packet as it crossed the wire, header included.
struct Packet {
    std::size_t session = 0;  // 1 for the first accepted command connection
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;

    std::uint32_t Length() const { return static_cast<std::uint32_t>(bytes.size()); }
    // Little-endian fields at a byte offset of the whole packet; 0 past the end.
    std::uint16_t U16(std::size_t offset) const;
    std::uint32_t U32(std::size_t offset) const;
    // Data packets: the payload after the 12-byte header.
    std::vector<std::uint8_t> Payload(std::size_t headerSize = 12) const;
};

// What the responder does with one Operation_Request.
struct OperationScript {
    std::uint16_t responseCode = ResponseOk;
    std::vector<std::uint32_t> responseParams;

    // Data-in phase: Start_Data, the bytes cut into Data packets, then the
    // response. None when null.
    std::shared_ptr<const std::vector<std::uint8_t>> dataIn;
    bool unknownTotal = false;      // total 0xFFFFFFFF; an empty Data packet ends the phase
    std::size_t chunkSize = 65536;  // bytes per Data packet (at least 1)
    // After this many bytes of data in, stop sending and wait for a Cancel.
    std::optional<std::size_t> stallAfter;
    // Bytes sent as Data packets after a Cancel, before Transaction_Cancelled.
    std::vector<std::uint8_t> dataAfterCancel;

    // Before the first reply: a wait on the machine's clock, then (with hold)
    // a wait until Release().
    Platform::Milliseconds delay{0};
    bool hold = false;

    // Faults.
    bool standardStartData = false;               // a 20-byte Start_Data with a 64-bit total
    bool wrongTransactionId = false;              // first reply (and data) carry the request's id + 1
    bool endData = false;                         // an End_Data packet after the data
    std::optional<std::uint32_t> announcedTotal;  // Start_Data's total instead of the real one
    std::optional<std::uint32_t> responseLength;  // Operation_Response cut or zero-padded to this length
    std::vector<std::uint8_t> rawReply;           // when not empty: these bytes instead of every reply
    Close closeInstead = Close::None;             // end the session instead of replying

    static OperationScript WithData(std::vector<std::uint8_t> bytes, std::size_t chunk = 65536);
};

struct Settings {
    std::uint16_t port = 0;  // 0: an ephemeral port
    std::u16string name = u"Velmo PTP Responder";
    std::array<std::uint8_t, 16> guid{0x5E, 0x1D, 0x0C, 0x4A, 0x7B, 0x21, 0x4F, 0x0E,
                                      0x9C, 0x3D, 0x2A, 0x61, 0xB0, 0xF4, 0xC7, 0xE8};
    std::uint32_t connectionNumber = 1;
    bool ackVersion = true;  // Init_Command_Ack ends with a protocol version

    // Faults of the handshake.
    std::optional<std::uint32_t> commandInitFail;   // Init_Fail reason for Init_Command_Request
    std::optional<std::uint32_t> eventInitFail;     // Init_Fail reason for Init_Event_Request
    std::optional<std::uint32_t> commandAckLength;  // Init_Command_Ack cut or zero-padded to this length
    std::uint32_t eventAckLength = 8;               // Init_Event_Ack zero-padded to this length

    bool silentProbes = false;  // Probe_Request goes unanswered
    bool answerCancel = true;   // Cancel of the latest transaction gets Transaction_Cancelled
    bool record = true;         // off for benchmarks: nothing is recorded

    // Real time without traffic after which a connection, or the listener
    // waiting for one, is given up.
    std::chrono::milliseconds idleLimit{60000};
};

class Responder {
public:
    // Listens at once; throws std::runtime_error when it cannot.
    explicit Responder(Settings settings = {});
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    std::uint16_t Port() const { return port_; }
    // "ptp://127.0.0.1:<port>/"
    std::u16string Url() const;

    // Settings take effect from the next packet that uses them.
    void Configure(const Settings& settings);
    Settings GetSettings() const;

    // The standing script of an operation code (others get OK without
    // parameters); a script given once is used, before the standing one, by
    // the next request with that code only.
    void Script(std::uint16_t operationCode, OperationScript script);
    void ScriptOnce(std::uint16_t operationCode, OperationScript script);
    // Lets the replies held now go (a reply held later waits for the next
    // Release: wait for it with WaitForHeld first).
    void Release();

    // Event channel. False when no event connection is open or the send fails.
    bool SendEvent(std::uint16_t code, std::uint32_t transactionId, const std::vector<std::uint32_t>& params = {});
    // count Events of the code, the first parameter counting from 0; returns
    // how many were sent.
    std::size_t FloodEvents(std::size_t count, std::uint16_t code);
    // Any bytes on a channel of the open session.
    bool SendRaw(Channel channel, const std::vector<std::uint8_t>& bytes);
    // Ends the open session's connections now and waits (up to 5 s) until
    // both are closed. Returns false when no session was open.
    bool Disconnect(Close how);
    // Ends every thread and connection; the destructor calls it.
    void Stop();

    // Records, cumulative over sessions until ClearRecords.
    std::vector<std::uint8_t> Received(Channel channel) const;
    std::vector<std::uint8_t> Sent(Channel channel) const;
    std::vector<Packet> Packets(Channel channel) const;  // received
    std::vector<Packet> SentPackets(Channel channel) const;
    void ClearRecords();
    // What the responder found wrong in what it received.
    std::vector<std::string> Errors() const;
    std::size_t Connections() const;  // accepted, both channels
    std::size_t Sessions() const;     // handshakes answered with both acknowledgements

    std::u16string InitiatorName() const;
    std::array<std::uint8_t, 16> InitiatorGuid() const;

    // Real-time waits for the tests.
    bool WaitForPackets(Channel channel, std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Until a reply is held (OperationScript::hold).
    bool WaitForHeld(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Until the initiator has closed (or reset) the channel of the latest
    // connection.
    bool WaitForPeerClose(Channel channel, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    bool PeerClosed(Channel channel) const;

private:
    struct Connection;
    struct Record {
        std::vector<std::uint8_t> received;
        std::vector<std::uint8_t> sent;
        std::vector<Packet> packets;
        std::vector<Packet> sentPackets;
    };

    void Listen();
    // A connection accepted within the idle limit; -1 when none came, -2
    // when the watched command connection became readable or was asked to
    // end first.
    int AcceptOne(const Connection* watch);
    void RunSession(int commandFd);
    // The event connection of a completed handshake, or null.
    std::shared_ptr<Connection> Handshake(Connection& command);
    void CommandLoop(Connection& command);
    void EventLoop(Connection& event);
    // These return false when the session is to end.
    bool Operation(Connection& command, const Packet& request);
    bool ReceiveDataOut(Connection& command, std::uint32_t tid, bool& cancelled);
    bool WaitBeforeReply(const OperationScript& script);
    bool Reply(Connection& command, std::uint32_t tid, const OperationScript& script);
    bool AnswerCancel(Connection& command, std::uint32_t tid, const std::vector<std::uint8_t>& more);
    OperationScript TakeScript(std::uint16_t operationCode);
    void NoteError(std::string text);
    void NotePeerClosed(Channel channel);
    void RecordReceived(Channel channel, const std::uint8_t* data, std::size_t size);
    void RecordPacket(Channel channel, const Packet& packet);
    void RecordSent(Channel channel, const std::vector<std::uint8_t>& head, const std::uint8_t* body,
                    std::size_t bodySize);
    Record& RecordOf(Channel channel) { return channel == Channel::Command ? commandRecord_ : eventRecord_; }
    const Record& RecordOf(Channel channel) const {
        return channel == Channel::Command ? commandRecord_ : eventRecord_;
    }
    bool Stopping() const { return stopping_.load(); }

    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread listener_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;  // settings, scripts, records, session sockets
    mutable std::condition_variable changed_;
    Settings settings_;
    std::map<std::uint16_t, OperationScript> scripts_;
    std::map<std::uint16_t, std::deque<OperationScript>> onceScripts_;
    std::uint64_t releases_ = 0;
    std::size_t held_ = 0;  // replies waiting for Release
    Record commandRecord_;
    Record eventRecord_;
    std::vector<std::string> errors_;
    std::size_t connections_ = 0;
    std::size_t sessions_ = 0;
    std::size_t currentSession_ = 0;
    bool commandPeerClosed_ = false;
    bool eventPeerClosed_ = false;
    std::u16string initiatorName_;
    std::array<std::uint8_t, 16> initiatorGuid_{};
    std::optional<std::uint32_t> lastTid_;  // latest Operation_Request of the session
    bool cancelAnswered_ = false;
    std::shared_ptr<Connection> command_;  // the open session's connections
    std::shared_ptr<Connection> event_;
};

}  // namespace PtpIpSim
