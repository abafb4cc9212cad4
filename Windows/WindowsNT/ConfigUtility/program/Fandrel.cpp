// The configuration utility program, on the machine kept under the machine
// root.
#include "ConfigUtilityApp.h"

#include "Platform/MachineFile.h"

#include <cstdio>

namespace {
CConfigUtilityApp theApp;

constexpr const char* kUsage =
    "usage: Fandrel\n"
    "The configuration utility: lists the docks of the family attached by USB\n"
    "to the simulated machine ($VELMO_MACHINE_ROOT, default ~/.velmo-machine),\n"
    "identifies the one chosen and shows its settings for editing.\n"
    "On a terminal you work its dialog with the terminal's commands (help\n"
    "lists them); with VELMO_UI_SCRIPT set it runs a script of the same\n"
    "commands (\"-\": read from standard input). When it is open already on\n"
    "the machine, the program brings it forward and says so on standard error.\n";
}  // namespace

int main(int argc, char** argv) {
    if (const auto status = Platform::StartProgram(argc, argv, "Fandrel", kUsage)) return *status;
    const int status = AfxWinMain(argc, argv);
    if (!theApp.Refusal().empty()) std::fprintf(stderr, "Fandrel: %s\n", theApp.Refusal().c_str());
    return status;
}
