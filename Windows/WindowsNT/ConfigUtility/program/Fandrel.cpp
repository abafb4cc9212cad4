// The configuration utility program, on the machine kept under the machine
// root.
#include "ConfigUtilityApp.h"

#include "Platform/MachineFile.h"


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
    if (const auto status = Platform::StartProgram(argc, argv, "Fandrel", kUsage)) return *status;
    return AfxWinMain(argc, argv);
}
