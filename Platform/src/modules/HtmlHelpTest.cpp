#include "Platform/HtmlHelp.h"
#include "Platform/Paths.h"

#include "Platform/ScopedEnv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

namespace fs = std::filesystem;

using Platform::Testing::EnvOverride;

TEST(HtmlHelp, ReplacedHandlerSeesEveryCallAndMayFail) {
    struct Call {
        HWND caller;
        std::u16string file;
        UINT command;
        DWORD_PTR data;
    };
    std::vector<Call> calls;
    HWND window = reinterpret_cast<HWND>(std::uintptr_t{0x5000});
    {
        Platform::ScopedHtmlHelpHandler handler([&](HWND caller, LPCWSTR file, UINT command, DWORD_PTR data) {
            calls.push_back({caller, file, command, data});
            return window;
        });
        EXPECT_EQ(HtmlHelpW(window, u"C:\\Help\\Velmo.chm", HH_DISPLAY_TOC, 0), window);
        {
            Platform::ScopedHtmlHelpHandler failing(
                [](HWND, LPCWSTR, UINT, DWORD_PTR) -> HWND { throw std::runtime_error("viewer broke"); });
            EXPECT_EQ(HtmlHelpW(window, u"x.chm", HH_DISPLAY_TOC, 0), nullptr);
        }
        EXPECT_EQ(HtmlHelpW(nullptr, u"y.chm", HH_DISPLAY_TOC, 9), window);
    }
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].caller, window);
    EXPECT_EQ(calls[0].file, u"C:\\Help\\Velmo.chm");
    EXPECT_EQ(calls[0].command, HH_DISPLAY_TOC);
    EXPECT_EQ(calls[1].data, 9u);
}

// The default handler, with a stand-in viewer that records its arguments.
class DesktopViewer : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("velmo-help-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "bin");
        fs::create_directories(dir_ / "machine/c/Help Files");
        viewer_ = dir_ / "bin/xdg-open";
        std::ofstream(viewer_)
            << "#!/bin/sh\nPATH=/usr/bin:/bin\nprintf '%s\\n' \"$#\" \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n";
        fs::permissions(viewer_, fs::perms::owner_all);
        helpFile_ = dir_ / "machine/c/Help Files/Velmo;Printer.chm";
        std::ofstream(helpFile_) << "help";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string ViewerOutput() {
        const auto out = viewer_.string() + ".out";
        for (int i = 0; i < 1000 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir_, viewer_, helpFile_;
};

TEST_F(DesktopViewer, OpensAnExistingFileWithTheViewerWithoutAShell) {
    EnvOverride root("VELMO_MACHINE_ROOT", (dir_ / "machine").c_str());
    EnvOverride path("PATH", (dir_ / "bin").c_str());
    EnvOverride display("DISPLAY", ":0");
    EnvOverride wayland("WAYLAND_DISPLAY", nullptr);

    EXPECT_NE(HtmlHelpW(nullptr, u"C:\\Help Files\\Velmo;Printer.chm", HH_DISPLAY_TOC, 0), nullptr);
    EXPECT_EQ(ViewerOutput(), "1\n" + helpFile_.string() + "\n");
}

TEST_F(DesktopViewer, ReportsFailureWhenHelpCannotBeShown) {
    EnvOverride root("VELMO_MACHINE_ROOT", (dir_ / "machine").c_str());
    EnvOverride path("PATH", (dir_ / "bin").c_str());
    EnvOverride wayland("WAYLAND_DISPLAY", nullptr);
    LPCWSTR file = u"C:\\Help Files\\Velmo;Printer.chm";
    {
        EnvOverride display("DISPLAY", nullptr);
        EXPECT_EQ(HtmlHelpW(nullptr, file, HH_DISPLAY_TOC, 0), nullptr);
    }
    EnvOverride display("DISPLAY", ":0");
    EXPECT_EQ(HtmlHelpW(nullptr, u"C:\\Help Files\\Missing.chm", HH_DISPLAY_TOC, 0), nullptr);
    EXPECT_EQ(HtmlHelpW(nullptr, u"C:\\Help Files", HH_DISPLAY_TOC, 0), nullptr);
    EXPECT_EQ(HtmlHelpW(nullptr, file, 0 /* a topic */, 0), nullptr);
    {
        EnvOverride emptyPath("PATH", "/nonexistent");
        EXPECT_EQ(HtmlHelpW(nullptr, file, HH_DISPLAY_TOC, 0), nullptr);
    }
    EXPECT_FALSE(fs::exists(viewer_.string() + ".out"));
}

}  // namespace
