// A colour filter of our own for tests and the demo: it swaps the red and
// blue of every pixel, and remembers what it was given.
#include <mutex>
#include <string>

#include "../ColourFilter.h"

namespace {

std::mutex guard;
std::string lastDataPath;
int rowsFiltered = 0;

class SwapRedBlue final : public ColourFilter {
public:
    void Reserved() override {}
    void LoadData(const char* path, int length) override {
        std::lock_guard lock(guard);
        lastDataPath.assign(path, static_cast<std::size_t>(length));
    }
    void FilterRow(unsigned char* row, int bytes, int bitsPerPixel) override {
        if (bitsPerPixel != 24) return;
        for (int i = 0; i + 2 < bytes; i += 3) {
            const unsigned char blue = row[i];
            row[i] = row[i + 2];
            row[i + 2] = blue;
        }
        std::lock_guard lock(guard);
        ++rowsFiltered;
    }
};

SwapRedBlue filter;

}  // namespace

extern "C" ColourFilter* GetFilter() {
    return &filter;
}

// For the tests: what LoadData received, and how many rows went through.
extern "C" const char* TestFilterDataPath() {
    std::lock_guard lock(guard);
    return lastDataPath.c_str();
}

extern "C" int TestFilterRows() {
    std::lock_guard lock(guard);
    return rowsFiltered;
}

extern "C" void TestFilterReset() {
    std::lock_guard lock(guard);
    lastDataPath.clear();
    rowsFiltered = 0;
}
