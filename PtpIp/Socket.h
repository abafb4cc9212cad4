// A TCP connection to a printer. Time-outs are measured on the machine's
// clock (polling in short real steps), so tests can shorten them or move the
// clock; without a time-out a call blocks until data moves or the socket is
// shut down from another thread.
#pragma once

#include "Url.h"

#include "Platform/Clock.h"

#include <sys/uio.h>

#include <atomic>
#include <cstddef>
#include <optional>

namespace Jorvale {

enum class IoStatus { Ok, Closed, TimedOut };

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : fd_(other.fd_.exchange(-1)) {}
    Socket& operator=(Socket&& other) noexcept;

    // Connects with keep-alive, no Nagle delay and a reset on close. Gives
    // up after `timeout` (on the machine's clock). Invalid on failure.
    static Socket Connect(const DeviceAddress& address, Platform::Milliseconds timeout, Platform::Milliseconds step);

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // The whole buffer or a failure; `timeout` limits each wait for progress.
    IoStatus SendAll(const void* data, std::size_t size, std::optional<Platform::Milliseconds> timeout = {},
                     Platform::Milliseconds step = Platform::Milliseconds(100));
    // Gathers the buffers into as few sends as possible; `sent` counts bytes
    // that left, also on failure.
    IoStatus SendVector(const iovec* buffers, std::size_t count, std::size_t& sent);
    IoStatus RecvAll(void* data, std::size_t size, std::optional<Platform::Milliseconds> timeout = {},
                     Platform::Milliseconds step = Platform::Milliseconds(100));
    // Reads and drops `size` bytes.
    IoStatus Discard(std::uint64_t size, std::optional<Platform::Milliseconds> timeout = {},
                     Platform::Milliseconds step = Platform::Milliseconds(100));
    // True when data (or an end) is waiting, after at most `wait` of real time.
    bool WaitReadable(Platform::Milliseconds wait);

    // Wakes calls blocked on the socket in other threads; they fail.
    void Shutdown();
    void Close();

private:
    // Polls until ready or the deadline on the machine's clock passes.
    IoStatus WaitFor(short events, std::optional<Platform::Milliseconds> deadline, Platform::Milliseconds step);

    std::atomic<int> fd_{-1};
};

}  // namespace Jorvale
