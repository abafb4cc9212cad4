#include "Windows/Common/HelpLauncher.h"

#include "Platform/HtmlHelp.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HelpLauncher, AsksForTheTableOfContentsAndReportsTheOutcome) {
    HWND window = reinterpret_cast<HWND>(std::uintptr_t{0x4400});
    HWND shown = reinterpret_cast<HWND>(std::uintptr_t{0x4404});
    int calls = 0;
    std::u16string file;
    UINT command = 0;
    DWORD_PTR data = 1;
    HWND caller = nullptr;
    HWND answer = shown;
    Platform::ScopedHtmlHelpHandler handler([&](HWND c, LPCWSTR f, UINT cmd, DWORD_PTR d) {
        ++calls;
        caller = c;
        file = f;
        command = cmd;
        data = d;
        return answer;
    });

    EXPECT_TRUE(OpenHelp(window, u"VelmoWirelessPrinter.chm"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(caller, window);
    EXPECT_EQ(file, u"VelmoWirelessPrinter.chm");
    EXPECT_EQ(command, HH_DISPLAY_TOC);
    EXPECT_EQ(data, 0u);

    answer = nullptr;
    EXPECT_FALSE(OpenHelp(window, u"VelmoWirelessPrinter.chm"));
    EXPECT_EQ(calls, 2);
}

}  // namespace
