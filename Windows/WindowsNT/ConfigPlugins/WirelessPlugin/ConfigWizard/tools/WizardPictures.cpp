// Draws the wizard's two animations and writes them as GIF files: 110, a
// Wi-Fi fan whose arcs light up one after another while the printer scans
// for networks; 111, the printer dock sending out radio waves while the
// computer searches for it on the network. The build turns them into the
// library's resources; a person can write them out to look at them.
//
//   wizardpictures source <out.cpp>     both, as the library's C++ source
//   wizardpictures gif 110|111 <out.gif>
#include <gif_lib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Colour 0 is transparent; its colour is the dialog's face, which the
// picture's background takes.
enum Ink : std::uint8_t { Clear, Outline, Body, Top, White, Wave, Faint, Led, Sky, Grass, Sun };
const GifColorType kPalette[16] = {{240, 240, 240}, {40, 40, 46},   {92, 98, 108},   {172, 178, 186},
                                   {250, 250, 250}, {30, 120, 220}, {178, 206, 236}, {40, 200, 80},
                                   {120, 180, 232}, {92, 170, 80},  {250, 200, 60},  {0, 0, 0},
                                   {0, 0, 0},       {0, 0, 0},      {0, 0, 0},       {0, 0, 0}};
constexpr double kPi = 3.14159265358979323846;

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), pixels_(std::size_t(width) * height, Clear) {}
    int Width() const { return width_; }
    int Height() const { return height_; }
    const std::uint8_t* Row(int y) const { return pixels_.data() + std::size_t(y) * width_; }

    void Rect(int left, int top, int right, int bottom, Ink ink) {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) Put(x, y, ink);
    }
    void Box(int left, int top, int right, int bottom, Ink fill) {
        Rect(left, top, right, bottom, Outline);
        Rect(left + 1, top + 1, right - 1, bottom - 1, fill);
    }
    // The part of the ring between radii `inner` and `outer` around (cx, cy)
    // that lies within `spread` radians of the direction `towards` (0 is
    // up, growing clockwise).
    void Arc(double cx, double cy, double inner, double outer, double towards, double spread, Ink ink) {
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                const double r = std::hypot(dx, dy);
                if (r < inner || r > outer) continue;
                double off = std::atan2(dx, -dy) - towards;
                while (off > kPi) off -= 2 * kPi;
                while (off < -kPi) off += 2 * kPi;
                if (std::fabs(off) <= spread) Put(x, y, ink);
            }
        }
    }

private:
    void Put(int x, int y, Ink ink) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[std::size_t(y) * width_ + x] = ink;
    }
    int width_, height_;
    std::vector<std::uint8_t> pixels_;
};

struct Frame {
    Canvas canvas;
    int delay;  // hundredths of a second
};

std::vector<Frame> Scanning() {
    std::vector<Frame> frames;
    const double cx = 20, cy = 33;
    const double radii[3][2] = {{8, 11}, {14.5, 17.5}, {21, 24}};
    for (int lit = 0; lit <= 3; ++lit) {
        Canvas c(40, 40);
        c.Arc(cx, cy, 0, 3.5, 0, kPi, Wave);
        for (int i = 0; i < 3; ++i) c.Arc(cx, cy, radii[i][0], radii[i][1], 0, kPi / 4, i < lit ? Wave : Faint);
        frames.push_back({c, lit == 3 ? 60 : 30});
    }
    return frames;
}

void Printer(Canvas& c) {
    c.Box(40, 20, 56, 33, White);  // the photo coming out
    c.Rect(41, 21, 55, 27, Sky);
    c.Rect(41, 27, 55, 32, Grass);
    c.Rect(50, 23, 53, 26, Sun);
    c.Box(33, 30, 63, 36, Top);
    c.Box(33, 35, 63, 52, Body);
    c.Rect(38, 33, 58, 34, Outline);  // the paper slot
    c.Rect(57, 46, 60, 48, Led);
}

std::vector<Frame> Searching() {
    std::vector<Frame> frames;
    const double radii[3][2] = {{5, 7.5}, {11, 13.5}, {17, 19.5}};
    for (int pulse = 0; pulse <= 3; ++pulse) {
        Canvas c(96, 64);
        for (int i = 0; i < 3; ++i) {
            const Ink ink = i == pulse ? Wave : Faint;
            c.Arc(31, 42, radii[i][0], radii[i][1], -kPi / 2, kPi / 4, ink);
            c.Arc(65, 42, radii[i][0], radii[i][1], kPi / 2, kPi / 4, ink);
        }
        Printer(c);
        frames.push_back({c, pulse == 3 ? 40 : 20});
    }
    return frames;
}

int Collect(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

void Check(int result, const char* step) {
    if (result == GIF_ERROR) throw std::runtime_error(std::string("GIF writer: ") + step);
}

// A looping animation: every frame a full picture, restored to the
// background before the next.
std::vector<std::uint8_t> Encode(const std::vector<Frame>& frames) {
    std::vector<std::uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, Collect, &error);
    if (gif == nullptr) throw std::runtime_error("GIF writer: cannot open");
    ColorMapObject* map = GifMakeMapObject(16, kPalette);
    const int width = frames.front().canvas.Width(), height = frames.front().canvas.Height();
    try {
        EGifSetGifVersion(gif, true);
        Check(EGifPutScreenDesc(gif, width, height, 4, Clear, map), "screen");
        GifByteType loop[] = {1, 0, 0};
        Check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE), "application");
        Check(EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0"), "application");
        Check(EGifPutExtensionBlock(gif, sizeof loop, loop), "application");
        Check(EGifPutExtensionTrailer(gif), "application");
        Check(EGifPutComment(gif, "Drawn by wizardpictures"), "comment");
        for (const Frame& frame : frames) {
            GraphicsControlBlock control{DISPOSE_BACKGROUND, false, frame.delay, Clear};
            GifByteType extension[4];
            const auto length = EGifGCBToExtension(&control, extension);
            Check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension), "control");
            Check(EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr), "image");
            for (int y = 0; y < height; ++y)
                Check(EGifPutLine(gif, const_cast<GifPixelType*>(frame.canvas.Row(y)), width), "pixels");
        }
    } catch (...) {
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        throw;
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) == GIF_ERROR) throw std::runtime_error("GIF writer: cannot finish");
    return bytes;
}

std::vector<std::uint8_t> Picture(const std::string& id) {
    if (id == "110") return Encode(Scanning());
    if (id == "111") return Encode(Searching());
    throw std::runtime_error("no picture " + id);
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string Array(const char* name, const std::vector<std::uint8_t>& bytes) {
    std::string text = "constexpr std::uint8_t " + std::string(name) + "[] = {";
    char hex[16];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%s0x%02x,", i % 16 == 0 ? "\n    " : " ", bytes[i]);
        text += hex;
    }
    return text + "\n};\n";
}

std::string Source() {
    return "// Written by wizardpictures at build time.\n#include \"WizardPictures.h\"\n\nnamespace {\n" +
           Array("kScanning", Picture("110")) + Array("kSearching", Picture("111")) +
           "}  // namespace\n\n"
           "std::span<const std::uint8_t> ScanningAnimation() {\n    return kScanning;\n}\n\n"
           "std::span<const std::uint8_t> SearchingAnimation() {\n    return kSearching;\n}\n";
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "source" && argc == 3) {
            WriteFile(argv[2], Source());
        } else if (command == "gif" && argc == 4) {
            const auto bytes = Picture(argv[2]);
            WriteFile(argv[3], std::string(bytes.begin(), bytes.end()));
        } else {
            std::fprintf(stderr, "usage: wizardpictures source <out.cpp> | gif 110|111 <out.gif>\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wizardpictures: %s\n", e.what());
        return 1;
    }
    return 0;
}
