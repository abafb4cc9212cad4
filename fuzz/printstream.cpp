// The dock's print engine fed with any print stream: the first byte sets
// the size of the writes the rest is cut into, the second scripts an error
// somewhere in a plane or asks for a whole page as a last write, so pages
// also complete after whatever came before. Heads, sizes and plane order must be checked before
// any plane byte is stored; pages that come out must be whole.
#include "Simulators/DockPrinter/PrintEngine.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace Simulators::Dock;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t chunk = data[0] == 0 ? size : data[0];
    PrintEngine engine;
    if (data[1] & 0x80) {
        engine.Script({.plane = data[1] % 3, .bytes = static_cast<std::uint64_t>(data[1] & 0x3F)},
                      {.error = static_cast<std::uint16_t>(data[1] & 0x40 ? 1 : 2), .lastsFor = Milliseconds(5)});
    }
    Milliseconds now{1000};
    std::uint64_t fed = 0;
    for (std::size_t at = 2; at < size; at += chunk) {
        const std::size_t n = std::min(chunk, size - at);
        engine.StartOfWrite(data + at, n);
        std::size_t used = 0;
        while (used < n) {
            const std::size_t got = engine.Feed(data + at + used, n - used, now);
            used += got;
            fed += got;
            if (got == 0) ++used;  // not print data: the dock's framing takes it
        }
        now += Milliseconds(1);
        const auto block = engine.StatusBlock(now);
        if (block[0] > kStateFinishing) std::abort();
    }
    if (data[1] & 0x10) {
        // A whole page of kind 1, plain ink, as its own write.
        static const std::vector<std::uint8_t> page = [] {
            std::vector<std::uint8_t> out{0x30, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
            const std::uint32_t plane = 1100 * 1560;
            for (std::uint8_t p = 0; p < 3; ++p) {
                const std::uint8_t head[12] = {0x30,
                                               1,
                                               p,
                                               0,
                                               static_cast<std::uint8_t>(plane),
                                               static_cast<std::uint8_t>(plane >> 8),
                                               static_cast<std::uint8_t>(plane >> 16),
                                               0,
                                               0,
                                               0,
                                               0,
                                               0};
                out.insert(out.end(), head, head + 12);
                out.resize(out.size() + plane, static_cast<std::uint8_t>(0x40 * p));
            }
            return out;
        }();
        now += Milliseconds(10);
        engine.StartOfWrite(page.data(), page.size());
        fed += engine.Feed(page.data(), page.size(), now);
    }
    if (engine.Received() != fed || engine.Dropped() > fed) std::abort();
    for (const auto& page : engine.Pages()) {
        const auto geometry = GeometryOfKind(page.kind);
        if (!geometry || page.width != geometry->width || page.height != geometry->height ||
            page.rgb.size() != std::size_t{page.width} * page.height * 3)
            std::abort();
    }
    for (const auto& reception : engine.Receptions())
        if (reception.bytes > fed) std::abort();
    return 0;
}
