// Draws the sample photo the demo prints: a landscape at dusk over a lake,
// with a row of colour patches along the bottom, at the printer's 300 dots
// per inch. The default size is the dock's 6x4 inch sheet with its bleed,
// turned to landscape (1856x1248), so the printed planes hold it pixel for
// pixel. A name ending in ".ppm" gives the binary pixmap the driver host
// reads; any other name a PNG file.
//
//   samplephoto out.png|out.ppm [width height]
#include "Platform/DriverHost.h"
#include "Platform/Png.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s out.png|out.ppm [width height]\n", argv[0]);
        return 2;
    }
    std::uint32_t width = 1856, height = 1248;
    if (argc == 4) {
        width = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
        height = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
        if (width == 0 || height == 0 || width > 10000 || height > 10000) {
            std::fprintf(stderr, "size out of range\n");
            return 2;
        }
    }
    try {
        const std::string out = argv[1];
        const Platform::RgbImage image = Draw(width, height);
        if (out.size() > 4 && out.ends_with(".ppm")) {
            Platform::PageImage page(static_cast<int>(width), static_cast<int>(height));
            page.rgb = image.rgb;
            Platform::SavePpm(page, out);
        } else {
            Platform::WritePng(out, image);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
