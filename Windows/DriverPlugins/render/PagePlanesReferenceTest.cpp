// The planes against a byte-at-a-time model of where each pixel goes, with
// rows of every length and reads, new pages and turns between rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "PagePlanes.h"

namespace {

// The page as rows place it, one pixel at a time.
class Reference {
public:
    Reference(int kind, bool landscape, bool rotated)
        : width_(kPaperKinds[kind].width), height_(kPaperKinds[kind].height), landscape_(landscape), rotated_(rotated) {
        for (auto& plane : planes_) plane.assign(static_cast<std::size_t>(width_) * height_, 0);
    }

    void Turn(bool landscape, bool rotated) { landscape_ = landscape, rotated_ = rotated; }

    void Add(const std::vector<BYTE>& row) {
        const int r = rows_;
        if (r >= (landscape_ ? width_ : height_)) return;
        const int pixels = std::min<int>(static_cast<int>(row.size() / 3), landscape_ ? height_ : width_);
        for (int i = 0; i < pixels; ++i) {
            int x = i, y = r;
            if (landscape_)
                x = rotated_ ? r : width_ - 1 - r, y = rotated_ ? height_ - 1 - i : i;
            else if (rotated_)
                x = width_ - 1 - i, y = height_ - 1 - r;
            const std::size_t at = static_cast<std::size_t>(y) * width_ + x;
            for (int p = 0; p < 3; ++p) planes_[p][at] = static_cast<BYTE>(255 - row[i * 3 + 2 - p]);
        }
        ++rows_;
    }

    void NewPage() {
        rows_ = 0;
        for (auto& plane : planes_) std::fill(plane.begin(), plane.end(), 0);
    }

    const std::vector<BYTE>& Plane(int p) const { return planes_[p]; }

private:
    int width_, height_;
    bool landscape_, rotated_;
    int rows_ = 0;
    std::array<std::vector<BYTE>, 3> planes_;
};

// Pixels that differ from row to row and plane to plane.
std::vector<BYTE> Row(std::size_t bytes, std::uint32_t& seed) {
    std::vector<BYTE> row(bytes);
    for (BYTE& b : row) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<BYTE>(seed >> 24);
    }
    return row;
}

// Where the planes first differ from the model, for a readable failure.
testing::AssertionResult SamePage(const PagePlanes& planes, const Reference& reference) {
    for (int p = 0; p < 3; ++p) {
        const BYTE* got = planes.Plane(p);
        const auto& want = reference.Plane(p);
        const auto at = std::mismatch(want.begin(), want.end(), got).first;
        if (at != want.end()) {
            const std::size_t n = static_cast<std::size_t>(at - want.begin());
            return testing::AssertionFailure() << "plane " << p << " x " << n % planes.Width() << " y "
                                               << n / planes.Width() << ": " << int{got[n]} << " for " << int{*at};
        }
    }
    return testing::AssertionSuccess();
}

struct Placement {
    bool landscape, rotated;
};
constexpr Placement kPlacements[] = {{false, false}, {false, true}, {true, false}, {true, true}};

TEST(PagePlanesReferenceTest, WholePagesOfRowsOfEveryLength) {
    for (int kind : {0, 1}) {
        for (const Placement placement : kPlacements) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " landscape " << placement.landscape << " rotated "
                                            << placement.rotated);
            PagePlanes planes;
            planes.SetOrientation(placement.landscape, placement.rotated);
            ASSERT_TRUE(planes.Allocate(kind));
            Reference reference(kind, placement.landscape, placement.rotated);
            const int rowPixels = placement.landscape ? planes.Height() : planes.Width();
            const int rows = placement.landscape ? planes.Width() : planes.Height();
            std::uint32_t seed = 7;
            // Whole rows for the first half, then some short, some wider than
            // the page or with padding bytes, and rows past the page's end.
            for (int r = 0; r < rows + 3; ++r) {
                std::size_t bytes = static_cast<std::size_t>(rowPixels) * 3;
                if (r > rows / 2 && r % 29 == 5) bytes = (r * 37 % rowPixels) * 3;
                if (r > rows / 2 && r % 41 == 9) bytes = 3 * (rowPixels + 9) + 2;
                if (r > rows / 2 && r % 53 == 1) bytes = r % 3;
                const auto row = Row(bytes, seed);
                planes.AddRow(row.data(), row.size());
                reference.Add(row);
            }
            EXPECT_EQ(planes.RowsAdded(), rows);
            EXPECT_TRUE(SamePage(planes, reference));
        }
    }
}

TEST(PagePlanesReferenceTest, ReadsBetweenRowsSeeEveryRowSoFar) {
    for (const Placement placement : kPlacements) {
        SCOPED_TRACE(testing::Message() << "landscape " << placement.landscape << " rotated " << placement.rotated);
        PagePlanes planes;
        planes.SetOrientation(placement.landscape, placement.rotated);
        ASSERT_TRUE(planes.Allocate(1));
        Reference reference(1, placement.landscape, placement.rotated);
        std::uint32_t seed = 11;
        int added = 0;
        // Reads after a single row, inside a tile, at its end and past it.
        for (int upTo : {1, 2, 17, PagePlanes::kTileRows, PagePlanes::kTileRows + 1, 3 * PagePlanes::kTileRows + 5}) {
            for (; added < upTo; ++added) {
                const auto row = Row(3 * static_cast<std::size_t>(17 + added * 13 % 1500), seed);
                planes.AddRow(row.data(), row.size());
                reference.Add(row);
            }
            ASSERT_TRUE(SamePage(planes, reference)) << "after " << added << " rows";
        }
        // Sending writes out rows held since the last read, also when new
        // planes could not be had in between.
        const auto row = Row(3 * 1560, seed);
        planes.AddRow(row.data(), row.size());
        reference.Add(row);
        planes.SetAllocator([](std::size_t) -> BYTE* { return nullptr; });
        EXPECT_FALSE(planes.Allocate(0));
        std::vector<BYTE> stream;
        ASSERT_TRUE(planes.Send(
            [&](const BYTE* data, std::size_t size) {
                stream.insert(stream.end(), data, data + size);
                return true;
            },
            1, 0));
        const std::vector<BYTE>& cyan = reference.Plane(0);
        EXPECT_TRUE(std::equal(cyan.begin(), cyan.end(), stream.begin() + 2 * kPlaneHeaderSize));
    }
}

TEST(PagePlanesReferenceTest, LaterPagesKeepNothingOfEarlierOnes) {
    for (const Placement first : kPlacements) {
        for (const Placement second : kPlacements) {
            SCOPED_TRACE(testing::Message() << "first " << first.landscape << first.rotated << " then "
                                            << second.landscape << second.rotated);
            PagePlanes planes;
            planes.SetOrientation(first.landscape, first.rotated);
            ASSERT_TRUE(planes.Allocate(1));
            Reference reference(1, first.landscape, first.rotated);
            std::uint32_t seed = 5;
            const auto add = [&](std::size_t bytes) {
                const auto row = Row(bytes, seed);
                planes.AddRow(row.data(), row.size());
                reference.Add(row);
            };
            for (int r = 0; r < 1560; ++r) add(3 * 1560);
            EXPECT_TRUE(SamePage(planes, reference));

            // A shorter page with short and empty rows, turned half way.
            planes.StartPage();
            reference.NewPage();
            planes.SetOrientation(second.landscape, second.rotated);
            reference.Turn(second.landscape, second.rotated);
            for (int r = 0; r < 70; ++r) add(r % 7 == 3 ? 0 : 3 * static_cast<std::size_t>(40 + r * 19));
            planes.SetOrientation(first.landscape, first.rotated);
            reference.Turn(first.landscape, first.rotated);
            for (int r = 0; r < 30; ++r) add(3 * 900);
            EXPECT_TRUE(SamePage(planes, reference));

            // A page with no rows at all is blank.
            planes.StartPage();
            reference.NewPage();
            EXPECT_TRUE(SamePage(planes, reference));
        }
    }
}

}  // namespace
