#include "PtpIpAnnouncement.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace PtpIpSim {
namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::string Dotted(const std::array<std::uint8_t, 4>& a) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

bool Established(const std::string& text) {
    return text.find("Established under name") != std::string::npos;
}

}  // namespace

std::vector<std::string> TxtEntries(const Announcement& a) {
    std::vector<std::string> entries = {
        "usbvid=" + Hex(a.vendorId, 4), "pid=" + Hex(a.productId, 4), "guid=" + a.guid,
        "VID=" + Hex(a.vendorId, 4),    "PID=" + Hex(a.productId, 4), "GUID=" + a.guid,
        "SEQ=" + Hex(a.sequence, 1),    "VER=" + Hex(a.version, 1),
    };
    entries.insert(entries.end(), a.extraEntries.begin(), a.extraEntries.end());
    return entries;
}

std::string TxtRecord(const Announcement& a) {
    std::string record;
    for (const auto& entry : TxtEntries(a)) {
        if (entry.size() > 255) throw std::length_error("TXT entry longer than 255 bytes");
        record.push_back(static_cast<char>(entry.size()));
        record += entry;
    }
    return record;
}

AvahiPublisher::AvahiPublisher(Announcement announcement) : announcement_(std::move(announcement)) {
    address_ = Spawn({"avahi-publish", "-a", "-R", announcement_.hostName, Dotted(announcement_.address)});
    std::vector<std::string> args = {"avahi-publish",
                                     "-s",
                                     "-H",
                                     announcement_.hostName,
                                     announcement_.instanceName,
                                     "_ptp._tcp",
                                     std::to_string(announcement_.port)};
    for (const auto& entry : TxtEntries(announcement_)) args.push_back(entry);
    service_ = Spawn(args);
}

AvahiPublisher::~AvahiPublisher() {
    Stop();
}

AvahiPublisher::Process AvahiPublisher::Spawn(const std::vector<std::string>& args) {
    Process process;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        process.text = "pipe failed";
        return process;
    }
    std::vector<char*> argv;
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string failed = args[0] + " could not be started\n";
    const pid_t parent = ::getpid();
    process.pid = ::fork();
    if (process.pid == 0) {
        // A publisher ends with the program that started it, however that
        // ends, so no announcement outlives its dock.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) ::_exit(1);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(pipeFds[1], 1) < 0 || ::dup2(pipeFds[1], 2) < 0) ::_exit(127);
        ::execvp(argv[0], argv.data());
        const ssize_t told = ::write(2, failed.data(), failed.size());
        ::_exit(told < 0 ? 126 : 127);
    }
    ::close(pipeFds[1]);
    if (process.pid > 0) {
        process.output = pipeFds[0];
        ::fcntl(process.output, F_SETFL, O_NONBLOCK);
    } else {
        process.pid = -1;
        process.text = failed;
        ::close(pipeFds[0]);
    }
    return process;
}

void AvahiPublisher::Pump(Process& process, int timeoutMs) {
    if (process.output < 0) return;
    pollfd p{process.output, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return;
    char buffer[512];
    const ssize_t n = ::read(process.output, buffer, sizeof buffer);
    if (n > 0) {
        process.text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
        ::close(process.output);
        process.output = -1;
    }
}

bool AvahiPublisher::WaitEstablished(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        if (Established(address_.text) && Established(service_.text)) return true;
        // A publisher whose output ended has exited.
        if (address_.pid <= 0 || service_.pid <= 0) return false;
        if (address_.output < 0 && !Established(address_.text)) return false;
        if (service_.output < 0 && !Established(service_.text)) return false;
        Pump(address_, 20);
        Pump(service_, 20);
    }
    return false;
}

std::string AvahiPublisher::Failure() const {
    bool pending = false;
    for (const Process* process : {&address_, &service_}) {
        if (Established(process->text)) continue;
        // The last line a publisher wrote says why it failed; one that
        // wrote nothing was still waiting for the daemon.
        std::string text = process->text;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        const auto line = text.rfind('\n');
        text = line == std::string::npos ? text : text.substr(line + 1);
        if (!text.empty()) return text;
        pending = true;
    }
    return pending ? "avahi-daemon did not establish it in time" : std::string();
}

std::string AvahiPublisher::Output() const {
    return "address: " + address_.text + "\nservice: " + service_.text;
}

void AvahiPublisher::End(Process& process) {
    if (process.pid > 0) {
        ::kill(process.pid, SIGTERM);
        int status = 0;
        // Bounded: TERM, then KILL after 2 s.
        for (int i = 0; i < 200 && ::waitpid(process.pid, &status, WNOHANG) == 0; ++i) ::usleep(10000);
        if (::waitpid(process.pid, &status, WNOHANG) == 0) {
            ::kill(process.pid, SIGKILL);
            ::waitpid(process.pid, &status, 0);
        }
        process.pid = -1;
    }
    if (process.output >= 0) {
        ::close(process.output);
        process.output = -1;
    }
}

void AvahiPublisher::Stop() {
    End(service_);
    End(address_);
}

}  // namespace PtpIpSim
