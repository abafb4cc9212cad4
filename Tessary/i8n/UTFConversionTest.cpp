#include "Tessary/i8n/UTFConversion.h"

#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace Tessary;

namespace {

using Units = std::u16string;
using Bytes = std::string;

// What the reason-giving conversion throws, or "" when it succeeds.
template <class Convert>
std::string ErrorOf(Convert&& convert) {
    try {
        convert();
    } catch (const TSException& e) {
        return e.what();
    }
    return "";
}

struct EncodeCase {
    const char* name;
    Units input;
    Bytes output;       // expected bytes when error is empty
    const char* error;  // expected reason, "" for success
};

const EncodeCase kEncodeCases[] = {
    {"ascii", u"Az", "Az", ""},
    {"empty", u"", "", ""},
    {"two-byte", u"\u00E9", "\xC3\xA9", ""},
    {"three-byte lowest", u"\u0800", "\xE0\xA0\x80", ""},
    {"cjk", u"\u4E2D", "\xE4\xB8\xAD", ""},
    {"replacement character", u"\uFFFD", "\xEF\xBF\xBD", ""},
    {"byte-order mark kept", u"\uFEFFA\uFEFF",
     "\xEF\xBB\xBF"
     "A\xEF\xBB\xBF",
     ""},
    {"swapped byte-order mark dropped", u"A\uFFFE", "A", ""},
    {"emoji pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80", ""},
    {"last code point", u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF", ""},
    {"zero unit ends input", Units(u"A\0B", 3), "A", ""},
    {"not a character", u"\uFFFF", "", "Invalid Unicode character"},
    {"lone low surrogate", u"a\xDE00", "", "Invalid element for W1"},
    {"high surrogate then letter",
     u"\xD83D"
     u"A",
     "", "Invalid element for W2"},
    {"two high surrogates", u"\xD83D\xD83D", "", "Invalid element for W2"},
    {"high surrogate then zero", Units(u"\xD83D\0", 2), "", "Invalid second element in surrogate pair"},
    {"high surrogate at end", u"x\xD83D", "", "Invalid second element in surrogate pair"},
};

struct DecodeCase {
    const char* name;
    Bytes input;
    Units output;
    const char* error;
};

const char* const kSpoofing = "Invalid UTF-8 character: someone's spoofing the stream!";
const char* const kOverlong = "Invalid UTF-8 sequence (overlong): someone's spoofing the stream!";
const char* const kMalformed = "Malformed UTF-8 sequence!";

const DecodeCase kDecodeCases[] = {
    {"ascii", "Az", u"Az", ""},
    {"empty", "", u"", ""},
    {"two-byte", "\xC3\xA9", u"\u00E9", ""},
    {"three-byte lowest", "\xE0\xA0\x80", u"\u0800", ""},
    {"byte-order mark kept",
     "\xEF\xBB\xBF"
     "A",
     u"\uFEFFA", ""},
    {"emoji", "\xF0\x9F\x98\x80", u"\xD83D\xDE00", ""},
    {"last code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF", ""},
    {"zero byte ends input", Bytes("A\0\xFF", 3), u"A", ""},
    {"continuation as lead", "\x80", u"", "Character is from latter part of a UTF-8 sequence"},
    {"C0 80", "\xC0\x80", u"", kSpoofing},
    {"C1 BF", "\xC1\xBF", u"", kSpoofing},
    {"E0 80 80", "\xE0\x80\x80", u"", kOverlong},
    {"E0 9F BF", "\xE0\x9F\xBF", u"", kOverlong},
    {"F0 8F BF BF", "\xF0\x8F\xBF\xBF", u"", kOverlong},
    {"F5", "\xF5\x80\x80\x80", u"", kSpoofing},
    {"F8", "\xF8\x88\x80\x80\x80", u"", kSpoofing},
    {"FC", "\xFC\x84\x80\x80\x80\x80", u"", kSpoofing},
    {"FE", "\xFE", u"", kSpoofing},
    {"FF", "\xFF", u"", kSpoofing},
    {"encoded high surrogate", "\xED\xA0\x80", u"", kMalformed},
    {"encoded low surrogate", "\xED\xBF\xBF", u"", kMalformed},
    {"U+FFFE", "\xEF\xBF\xBE", u"", kMalformed},
    {"U+FFFF", "\xEF\xBF\xBF", u"", kMalformed},
    {"above U+10FFFF", "\xF4\x90\x80\x80", u"", kMalformed},
    {"truncated final sequence", "A\xE4\xB8", u"", kMalformed},
    {"truncated four-byte", "\xF0\x9F\x98", u"", kMalformed},
    {"bad continuation swallows no letters",
     "\xE4"
     "AB",
     u"", kMalformed},
    {"zero inside a sequence", Bytes("\xC3\0", 2), u"", kMalformed},
};

}  // namespace

TEST(UTF16ToUTF8, GoldenTable) {
    for (const auto& c : kEncodeCases) {
        SCOPED_TRACE(c.name);
        const int units = static_cast<int>(c.input.size());
        EXPECT_EQ(ErrorOf([&] { detail::EncodeUTF8(c.input.data(), c.input.size(), nullptr, 0); }), c.error);
        if (*c.error == '\0') {
            ASSERT_EQ(UTF16ToUTF8(c.input.data(), units, nullptr, 0), static_cast<int>(c.output.size()));
            Bytes out(c.output.size() + 4, '#');
            EXPECT_EQ(UTF16ToUTF8(c.input.data(), units, out.data(), static_cast<int>(out.size())),
                      static_cast<int>(c.output.size()));
            EXPECT_EQ(out, c.output + "####") << "nothing is written past the result, not even a zero";
            EXPECT_EQ(UTF16ToUTF8String(c.input.data(), units), c.output);
        } else {
            EXPECT_EQ(UTF16ToUTF8(c.input.data(), units, nullptr, 0), -1);
            char out[16];
            EXPECT_EQ(UTF16ToUTF8(c.input.data(), units, out, sizeof out), -1);
            EXPECT_EQ(ErrorOf([&] { UTF16ToUTF8String(c.input.data(), units); }), "Can't convert string");
        }
    }
}

TEST(UTF8ToUTF16, GoldenTable) {
    for (const auto& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        const int bytes = static_cast<int>(c.input.size());
        EXPECT_EQ(ErrorOf([&] { detail::DecodeUTF8(c.input.data(), c.input.size(), nullptr, 0); }), c.error);
        if (*c.error == '\0') {
            ASSERT_EQ(UTF8ToUTF16(c.input.data(), bytes, nullptr, 0), static_cast<int>(c.output.size()));
            Units out(c.output.size() + 2, u'#');
            EXPECT_EQ(UTF8ToUTF16(c.input.data(), bytes, out.data(), static_cast<int>(out.size())),
                      static_cast<int>(c.output.size()));
            EXPECT_EQ(out, c.output + u"##");
            const std::vector<char16_t> buffer = UTF8ToUTF16Buffer(c.input.data(), bytes);
            EXPECT_EQ(Units(buffer.begin(), buffer.end()), c.output);
        } else {
            EXPECT_EQ(UTF8ToUTF16(c.input.data(), bytes, nullptr, 0), -1);
            char16_t out[16];
            EXPECT_EQ(UTF8ToUTF16(c.input.data(), bytes, out, 16), -1);
            EXPECT_EQ(ErrorOf([&] { UTF8ToUTF16Buffer(c.input.data(), bytes); }), "Can't convert string");
        }
    }
}

TEST(UTFConversion, DecodingNeverReadsPastTheGivenCount) {
    // The count ends the input even where a valid sequence would go on.
    const char bytes[] = "\xE4\xB8\xAD";
    EXPECT_EQ(UTF8ToUTF16(bytes, 2, nullptr, 0), -1);
    EXPECT_EQ(UTF8ToUTF16(bytes, 3, nullptr, 0), 1);
    const char16_t pair[] = u"\xD83D\xDE00";
    EXPECT_EQ(UTF16ToUTF8(pair, 1, nullptr, 0), -1);
}

TEST(UTFConversion, SmallBufferStopsAtCodePointBoundary) {
    const Units wide = u"a\u00E9\xD83D\xDE00";  // 1 + 2 + 4 bytes
    const int expectedBytes[] = {0, 1, 1, 3, 3, 3, 3, 7};
    for (int capacity = 0; capacity <= 7; ++capacity) {
        SCOPED_TRACE(capacity);
        Bytes out(8, '#');
        const int n = UTF16ToUTF8(wide.data(), static_cast<int>(wide.size()), out.data(), capacity);
        ASSERT_EQ(n, expectedBytes[capacity]);
        EXPECT_EQ(out.substr(0, n), Bytes("a\xC3\xA9\xF0\x9F\x98\x80").substr(0, n));
        EXPECT_EQ(out.substr(n), Bytes(8 - n, '#'));
    }

    const Bytes narrow =
        "a\xF0\x9F\x98\x80"
        "b";  // 1 + 2 + 1 units
    const int expectedUnits[] = {0, 1, 1, 3, 4};
    for (int capacity = 0; capacity <= 4; ++capacity) {
        SCOPED_TRACE(capacity);
        Units out(5, u'#');
        const int n = UTF8ToUTF16(narrow.data(), static_cast<int>(narrow.size()), out.data(), capacity);
        ASSERT_EQ(n, expectedUnits[capacity]);
        EXPECT_EQ(out.substr(0, n), Units(u"a\xD83D\xDE00"
                                          u"b")
                                        .substr(0, n));
        EXPECT_EQ(out.substr(n), Units(5 - n, u'#'));
    }
}

TEST(UTFConversion, BadArgumentsGiveMinusOne) {
    char bytes[4];
    char16_t units[4];
    EXPECT_EQ(UTF16ToUTF8(nullptr, 3, nullptr, 0), -1);
    EXPECT_EQ(UTF16ToUTF8(u"a", -1, nullptr, 0), -1);
    EXPECT_EQ(UTF16ToUTF8(u"a", 1, bytes, -1), -1);
    EXPECT_EQ(UTF8ToUTF16(nullptr, 3, nullptr, 0), -1);
    EXPECT_EQ(UTF8ToUTF16("a", -1, nullptr, 0), -1);
    EXPECT_EQ(UTF8ToUTF16("a", 1, units, -1), -1);
    EXPECT_EQ(UTF16ToUTF8(nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(UTF8ToUTF16(nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(UTF16ToUTF8String(nullptr, 0), "");
    EXPECT_TRUE(UTF8ToUTF16Buffer(nullptr, 0).empty());
}

TEST(UTFConversion, ToWideVectorIsZeroTerminated) {
    EXPECT_EQ(ToWideVector("a\xC3\xA9"), (std::vector<char16_t>{u'a', u'\u00E9', 0}));
    EXPECT_EQ(ToWideVector(""), std::vector<char16_t>{0});
    EXPECT_EQ(ErrorOf([] { ToWideVector("\xC0\x80"); }), "Can't convert string");
}

namespace {

// Valid scalars by encoded length, less U+FFFE and U+FFFF, which do not
// survive a round trip.
struct Range {
    char32_t first, last;
    std::size_t bytes;
};
constexpr Range kRanges[] = {
    {0x1, 0x7F, 1}, {0x80, 0x7FF, 2}, {0x800, 0xD7FF, 3}, {0xE000, 0xFFFD, 3}, {0x10000, 0x10FFFF, 4}};

}  // namespace

TEST(UTFConversion, RandomValidTextRoundTrips) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        Units wide;
        std::size_t expectedBytes = 0;
        for (int i = static_cast<int>(random() % 24); i > 0; --i) {
            const Range& r = kRanges[random() % std::size(kRanges)];
            // Range ends half the time: the edges are where encoders go wrong.
            const char32_t cp =
                random() % 2 ? r.first + random() % (r.last - r.first + 1) : (random() % 2 ? r.first : r.last);
            if (cp < 0x10000) {
                wide.push_back(static_cast<char16_t>(cp));
            } else {
                wide.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                wide.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            }
            expectedBytes += r.bytes;
        }
        SCOPED_TRACE(::testing::Message() << "round " << round);
        const Bytes narrow = UTF16ToUTF8String(wide.data(), static_cast<int>(wide.size()));
        ASSERT_EQ(narrow.size(), expectedBytes);
        const std::vector<char16_t> back = UTF8ToUTF16Buffer(narrow.data(), static_cast<int>(narrow.size()));
        ASSERT_EQ(Units(back.begin(), back.end()), wide);
    }
}
