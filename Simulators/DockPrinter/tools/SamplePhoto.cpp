// Draws the sample photo the demo prints: a landscape at dusk over a lake,
// with a row of colour patches along the bottom, at the printer's 300 dots
// per inch. The default size is the dock's 6x4 inch sheet with its bleed,
// turned to landscape (1856x1248), so the printed planes hold it pixel for
// pixel. A name ending in ".ppm" gives the binary pixmap the driver host
// reads; any other name a PNG file.
//
//   samplephoto OUT [WIDTH HEIGHT]   (--help for more)
#include "Platform/DriverHost.h"
#include "Platform/Png.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

struct Colour {
    double r, g, b;
};

Colour Mix(Colour a, Colour b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A ridge line made of a few sines: smooth, repeatable, no random state.
double Ridge(double x, double base, double scale, double seed) {
    return base + scale * (0.50 * std::sin(x * 3.1 + seed) + 0.30 * std::sin(x * 7.3 + seed * 2.0) +
                           0.15 * std::sin(x * 17.9 + seed * 3.0) + 0.05 * std::sin(x * 41.0 + seed * 5.0));
}

Platform::RgbImage Draw(std::uint32_t width, std::uint32_t height) {
    Platform::RgbImage image{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
    const double w = width, h = height;
    const double horizon = 0.62;
    const double sunX = 0.70, sunY = 0.38, sunR = 0.07;
    const Colour skyTop{0.10, 0.16, 0.42}, skyLow{0.98, 0.62, 0.35}, sun{1.0, 0.93, 0.70};
    const Colour farHill{0.36, 0.30, 0.48}, nearHill{0.12, 0.22, 0.20}, water{0.08, 0.18, 0.32};
    // Patches: primaries, secondaries, white, grey steps, black.
    const Colour patches[] = {{1, 0, 0}, {0, 1, 0},          {0, 0, 1},       {0, 1, 1},          {1, 0, 1}, {1, 1, 0},
                              {1, 1, 1}, {0.75, 0.75, 0.75}, {0.5, 0.5, 0.5}, {0.25, 0.25, 0.25}, {0, 0, 0}};
    const int patchCount = sizeof patches / sizeof patches[0];
    const double chartTop = 0.90;
    for (std::uint32_t py = 0; py < height; ++py) {
        for (std::uint32_t px = 0; px < width; ++px) {
            const double x = px / w, y = py / h;
            Colour c;
            if (y >= chartTop) {
                const int i = std::min(patchCount - 1, static_cast<int>(x * patchCount));
                c = patches[i];
            } else {
                // Above the water the scene; below it, the scene mirrored and darkened.
                const bool reflected = y > horizon;
                const double sy = reflected ? 2 * horizon - y : y;
                const double d = std::hypot((x - sunX) * w / h, sy - sunY);
                c = Mix(skyTop, skyLow, sy / horizon);
                if (d < sunR)
                    c = sun;
                else
                    c = Mix(c, sun, 0.35 * std::exp(-(d - sunR) * 12));
                if (sy > Ridge(x, 0.44, 0.06, 1.0)) c = Mix(farHill, skyLow, 0.25);
                if (sy > Ridge(x, 0.53, 0.05, 4.0)) c = nearHill;
                if (reflected) {
                    const double ripple = 0.04 * std::sin(py * 0.9) * std::sin(px * 0.05);
                    c = Mix(c, water, 0.45 + ripple);
                }
            }
            std::uint8_t* out = &image.rgb[(std::size_t{py} * width + px) * 3];
            out[0] = static_cast<std::uint8_t>(std::lround(std::clamp(c.r, 0.0, 1.0) * 255));
            out[1] = static_cast<std::uint8_t>(std::lround(std::clamp(c.g, 0.0, 1.0) * 255));
            out[2] = static_cast<std::uint8_t>(std::lround(std::clamp(c.b, 0.0, 1.0) * 255));
        }
    }
    return image;
}

constexpr const char* kUsage =
    "usage: samplephoto OUT [WIDTH HEIGHT]\n"
    "Draws the demo's sample photo: a lake at dusk with a row of colour patches.\n"
    "  OUT            the file to write: a binary pixmap when it ends in \".ppm\",\n"
    "                 a PNG file otherwise\n"
    "  WIDTH HEIGHT   size in pixels, 1 to 10000 each (default 1856 1248, the\n"
    "                 dock's 6x4 inch sheet with its bleed at 300 dpi, landscape)\n"
    "  --help         show this text\n";

int Refuse(const std::string& reason) {
    std::fprintf(stderr, "samplephoto: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

// A size from 1 to 10000 pixels; nullopt for anything else, trailing text included.
std::optional<std::uint32_t> Size(const std::string& text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value == 0 || value > 10000) return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        // Every name that looks like an option is one: "--help" must never become a file.
        if (arg.starts_with("-")) return Refuse("unknown option '" + arg + "'");
        operands.push_back(arg);
    }
    if (operands.size() != 1 && operands.size() != 3)
        return Refuse("expected OUT, optionally followed by WIDTH HEIGHT");
    std::uint32_t width = 1856, height = 1248;
    if (operands.size() == 3) {
        const auto w = Size(operands[1]), h = Size(operands[2]);
        if (!w || !h)
            return Refuse("WIDTH and HEIGHT must be whole numbers from 1 to 10000, got '" + operands[1] + "' '" +
                          operands[2] + "'");
        width = *w;
        height = *h;
    }
    try {
        const std::string& out = operands[0];
        const Platform::RgbImage image = Draw(width, height);
        if (out.size() > 4 && out.ends_with(".ppm")) {
            Platform::PageImage page(static_cast<int>(width), static_cast<int>(height));
            page.rgb = image.rgb;
            Platform::SavePpm(page, out);
        } else {
            Platform::WritePng(out, image);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "samplephoto: %s\n", e.what());
        return 1;
    }
    return 0;
}
