// How the responder makes itself known by DNS-SD: a "_ptp._tcp" service with
// a TXT record that carries both key sets printers use ("usbvid=", "pid=",
// "guid=" and "VID=", "PID=", "GUID=", "SEQ=", "VER="), on a host name whose
// address is 127.0.0.1, where the responder listens.
//
// Unit tests announce through the fake DNS-SD library (fakedns/); the
// integration tests through the real daemon with AvahiPublisher.
#pragma once

#include <sys/types.h>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace PtpIpSim {

struct Announcement {
    std::string instanceName = "Velmo PTP Responder";
    std::string hostName = "velmo-ptp-responder.local";  // without the trailing dot
    std::array<std::uint8_t, 4> address{127, 0, 0, 1};
    std::uint16_t port = 0;
    std::uint32_t vendorId = 0x3B7D;
    std::uint32_t productId = 0x0102;
    std::string guid = "5E1D0C4A-7B21-4F0E-9C3D-2A61B0F4C7E8";
    std::uint32_t sequence = 1;
    std::uint32_t version = 1;
    std::vector<std::string> extraEntries;  // appended to the TXT record as given
};

// The TXT entries, in order: usbvid, pid, guid, VID, PID, GUID, SEQ, VER
// (ids in upper-case hexadecimal), then the extra ones.
std::vector<std::string> TxtEntries(const Announcement& announcement);
// The TXT record in wire form (length byte, entry, ...).
std::string TxtRecord(const Announcement& announcement);

// Publishes an announcement through avahi-daemon with avahi-publish: one
// process for the host's address record, one for the service. Both are
// stopped, by process id, on destruction, and end when the thread that
// started them ends (the parent-death signal), so they never outlive it.
class AvahiPublisher {
public:
    explicit AvahiPublisher(Announcement announcement);
    ~AvahiPublisher();
    AvahiPublisher(const AvahiPublisher&) = delete;
    AvahiPublisher& operator=(const AvahiPublisher&) = delete;

    // Until the daemon has established both records; false after the time-out
    // or when a publisher ended, with the reason in Output().
    bool WaitEstablished(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    std::string Output() const;
    // Why the records are not both established, in a line; empty when they are.
    std::string Failure() const;
    // Withdraws the service (and the address); the daemon reports it removed.
    void Stop();

private:
    struct Process {
        pid_t pid = -1;
        int output = -1;  // read end of its stdout and stderr
        std::string text;
    };
    static Process Spawn(const std::vector<std::string>& args);
    static void Pump(Process& process, int timeoutMs);
    static void End(Process& process);

    Announcement announcement_;
    Process address_;
    Process service_;
};

}  // namespace PtpIpSim
