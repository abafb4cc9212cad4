// Prints a photo through the whole print path into the simulated dock, on
// the real clock: the driver host renders it with the rendering plug-in,
// the language monitor paces it to the dock over USB001, and the dock
// prints the page as a PNG under the machine root.
//
//   velmo-print-demo photo.ppm [--landscape] [--filter]
#include "PrintPathRig.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    std::string photo;
    SHORT orientation = DMORIENT_PORTRAIT;
    bool filter = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--landscape")
            orientation = DMORIENT_LANDSCAPE;
        else if (arg == "--filter")
            filter = true;
        else if (photo.empty() && !arg.starts_with("-"))
            photo = arg;
        else
            photo.clear(), i = argc;
    }
    if (photo.empty()) {
        std::fprintf(stderr, "usage: %s photo.ppm [--landscape] [--filter]\n", argv[0]);
        return 2;
    }
    try {
        const Platform::PageImage image = Platform::LoadPpm(photo);
        Platform::ScopedFreshMachine machine;
        PrintPath::RigOptions options;
        options.dataFolder = std::filesystem::path(VELMO_SOURCE_DIR) / "data";
        options.installFolder = std::filesystem::path(Platform::MachineRoot()) / "install";
        options.testFilter = filter;
        PrintPath::PrintPathRig rig(options);
        std::printf("printing %s (%dx%d) on \"%s\" at %s ...\n", photo.c_str(), image.width, image.height,
                    "Velmo Glimmer Dock", "USB001");
        std::fflush(stdout);
        const PrintPath::JobOutcome job = rig.Print(image, orientation);
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
