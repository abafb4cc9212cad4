// GIF files built block by block, for tests of pictures and of code that
// walks GIF blocks (tests only). Image data is LZW-coded without
// compression: 8-bit codes with a clear code often enough that the code
// size never grows, which every decoder reads.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace Mfc::TestGif {

using Bytes = std::vector<std::uint8_t>;
using Colour = std::array<std::uint8_t, 3>;

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline void PutWord(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

// Bits of a colour table of `count` entries (2 to 256, a power of two).
inline std::uint8_t TableBits(std::size_t count) {
    std::uint8_t bits = 0;
    while ((std::size_t{2} << bits) < count) ++bits;
    return bits;
}

inline void PutTable(Bytes& out, const std::vector<Colour>& colours) {
    for (std::size_t i = 0; i < (std::size_t{2} << TableBits(colours.size())); ++i) {
        const Colour c = i < colours.size() ? colours[i] : Colour{0, 0, 0};
        out.insert(out.end(), c.begin(), c.end());
    }
}

// Signature, logical screen descriptor and global colour table (none when
// `colours` is empty).
inline Bytes Header(unsigned width, unsigned height, const std::vector<Colour>& colours, std::uint8_t background = 0,
                    const std::string& version = "GIF89a") {
    Bytes out(version.begin(), version.end());
    PutWord(out, width);
    PutWord(out, height);
    out.push_back(colours.empty() ? 0 : static_cast<std::uint8_t>(0x80 | TableBits(colours.size())));
    out.push_back(background);
    out.push_back(0);
    if (!colours.empty()) PutTable(out, colours);
    return out;
}

inline Bytes SubBlocks(const Bytes& data) {
    Bytes out;
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
}

// The minimum code size byte and the coded pixels in sub-blocks.
inline Bytes ImageData(const Bytes& indexes) {
    constexpr unsigned kClear = 256, kEnd = 257;
    Bytes packed;
    std::uint32_t bits = 0;
    int count = 0;
    auto put = [&](unsigned code) {
        bits |= code << count;
        count += 9;
        while (count >= 8) {
            packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    };
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        if (i % 100 == 0) put(kClear);
        put(indexes[i]);
    }
    put(kEnd);
    if (count > 0) packed.push_back(static_cast<std::uint8_t>(bits & 0xFF));
    Bytes out{8};
    const Bytes blocks = SubBlocks(packed);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

// A graphic control extension; `transparent` -1 for none.
inline Bytes Control(unsigned disposal, unsigned delay, int transparent = -1) {
    Bytes out{0x21, 0xF9, 4, static_cast<std::uint8_t>((disposal << 2) | (transparent >= 0 ? 1 : 0))};
    PutWord(out, delay);
    out.push_back(static_cast<std::uint8_t>(transparent >= 0 ? transparent : 0));
    out.push_back(0);
    return out;
}

// An image descriptor with its data; `indexes` row by row, top first.
inline Bytes Image(unsigned left, unsigned top, unsigned width, unsigned height, const Bytes& indexes,
                   const std::vector<Colour>& local = {}, bool interlaced = false) {
    Bytes out{0x2C};
    PutWord(out, left);
    PutWord(out, top);
    PutWord(out, width);
    PutWord(out, height);
    out.push_back(
        static_cast<std::uint8_t>((local.empty() ? 0 : 0x80 | TableBits(local.size())) | (interlaced ? 0x40 : 0)));
    if (!local.empty()) PutTable(out, local);
    Bytes ordered;
    if (interlaced) {
        const unsigned start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (unsigned row = start[pass]; row < height; row += step[pass])
                ordered.insert(ordered.end(), indexes.begin() + row * width, indexes.begin() + (row + 1) * width);
    } else {
        ordered = indexes;
    }
    const Bytes data = ImageData(ordered);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// The looping application extension that animations carry.
inline Bytes Application() {
    return Bytes{0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
}

inline Bytes Comment(const std::string& text) {
    Bytes out{0x21, 0xFE};
    const Bytes blocks = SubBlocks(Bytes(text.begin(), text.end()));
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

inline Bytes Trailer() {
    return Bytes{0x3B};
}

}  // namespace Mfc::TestGif
