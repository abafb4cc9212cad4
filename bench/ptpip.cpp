// A 64 MiB data-in and data-out transaction through the PTP/IP transport
// against a plain TCP socket pair moving the same bytes, in the same run.
// The printer end is a lean loopback peer written here, so the figures are
// the transport's and the socket's, not a simulator's.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PtpIp/Jorvale.h"

namespace {

constexpr std::size_t kTotal = 64u << 20;
constexpr std::size_t kDataInPacket = 64u << 10;  // what the peer puts in one Data packet
constexpr WORD kOpGetObject = 0x1009;
constexpr WORD kOpSendObject = 0x100D;

void Fail(const char* what) {
    throw std::runtime_error(what);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void SendAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n <= 0) Fail("send");
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}
void RecvAll(int fd, void* data, std::size_t size) {
    if (size > 0 && ::recv(fd, data, size, MSG_WAITALL) != static_cast<ssize_t>(size)) Fail("recv");
}

// Sends every buffer, IOV_MAX at a time.
void SendVector(int fd, std::vector<iovec> parts) {
    std::size_t first = 0;
    while (first < parts.size()) {
        msghdr message{};
        message.msg_iov = parts.data() + first;
        message.msg_iovlen = std::min<std::size_t>(parts.size() - first, IOV_MAX);
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (n <= 0) Fail("sendmsg");
        for (auto done = static_cast<std::size_t>(n); done > 0;) {
            const std::size_t step = std::min(done, parts[first].iov_len);
            parts[first].iov_base = static_cast<std::uint8_t*>(parts[first].iov_base) + step;
            parts[first].iov_len -= step;
            done -= step;
            if (parts[first].iov_len == 0) ++first;
        }
        while (first < parts.size() && parts[first].iov_len == 0) ++first;
    }
}

class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0) Fail("listen");
        socklen_t size = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd_); }
    int Accept() { return ::accept(fd_, nullptr, nullptr); }
    int Connect() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port_);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Fail("connect");
        return fd;
    }
    std::u16string Url() const {
        const std::string s = "ptp://127.0.0.1:" + std::to_string(port_) + "/";
        return {s.begin(), s.end()};
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

const std::vector<std::uint8_t>& Source() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> d(kTotal);
        for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));
        return d;
    }();
    return data;
}

// --- Plain sockets --------------------------------------------------------

// The peer sends (or takes) kTotal bytes for each one-byte request.
void PlainPeer(Listener& listener, bool toClient) {
    const int fd = listener.Accept();
    std::vector<std::uint8_t> sink(1u << 20);
    std::uint8_t request = 0;
    while (::recv(fd, &request, 1, MSG_WAITALL) == 1) {
        if (toClient) {
            SendAll(fd, Source().data(), kTotal);
        } else {
            for (std::size_t left = kTotal; left > 0;) {
                const ssize_t n = ::recv(fd, sink.data(), std::min(left, sink.size()), 0);
                if (n <= 0) Fail("plain recv");
                left -= static_cast<std::size_t>(n);
            }
            SendAll(fd, &request, 1);
        }
    }
    ::close(fd);
}

void BM_PlainDataIn(benchmark::State& state) {
    Listener listener;
    std::thread peer(PlainPeer, std::ref(listener), true);
    const int fd = listener.Connect();
    std::vector<std::uint8_t> buffer(kTotal);
    for (auto _ : state) {
        const std::uint8_t request = 1;
        SendAll(fd, &request, 1);
        RecvAll(fd, buffer.data(), kTotal);
    }
    ::close(fd);
    peer.join();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void BM_PlainDataOut(benchmark::State& state) {
    Listener listener;
    std::thread peer(PlainPeer, std::ref(listener), false);
    const int fd = listener.Connect();
    for (auto _ : state) {
        const std::uint8_t request = 1;
        SendAll(fd, &request, 1);
        SendAll(fd, Source().data(), kTotal);
        std::uint8_t ack = 0;
        RecvAll(fd, &ack, 1);
    }
    ::close(fd);
    peer.join();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

// --- The transport --------------------------------------------------------

// The printer: handshake, then per request a data-in phase of kTotal bytes in
// 64 KiB Data packets, or a data-out phase taken in large reads and walked
// packet by packet, then the response.
void PtpPeer(Listener& listener) {
    const int command = listener.Accept();
    std::uint8_t header[8];
    std::vector<std::uint8_t> scratch(1u << 20);
    RecvAll(command, header, 8);
    RecvAll(command, scratch.data(), Get32(header) - 8);
    std::uint8_t ack[32] = {};
    Put32(ack, 32);
    Put32(ack + 4, 2);
    Put32(ack + 8, 1);
    SendAll(command, ack, sizeof ack);
    const int event = listener.Accept();
    RecvAll(event, scratch.data(), 12);
    std::uint8_t eventAck[8];
    Put32(eventAck, 8);
    Put32(eventAck + 4, 4);
    SendAll(event, eventAck, 8);

    for (;;) {
        if (::recv(command, header, 8, MSG_WAITALL) != 8) break;
        const std::uint32_t length = Get32(header);
        RecvAll(command, scratch.data(), length - 8);
        const std::uint32_t phase = Get32(scratch.data());
        const std::uint32_t tid = Get32(scratch.data() + 6);
        if (phase == 2) {
            std::uint8_t start[16];
            RecvAll(command, start, 16);
            std::uint64_t payloadLeft = Get32(start + 12);
            // Walk the Data packets inside large reads.
            std::uint8_t carry[12];
            std::size_t carried = 0;
            std::uint32_t inPacket = 0;
            while (payloadLeft > 0) {
                const ssize_t n = ::recv(command, scratch.data(), scratch.size(), 0);
                if (n <= 0) Fail("ptp recv");
                std::size_t at = 0;
                while (at < static_cast<std::size_t>(n)) {
                    if (inPacket > 0) {
                        const std::size_t take = std::min<std::size_t>(inPacket, n - at);
                        inPacket -= static_cast<std::uint32_t>(take);
                        payloadLeft -= take;
                        at += take;
                        continue;
                    }
                    const std::size_t take = std::min<std::size_t>(12 - carried, n - at);
                    std::memcpy(carry + carried, scratch.data() + at, take);
                    carried += take;
                    at += take;
                    if (carried == 12) {
                        if (Get32(carry + 4) != 10) Fail("not a Data packet");
                        inPacket = Get32(carry) - 12;
                        carried = 0;
                    }
                }
            }
        } else {
            std::uint8_t start[16];
            Put32(start, 16);
            Put32(start + 4, 9);
            Put32(start + 8, tid);
            Put32(start + 12, kTotal);
            SendAll(command, start, 16);
            // The whole phase in few large sends, as a plain sender would.
            std::vector<std::array<std::uint8_t, 12>> headers(kTotal / kDataInPacket);
            std::vector<iovec> parts;
            for (std::size_t k = 0; k < headers.size(); ++k) {
                Put32(headers[k].data(), static_cast<std::uint32_t>(12 + kDataInPacket));
                Put32(headers[k].data() + 4, 10);
                Put32(headers[k].data() + 8, tid);
                parts.push_back({headers[k].data(), 12});
                parts.push_back({const_cast<std::uint8_t*>(Source().data() + k * kDataInPacket), kDataInPacket});
            }
            SendVector(command, parts);
        }
        std::uint8_t response[14];
        Put32(response, 14);
        Put32(response + 4, 7);
        response[8] = 0x01;
        response[9] = 0x20;
        Put32(response + 10, tid);
        SendAll(command, response, sizeof response);
    }
    ::close(command);
    ::close(event);
}

struct Session {
    Listener listener;
    std::thread peer{PtpPeer, std::ref(listener)};
    PtpiDevice* device = nullptr;
    Session() {
        if (PtpOpenDevice(listener.Url().c_str(), 0, &device) != 0) Fail("open");
    }
    ~Session() {
        PtpCloseDevice(device);
        peer.join();
    }
};

void Check(HRESULT hr) {
    if (hr != 0) Fail("transport call failed");
}

void BM_TransportDataIn(benchmark::State& state) {
    Session session;
    std::vector<std::uint8_t> buffer(kTotal);
    for (auto _ : state) {
        PtpCommandBlock command{};
        command.operationCode = kOpGetObject;
        Check(PtpSendCmd(session.device, &command));
        DWORD total = 0;
        Check(PtpWaitAck(session.device, &total));
        DWORD length = total;
        Check(PtpReadData(session.device, buffer.data(), &length));
        PtpResponseBlock response{};
        Check(PtpGetRsp(session.device, &response));
    }
    if (std::memcmp(buffer.data(), Source().data(), kTotal) != 0) state.SkipWithError("data in differs");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void BM_TransportDataOut(benchmark::State& state) {
    Session session;
    for (auto _ : state) {
        PtpCommandBlock command{};
        command.operationCode = kOpSendObject;
        command.dataOutLength = kTotal;
        Check(PtpSendCmd(session.device, &command));
        DWORD length = kTotal;
        Check(PtpWriteData(session.device, Source().data(), &length));
        DWORD total = 0;
        Check(PtpWaitAck(session.device, &total));
        PtpResponseBlock response{};
        Check(PtpGetRsp(session.device, &response));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

}  // namespace

BENCHMARK(BM_PlainDataIn)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransportDataIn)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainDataOut)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransportDataOut)->Unit(benchmark::kMillisecond)->UseRealTime();
