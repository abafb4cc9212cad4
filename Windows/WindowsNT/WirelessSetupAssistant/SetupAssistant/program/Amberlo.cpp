// The setup assistant program, on the machine kept under the machine root:
//   Amberlo [queue name]
#include "WirelessSetupAssistantApp.h"

#include "Platform/MachineFile.h"

#include <cstdio>

namespace {
CWirelessSetupAssistantApp theApp;

constexpr const char* kUsage =
    "usage: Amberlo [QUEUE]\n"
    "The setup assistant: a wizard that adds a printer of the family to the\n"
    "simulated machine ($VELMO_MACHINE_ROOT, default ~/.velmo-machine).\n"
    "Without QUEUE it adds a printer that announces itself on the network.\n"
    "With the name of a print queue on a USB port it begins with the wireless\n"
    "dock on that queue: its wireless settings, then its installation.\n"
    "On a terminal you work the wizard with the terminal's commands (help\n"
    "lists them); with VELMO_UI_SCRIPT set it runs a script of the same\n"
    "commands (\"-\": read from standard input). When no wizard opens, the\n"
    "program says why on standard error.\n";
}  // namespace

int main(int argc, char** argv) {
    if (const auto status = Platform::StartProgram(argc, argv, "Amberlo", kUsage)) return *status;
    const int status = AfxWinMain(argc, argv);
    // The wizard's own start-up ends quietly; whoever started it hears why.
    // The reason may quote the queue name given, whatever it holds.
    if (!theApp.Refusal().empty())
        std::fprintf(stderr, "Amberlo: %s\n", Platform::EscapeControlCharacters(theApp.Refusal()).c_str());
    return status;
}
