#include "PagePlanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <new>
#include <vector>

namespace {

std::vector<BYTE> Row(std::initializer_list<std::array<BYTE, 3>> pixels) {
    std::vector<BYTE> row;
    for (const auto& p : pixels) row.insert(row.end(), p.begin(), p.end());
    return row;
}

// A plane's byte at column x, row y.
BYTE At(const PagePlanes& planes, int plane, int x, int y) {
    return planes.Plane(plane)[static_cast<std::size_t>(y) * planes.Width() + x];
}

TEST(PagePlanesTest, InkIsTheComplementOfEachColour) {
    PagePlanes planes;
    ASSERT_TRUE(planes.Allocate(1));
    planes.StartPage();
    // Blue, green, red per pixel: white, black, pure red.
    const auto row = Row({{255, 255, 255}, {0, 0, 0}, {0, 0, 255}, {10, 20, 30}});
    ASSERT_TRUE(planes.AddRow(row.data(), row.size()));
    const BYTE expected[4][3] = {{0, 0, 0}, {255, 255, 255}, {0, 255, 255}, {225, 235, 245}};
    for (int x = 0; x < 4; ++x)
        for (int p = 0; p < 3; ++p) EXPECT_EQ(At(planes, p, x, 0), expected[x][p]) << "pixel " << x << " plane " << p;
}

TEST(PagePlanesTest, PlacementByOrientation) {
    struct Case {
        bool landscape, rotated;
        // Where pixel i of page row r lands, for r = 1 and i = 0 and 2.
        int x0, y0, x2, y2;
    };
    const int w = 1100, h = 1560;
    const Case cases[] = {
        {false, false, 0, 1, 2, 1},
        {false, true, w - 1, h - 2, w - 3, h - 2},
        {true, false, w - 2, 0, w - 2, 2},
        {true, true, 1, h - 1, 1, h - 3},
    };
    for (const Case& c : cases) {
        PagePlanes planes;
        planes.SetOrientation(c.landscape, c.rotated);
        ASSERT_TRUE(planes.Allocate(1));
        planes.StartPage();
        const auto blank = Row({{255, 255, 255}, {255, 255, 255}, {255, 255, 255}});
        const auto marked = Row({{0, 0, 1}, {255, 255, 255}, {0, 0, 3}});
        planes.AddRow(blank.data(), blank.size());
        planes.AddRow(marked.data(), marked.size());
        SCOPED_TRACE(testing::Message() << "landscape " << c.landscape << " rotated " << c.rotated);
        EXPECT_EQ(At(planes, 0, c.x0, c.y0), 254);
        EXPECT_EQ(At(planes, 0, c.x2, c.y2), 252);
        EXPECT_EQ(planes.RowsAdded(), 2);
    }
}

TEST(PagePlanesTest, WideRowsAreCutAndRowsBeyondThePageIgnored) {
    PagePlanes planes;
    ASSERT_TRUE(planes.Allocate(1));
    planes.StartPage();
    std::vector<BYTE> wide(3 * 1200 + 2, 0);  // 1200 black pixels and a stray 2 bytes
    for (int r = 0; r < 1560; ++r) ASSERT_TRUE(planes.AddRow(wide.data(), wide.size()));
    std::vector<BYTE> white(3 * 1100, 255);
    EXPECT_TRUE(planes.AddRow(white.data(), white.size()));  // one too many: ignored
    EXPECT_EQ(planes.RowsAdded(), 1560);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(At(planes, p, 1099, 1559), 255);
        EXPECT_EQ(At(planes, p, 0, 1559), 255);
    }
    // A new page starts blank.
    planes.StartPage();
    EXPECT_EQ(At(planes, 0, 1099, 1559), 0);
    EXPECT_EQ(planes.RowsAdded(), 0);
}

TEST(PagePlanesTest, FailedAllocationKeepsKindSizeAndPlanesTogether) {
    PagePlanes planes;
    int calls = 0;
    int failAt = -1;
    planes.SetAllocator(
        [&](std::size_t bytes) -> BYTE* { return calls++ == failAt ? nullptr : new (std::nothrow) BYTE[bytes]; });
    // Nothing yet: rows are refused and there is no page to send.
    failAt = 0;
    EXPECT_FALSE(planes.Allocate(0));
    EXPECT_FALSE(planes.HasPlanes());
    std::vector<BYTE> row(30, 0);
    EXPECT_FALSE(planes.AddRow(row.data(), row.size()));
    EXPECT_FALSE(planes.Send([](const BYTE*, std::size_t) { return true; }, 1, 0));

    calls = 0;
    failAt = -1;
    ASSERT_TRUE(planes.Allocate(1));
    // The third plane of the larger kind fails: the small kind stays whole.
    calls = 0;
    failAt = 2;
    EXPECT_FALSE(planes.Allocate(0));
    EXPECT_EQ(planes.PaperKind(), 1);
    EXPECT_EQ(planes.Width(), 1100);
    EXPECT_EQ(planes.Height(), 1560);
    EXPECT_EQ(planes.PlaneSize(), 1716000u);
    std::size_t sent = 0;
    EXPECT_TRUE(planes.Send(
        [&](const BYTE* data, std::size_t size) {
            if (sent == 0) {
                EXPECT_EQ(data[3], 1);
            }
            sent += size;
            return true;
        },
        1, 0));
    EXPECT_EQ(sent, 5148048u);
}

TEST(PagePlanesTest, HeadersByteForByte) {
    BYTE page[kPageHeaderSize];
    WritePageHeader(page, 1, 0x0A0B0C0D);
    EXPECT_EQ(std::vector<BYTE>(page, page + 12),
              (std::vector<BYTE>{0x30, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A}));
    BYTE plane[kPlaneHeaderSize];
    WritePlaneHeader(plane, 2, 2316288);
    EXPECT_EQ(std::vector<BYTE>(plane, plane + 12),
              (std::vector<BYTE>{0x30, 0x01, 0x02, 0x00, 0x00, 0x58, 0x23, 0x00, 0, 0, 0, 0}));
}

TEST(PagePlanesTest, CopiesAndShortWrites) {
    PagePlanes planes;
    ASSERT_TRUE(planes.Allocate(0));
    planes.StartPage();
    const auto row = Row({{1, 2, 3}});
    planes.AddRow(row.data(), row.size());
    const std::size_t copySize = 12 + 3 * (12 + 2316288);
    EXPECT_EQ(copySize, 6948912u);
    struct Case {
        int copies;
        std::size_t expectedCopies;
    };
    for (const Case c : {Case{3, 3}, Case{1, 1}, Case{0, 1}, Case{-2, 1}}) {
        std::vector<BYTE> stream;
        ASSERT_TRUE(planes.Send(
            [&](const BYTE* data, std::size_t size) {
                stream.insert(stream.end(), data, data + size);
                return true;
            },
            c.copies, 7));
        ASSERT_EQ(stream.size(), copySize * c.expectedCopies) << "copies " << c.copies;
        for (std::size_t k = 1; k < c.expectedCopies; ++k)
            EXPECT_TRUE(std::equal(stream.begin(), stream.begin() + copySize, stream.begin() + k * copySize));
        EXPECT_EQ(stream[8], 7);
        EXPECT_EQ(stream[12 + 12], 255 - 3);  // cyan of the first pixel
    }
    // The plane write comes up short: the page fails and nothing more is sent.
    int writes = 0;
    EXPECT_FALSE(planes.Send([&](const BYTE*, std::size_t size) { return ++writes, size == 12; }, 2, 0));
    EXPECT_EQ(writes, 3);
}

}  // namespace
