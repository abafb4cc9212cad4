#include "SetupCommandLine.h"

#include <gtest/gtest.h>

#include <string>

namespace Istrova {
namespace {

TEST(AssistantCommandLine, ProgramIsQuotedInTheInstallFolderOrAlone) {
    EXPECT_EQ(AssistantCommandLine(u"C:\\Program Files\\Velmo", "Glimmer"),
              u"\"C:\\Program Files\\Velmo\\Amberlo.exe\" Glimmer");
    EXPECT_EQ(AssistantCommandLine(u"", "Glimmer"), u"\"Amberlo.exe\" Glimmer");
    EXPECT_EQ(AssistantCommandLine(u"", nullptr), u"\"Amberlo.exe\"");
    EXPECT_EQ(AssistantCommandLine(u"C:\\V", ""), u"\"C:\\V\\Amberlo.exe\"");
}

TEST(AssistantCommandLine, OverLongOrInvalidTextIsRefused) {
    const std::string longest(1023 - 16, 'a');  // "\"Amberlo.exe\" " is 14 units
    EXPECT_TRUE(AssistantCommandLine(u"", longest.c_str()).has_value());
    EXPECT_FALSE(AssistantCommandLine(u"", std::string(1024, 'a').c_str()).has_value());
    EXPECT_FALSE(AssistantCommandLine(std::u16string(1020, u'x'), "a").has_value());
    EXPECT_FALSE(AssistantCommandLine(u"", "\xff\xfe").has_value());
    EXPECT_EQ(AssistantCommandLine(u"", "\xc3\xa9")->back(), u'\u00e9');
}

}  // namespace
}  // namespace Istrova
