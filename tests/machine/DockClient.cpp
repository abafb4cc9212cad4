// A program at the other end of the dock simulator's socket, for the tests
// of how the simulator treats its clients:
//   dock-client SOCKET hold    connects, says "connected" and keeps the
//                              connection, idle, until standard input ends
//   dock-client SOCKET quit    asks the simulator to quit and says how the
//                              call ended: "answered", "timed out" or
//                              "unreachable"
//   dock-client FOLDER lock    plays a simulator that neither answers nor
//                              ends on SIGTERM: waits for the folder's
//                              simulator lock, says "locked", says "asked to
//                              end" on each SIGTERM, and holds the lock until
//                              standard input ends
#include "Platform/DockLink.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>

namespace Wire = Platform::DockWire;

namespace {

extern "C" void OnTerm(int) {
    const char said[] = "asked to end\n";
    const ssize_t told = ::write(STDOUT_FILENO, said, sizeof said - 1);
    (void)told;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc == 3 ? argv[2] : "";
    if (what == "hold") {
        const int fd = Wire::Connect(argv[1]);
        if (fd < 0) {
            std::cout << "unreachable" << std::endl;
            return 1;
        }
        std::cout << "connected" << std::endl;
        char byte = 0;
        while (::read(STDIN_FILENO, &byte, 1) > 0) {
        }
        ::close(fd);
        return 0;
    }
    if (what == "quit") {
        Wire::Request quit;
        quit.op = Wire::kQuit;
        const auto answer = Wire::Call(argv[1], quit);
        std::cout << (!answer                                ? "unreachable"
                      : answer->error == ERROR_SEM_TIMEOUT ? "timed out"
                                                             : "answered")
                  << std::endl;
        return 0;
    }
    if (what == "lock") {
        struct sigaction action {};
        action.sa_handler = OnTerm;
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        const std::string path = std::string(argv[1]) + "/dock-simulator.lock";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        flock whole{};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        while (fd >= 0 && ::fcntl(fd, F_SETLKW, &whole) != 0) {
            if (errno != EINTR) return 1;
        }
        if (fd < 0) return 1;
        std::cout << "locked" << std::endl;
        char byte = 0;
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, &byte, 1);
            if (n == 0 || (n < 0 && errno != EINTR)) break;
        }
        ::close(fd);
        return 0;
    }
    std::cerr << "usage: dock-client SOCKET hold|quit, or dock-client FOLDER lock\n";
    return 2;
}
