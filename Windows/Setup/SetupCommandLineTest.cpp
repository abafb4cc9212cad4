#include "SetupCommandLine.h"

#include <gtest/gtest.h>

#include <string>

namespace Istrova {
namespace {

TEST(AssistantCommandLine, ProgramIsInTheInstallFolderOrAlone) {
    EXPECT_EQ(AssistantCommandLine(u"C:\\Program Files\\Velmo", "Glimmer Dock"),
              (AssistantLaunch{u"C:\\Program Files\\Velmo\\Amberlo.exe", u"Glimmer Dock"}));
    EXPECT_EQ(AssistantCommandLine(u"", nullptr), (AssistantLaunch{u"Amberlo.exe", u""}));
}

TEST(AssistantCommandLine, OverLongOrInvalidTextIsRefused) {
    const std::string longest(1023 - 12, 'a');  // "Amberlo.exe " is 12 units
    EXPECT_TRUE(AssistantCommandLine(u"", longest.c_str()).has_value());
    EXPECT_FALSE(AssistantCommandLine(u"", std::string(1024, 'a').c_str()).has_value());
    EXPECT_FALSE(AssistantCommandLine(std::u16string(1020, u'x'), "a").has_value());
    EXPECT_FALSE(AssistantCommandLine(u"", "\xff\xfe").has_value());
    EXPECT_FALSE(AssistantCommandLine(u"", std::string(1012, 'a').c_str()).has_value());
    EXPECT_EQ(AssistantCommandLine(u"", "\xc3\xa9")->arguments, u"\u00e9");
}

}  // namespace
}  // namespace Istrova
