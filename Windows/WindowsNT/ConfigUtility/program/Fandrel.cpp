// The configuration utility program, on the machine kept under the machine
// root.
#include "ConfigUtilityApp.h"

#include "Platform/MachineFile.h"

#include <cstdio>
#include <exception>
#include <string_view>

namespace {
CConfigUtilityApp theApp;

constexpr const char* kUsage =
    "usage: Fandrel\n"
    "The configuration utility: lists the docks of the family attached by USB\n"
    "to the simulated machine ($VELMO_MACHINE_ROOT, default ~/.velmo-machine),\n"
    "identifies the one chosen and shows its settings for editing.\n"
    "On a terminal you work its dialog with the terminal's commands (help\n"
    "lists them); with VELMO_UI_SCRIPT set it runs a script of the same\n"
    "commands (\"-\": read from standard input).\n";
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        Platform::LoadMachine();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Fandrel: %s\n", e.what());
        return 1;
    }
    return AfxWinMain(argc, argv);
}
