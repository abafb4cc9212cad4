#include "PtpIpResponder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace PtpIpSim {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Poll slice of every read and accept: how soon a stop or disconnect is seen.
constexpr int kSliceMs = 20;
// A blocked send gives the loop a chance to see a stop this often.
constexpr int kSendSliceMs = 50;
// Larger packets are refused: the initiator's Data packets carry 4096 bytes.
constexpr std::uint32_t kMaxPacket = 1u << 20;
// How long the responder waits for the initiator to close after a refusal or
// after the other channel ended.
constexpr auto kCloseGrace = std::chrono::seconds(2);

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void SetU32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t v) {
    for (std::size_t i = 0; i < 4 && offset + i < out.size(); ++i)
        out[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A packet with its header; the length field is filled in by Finish.
std::vector<std::uint8_t> Start(std::uint32_t type) {
    std::vector<std::uint8_t> p;
    PutU32(p, 0);
    PutU32(p, type);
    return p;
}

std::vector<std::uint8_t> Finish(std::vector<std::uint8_t> p) {
    SetU32(p, 0, static_cast<std::uint32_t>(p.size()));
    return p;
}

// Cut or zero-pad a finished packet to a length, and say so in its header.
std::vector<std::uint8_t> Resize(std::vector<std::uint8_t> p, std::uint32_t length) {
    p.resize(length, 0);
    SetU32(p, 0, length);
    return p;
}

std::vector<std::uint8_t> Response(std::uint16_t code, std::uint32_t tid, const std::vector<std::uint32_t>& params) {
    auto p = Start(PacketType::OperationResponse);
    PutU16(p, code);
    PutU32(p, tid);
    for (auto v : params) PutU32(p, v);
    return Finish(std::move(p));
}

std::vector<std::uint8_t> DataHeader(std::uint32_t tid, std::size_t payload) {
    std::vector<std::uint8_t> p;
    PutU32(p, static_cast<std::uint32_t>(12 + payload));
    PutU32(p, PacketType::Data);
    PutU32(p, tid);
    return p;
}

std::string Describe(const Packet& p) {
    return "type " + std::to_string(p.type) + ", " + std::to_string(p.Length()) + " bytes";
}

}  // namespace

std::uint16_t Packet::U16(std::size_t offset) const {
    if (offset + 2 > bytes.size()) return 0;
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t Packet::U32(std::size_t offset) const {
    if (offset + 4 > bytes.size()) return 0;
    return GetU32(bytes.data() + offset);
}

std::vector<std::uint8_t> Packet::Payload(std::size_t headerSize) const {
    if (bytes.size() <= headerSize) return {};
    return {bytes.begin() + static_cast<std::ptrdiff_t>(headerSize), bytes.end()};
}

OperationScript OperationScript::WithData(std::vector<std::uint8_t> bytes, std::size_t chunk) {
    OperationScript s;
    s.dataIn = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    s.chunkSize = chunk;
    return s;
}

// One accepted connection. The thread that reads it owns it and closes it;
// other threads only send on it (under sendMutex) or ask it to end (abort).
struct Responder::Connection {
    enum class Read { Packet, PeerClosed, Ended, Malformed };

    Connection(Responder& owner, Channel channel, int fd) : owner(owner), channel(channel), fd(fd) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval slice{0, kSendSliceMs * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice);
        lastActivity = SteadyClock::now().time_since_epoch().count();
    }
    ~Connection() { CloseNow(Close::Graceful); }

    bool ShouldEnd() const { return owner.Stopping() || abort.load() != Close::None || IdleExpired(); }

    bool IdleExpired() const {
        const auto last = SteadyClock::time_point(SteadyClock::duration(lastActivity.load()));
        return SteadyClock::now() - last > idleLimit;
    }

    void Touch() { lastActivity = SteadyClock::now().time_since_epoch().count(); }

    // Closes at once; with Reset the peer gets an RST instead of a FIN.
    void CloseNow(Close how) {
        std::lock_guard lock(sendMutex);
        if (fd < 0) return;
        if (how == Close::Reset) {
            linger l{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(fd);
        fd = -1;
    }

    // Ends the connection the way a Disconnect asked for, if one did.
    bool AbortIfAsked() {
        const Close how = abort.load();
        if (how == Close::None) return false;
        CloseNow(how);
        return true;
    }

    bool Send(const std::vector<std::uint8_t>& head, const std::uint8_t* body = nullptr, std::size_t bodySize = 0) {
        std::lock_guard lock(sendMutex);
        if (fd < 0) return false;
        iovec parts[2] = {{const_cast<std::uint8_t*>(head.data()), head.size()},
                          {const_cast<std::uint8_t*>(body), bodySize}};
        std::size_t total = head.size() + bodySize;
        std::size_t done = 0;
        while (done < total) {
            if (owner.Stopping() || abort.load() != Close::None) return false;
            iovec rest[2];
            int count = 0;
            std::size_t skip = done;
            for (auto& part : parts) {
                if (skip >= part.iov_len) {
                    skip -= part.iov_len;
                    continue;
                }
                rest[count++] = {static_cast<std::uint8_t*>(part.iov_base) + skip, part.iov_len - skip};
                skip = 0;
            }
            msghdr msg{};
            msg.msg_iov = rest;
            msg.msg_iovlen = static_cast<std::size_t>(count);
            const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                Touch();
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (IdleExpired()) return false;
            } else {
                return false;
            }
        }
        owner.RecordSent(channel, head, body, bodySize);
        return true;
    }

    // The next whole packet; bounded by stop, disconnect and the idle limit.
    Read ReadPacket(Packet& out) {
        for (;;) {
            const std::size_t have = buffer.size() - head;
            if (have >= 8) {
                const std::uint32_t length = GetU32(buffer.data() + head);
                if (length < 8 || length > kMaxPacket) {
                    owner.NoteError(std::string(channel == Channel::Command ? "command" : "event") +
                                    " channel: packet length " + std::to_string(length));
                    return Read::Malformed;
                }
                if (have >= length) {
                    out.type = GetU32(buffer.data() + head + 4);
                    out.bytes.assign(buffer.begin() + static_cast<std::ptrdiff_t>(head),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(head + length));
                    head += length;
                    if (head == buffer.size()) {
                        buffer.clear();
                        head = 0;
                    }
                    owner.RecordPacket(channel, out);
                    return Read::Packet;
                }
            }
            if (ShouldEnd() || fd < 0) return Read::Ended;
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, kSliceMs);
            if (ready < 0 && errno != EINTR) return Read::Ended;
            if (ready <= 0) continue;
            if (head > 0 && head * 2 > buffer.size()) {
                buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(head));
                head = 0;
            }
            const std::size_t old = buffer.size();
            buffer.resize(old + kReadChunk);
            const ssize_t n = ::recv(fd, buffer.data() + old, kReadChunk, 0);
            buffer.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
            if (n > 0) {
                Touch();
                owner.RecordReceived(channel, buffer.data() + old, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
                owner.NotePeerClosed(channel);
                return Read::PeerClosed;
            }
        }
    }

    // Reads and records until the peer closes, at most for the grace.
    bool DrainUntilClosed(std::chrono::milliseconds grace) {
        const auto until = SteadyClock::now() + grace;
        Packet ignored;
        while (SteadyClock::now() < until) {
            if (fd < 0) return false;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, kSliceMs) <= 0) {
                if (owner.Stopping()) return false;
                continue;
            }
            std::uint8_t scratch[4096];
            const ssize_t n = ::recv(fd, scratch, sizeof scratch, 0);
            if (n > 0) {
                owner.RecordReceived(channel, scratch, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                owner.NotePeerClosed(channel);
                return true;
            }
        }
        return false;
    }

    static constexpr std::size_t kReadChunk = 256 * 1024;

    Responder& owner;
    const Channel channel;
    std::mutex sendMutex;
    int fd;  // guarded by sendMutex once other threads can see the connection
    std::atomic<Close> abort{Close::None};
    std::atomic<SteadyClock::rep> lastActivity;
    std::chrono::milliseconds idleLimit{60000};
    std::vector<std::uint8_t> buffer;
    std::size_t head = 0;
};

Responder::Responder(Settings settings) : settings_(std::move(settings)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("PTP/IP responder: socket failed");
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(settings_.port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 4) != 0) {
        const int error = errno;
        ::close(listenFd_);
        throw std::runtime_error(std::string("PTP/IP responder: cannot listen on loopback: ") + std::strerror(error));
    }
    socklen_t size = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    listener_ = std::thread([this] { Listen(); });
}

Responder::~Responder() {
    Stop();
}

void Responder::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (listener_.joinable()) listener_.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

std::u16string Responder::Url() const {
    const std::string text = "ptp://127.0.0.1:" + std::to_string(port_) + "/";
    return std::u16string(text.begin(), text.end());
}

void Responder::Configure(const Settings& settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
    settings_.port = port_;
}

Settings Responder::GetSettings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void Responder::Script(std::uint16_t operationCode, OperationScript script) {
    std::lock_guard lock(mutex_);
    scripts_[operationCode] = std::move(script);
}

void Responder::ScriptOnce(std::uint16_t operationCode, OperationScript script) {
    std::lock_guard lock(mutex_);
    onceScripts_[operationCode].push_back(std::move(script));
}

void Responder::Release() {
    {
        std::lock_guard lock(mutex_);
        ++releases_;
    }
    changed_.notify_all();
}

OperationScript Responder::TakeScript(std::uint16_t operationCode) {
    std::lock_guard lock(mutex_);
    auto once = onceScripts_.find(operationCode);
    if (once != onceScripts_.end() && !once->second.empty()) {
        OperationScript script = std::move(once->second.front());
        once->second.pop_front();
        return script;
    }
    auto standing = scripts_.find(operationCode);
    return standing != scripts_.end() ? standing->second : OperationScript{};
}

// Records --------------------------------------------------------------------

void Responder::NoteError(std::string text) {
    {
        std::lock_guard lock(mutex_);
        errors_.push_back(std::move(text));
    }
    changed_.notify_all();
}

void Responder::NotePeerClosed(Channel channel) {
    {
        std::lock_guard lock(mutex_);
        (channel == Channel::Command ? commandPeerClosed_ : eventPeerClosed_) = true;
    }
    changed_.notify_all();
}

void Responder::RecordReceived(Channel channel, const std::uint8_t* data, std::size_t size) {
    std::lock_guard lock(mutex_);
    if (!settings_.record) return;
    auto& stream = RecordOf(channel).received;
    stream.insert(stream.end(), data, data + size);
}

void Responder::RecordPacket(Channel channel, const Packet& packet) {
    {
        std::lock_guard lock(mutex_);
        if (!settings_.record) return;
        Packet copy = packet;
        copy.session = currentSession_;
        RecordOf(channel).packets.push_back(std::move(copy));
    }
    changed_.notify_all();
}

void Responder::RecordSent(Channel channel, const std::vector<std::uint8_t>& head, const std::uint8_t* body,
                           std::size_t bodySize) {
    std::lock_guard lock(mutex_);
    if (!settings_.record) return;
    auto& record = RecordOf(channel);
    record.sent.insert(record.sent.end(), head.begin(), head.end());
    if (bodySize) record.sent.insert(record.sent.end(), body, body + bodySize);
    Packet packet;
    packet.session = currentSession_;
    packet.bytes = head;
    if (bodySize) packet.bytes.insert(packet.bytes.end(), body, body + bodySize);
    packet.type = packet.U32(4);
    record.sentPackets.push_back(std::move(packet));
}

std::vector<std::uint8_t> Responder::Received(Channel channel) const {
    std::lock_guard lock(mutex_);
    return RecordOf(channel).received;
}

std::vector<std::uint8_t> Responder::Sent(Channel channel) const {
    std::lock_guard lock(mutex_);
    return RecordOf(channel).sent;
}

std::vector<Packet> Responder::Packets(Channel channel) const {
    std::lock_guard lock(mutex_);
    return RecordOf(channel).packets;
}

std::vector<Packet> Responder::SentPackets(Channel channel) const {
    std::lock_guard lock(mutex_);
    return RecordOf(channel).sentPackets;
}

void Responder::ClearRecords() {
    std::lock_guard lock(mutex_);
    commandRecord_ = {};
    eventRecord_ = {};
    errors_.clear();
}

std::vector<std::string> Responder::Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

std::size_t Responder::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

std::size_t Responder::Sessions() const {
    std::lock_guard lock(mutex_);
    return sessions_;
}

std::u16string Responder::InitiatorName() const {
    std::lock_guard lock(mutex_);
    return initiatorName_;
}

std::array<std::uint8_t, 16> Responder::InitiatorGuid() const {
    std::lock_guard lock(mutex_);
    return initiatorGuid_;
}

bool Responder::WaitForPackets(Channel channel, std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return RecordOf(channel).packets.size() >= count; });
}

bool Responder::WaitForHeld(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return held_ > 0; });
}

bool Responder::WaitForPeerClose(Channel channel, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return channel == Channel::Command ? commandPeerClosed_ : eventPeerClosed_; });
}

bool Responder::PeerClosed(Channel channel) const {
    std::lock_guard lock(mutex_);
    return channel == Channel::Command ? commandPeerClosed_ : eventPeerClosed_;
}

// On-demand traffic ------------------------------------------------------------

bool Responder::SendEvent(std::uint16_t code, std::uint32_t transactionId, const std::vector<std::uint32_t>& params) {
    std::shared_ptr<Connection> event;
    {
        std::lock_guard lock(mutex_);
        event = event_;
    }
    if (!event) return false;
    auto p = Start(PacketType::Event);
    PutU16(p, code);
    PutU32(p, transactionId);
    for (auto v : params) PutU32(p, v);
    return event->Send(Finish(std::move(p)));
}

std::size_t Responder::FloodEvents(std::size_t count, std::uint16_t code) {
    std::size_t sent = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!SendEvent(code, 0, {static_cast<std::uint32_t>(i)})) break;
        ++sent;
    }
    return sent;
}

bool Responder::SendRaw(Channel channel, const std::vector<std::uint8_t>& bytes) {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex_);
        connection = channel == Channel::Command ? command_ : event_;
    }
    return connection && connection->Send(bytes);
}

bool Responder::Disconnect(Close how) {
    if (how == Close::None) return false;
    std::shared_ptr<Connection> command, event;
    {
        std::lock_guard lock(mutex_);
        command = command_;
        event = event_;
        if (!command) return false;
        command->abort = how;
        if (event) event->abort = how;
    }
    changed_.notify_all();
    std::unique_lock lock(mutex_);
    // The owning threads close the sockets and let go of the connections.
    return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return command_ != command; });
}

// The session --------------------------------------------------------------

int Responder::AcceptOne(const Connection* watch) {
    const int watchFd = watch ? watch->fd : -1;
    const auto idleLimit = GetSettings().idleLimit;
    const auto until = SteadyClock::now() + idleLimit;
    while (!Stopping() && SteadyClock::now() < until) {
        if (watch && watch->abort.load() != Close::None) return -2;
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {watchFd, POLLIN, 0}};
        const int ready = ::poll(p, watchFd >= 0 ? 2 : 1, kSliceMs);
        if (ready < 0 && errno != EINTR) return -1;
        if (ready <= 0) continue;
        // The command connection ended while the event connection was awaited.
        if (watchFd >= 0 && p[1].revents) return -2;
        if (!(p[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        return fd;
    }
    return -1;
}

void Responder::Listen() {
    while (!Stopping()) {
        const int fd = AcceptOne(nullptr);
        if (fd < 0) break;
        RunSession(fd);
    }
}

void Responder::RunSession(int commandFd) {
    auto command = std::make_shared<Connection>(*this, Channel::Command, commandFd);
    command->idleLimit = GetSettings().idleLimit;
    {
        std::lock_guard lock(mutex_);
        ++currentSession_;
        commandPeerClosed_ = eventPeerClosed_ = false;
        command_ = command;
        lastTid_.reset();
        cancelAnswered_ = false;
    }
    changed_.notify_all();

    std::shared_ptr<Connection> event = Handshake(*command);
    if (event) {
        std::thread eventThread([this, event] { EventLoop(*event); });
        CommandLoop(*command);
        if (!command->AbortIfAsked()) command->CloseNow(Close::Graceful);
        if (PeerClosed(Channel::Command)) {
            // The initiator closes both channels; give it time to close the
            // event channel itself, so a test can see that it did.
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, kCloseGrace, [&] { return eventPeerClosed_ || stopping_.load(); });
        }
        Close expected = Close::None;
        event->abort.compare_exchange_strong(expected, Close::Graceful);
        eventThread.join();
    }
    std::shared_ptr<Connection> released[2];
    {
        // Moved out, so that no connection is destroyed (and closed, which
        // takes its send lock) under the responder's lock.
        std::lock_guard lock(mutex_);
        released[0] = std::move(command_);
        released[1] = std::move(event_);
    }
    command->CloseNow(Close::Graceful);
    if (event) event->CloseNow(Close::Graceful);
    changed_.notify_all();
}

std::shared_ptr<Responder::Connection> Responder::Handshake(Connection& command) {
    const Settings settings = GetSettings();
    Packet request;
    if (command.ReadPacket(request) != Connection::Read::Packet) return nullptr;
    if (request.type != PacketType::InitCommandRequest) {
        NoteError("command channel: expected Init_Command_Request, got " + Describe(request));
        return nullptr;
    }
    // GUID, then the name up to its zero unit; a version may follow.
    std::u16string name;
    std::size_t offset = 24;
    bool terminated = false;
    for (; offset + 2 <= request.bytes.size(); offset += 2) {
        const char16_t unit = request.U16(offset);
        if (unit == 0) {
            terminated = true;
            offset += 2;
            break;
        }
        name.push_back(unit);
    }
    const std::size_t trailing = request.bytes.size() - std::min(offset, request.bytes.size());
    if (request.Length() < 26 || !terminated || (trailing != 0 && trailing != 4)) {
        NoteError("Init_Command_Request of " + std::to_string(request.Length()) +
                  " bytes does not match 24 + 2 x (name units + 1)");
        command.CloseNow(Close::Graceful);
        return nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        initiatorName_ = name;
        std::copy(request.bytes.begin() + 8, request.bytes.begin() + 24, initiatorGuid_.begin());
    }

    auto fail = [&](Connection& connection, std::uint32_t reason) {
        auto p = Start(PacketType::InitFail);
        PutU32(p, reason);
        connection.Send(Finish(std::move(p)));
    };
    if (settings.commandInitFail) {
        fail(command, *settings.commandInitFail);
        command.DrainUntilClosed(kCloseGrace);
        return nullptr;
    }

    auto ack = Start(PacketType::InitCommandAck);
    PutU32(ack, settings.connectionNumber);
    ack.insert(ack.end(), settings.guid.begin(), settings.guid.end());
    for (char16_t unit : settings.name) PutU16(ack, unit);
    PutU16(ack, 0);
    if (settings.ackVersion) PutU32(ack, 0x00010000);
    ack = Finish(std::move(ack));
    if (settings.commandAckLength) ack = Resize(std::move(ack), *settings.commandAckLength);
    if (!command.Send(ack)) return nullptr;

    const int eventFd = AcceptOne(&command);
    if (eventFd < 0) {
        if (eventFd == -2 && !command.AbortIfAsked()) command.DrainUntilClosed(kCloseGrace);
        return nullptr;
    }
    auto event = std::make_shared<Connection>(*this, Channel::Event, eventFd);
    event->idleLimit = settings.idleLimit;
    {
        std::lock_guard lock(mutex_);
        event_ = event;
    }
    Packet eventRequest;
    if (event->ReadPacket(eventRequest) != Connection::Read::Packet) return nullptr;
    if (eventRequest.type != PacketType::InitEventRequest || eventRequest.Length() != 12) {
        NoteError("event channel: expected a 12-byte Init_Event_Request, got " + Describe(eventRequest));
        return nullptr;
    }
    if (eventRequest.U32(8) != settings.connectionNumber) {
        NoteError("Init_Event_Request names connection " + std::to_string(eventRequest.U32(8)));
        fail(*event, 2);
        event->DrainUntilClosed(kCloseGrace);
        command.DrainUntilClosed(kCloseGrace);
        return nullptr;
    }
    if (settings.eventInitFail) {
        fail(*event, *settings.eventInitFail);
        event->DrainUntilClosed(kCloseGrace);
        command.DrainUntilClosed(kCloseGrace);
        return nullptr;
    }
    auto eventAck = Finish(Start(PacketType::InitEventAck));
    if (settings.eventAckLength != 8) eventAck = Resize(std::move(eventAck), settings.eventAckLength);
    {
        // Counted before the initiator can see the acknowledgement.
        std::lock_guard lock(mutex_);
        ++sessions_;
    }
    changed_.notify_all();
    if (!event->Send(eventAck)) return nullptr;
    return event;
}

void Responder::EventLoop(Connection& event) {
    Packet packet;
    for (;;) {
        const auto read = event.ReadPacket(packet);
        if (read != Connection::Read::Packet) break;
        if (packet.type == PacketType::ProbeRequest && packet.Length() == 8) {
            if (!GetSettings().silentProbes && !event.Send(Finish(Start(PacketType::ProbeResponse)))) break;
            continue;
        }
        NoteError("event channel: unexpected " + Describe(packet));
        break;
    }
    event.AbortIfAsked();
    std::lock_guard lock(mutex_);
    // A channel that ends takes the session with it, as on a printer.
    if (command_ && command_->abort.load() == Close::None && !stopping_.load() && !eventPeerClosed_)
        command_->abort = Close::Graceful;
}

void Responder::CommandLoop(Connection& command) {
    Packet packet;
    for (;;) {
        const auto read = command.ReadPacket(packet);
        if (read != Connection::Read::Packet) return;
        if (packet.type == PacketType::OperationRequest) {
            if (!Operation(command, packet)) return;
        } else if (packet.type == PacketType::Cancel && packet.Length() == 12) {
            if (!AnswerCancel(command, packet.U32(8), {})) return;
        } else {
            NoteError("command channel: unexpected " + Describe(packet));
            return;
        }
    }
}

bool Responder::AnswerCancel(Connection& command, std::uint32_t tid, const std::vector<std::uint8_t>& more) {
    {
        std::lock_guard lock(mutex_);
        // Only the latest transaction is cancelled, once; other ids are
        // recorded and left alone, as the initiator expects no answer to them.
        if (!settings_.answerCancel || !lastTid_ || *lastTid_ != tid || cancelAnswered_) return true;
        cancelAnswered_ = true;
    }
    for (std::size_t done = 0; done < more.size();) {
        const std::size_t piece = std::min<std::size_t>(4096, more.size() - done);
        if (!command.Send(DataHeader(tid, piece), more.data() + done, piece)) return false;
        done += piece;
    }
    return command.Send(Response(ResponseTransactionCancelled, tid, {}));
}

bool Responder::Operation(Connection& command, const Packet& request) {
    const std::uint32_t length = request.Length();
    if (length < 18 || (length - 18) % 4 != 0 || length > 18 + 4 * 5) {
        NoteError("Operation_Request of " + std::to_string(length) + " bytes");
        return false;
    }
    const std::uint32_t dataPhase = request.U32(8);
    const std::uint16_t code = request.U16(12);
    const std::uint32_t tid = request.U32(14);
    {
        std::lock_guard lock(mutex_);
        lastTid_ = tid;
        cancelAnswered_ = false;
    }
    if (dataPhase != 1 && dataPhase != 2) NoteError("Operation_Request with data phase " + std::to_string(dataPhase));
    const OperationScript script = TakeScript(code);
    if (dataPhase == 2) {
        bool cancelled = false;
        if (!ReceiveDataOut(command, tid, cancelled)) return false;
        if (cancelled) return true;
    }
    return Reply(command, tid, script);
}

bool Responder::ReceiveDataOut(Connection& command, std::uint32_t tid, bool& cancelled) {
    Packet packet;
    do {
        if (command.ReadPacket(packet) != Connection::Read::Packet) return false;
    } while (packet.type == PacketType::Cancel && packet.Length() == 12 && packet.U32(8) != tid);
    if (packet.type == PacketType::Cancel && packet.Length() == 12) {
        cancelled = true;
        return AnswerCancel(command, tid, {});
    }
    if (packet.type != PacketType::StartData || packet.Length() != 16 || packet.U32(8) != tid) {
        NoteError("data out: expected a 16-byte Start_Data for transaction " + std::to_string(tid) + ", got " +
                  Describe(packet) + " for transaction " + std::to_string(packet.U32(8)));
        return false;
    }
    const std::uint32_t total = packet.U32(12);
    std::uint64_t received = 0;
    for (;;) {
        if (total != UnknownTotal && received == total) return true;
        if (command.ReadPacket(packet) != Connection::Read::Packet) return false;
        if (packet.type == PacketType::Cancel && packet.Length() == 12) {
            // A cancel of another transaction leaves this one running.
            if (packet.U32(8) != tid) continue;
            cancelled = true;
            return AnswerCancel(command, tid, {});
        }
        if (packet.type != PacketType::Data || packet.Length() < 12 || packet.U32(8) != tid) {
            NoteError("data out: expected Data for transaction " + std::to_string(tid) + ", got " + Describe(packet));
            return false;
        }
        const std::uint32_t payload = packet.Length() - 12;
        if (total == UnknownTotal) {
            if (payload == 0) return true;
        } else if (received + payload > total) {
            NoteError("data out: " + std::to_string(received + payload) + " bytes of an announced " +
                      std::to_string(total));
            return false;
        }
        received += payload;
    }
}

bool Responder::WaitBeforeReply(const OperationScript& script) {
    std::unique_lock lock(mutex_);
    const auto ended = [&] { return stopping_.load() || (command_ && command_->abort.load() != Close::None); };
    if (script.delay > Platform::Milliseconds(0)) {
        auto& clock = Platform::GetClock();
        clock.WaitUntil(lock, changed_, clock.Now() + script.delay, ended);
    }
    if (script.hold) {
        const std::uint64_t seen = releases_;
        const auto until = SteadyClock::now() + settings_.idleLimit;
        ++held_;
        changed_.notify_all();
        changed_.wait_until(lock, until, [&] { return ended() || releases_ != seen; });
        --held_;
    }
    return !ended();
}

bool Responder::Reply(Connection& command, std::uint32_t tid, const OperationScript& script) {
    if (!WaitBeforeReply(script)) return false;
    if (script.closeInstead != Close::None) {
        command.CloseNow(script.closeInstead);
        std::lock_guard lock(mutex_);
        if (event_ && event_->abort.load() == Close::None) event_->abort = script.closeInstead;
        return false;
    }
    if (!script.rawReply.empty()) return command.Send(script.rawReply);

    const std::uint32_t replyTid = script.wrongTransactionId ? tid + 1 : tid;
    if (script.dataIn) {
        const auto& data = *script.dataIn;
        const std::uint32_t total =
            script.announcedTotal ? *script.announcedTotal
                                  : (script.unknownTotal ? UnknownTotal : static_cast<std::uint32_t>(data.size()));
        auto start = Start(PacketType::StartData);
        PutU32(start, replyTid);
        PutU32(start, total);
        if (script.standardStartData) PutU32(start, 0);  // the upper half of a 64-bit total
        if (!command.Send(Finish(std::move(start)))) return false;

        const std::size_t chunk = std::max<std::size_t>(1, script.chunkSize);
        const std::size_t stall = script.stallAfter.value_or(data.size());
        for (std::size_t done = 0; done < data.size();) {
            if (done >= stall) {
                // Stuck mid-transfer until the initiator cancels.
                Packet packet;
                for (;;) {
                    if (command.ReadPacket(packet) != Connection::Read::Packet) return false;
                    if (packet.type == PacketType::Cancel && packet.Length() == 12) {
                        if (packet.U32(8) != tid) continue;
                        return AnswerCancel(command, tid, script.dataAfterCancel);
                    }
                    NoteError("stalled data in: unexpected " + Describe(packet));
                    return false;
                }
            }
            const std::size_t piece = std::min({chunk, data.size() - done, stall - done});
            if (!command.Send(DataHeader(replyTid, piece), data.data() + done, piece)) return false;
            done += piece;
        }
        if (script.unknownTotal && !command.Send(DataHeader(replyTid, 0))) return false;
        if (script.endData) {
            auto end = Start(PacketType::EndData);
            PutU32(end, replyTid);
            if (!command.Send(Finish(std::move(end)))) return false;
        }
    }
    auto response = Response(script.responseCode, replyTid, script.responseParams);
    if (script.responseLength) response = Resize(std::move(response), *script.responseLength);
    return command.Send(response);
}

}  // namespace PtpIpSim
