#include "Platform/InstanceChannel.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace Platform {

std::string NamedObjectFolder();  // Kernel.cpp

namespace {

constexpr char kPrefix[] = "instance-";
constexpr std::size_t kMaxLine = 4096;
constexpr int kWaitMs = 2000;

struct State {
    std::mutex mutex;
    InstanceRequestHandler handler;
    std::once_flag serving;
};

// Never destroyed: the channel thread may run while the process exits.
State& Channel() {
    static auto* state = new State;
    return *state;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool Address(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// One line, up to '\n', within the wait; false on anything else.
bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c;
    while (line.size() < kMaxLine) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) != 1) return false;
        if (::recv(fd, &c, 1, 0) != 1) return false;
        if (c == '\n') return true;
        line.push_back(c);
    }
    return false;
}

bool WriteLine(int fd, const std::string& line) {
    const std::string data = line + '\n';
    std::size_t sent = 0;
    while (sent < data.size()) {
        const auto n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Empty for a machine in memory, or when the user's folder cannot be
// trusted.
std::string OwnChannel() {
    const std::string folder = NamedObjectFolder();
    if (folder.empty()) return {};
    return folder + "/" + kPrefix + std::to_string(::getpid()) + ".sock";
}

// Only the user's own processes talk over the channel, whoever can reach
// the folder. `process` gets the peer's.
bool PeerIsThisUser(int fd, pid_t* process = nullptr) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) return false;
    if (process != nullptr) *process = peer.pid;
    return true;
}

// The channel this process bound, kept where a signal handler can reach it;
// a forked child that exits must not take its parent's channel along.
char g_boundChannel[sizeof(sockaddr_un::sun_path)];
volatile std::sig_atomic_t g_boundBy = 0;

void RemoveAndDie(int signal) {
    RemoveInstanceChannel();
    // SA_RESETHAND put the default action back: the process ends as it would have.
    ::raise(signal);
}

// Ends of the process that skip the channel's removal otherwise; a signal
// the program handles or ignores stays its own.
void RemoveChannelAtEnd() {
    std::atexit(RemoveInstanceChannel);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction action {};
        action.sa_handler = RemoveAndDie;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}

void Serve(int listener) {
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        Fd connection(client);
        if (!PeerIsThisUser(client)) continue;
        std::string request;
        if (!ReadLine(client, request)) continue;
        InstanceRequestHandler handler;
        {
            std::lock_guard lock(Channel().mutex);
            handler = Channel().handler;
        }
        std::string answer;
        try {
            if (handler) answer = handler(request);
        } catch (...) {
            answer.clear();
        }
        // One line each way: an answer never carries a line break.
        for (char& c : answer) {
            if (c == '\n') c = ' ';
        }
        WriteLine(client, answer);
    }
}

}  // namespace

void SetInstanceRequestHandler(InstanceRequestHandler handler) {
    std::lock_guard lock(Channel().mutex);
    Channel().handler = std::move(handler);
}

void ServeInstanceRequests() {
    std::call_once(Channel().serving, [] {
        const std::string path = OwnChannel();
        sockaddr_un address;
        if (path.empty() || !Address(path, address)) return;
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener < 0) return;
        // A file left by a dead process that had our number.
        ::unlink(path.c_str());
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 8) != 0) {
            ::close(listener);
            return;
        }
        std::memcpy(g_boundChannel, address.sun_path, sizeof g_boundChannel);
        g_boundBy = ::getpid();
        RemoveChannelAtEnd();
        std::thread(Serve, listener).detach();
    });
}

void RemoveInstanceChannel() {
    // Only what is safe in a signal handler.
    const int saved = errno;
    if (g_boundBy != 0 && g_boundBy == ::getpid()) ::unlink(g_boundChannel);
    errno = saved;
}

namespace {

std::string Ask(const std::string& channel, const std::string& request, pid_t* process) {
    sockaddr_un address;
    if (!Address(channel, address)) return {};
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return {};
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        // Nobody answers there any more: its process is gone.
        if (errno == ECONNREFUSED) ::unlink(channel.c_str());
        return {};
    }
    if (!PeerIsThisUser(fd.get(), process)) return {};
    std::string answer;
    if (!WriteLine(fd.get(), request) || !ReadLine(fd.get(), answer)) return {};
    return answer;
}

}  // namespace

std::string AskInstance(const std::string& channel, const std::string& request) {
    return Ask(channel, request, nullptr);
}

std::optional<InstanceAnswer> AskOtherInstances(const std::string& request) {
    const std::string folder = NamedObjectFolder();
    if (folder.empty()) return std::nullopt;
    const std::string own = g_boundBy == ::getpid() ? g_boundChannel : "";
    std::vector<std::string> channels;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind(kPrefix, 0) == 0 && name.size() > 5 && name.compare(name.size() - 5, 5, ".sock") == 0) {
                channels.push_back(folder + "/" + name);
            }
        }
        ::closedir(dir);
    }
    for (const auto& channel : channels) {
        if (channel == own) continue;
        pid_t process = 0;
        auto answer = Ask(channel, request, &process);
        if (!answer.empty()) return InstanceAnswer{channel, std::move(answer), process};
    }
    return std::nullopt;
}

}  // namespace Platform
