// Docks of a machine kept on disk. They live in the dock simulator program,
// not in the programs that use them: the machine folder lists them in
// docks.txt, LoadMachine plugs each into a port of its own host controller
// (and each walk of the USB tree those attached or detached since), and
// every read, write and control on its printing interface goes over
// the Unix socket docks.sock in the machine folder to the simulator.
//
//   docks.txt (UTF-8, one statement a line, '#' comments)
//     [dock "GD0001"]                 the serial number
//     vendor = 0x3B7D
//     product = 0x410F
//     name = "Glimmer Dock"           product string
//     port = 1                        root port, 1..127 (required)
//
// Wire: each message is a 4-byte little-endian length, then the body.
//   request  op (1 byte), serial length (1 byte), serial, arguments
//     kWrite    the bytes                       -> written (4 bytes)
//     kRead     most (4 bytes)                  -> the bytes read
//     kControl  code, out length (4+4), input   -> the output
//     kPing                                     -> nothing
//     kQuit                                     -> nothing; the simulator stops
//     kNetwork                                  -> why the dock is not announced
//                                                  on the network it joined (text;
//                                                  empty when nothing is wrong)
//   answer   Win32 error (4 bytes), then the result
#pragma once

#include "Platform/Usb.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

struct DockEntry {
    std::string serial;
    WORD vendorId = 0x3B7D;
    WORD productId = 0;
    std::string product;
    unsigned port = 1;
    bool operator==(const DockEntry&) const = default;
};

// Throw MachineFileError naming sourceName and the line: a bad statement,
// a serial that is not 1 to 64 letters, digits, '-' or '_' or is given
// twice, or a port missing, out of range or taken twice.
std::vector<DockEntry> ParseDocksText(std::string_view text, const std::string& sourceName);
std::string FormatDocksText(const std::vector<DockEntry>& docks);

std::string DockSocketPath(const std::string& machineFolder);

namespace DockWire {

enum Op : BYTE { kWrite = 1, kRead = 2, kControl = 3, kPing = 4, kQuit = 5, kNetwork = 6 };
constexpr std::size_t kMaxMessage = 16u << 20;

struct Request {
    Op op = kPing;
    std::string serial;
    std::vector<BYTE> data;  // kWrite: the bytes; kControl: the input
    std::uint32_t most = 0;  // kRead: at most so many bytes; kControl: output length
    std::uint32_t code = 0;  // kControl
};

struct Answer {
    DWORD error = ERROR_SUCCESS;
    std::vector<BYTE> data;
};

std::vector<BYTE> Encode(const Request& request);
// Throws std::invalid_argument for a malformed body.
Request DecodeRequest(const std::vector<BYTE>& body);
std::vector<BYTE> Encode(const Answer& answer);
Answer DecodeAnswer(const std::vector<BYTE>& body);

// One message on a connected socket. Send returns false when the peer is
// gone; Receive returns nullopt at the end of the stream and throws
// std::runtime_error for a length above kMaxMessage or a broken stream.
// Both throw std::runtime_error too when the socket's time-out passes.
bool Send(int socket, const std::vector<BYTE>& body);
std::optional<std::vector<BYTE>> Receive(int socket);

// How long a call waits for the simulator at each step: being let in,
// taking the request, answering. Its docks answer at once, so a simulator
// that takes longer has stopped answering.
constexpr int kAnswerSeconds = 5;

// Connects to the socket at path, with kAnswerSeconds as the time-out of
// sending and receiving; -1 when nothing listens there (errno EAGAIN when
// something does but lets nobody in).
int Connect(const std::string& path);
// One request and its answer on a fresh connection; nullopt when the
// simulator cannot be reached. A simulator that does not answer in time
// gets the answer ERROR_SEM_TIMEOUT, as a USB transfer that times out;
// delivered (when given) tells whether the whole request went over first.
std::optional<Answer> Call(const std::string& socketPath, const Request& request, bool* delivered = nullptr);

}  // namespace DockWire

// A dock's USB side in a program: standard printer descriptors from the
// entry, and a printing interface whose operations the simulator answers.
// When the simulator is not running the device reports that it is not
// connected; when it does not answer, its transfers time out.
class LinkedDock : public UsbDeviceModel {
public:
    LinkedDock(const DockEntry& entry, std::string socketPath);

    DWORD Write(const BYTE* data, DWORD length, DWORD& written) override;
    DWORD Read(BYTE* buffer, DWORD length, DWORD& read) override;
    DWORD Control(DWORD code, const BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD& returned) override;

private:
    std::string serial_;
    std::string socketPath_;
};

}  // namespace Platform
