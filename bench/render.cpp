// Rendering one page into the three ink planes (portrait and landscape,
// with and without the test colour filter) against a plain copy of the same
// bytes into three planes, in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ColourFilter.h"
#include "PagePlanes.h"
#include "Platform/Win32.h"

namespace {

constexpr int kWidth = 1248;
constexpr int kHeight = 1856;

// A full page of blue, green, red rows as the driver's surface holds it.
std::vector<BYTE> PageSurface() {
    std::vector<BYTE> surface(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (std::size_t i = 0; i < surface.size(); ++i) surface[i] = static_cast<BYTE>(i * 31 + (i >> 11));
    return surface;
}

ColourFilter* TestFilter() {
    static ColourFilter* filter = [] {
        HMODULE module = LoadLibraryW(u"VelmoTestFilter.dll");
        auto get = module ? reinterpret_cast<GetFilterFunction>(GetProcAddress(module, "GetFilter")) : nullptr;
        return get ? get() : nullptr;
    }();
    return filter;
}

void RenderPage(benchmark::State& state, bool landscape, bool filtered) {
    ColourFilter* filter = filtered ? TestFilter() : nullptr;
    if (filtered && filter == nullptr) {
        state.SkipWithError("libVelmoTestFilter.so not found beside the benchmark");
        return;
    }
    PagePlanes planes;
    planes.SetOrientation(landscape, false);
    planes.Allocate(0);
    std::vector<BYTE> surface = PageSurface();
    // A landscape page arrives as kHeight-pixel rows, one per plane column.
    const int rows = landscape ? kWidth : kHeight;
    const std::size_t rowBytes = static_cast<std::size_t>(landscape ? kHeight : kWidth) * 3;
    for (auto _ : state) {
        planes.StartPage();
        for (int r = 0; r < rows; ++r) {
            BYTE* row = surface.data() + r * rowBytes;
            if (filter != nullptr) filter->FilterRow(row, static_cast<int>(rowBytes), 24);
            planes.AddRow(row, rowBytes);
        }
        // Reading a plane writes out the rows still held, as sending does.
        benchmark::DoNotOptimize(planes.Plane(2));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 3);
}

// The floor: the same bytes copied without conversion into three planes of
// page size, so its working set is the render's.
void PlainCopy(benchmark::State& state) {
    const std::vector<BYTE> surface = PageSurface();
    const std::size_t planeSize = static_cast<std::size_t>(kWidth) * kHeight;
    std::vector<BYTE> planes[3] = {std::vector<BYTE>(planeSize), std::vector<BYTE>(planeSize),
                                   std::vector<BYTE>(planeSize)};
    for (auto _ : state) {
        for (int p = 0; p < 3; ++p) std::memcpy(planes[p].data(), surface.data() + p * planeSize, planeSize);
        benchmark::DoNotOptimize(planes[2].data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * planeSize * 3);
}

BENCHMARK(PlainCopy)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RenderPage, portrait, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RenderPage, landscape, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RenderPage, portrait_filtered, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RenderPage, landscape_filtered, true, true)->Unit(benchmark::kMillisecond);

}  // namespace
