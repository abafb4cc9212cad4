// A program at the other end of the dock simulator's socket, for the tests
// of how the simulator treats its clients:
//   dock-client SOCKET hold    connects, says "connected" and keeps the
//                              connection, idle, until standard input ends
//   dock-client SOCKET quit    asks the simulator to quit and says how the
//                              call ended: "answered", "timed out" or
//                              "unreachable"
#include "Platform/DockLink.h"

#include <unistd.h>

#include <iostream>
#include <string>

namespace Wire = Platform::DockWire;

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
    std::cerr << "usage: dock-client SOCKET hold|quit\n";
    return 2;
}
