#include "Platform/DriverHost.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using Platform::ParsePpm;

TEST(PageImageTest, PortablePixmapsRoundTrip) {
    Platform::PageImage image(3, 2);
    for (std::size_t i = 0; i < image.rgb.size(); ++i) image.rgb[i] = static_cast<BYTE>(i * 13);
    EXPECT_EQ(ParsePpm(Platform::EncodePpm(image)), image);
    // Comments and any blanks between the header fields.
    const char text[] = "P6 # made by hand\n1\t1\r\n255\n\x01\x02\x03";
    const auto parsed = ParsePpm(std::string(text, sizeof text - 1));
    EXPECT_EQ(parsed.width, 1);
    EXPECT_EQ(parsed.rgb, (std::vector<BYTE>{1, 2, 3}));
}

TEST(PageImageTest, MalformedPixmapsAreRefused) {
    const std::string cases[] = {
        "",
        "P3\n1 1\n255\n1 2 3",           // text form
        "P6\n1 1\n65535\n\x01\x02\x03",  // 16-bit samples
        "P6\n0 1\n255\n",
        "P6\n2 2\n255\n\x01\x02\x03",  // pixels cut short
        "P6\n99999 1\n255\n",          // too large
        "P6\n1 1\n255",                // no blank after the header
        "P6\n1\n",
        "P6 # only a comment",
    };
    for (const auto& bytes : cases) EXPECT_THROW(ParsePpm(bytes), std::invalid_argument) << bytes;
}

TEST(MemorySpoolSinkTest, LimitMakesWritesShort) {
    Platform::MemorySpoolSink sink;
    sink.limit = 5;
    const BYTE data[4] = {1, 2, 3, 4};
    EXPECT_EQ(sink.Write(data, 4), 4u);
    EXPECT_EQ(sink.Write(data, 4), 1u);
    EXPECT_EQ(sink.Write(data, 4), 0u);
    EXPECT_EQ(sink.bytes, (std::vector<BYTE>{1, 2, 3, 4, 1}));
    EXPECT_EQ(sink.writes, 3u);
}

}  // namespace
