// Files of the machine folder as the dock tools read and write them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace Simulators::Tools {

// nullopt when the file does not exist; throws when it cannot be read.
inline std::optional<std::string> ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (!std::filesystem::exists(path)) return std::nullopt;
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces the file at once, so a reader sees the old text or the new.
inline void WriteTextFile(const std::string& path, const std::string& text) {
    const std::filesystem::path target(path);
    std::filesystem::create_directories(target.parent_path());
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) throw std::runtime_error("cannot write " + temporary);
    }
    std::filesystem::rename(temporary, target);
}

// The lock that makes one dock simulator serve a machine folder: a record
// lock on dock-simulator.lock, held from before the simulator touches its
// socket to its end (the system drops it whatever way the process ends).
// The simulator writes its process id in the file for people to read.
class SimulatorLock {
public:
    // Takes the lock for this process; Held() is false when another holds it.
    explicit SimulatorLock(const std::string& root)
        : fd_(::open(PathOf(root).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ < 0) throw std::runtime_error("cannot open " + PathOf(root) + ": " + std::strerror(errno));
        flock whole = WholeFile();
        held_ = ::fcntl(fd_, F_SETLK, &whole) == 0;
        if (!held_) return;
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
            ::close(fd_);
            throw std::runtime_error("cannot write " + PathOf(root));
        }
    }
    ~SimulatorLock() { ::close(fd_); }
    SimulatorLock(const SimulatorLock&) = delete;
    SimulatorLock& operator=(const SimulatorLock&) = delete;

    bool Held() const { return held_; }

    // The process of the simulator that holds the folder's lock, as the
    // system reports the lock's holder; nullopt when no simulator runs there.
    static std::optional<pid_t> Holder(const std::string& root) {
        const int fd = ::open(PathOf(root).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        flock probe = WholeFile();
        const bool asked = ::fcntl(fd, F_GETLK, &probe) == 0;
        ::close(fd);
        if (!asked || probe.l_type == F_UNLCK || probe.l_pid <= 0) return std::nullopt;
        return probe.l_pid;
    }

private:
    static std::string PathOf(const std::string& root) { return root + "/dock-simulator.lock"; }
    static flock WholeFile() {
        flock whole{};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        return whole;
    }

    int fd_;
    bool held_ = false;
};

}  // namespace Simulators::Tools
