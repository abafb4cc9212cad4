#include "Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace Jorvale {
namespace {

using Platform::Milliseconds;

Milliseconds Now() {
    return Platform::GetClock().Now();
}

std::optional<Milliseconds> DeadlineAfter(std::optional<Milliseconds> timeout) {
    if (!timeout) return std::nullopt;
    return Now() + *timeout;
}

// Moves `size` bytes with `io(offset, length)`, one send or receive call at a
// time. A non-blocking call that would block waits with `wait()` when
// `canWait`; anything else that moves nothing means the peer is gone.
template <class Io, class Wait>
IoStatus TransferAll(std::size_t size, bool canWait, Io&& io, Wait&& wait) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = io(done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && canWait && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const IoStatus waited = wait();
            if (waited != IoStatus::Ok) return waited;
            continue;
        }
        return IoStatus::Closed;
    }
    return IoStatus::Ok;
}

}  // namespace

Socket::~Socket() {
    Close();
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_.exchange(-1);
    }
    return *this;
}

Socket Socket::Connect(const DeviceAddress& address, Milliseconds timeout, Milliseconds step) {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.Valid()) return s;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(address.port);
    std::memcpy(&peer.sin_addr.s_addr, address.ipv4, 4);

    const int flags = ::fcntl(s.fd_, F_GETFL);
    ::fcntl(s.fd_, F_SETFL, flags | O_NONBLOCK);
    if (::connect(s.fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS || s.WaitFor(POLLOUT, Now() + timeout, step) != IoStatus::Ok) return Socket();
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(s.fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return Socket();
    }
    ::fcntl(s.fd_, F_SETFL, flags);

    const int on = 1;
    const linger reset{1, 0};
    if (::setsockopt(s.fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        ::setsockopt(s.fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
        ::setsockopt(s.fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset) != 0)
        return Socket();
    return s;
}

IoStatus Socket::WaitFor(short events, std::optional<Milliseconds> deadline, Milliseconds step) {
    for (;;) {
        pollfd p{fd_, events, 0};
        int wait = -1;
        if (deadline) {
            const Milliseconds left = *deadline - Now();
            if (left <= Milliseconds(0)) return IoStatus::TimedOut;
            wait = static_cast<int>(std::clamp<Milliseconds::rep>(std::min(left, step).count(), 1, INT_MAX));
        }
        const int ready = ::poll(&p, 1, wait);
        if (ready > 0) return IoStatus::Ok;  // errors and hang-ups show in the next call
        if (ready < 0 && errno != EINTR) return IoStatus::Closed;
    }
}

IoStatus Socket::SendAll(const void* data, std::size_t size, std::optional<Milliseconds> timeout, Milliseconds step) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const auto deadline = DeadlineAfter(timeout);
    const int flags = MSG_NOSIGNAL | (deadline ? MSG_DONTWAIT : 0);
    return TransferAll(
        size, deadline.has_value(),
        [&](std::size_t offset, std::size_t length) { return ::send(fd_, bytes + offset, length, flags); },
        [&] { return WaitFor(POLLOUT, deadline, step); });
}

IoStatus Socket::SendVector(const iovec* buffers, std::size_t count, std::size_t& sent) {
    sent = 0;
    std::vector<iovec> left(buffers, buffers + count);
    std::size_t first = 0;
    while (first < left.size()) {
        msghdr message{};
        message.msg_iov = left.data() + first;
        message.msg_iovlen = std::min<std::size_t>(left.size() - first, IOV_MAX);
        const ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return IoStatus::Closed;
        sent += static_cast<std::size_t>(n);
        auto done = static_cast<std::size_t>(n);
        while (first < left.size() && done >= left[first].iov_len) {
            done -= left[first].iov_len;
            ++first;
        }
        if (done > 0) {
            left[first].iov_base = static_cast<std::uint8_t*>(left[first].iov_base) + done;
            left[first].iov_len -= done;
        }
    }
    return IoStatus::Ok;
}

IoStatus Socket::RecvAll(void* data, std::size_t size, std::optional<Milliseconds> timeout, Milliseconds step) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    const auto deadline = DeadlineAfter(timeout);
    const int flags = deadline ? MSG_DONTWAIT : MSG_WAITALL;
    return TransferAll(
        size, deadline.has_value(),
        [&](std::size_t offset, std::size_t length) { return ::recv(fd_, bytes + offset, length, flags); },
        [&] { return WaitFor(POLLIN, deadline, step); });
}

IoStatus Socket::Discard(std::uint64_t size, std::optional<Milliseconds> timeout, Milliseconds step) {
    std::uint8_t sink[4096];
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof sink));
        const IoStatus status = RecvAll(sink, piece, timeout, step);
        if (status != IoStatus::Ok) return status;
        size -= piece;
    }
    return IoStatus::Ok;
}

bool Socket::WaitReadable(Milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::clamp<Milliseconds::rep>(wait.count(), 0, INT_MAX)));
    return ready > 0;
}

void Socket::Shutdown() {
    const int fd = fd_;
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void Socket::Close() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

}  // namespace Jorvale
