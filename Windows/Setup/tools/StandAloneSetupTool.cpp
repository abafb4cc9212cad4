// velmo-standalone-setup: calls the setup library's StandAloneSetup on the
// machine kept on disk, as the product's installer would, and shows the
// print queues afterwards.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "Platform/MachineFile.h"
#include "Platform/Spooler.h"
#include "PrinterInstallSteps.h"
#include "Tessary/i8n/UTFConversion.h"

namespace {

struct Queue {
    std::string name, port, driver;
};

std::string Narrow(LPCWSTR text) {
    if (text == nullptr) return {};
    return Tessary::UTF16ToUTF8String(text, static_cast<int>(std::char_traits<char16_t>::length(text)));
}

std::vector<Queue> Queues() {
    DWORD needed = 0, returned = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &returned)) return {};
    std::vector<Queue> queues;
    for (DWORD i = 0; i < returned; ++i) {
        PRINTER_INFO_4W info;
        std::memcpy(&info, buffer.data() + i * sizeof(info), sizeof(info));
        Queue queue{Narrow(info.pPrinterName), {}, {}};
        HANDLE printer = nullptr;
        if (OpenPrinterW(info.pPrinterName, &printer, nullptr)) {
            DWORD size = 0;
            GetPrinterW(printer, 2, nullptr, 0, &size);
            std::vector<BYTE> details(size);
            if (size != 0 && GetPrinterW(printer, 2, details.data(), size, &size)) {
                PRINTER_INFO_2W two;
                std::memcpy(&two, details.data(), sizeof(two));
                queue.port = Narrow(two.pPortName);
                queue.driver = Narrow(two.pDriverName);
            }
            ClosePrinter(printer);
        }
        queues.push_back(std::move(queue));
    }
    return queues;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        std::fputs(
            "usage: velmo-standalone-setup\n"
            "Installs the family's USB printer queue on the machine in $VELMO_MACHINE_ROOT\n"
            "through libIstrova.so's StandAloneSetup, and lists the print queues.\n",
            argc == 2 && (std::strcmp(argv[1], "--help") == 0) ? stdout : stderr);
        return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    try {
        Platform::LoadMachine();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmo-standalone-setup: %s\n", e.what());
        return 1;
    }
    // The product's installer puts the port monitor in before it calls the
    // library; a monitor that is there already stays.
    try {
        PrinterInstall::InstallPortMonitor();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmo-standalone-setup: the port monitor cannot be installed (%s)\n", e.what());
        return 1;
    }
    HMODULE library = LoadLibraryW(u"Istrova.dll");
    auto* setup = library ? reinterpret_cast<void (*)(void*)>(GetProcAddress(library, "StandAloneSetup")) : nullptr;
    if (setup == nullptr) {
        std::fputs("velmo-standalone-setup: libIstrova.so or its StandAloneSetup cannot be loaded\n", stderr);
        return 1;
    }
    const std::size_t before = Queues().size();
    setup(nullptr);
    const std::vector<Queue> after = Queues();
    for (const Queue& queue : after) {
        std::printf("queue \"%s\"  port %s  driver \"%s\"\n", queue.name.c_str(), queue.port.c_str(),
                    queue.driver.c_str());
    }
    if (after.size() <= before) {
        std::fputs("velmo-standalone-setup: no queue was added (is the driver package installed?)\n", stderr);
        return 1;
    }
    return 0;
}
