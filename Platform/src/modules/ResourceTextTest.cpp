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

TEST(ResourceText, ReadsDialogTemplatesWithTheirControls) {
    const std::string text =
        "STRING 1 \"before\"\n"
        "DIALOG 12106 239 49 \"Rename \\\"it\\\"\"   # a comment\n"
        "  LTEXT -1 \"Name :\" 7 9 48 8\n"
        "  EDITTEXT 13001 \"\" 58 7 174 12 PASSWORD NOTABSTOP\n"
        "\n"
        "  # comment inside\n"
        "  DEFPUSHBUTTON 1 \"OK\" 128 28 50 14 DISABLED\n"
        "  RADIOBUTTON 5 \"A\" 0 0 10 10 GROUP HIDDEN RTL\n"
        "  LISTVIEW 6 \"\" 0 0 100 50 SINGLESEL\n"
        "END\n"
        "DIALOG 7 10 20 \"Pane\" CHILD VISIBLE\n"
        "END\n"
        "STRING 2 \"after\"\n";
    const auto table = ParseResourceText(text, "f");
    EXPECT_EQ(table.strings.size(), 2u);
    ASSERT_EQ(table.dialogs.size(), 2u);
    const auto& d = table.dialogs.at(12106);
    EXPECT_EQ(d.caption, u"Rename \"it\"");
    EXPECT_EQ(d.cx, 239);
    EXPECT_EQ(d.cy, 49);
    EXPECT_EQ(d.style & (WS_POPUP | WS_CHILD), WS_POPUP);
    ASSERT_EQ(d.items.size(), 5u);
    EXPECT_EQ(d.items[0].windowClass, WC_STATIC);
    EXPECT_EQ(d.items[0].id, 65535u);
    EXPECT_EQ(d.items[0].style & WS_TABSTOP, 0u);
    const auto& edit = d.items[1];
    EXPECT_EQ(edit.windowClass, WC_EDIT);
    EXPECT_EQ(edit.id, 13001u);
    EXPECT_EQ((edit.x), 58);
    EXPECT_EQ((edit.cy), 12);
    EXPECT_NE(edit.style & ES_PASSWORD, 0u);
    EXPECT_EQ(edit.style & WS_TABSTOP, 0u);
    EXPECT_NE(edit.style & (WS_CHILD | WS_VISIBLE), 0u);
    EXPECT_EQ(d.items[2].style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_NE(d.items[2].style & WS_DISABLED, 0u);
    EXPECT_EQ(d.items[3].style & BS_TYPEMASK, BS_AUTORADIOBUTTON);
    EXPECT_NE(d.items[3].style & WS_GROUP, 0u);
    EXPECT_EQ(d.items[3].style & WS_VISIBLE, 0u);
    EXPECT_EQ(d.items[3].exStyle, WS_EX_LAYOUTRTL);
    EXPECT_EQ(d.items[4].windowClass, WC_LISTVIEW);
    EXPECT_NE(d.items[4].style & LVS_SINGLESEL, 0u);
    const auto& pane = table.dialogs.at(7);
    EXPECT_EQ(pane.style & (WS_CHILD | DS_CONTROL | WS_VISIBLE), WS_CHILD | DS_CONTROL | WS_VISIBLE);
    EXPECT_TRUE(pane.items.empty());
}

TEST(ResourceText, RejectsMalformedDialogsNamingFileAndLine) {
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"DIALOG 1 10 10 \"x\"\n  LTEXT 1 \"a\" 0 0 1 1", "f:1: dialog 1 has no END"},
        {"DIALOG 1 10 10 \"x\"\nDIALOG 2 10 10 \"y\"\nEND", "f:2: dialog 1 has no END"},
        {"DIALOG 1 10 10 \"x\"\nSTRING 1 \"y\"\nEND", "f:2: dialog 1 has no END"},
        {"END", "f:1: unknown entry 'END'"},
        {"LTEXT 1 \"a\" 0 0 1 1", "f:1: unknown entry 'LTEXT'"},
        {"DIALOG 1 0 10 \"x\"\nEND", "f:1: dialog width out of range (1 to 32767): 0"},
        {"DIALOG 1 10 40000 \"x\"\nEND", "f:1: dialog height out of range (1 to 32767): 40000"},
        {"DIALOG 70000 10 10 \"x\"\nEND", "f:1: dialog id out of range (0 to 65535): 70000"},
        {"DIALOG 1 10 10 x\nEND", "f:1: expected a quoted text"},
        {"DIALOG 1 10 10 \"x\" POPUP\nEND", "f:1: unknown flag 'POPUP'"},
        {"DIALOG 1 10 10 \"x\"\n  SLIDER 1 \"a\" 0 0 1 1\nEND", "f:2: unknown control kind 'SLIDER'"},
        {"DIALOG 1 10 10 \"x\"\n  LTEXT -2 \"a\" 0 0 1 1\nEND", "f:2: control id out of range (-1 or 0 to 65535)"},
        {"DIALOG 1 10 10 \"x\"\n  LTEXT 1 \"a\" 0 -1 1 1\nEND", "f:2: y must be a decimal number, got '-1'"},
        {"DIALOG 1 10 10 \"x\"\n  LTEXT 1 \"a\" 0 0 1\nEND", "f:2: missing height"},
        {"DIALOG 1 10 10 \"x\"\n  LTEXT 1 \"a\" 0 0 99999 1\nEND", "f:2: width out of range (0 to 32767): 99999"},
        {"DIALOG 1 10 10 \"x\"\n  EDITTEXT 1 \"\" 0 0 1 1 BOLD\nEND", "f:2: unknown flag 'BOLD'"},
        {"DIALOG 1 10 10 \"x\"\nEND now", "f:2: unknown flag 'now'"},
        {"DIALOG 1 10 10 \"x\"\nEND\nDIALOG 1 10 10 \"y\"\nEND", "f:3: dialog id 1 already defined on line 1"},
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

TEST(ResourceText, ReadsBinaryResourcesAcrossContinuationLines) {
    const auto table = ParseResourceText(
        "BINARY gif 110 474946\n"
        "BINARY GIF 110 3839 61   # continued\n"
        "BINARY ICON 112 00ff\n"
        "STRING 1 \"x\"\n",
        "f");
    ASSERT_EQ(table.binaries.size(), 2u);
    EXPECT_EQ(table.binaries.at({u"GIF", 110}), (std::vector<std::uint8_t>{'G', 'I', 'F', '8', '9', 'a'}));
    EXPECT_EQ(table.binaries.at({u"ICON", 112}), (std::vector<std::uint8_t>{0x00, 0xFF}));

    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"BINARY GIF 110 abc", "f:1: hex bytes need an even number of digits"},
        {"BINARY GIF 110 zz", "f:1: hex bytes must be hex digits, got 'z'"},
        {"BINARY GIF 110", "f:1: missing hex bytes"},
        {"BINARY G.F 110 00", "f:1: resource type must be letters, digits or '_', got 'G.F'"},
        {"BINARY GIF 110 00\nSTRING 1 \"x\"\nBINARY GIF 110 00", "f:3: binary resource 110 already defined on line 1"},
        {"DIALOG 1 10 10 \"x\"\nBINARY GIF 1 00\nEND", "f:2: unknown control kind 'BINARY'"},
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
