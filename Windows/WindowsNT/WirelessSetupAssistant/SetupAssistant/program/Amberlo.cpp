// The setup assistant program, on the machine kept under the machine root:
//   Amberlo [queue name]
#include "WirelessSetupAssistantApp.h"

#include "Platform/MachineFile.h"

#include <cstdio>
#include <exception>

namespace {
CWirelessSetupAssistantApp theApp;
}

int main(int argc, char** argv) {
    try {
        Platform::LoadMachine();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Amberlo: %s\n", e.what());
        return 1;
    }
    return AfxWinMain(argc, argv);
}
