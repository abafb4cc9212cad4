// A printer end for tests, driven step by step by the test itself: raw
// loopback sockets, packets built and read byte by byte independently of the
// library's own encoding.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestPeer {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
inline std::uint16_t Get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

inline Bytes Packet(std::uint32_t type, const Bytes& body = {}) {
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(8 + body.size()));
    Put32(b, type);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
inline Bytes U32Packet(std::uint32_t type, std::uint32_t v) {
    Bytes body;
    Put32(body, v);
    return Packet(type, body);
}
inline Bytes CommandAck(std::uint32_t connection) {
    Bytes body;
    Put32(body, connection);
    body.resize(4 + 16, 0xAB);  // responder GUID
    Put16(body, u'P');
    Put16(body, 0);
    return Packet(2, body);  // 8 + 4 + 16 + 4 = 32
}
inline Bytes Response(std::uint16_t code, std::uint32_t tid, std::vector<std::uint32_t> params = {}) {
    Bytes body;
    Put16(body, code);
    Put32(body, tid);
    for (auto p : params) Put32(body, p);
    return Packet(7, body);
}
inline Bytes Event(std::uint16_t code, std::uint32_t tid, std::vector<std::uint32_t> params = {}) {
    Bytes body;
    Put16(body, code);
    Put32(body, tid);
    for (auto p : params) Put32(body, p);
    return Packet(8, body);
}
inline Bytes StartData(std::uint32_t tid, std::uint32_t total) {
    Bytes body;
    Put32(body, tid);
    Put32(body, total);
    return Packet(9, body);
}
inline Bytes Data(std::uint32_t tid, const Bytes& payload) {
    Bytes body;
    Put32(body, tid);
    body.insert(body.end(), payload.begin(), payload.end());
    return Packet(10, body);
}

class Connection {
public:
    explicit Connection(int fd = -1) : fd_(fd) {}
    ~Connection() { Close(); }
    Connection(Connection&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Connection& operator=(Connection&& o) noexcept {
        if (this != &o) {
            Close();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }
    bool Valid() const { return fd_ >= 0; }

    void Write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) throw std::runtime_error("peer write failed");
            done += static_cast<std::size_t>(n);
        }
    }
    // Exactly n bytes within the time limit (real time), or nullopt.
    std::optional<Bytes> Read(std::size_t n, std::chrono::milliseconds limit = 5s) {
        Bytes out(n);
        std::size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (done < n) {
            pollfd p{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
            const ssize_t r = ::recv(fd_, out.data() + done, n - done, 0);
            if (r <= 0) return std::nullopt;
            done += static_cast<std::size_t>(r);
        }
        return out;
    }
    // One whole packet (header included).
    std::optional<Bytes> ReadPacket(std::chrono::milliseconds limit = 5s) {
        auto header = Read(8, limit);
        if (!header) return std::nullopt;
        const std::uint32_t length = Get32(*header, 0);
        if (length < 8 || length > (64u << 20)) return std::nullopt;
        auto body = Read(length - 8, limit);
        if (!body) return std::nullopt;
        header->insert(header->end(), body->begin(), body->end());
        return header;
    }
    // True once the other end has closed or reset the connection.
    bool WaitClosed(std::chrono::milliseconds limit = 5s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::uint8_t sink[4096];
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                const ssize_t r = ::recv(fd_, sink, sizeof sink, 0);
                if (r <= 0) return true;
            }
        }
        return false;
    }
    // Nothing arrives within the limit.
    bool Quiet(std::chrono::milliseconds limit) {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(limit.count())) == 0;
    }
    // Closes with a reset instead of an orderly end.
    void Reset() {
        const linger reset{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        Close();
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0)
            throw std::runtime_error("cannot listen");
        socklen_t size = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd_); }
    std::uint16_t Port() const { return port_; }
    std::u16string Url() const {
        const std::string s = "ptp://127.0.0.1:" + std::to_string(port_) + "/";
        return std::u16string(s.begin(), s.end());
    }
    Connection Accept(std::chrono::milliseconds limit = 5s) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return Connection();
        return Connection(::accept(fd_, nullptr, nullptr));
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// Both connections of an accepted session, with the initiator's requests.
struct Session {
    Connection command;
    Connection event;
    Bytes initCommandRequest;
    Bytes initEventRequest;
};

// The printer's side of a successful handshake.
inline Session AcceptSession(Listener& listener, std::uint32_t connection = 7) {
    Session s;
    s.command = listener.Accept();
    if (!s.command.Valid()) throw std::runtime_error("no command connection");
    s.initCommandRequest = s.command.ReadPacket().value();
    s.command.Write(CommandAck(connection));
    s.event = listener.Accept();
    if (!s.event.Valid()) throw std::runtime_error("no event connection");
    s.initEventRequest = s.event.ReadPacket().value();
    s.event.Write(Packet(4));
    return s;
}

}  // namespace TestPeer
