// The configuration utility program, on the machine kept under the machine
// root.
#include "ConfigUtilityApp.h"

#include "Platform/MachineFile.h"

#include <cstdio>
#include <exception>

namespace {
CConfigUtilityApp theApp;
}

int main(int argc, char** argv) {
    try {
        Platform::LoadMachine();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Fandrel: %s\n", e.what());
        return 1;
    }
    return AfxWinMain(argc, argv);
}
