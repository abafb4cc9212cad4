#include "Platform/Files.h"
#include "Platform/Paths.h"
#include "Platform/Version.h"

#include "Platform/ScopedEnv.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class FileSearch : public ::testing::Test {
protected:
    FileSearch()
        : root_(std::filesystem::path(::testing::TempDir()) /
                ("velmo-find-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          env_("VELMO_MACHINE_ROOT", root_.c_str()) {
        std::filesystem::remove_all(root_);
        system_ = root_ / "c" / "Windows" / "system32";
        std::filesystem::create_directories(system_ / "Sub.tli");
        for (const char* name : {"natural.tli", "Vivid.TLI", "a.tli.bak", "x.tl", ".tli", "readme"})
            std::ofstream(system_ / name) << name;
    }
    ~FileSearch() override { std::filesystem::remove_all(root_); }

    // Every name the search gives, in its order; the last error after it.
    std::vector<std::u16string> Find(const char16_t* pattern, DWORD* error = nullptr) {
        std::vector<std::u16string> names;
        WIN32_FIND_DATAW data{};
        HANDLE search = FindFirstFileW(pattern, &data);
        if (search == INVALID_HANDLE_VALUE) {
            if (error) *error = GetLastError();
            return names;
        }
        do names.emplace_back(data.cFileName);
        while (FindNextFileW(search, &data));
        if (error) *error = GetLastError();
        EXPECT_TRUE(FindClose(search));
        return names;
    }

    std::filesystem::path root_;
    Platform::Testing::EnvOverride env_;
    std::filesystem::path system_;
};

TEST_F(FileSearch, WildcardsMatchWholeNamesWithoutRegardToCase) {
    WCHAR folder[MAX_PATH];
    ASSERT_EQ(GetSystemDirectoryW(folder, MAX_PATH), 19u);
    const std::u16string pattern = std::u16string(folder) + u"\\*.tli";
    DWORD error = 0;
    EXPECT_EQ(Find(pattern.c_str(), &error),
              (std::vector<std::u16string>{u".tli", u"Sub.tli", u"Vivid.TLI", u"natural.tli"}));
    EXPECT_EQ(error, ERROR_NO_MORE_FILES);

    EXPECT_EQ(Find(u"C:\\Windows\\system32\\?.tl"), (std::vector<std::u16string>{u"x.tl"}));
    EXPECT_EQ(Find(u"C:\\Windows\\system32\\*a*.t*i*").size(), 2u) << "natural.tli and a.tli.bak";
    EXPECT_EQ(Find(u"C:\\Windows\\system32\\*.*").size(), 7u) << "every entry, \".\" and \"..\" not among them";

    WIN32_FIND_DATAW data{};
    HANDLE search = FindFirstFileW(u"C:\\Windows\\system32\\Sub.tli", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    FindClose(search);
    search = FindFirstFileW(u"C:\\Windows\\system32\\readme", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeLow, 6u);
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search)) << "closed";
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileSearch, MissingMatchesAndFoldersAreTold) {
    DWORD error = 0;
    EXPECT_TRUE(Find(u"C:\\Windows\\system32\\*.icm", &error).empty());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(Find(u"C:\\Windows\\nowhere\\*.tli", &error).empty());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(Find(u"C:\\Windows\\system32\\", &error).empty());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(Find(u"C:\\..\\..\\*", &error).size() == 1u) << "\"..\" stays inside the machine: only c/Windows";

    WCHAR small[5];
    EXPECT_EQ(GetSystemDirectoryW(small, 5), 20u) << "units needed, with the zero";
    EXPECT_EQ(GetSystemDirectoryW(nullptr, 0), 20u);
}

TEST(Version, CompiledInTextAnswersStringQueries) {
    Platform::ResourceTable table;
    Platform::AddVersionText(table, "FileVersion=2.1.0.7\r\nProductName=Velmo Dock\n");
    auto registration = Platform::RegisterResourceModule(u"PlatTestVer.dll", table);
    HMODULE module = LoadLibraryW(u"PlatTestVer.dll");
    ASSERT_NE(module, nullptr);

    DWORD handle = 7;
    const DWORD size = GetFileVersionInfoSizeW(u"C:\\Drivers\\libPlatTestVer.so", &handle);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(handle, 0u);
    std::vector<BYTE> block(size);
    EXPECT_FALSE(GetFileVersionInfoW(u"PlatTestVer.dll", 0, size - 1, block.data()));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(GetFileVersionInfoW(u"PlatTestVer.dll", 0, size, block.data()));

    LPVOID value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
    EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"2.1.0.7");
    EXPECT_EQ(length, 8u);
    EXPECT_GE(static_cast<BYTE*>(value), block.data());
    EXPECT_LT(static_cast<BYTE*>(value), block.data() + size) << "the value lies in the caller's block";
    EXPECT_TRUE(VerQueryValueW(block.data(), u"\\stringfileinfo\\040704e4\\productname", &value, &length));
    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\Comments", &value, &length));
    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\StringFileInfo\\0409\\FileVersion", &value, &length));
    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\", &value, &length));

    FreeLibrary(module);
    EXPECT_EQ(GetFileVersionInfoSizeW(u"PlatTestVer.dll", &handle), 0u) << "not loaded";
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_DATA_NOT_FOUND);
}

TEST(Version, BrokenTextIsRefused) {
    Platform::ResourceTable table;
    Platform::AddVersionText(table, "FileVersion=1\nno equals sign\n");
    auto registration = Platform::RegisterResourceModule(u"PlatTestBadVer.dll", table);
    HMODULE module = LoadLibraryW(u"PlatTestBadVer.dll");
    ASSERT_NE(module, nullptr);
    DWORD handle = 0;
    EXPECT_EQ(GetFileVersionInfoSizeW(u"PlatTestBadVer.dll", &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    FreeLibrary(module);
}

}  // namespace
