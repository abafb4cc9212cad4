#include "Mfc/CString.h"

#include "Mfc/GTestDriver.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace {

template <class... Args>
CString Formatted(const char16_t* format, const Args&... args) {
    CString text;
    text.Format(format, args...);
    return text;
}

TEST(CStringFormat, ConversionsFollowPrintfOnUtf16) {
    const CString name(u"Caf\u00e9");
    EXPECT_EQ(Formatted(u"There is \"%s\".", name), u"There is \"Caf\u00e9\".");
    EXPECT_EQ(Formatted(u"%s|%S|%ls", u"wide", "n\xC3\xA4rrow", std::u16string(u"std")), u"wide|n\u00e4rrow|std");
    EXPECT_EQ(Formatted(u"%d %i %u %x %X %o", -5, 42, 7u, 255, 255, 8), u"-5 42 7 ff FF 10");
    EXPECT_EQ(Formatted(u"%u", -1), u"4294967295") << "a 32-bit argument stays 32 bits";
    EXPECT_EQ(Formatted(u"%lld %llu", LLONG_MIN, ULLONG_MAX), u"-9223372036854775808 18446744073709551615");
    EXPECT_EQ(Formatted(u"%hd %hhu", 70000, 300), u"4464 44");
    EXPECT_EQ(Formatted(u"[%5s][%-5s][%.2s][%*d][%-*d]", u"ab", u"ab", u"abc", 4, 7, 3, 1),
              u"[   ab][ab   ][ab][   7][1  ]");
    EXPECT_EQ(Formatted(u"%05.1f %e %g", 3.14159, 1.5, 0.25), u"003.1 1.500000e+00 0.25");
    EXPECT_EQ(Formatted(u"%c%c%c", u'x', 'y', 0x1F600), u"xy\U0001F600");
    EXPECT_EQ(Formatted(u"100%% %u", 12u), u"100% 12");
    EXPECT_EQ(Formatted(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
    EXPECT_EQ(Formatted(u"%s has %s", u"%s", u"%d"), u"%s has %d") << "arguments are never formats";
}

TEST(CStringFormat, MismatchedOrMissingArgumentsAreRefused) {
    CString text;
    EXPECT_THROW(text.Format(u"%d", u"text"), std::invalid_argument);
    EXPECT_THROW(text.Format(u"%s", 5), std::invalid_argument);
    EXPECT_THROW(text.Format(u"%f", 5), std::invalid_argument);
    EXPECT_THROW(text.Format(u"%s and %s", u"one"), std::invalid_argument);
    EXPECT_THROW(text.Format(u"%n", 5), std::invalid_argument);
    EXPECT_THROW(text.Format(u"50%"), std::invalid_argument);
    EXPECT_THROW(text.Format(u"%q", 1), std::invalid_argument);
    EXPECT_THROW(text.Format(u"%999999999d", 1), std::invalid_argument);
    EXPECT_THROW(text.Format(u"%*d", 1 << 30, 1), std::invalid_argument);
    EXPECT_NO_THROW(text.Format(u"%d", 1, 2)) << "extra arguments are ignored, as printf does";
}

TEST(CStringOperations, PiecesSearchesAndBuffersStayInRange) {
    CString text(u"  Hello, World  ");
    text.Trim();
    EXPECT_EQ(text, u"Hello, World");
    EXPECT_EQ(text.Left(5), u"Hello");
    EXPECT_EQ(text.Right(5), u"World");
    EXPECT_EQ(text.Mid(7), u"World");
    EXPECT_EQ(text.Mid(7, 100), u"World");
    EXPECT_EQ(text.Left(-3), u"");
    EXPECT_EQ(text.Mid(100), u"");
    EXPECT_EQ(text.Find(u'o'), 4);
    EXPECT_EQ(text.Find(u'o', 5), 8);
    EXPECT_EQ(text.Find(u"World"), 7);
    EXPECT_EQ(text.Find(u'o', 50), -1);
    EXPECT_EQ(text.ReverseFind(u'o'), 8);
    EXPECT_EQ(text.Replace(u"o", u"oo"), 2);
    EXPECT_EQ(text, u"Helloo, Woorld");
    EXPECT_EQ(text.CompareNoCase(u"HELLOO, WOORLD"), 0);
    EXPECT_LT(CString(u"abc").Compare(u"abd"), 0);
    EXPECT_NE(CString(u"Office"), CString(u"OFFICE"));
    EXPECT_EQ(text.Delete(0, 100), 0);
    EXPECT_EQ(text.Insert(5, u"xy"), 2);

    LPWSTR buffer = text.GetBuffer(10);
    buffer[0] = u'a';
    buffer[1] = u'b';
    buffer[2] = 0;
    text.ReleaseBuffer();
    EXPECT_EQ(text, u"ab");
    EXPECT_EQ(CString("b\xFFz"), u"b\uFFFDz") << "bytes that are not UTF-8 become replacement characters";
}

}  // namespace
