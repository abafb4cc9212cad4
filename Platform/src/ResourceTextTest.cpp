#include "Platform/Resource.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Platform::ParseResourceText;
using Platform::ResourceFileError;
using namespace std::string_literals;

TEST(ResourceText, ReadsEntriesEscapesAndComments) {
    const std::string text =
        "\xEF\xBB\xBF# a comment\r\n"
        "\r\n"
        "   # indented comment\n"
        "STRING 1 \"plain\"\n"
        "\tSTRING\t65535\t\"tab\there\"   # trailing comment\r\n"
        "STRING 0 \"q\\\" b\\\\ n\\n r\\r t\\t\"\n"
        "STRING 3 \"\\u00e9\\U0001F600 \xE6\x97\xA5\"\n"
        "STRING 4 \"\"";
    const auto table = ParseResourceText(text, "test.rc.txt");
    ASSERT_EQ(table.strings.size(), 5u);
    EXPECT_EQ(table.strings.at(1), u"plain");
    EXPECT_EQ(table.strings.at(65535), u"tab\there");
    EXPECT_EQ(table.strings.at(0), u"q\" b\\ n\n r\r t\t");
    EXPECT_EQ(table.strings.at(3), u"\u00e9\U0001F600 \u65e5");
    EXPECT_EQ(table.strings.at(4), u"");
    EXPECT_TRUE(ParseResourceText("", "empty").strings.empty());
}

TEST(ResourceText, RejectsMalformedLinesNamingFileAndLine) {
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"string 1 \"x\"", "f:1: unknown entry 'string'"},
        {"STRING", "f:1: missing string id"},
        {"STRING -1 \"x\"", "f:1: string id must be a decimal number, got '-1'"},
        {"STRING 0x10 \"x\"", "f:1: string id must be a decimal number, got '0x10'"},
        {"STRING 65536 \"x\"", "f:1: string id out of range (0 to 65535): 65536"},
        {"STRING 99999999999999999999 \"x\"", "f:1: string id out of range (0 to 65535): 99999999999999999999"},
        {"STRING 1", "f:1: expected a quoted text"},
        {"STRING 1 x", "f:1: expected a quoted text"},
        {"\nSTRING 1 \"open", "f:2: text has no closing quote"},
        {"STRING 1 \"ends in \\", "f:1: text has no closing quote"},
        {"STRING 1 \"\\q\"", "f:1: unknown escape \\q"},
        {"STRING 1 \"\\u12\"", "f:1: escape needs 4 hex digits"},
        {"STRING 1 \"\\u12", "f:1: escape needs 4 hex digits"},
        {"STRING 1 \"\\uD800\"", "f:1: escape names no valid character"},
        {"STRING 1 \"\\u0000\"", "f:1: escape names no valid character"},
        {"STRING 1 \"\\U00110000\"", "f:1: escape names no valid character"},
        {"STRING 1 \"a\x01\"", "f:1: control character in text (use an escape)"},
        {"STRING 1 \"a\rb\"", "f:1: control character in text (use an escape)"},
        {"STRING 1 \"a\0b\""s, "f:1: control character in text (use an escape)"},
        {"STRING 1 \"\xC0\x80\"", "f:1: text is not valid UTF-8"},
        {"STRING 1 \"\xE6\x97\"", "f:1: text is not valid UTF-8"},
        {"STRING 1 \"\xED\xA0\x80\"", "f:1: text is not valid UTF-8"},
        {"STRING 1 \"x\" y", "f:1: unexpected text after the closing quote"},
        {"STRING 1 \"x\"\"", "f:1: unexpected text after the closing quote"},
        {"STRING 7 \"a\"\n# c\nSTRING 7 \"b\"", "f:3: string id 7 already defined on line 1"},
    };
    for (const auto& c : cases) {
        try {
            ParseResourceText(c.text, "f");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ResourceFileError& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.text;
        }
    }
}

TEST(ResourceText, RejectsOverlongTextAndMissingFile) {
    const std::string longText = "STRING 1 \"" + std::string(65536, 'x') + "\"";
    EXPECT_THROW(ParseResourceText(longText, "f"), ResourceFileError);
    EXPECT_NO_THROW(ParseResourceText("STRING 1 \"" + std::string(65535, 'x') + "\"", "f"));
    EXPECT_THROW(Platform::LoadResourceFile("/nonexistent/velmo.rc.txt"), ResourceFileError);
}

}  // namespace
