// The program side of docks kept by the dock simulator: the wire messages
// and the USB device that forwards its printing interface over the socket.
#include "Platform/DockLink.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace Platform {

std::string DockSocketPath(const std::string& machineFolder) {
    return machineFolder + "/docks.sock";
}

namespace DockWire {
namespace {

// Little-endian at `at`, in a message sized in advance (growing it piecemeal
// gives the optimiser copies out of buffers it thinks too small); returns
// the byte after.
BYTE* Put32(BYTE* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) *at++ = static_cast<BYTE>(value >> (8 * i));
    return at;
}

class Reader {
public:
    explicit Reader(const std::vector<BYTE>& body) : body_(body) {}
    BYTE Byte() {
        Need(1);
        return body_[pos_++];
    }
    std::uint32_t U32() {
        Need(4);
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(body_[pos_++]) << (8 * i);
        return value;
    }
    std::string Text(std::size_t size) {
        Need(size);
        std::string text(body_.begin() + static_cast<std::ptrdiff_t>(pos_),
                         body_.begin() + static_cast<std::ptrdiff_t>(pos_ + size));
        pos_ += size;
        return text;
    }
    std::vector<BYTE> Rest() {
        std::vector<BYTE> rest(body_.begin() + static_cast<std::ptrdiff_t>(pos_), body_.end());
        pos_ = body_.size();
        return rest;
    }
    void End() const {
        if (pos_ != body_.size()) throw std::invalid_argument("dock message: bytes after its end");
    }

private:
    void Need(std::size_t size) const {
        if (body_.size() - pos_ < size) throw std::invalid_argument("dock message: cut short");
    }
    const std::vector<BYTE>& body_;
    std::size_t pos_ = 0;
};

// The peer is there but did not take or give a byte within the socket's
// time-out.
class TimedOut : public std::runtime_error {
public:
    TimedOut() : std::runtime_error("dock socket: no answer in time") {}
};

bool TimedOutNow() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

bool WriteAll(int socket, const BYTE* data, std::size_t size) {
    while (size > 0) {
        const auto sent = ::send(socket, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && TimedOutNow()) throw TimedOut();
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// 1: all read; 0: the stream ended before the first byte; throws when it
// ends within.
int ReadAll(int socket, BYTE* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const auto n = ::recv(socket, data + got, size - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && TimedOutNow()) throw TimedOut();
        if (n < 0) throw std::runtime_error(std::string("dock socket: ") + std::strerror(errno));
        if (n == 0) {
            if (got == 0) return 0;
            throw std::runtime_error("dock socket: the stream ended within a message");
        }
        got += static_cast<std::size_t>(n);
    }
    return 1;
}

}  // namespace

std::vector<BYTE> Encode(const Request& request) {
    if (request.serial.size() > 255) throw std::invalid_argument("dock message: serial number too long");
    const bool carriesData = request.op == kWrite || request.op == kControl;
    const std::size_t arguments = request.op == kRead ? 4 : request.op == kControl ? 8 : 0;
    std::vector<BYTE> out(2 + request.serial.size() + arguments + (carriesData ? request.data.size() : 0));
    BYTE* at = out.data();
    *at++ = static_cast<BYTE>(request.op);
    *at++ = static_cast<BYTE>(request.serial.size());
    at = std::copy(request.serial.begin(), request.serial.end(), at);
    if (request.op == kRead) at = Put32(at, request.most);
    if (request.op == kControl) {
        at = Put32(at, request.code);
        at = Put32(at, request.most);
    }
    if (carriesData) std::copy(request.data.begin(), request.data.end(), at);
    return out;
}

Request DecodeRequest(const std::vector<BYTE>& body) {
    Reader in(body);
    Request request;
    const BYTE op = in.Byte();
    if (op < kWrite || op > kNetwork) throw std::invalid_argument("dock message: unknown operation " + std::to_string(op));
    request.op = static_cast<Op>(op);
    request.serial = in.Text(in.Byte());
    if (request.op == kRead) request.most = in.U32();
    if (request.op == kControl) {
        request.code = in.U32();
        request.most = in.U32();
    }
    if (request.op == kWrite || request.op == kControl) request.data = in.Rest();
    in.End();
    return request;
}

std::vector<BYTE> Encode(const Answer& answer) {
    std::vector<BYTE> out(4 + answer.data.size());
    std::copy(answer.data.begin(), answer.data.end(), Put32(out.data(), answer.error));
    return out;
}

Answer DecodeAnswer(const std::vector<BYTE>& body) {
    Reader in(body);
    Answer answer;
    answer.error = in.U32();
    answer.data = in.Rest();
    return answer;
}

bool Send(int socket, const std::vector<BYTE>& body) {
    if (body.size() > kMaxMessage) return false;
    BYTE header[4];
    Put32(header, static_cast<std::uint32_t>(body.size()));
    return WriteAll(socket, header, sizeof header) && WriteAll(socket, body.data(), body.size());
}

std::optional<std::vector<BYTE>> Receive(int socket) {
    BYTE header[4];
    if (ReadAll(socket, header, sizeof header) == 0) return std::nullopt;
    const std::uint32_t size =
        header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<std::uint32_t>(header[3]) << 24);
    if (size > kMaxMessage) throw std::runtime_error("dock socket: message of " + std::to_string(size) + " bytes");
    std::vector<BYTE> body(size);
    if (size > 0 && ReadAll(socket, body.data(), size) == 0)
        throw std::runtime_error("dock socket: the stream ended within a message");
    return body;
}

int Connect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // The send time-out also bounds the wait for a full accept queue.
    const timeval limit{kAnswerSeconds, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::optional<Answer> Call(const std::string& socketPath, const Request& request, bool* delivered) {
    const Answer timedOut{ERROR_SEM_TIMEOUT, {}};
    if (delivered != nullptr) *delivered = false;
    const int fd = Connect(socketPath);
    if (fd < 0) return TimedOutNow() ? std::optional(timedOut) : std::nullopt;
    std::optional<Answer> answer;
    try {
        if (Send(fd, Encode(request))) {
            if (delivered != nullptr) *delivered = true;
            if (auto body = Receive(fd)) answer = DecodeAnswer(*body);
        }
    } catch (const TimedOut&) {
        answer = timedOut;
    } catch (const std::exception&) {
        answer.reset();
    }
    ::close(fd);
    return answer;
}

}  // namespace DockWire

namespace {

UsbPrinterIdentity IdentityOf(const DockEntry& entry) {
    UsbPrinterIdentity identity;
    identity.vendorId = entry.vendorId;
    identity.productId = entry.productId;
    identity.manufacturer = u"Velmo";
    identity.product = std::u16string(entry.product.begin(), entry.product.end());
    identity.serialNumber = std::u16string(entry.serial.begin(), entry.serial.end());
    return identity;
}

}  // namespace

LinkedDock::LinkedDock(const DockEntry& entry, std::string socketPath)
    : UsbDeviceModel(MakeUsbPrinterDescriptors(IdentityOf(entry))),
      serial_(entry.serial),
      socketPath_(std::move(socketPath)) {}

DWORD LinkedDock::Write(const BYTE* data, DWORD length, DWORD& written) {
    written = 0;
    DockWire::Request request;
    request.op = DockWire::kWrite;
    request.serial = serial_;
    request.data.assign(data, data + length);
    bool delivered = false;
    const auto answer = DockWire::Call(socketPath_, request, &delivered);
    if (!answer) return ERROR_DEVICE_NOT_CONNECTED;
    // Bytes that went over are taken, as by a USB transfer whose
    // completion is lost; a request cut short is never carried out.
    if (answer->error == ERROR_SEM_TIMEOUT && answer->data.empty()) {
        if (delivered) written = length;
        return answer->error;
    }
    if (answer->data.size() == 4)
        written = std::min<DWORD>(length, answer->data[0] | (answer->data[1] << 8) | (answer->data[2] << 16) |
                                              (static_cast<DWORD>(answer->data[3]) << 24));
    return answer->error;
}

DWORD LinkedDock::Read(BYTE* buffer, DWORD length, DWORD& read) {
    read = 0;
    DockWire::Request request;
    request.op = DockWire::kRead;
    request.serial = serial_;
    request.most = length;
    const auto answer = DockWire::Call(socketPath_, request);
    if (!answer) return ERROR_DEVICE_NOT_CONNECTED;
    read = static_cast<DWORD>(std::min<std::size_t>(length, answer->data.size()));
    if (read > 0) std::memcpy(buffer, answer->data.data(), read);
    return answer->error;
}

DWORD LinkedDock::Control(DWORD code, const BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD& returned) {
    returned = 0;
    DockWire::Request request;
    request.op = DockWire::kControl;
    request.serial = serial_;
    request.most = outLength;
    request.code = code;
    if (in != nullptr) request.data.assign(in, in + inLength);
    const auto answer = DockWire::Call(socketPath_, request);
    if (!answer) return ERROR_DEVICE_NOT_CONNECTED;
    returned = static_cast<DWORD>(std::min<std::size_t>(outLength, answer->data.size()));
    if (returned > 0 && out != nullptr) std::memcpy(out, answer->data.data(), returned);
    return answer->error;
}

}  // namespace Platform
