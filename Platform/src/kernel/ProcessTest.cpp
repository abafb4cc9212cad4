#include "Platform/Machine.h"
#include "Platform/Process.h"
#include "Platform/ScopedEnv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "velmo-process-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        env.emplace("VELMO_MACHINE_ROOT", root.c_str());
        Platform::ClearProcessLaunches();
    }
    void TearDown() override {
        env.reset();
        fs::remove_all(root);
        Platform::ClearProcessLaunches();
    }

    // A program under C:\Program Files\Velmo that writes its arguments
    // beside itself.
    std::string InstallProgram() {
        const auto folder = fs::path(root) / "c" / "Program Files" / "Velmo";
        fs::create_directories(folder);
        const auto program = folder / "Amberlo";
        std::ofstream(program)
            << "#!/bin/sh\n{ printf '%s' \"$#\"; for a in \"$@\"; do printf '|%s' \"$a\"; done; } > \"$0.args.new\"\n"
               "mv \"$0.args.new\" \"$0.args\"\n";
        ::chmod(program.c_str(), 0755);
        return program.string() + ".args";
    }

    static std::string WaitFor(const std::string& path) {
        for (int i = 0; i < 500 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string root;
    std::optional<Platform::Testing::EnvOverride> env;
};

}  // namespace

TEST_F(ProcessTest, StartsTheProgramWithItsCommandLineAsOneArgument) {
    const auto args = InstallProgram();
    std::u16string line = u"/install \"a b\" c";
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(u"C:\\Program Files\\Velmo\\Amberlo", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, nullptr, &info));
    EXPECT_NE(info.dwProcessId, 0u);
    EXPECT_EQ(WaitFor(args), "1|/install \"a b\" c");
    const auto launches = Platform::ProcessLaunches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0], (Platform::ProcessLaunch{u"C:\\Program Files\\Velmo\\Amberlo", line, true}));

    fs::remove(args);
    ASSERT_TRUE(CreateProcessW(u"C:\\Program Files\\Velmo\\Amberlo", nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, nullptr, &info));
    EXPECT_EQ(WaitFor(args), "0");
}

TEST_F(ProcessTest, MissingProgramFailsAndIsRecorded) {
    PROCESS_INFORMATION info{};
    std::u16string line = u"x";
    EXPECT_FALSE(CreateProcessW(u"C:\\Program Files\\Velmo\\Nothing", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, nullptr, &info));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    const auto launches = Platform::ProcessLaunches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_FALSE(launches[0].started);
}

TEST(Version, ReportsTheMachinesVersionInEitherStructure) {
    Platform::ScopedFreshMachine machine;
    Platform::GetMachine().SetVersion({5, 1, 2600, u"Service Pack 3"});
    OSVERSIONINFOEXW ex{};
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex)));
    EXPECT_EQ(ex.dwMajorVersion, 5u);
    EXPECT_EQ(ex.dwBuildNumber, 2600u);
    EXPECT_EQ(std::u16string(ex.szCSDVersion), u"Service Pack 3");
    EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
    OSVERSIONINFOW plain{};
    plain.dwOSVersionInfoSize = sizeof plain - 1;
    EXPECT_FALSE(GetVersionExW(&plain));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}
