// Prints a photo through the whole print path into the simulated dock, on
// the real clock: the driver host renders it with the rendering plug-in,
// the language monitor paces it to the dock over USB001, and the dock
// prints the page as a PNG under the machine root.
//
//   velmo-print-demo PHOTO.ppm [--landscape] [--filter]   (--help for more)
#include "PrintPathRig.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: velmo-print-demo PHOTO.ppm [--landscape] [--filter]\n"
    "Prints a photo (a binary PPM pixmap, as samplephoto draws it) on a simulated\n"
    "machine through the rendering plug-in, the spooler, the language monitor and\n"
    "the USB port into the simulated dock, which writes the page as\n"
    "$VELMO_MACHINE_ROOT/printed/page-0001.png (default root ~/.velmo-machine).\n"
    "  --landscape   print in landscape orientation; without it a photo wider\n"
    "                than tall prints in landscape, any other in portrait\n"
    "  --filter      set the queue's colour filter to the test filter, which\n"
    "                swaps red and blue in every row, so the page shows that\n"
    "                the rendering plug-in ran the filter\n"
    "  --help        show this text\n";

int Refuse(const std::string& reason) {
    std::fprintf(stderr, "velmo-print-demo: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string photo;
    std::optional<SHORT> orientation;
    bool filter = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--landscape")
            orientation = DMORIENT_LANDSCAPE;
        else if (arg == "--filter")
            filter = true;
        else if (arg.starts_with("-"))
            return Refuse("unknown option '" + arg + "'");
        else if (!photo.empty())
            return Refuse("one photo at a time ('" + photo + "', then '" + arg + "')");
        else
            photo = arg;
    }
    if (photo.empty()) return Refuse("no photo given");
    try {
        const Platform::PageImage image = Platform::LoadPpm(photo);
        // The sheet is portrait; a wider photo turned onto it is not cut off.
        if (!orientation) orientation = image.width > image.height ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
        Platform::ScopedFreshMachine machine;
        PrintPath::RigOptions options;
        options.dataFolder = std::filesystem::path(VELMO_SOURCE_DIR) / "data";
        options.installFolder = std::filesystem::path(Platform::MachineRoot()) / "install";
        options.testFilter = filter;
        PrintPath::PrintPathRig rig(options);
        std::printf("printing %s (%dx%d, %s) on \"%s\" at %s ...\n", photo.c_str(), image.width, image.height,
                    *orientation == DMORIENT_LANDSCAPE ? "landscape" : "portrait", "Velmo Glimmer Dock", "USB001");
        std::fflush(stdout);
        const PrintPath::JobOutcome job = rig.Print(image, *orientation);
        const auto pages = rig.dock->PrintedPages();
        if (!job.printed || pages.empty() || pages[0].file.empty()) {
            std::fprintf(stderr, "the page did not print (%zu stream errors, job %s)\n", rig.dock->PrintErrors().size(),
                         job.jobGone ? "deleted" : "kept");
            return 1;
        }
        std::printf("the dock printed page %u (%ux%u, kind %u) after %zu held offers\n", pages[0].number,
                    pages[0].width, pages[0].height, static_cast<unsigned>(pages[0].kind), job.holds);
        std::printf("printed page: %s\n", pages[0].file.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmo-print-demo: %s\n", e.what());
        return 1;
    }
}
