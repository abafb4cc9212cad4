#include "Platform/Kernel.h"
#include "Platform/Paths.h"
#include "Platform/Resource.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::u16string LoadText(HMODULE module, UINT id, int size = 256) {
    std::u16string buffer(static_cast<std::size_t>(size), u'?');
    const int n = LoadStringW(module, id, buffer.data(), size);
    if (n == 0) return u"<none>";
    EXPECT_EQ(buffer[static_cast<std::size_t>(n)], 0) << "missing terminator";
    return buffer.substr(0, static_cast<std::size_t>(n));
}

bool TestModuleIsMapped() {
    const auto path = Platform::ProgramDirectory() + "/libVelmoTestModule.so";
    void* probe = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (probe != nullptr) ::dlclose(probe);
    return probe != nullptr;
}

// A file beside the test program for the length of one test.
class FileBesideProgram {
public:
    FileBesideProgram(const std::string& name, const std::string& content)
        : path_(Platform::ProgramDirectory() + "/" + name) {
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~FileBesideProgram() { std::remove(path_.c_str()); }

private:
    std::string path_;
};

using IntOp = int (*)(int, int);

TEST(Module, SharedLibraryBesideProgramIsLoadedCountedAndUnloaded) {
    HMODULE module = LoadLibraryW(u"VelmoTestModule.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto add = reinterpret_cast<IntOp>(GetProcAddress(module, "VelmoTestModuleAdd"));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 3), 5);

    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(std::uintptr_t{3})), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    // The library's own resources, registered while it loaded.
    EXPECT_EQ(LoadText(module, 7), u"from the test module");

    WCHAR name[512];
    const DWORD length = GetModuleFileNameW(module, name, 512);
    ASSERT_GT(length, 0u);
    const std::u16string expectedEnd = u"/libVelmoTestModule.so";
    const std::u16string actual(name, length);
    EXPECT_EQ(actual.substr(actual.size() - expectedEnd.size()), expectedEnd);

    // Another spelling, and the path, name the same module.
    HMODULE again = LoadLibraryA("velmotestmodule");
    EXPECT_EQ(again, module);
    const auto native = Platform::ProgramDirectory() + "/VelmoTestModule.dll";
    HMODULE byPath = LoadLibraryA(native.c_str());
    EXPECT_EQ(byPath, module);

    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_TRUE(TestModuleIsMapped());
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(TestModuleIsMapped());

    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetProcAddress(module, "VelmoTestModuleAdd"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(LoadStringW(module, 7, name, 512), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Module, MissingLibraryFailsWithModNotFound) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"NoSuchVelmoLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u"C:\\Nowhere\\NoSuchVelmoLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u""), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(LoadLibraryA("\xC0\x80.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Module, RegisteredModuleComesFirstAndOutlivesItsRegistration) {
    Platform::ResourceTable table;
    table.strings[1] = u"one";
    auto registration = Platform::RegisterResourceModule(u"PLATTESTREG.DLL", table);

    HMODULE module = LoadLibraryW(u"PlatTestReg");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(LoadText(module, 1), u"one");
    EXPECT_EQ(LoadText(module, 2), u"<none>");
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module, "Anything"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    {
        // A later registration hides the first only for modules loaded then.
        Platform::ResourceTable other;
        other.strings[1] = u"hidden";
        auto inner = Platform::RegisterResourceModule(u"plattestreg.dll", other);
        EXPECT_EQ(LoadText(module, 1), u"one");
    }

    registration.Reset();
    EXPECT_EQ(LoadText(module, 1), u"one");
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LoadLibraryW(u"PlatTestReg.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Module, HandleByNameTakesNoReferenceAndTemplatesAreFound) {
    EXPECT_EQ(GetModuleHandleW(nullptr), Platform::MainModuleHandle());
    EXPECT_EQ(GetModuleHandleW(u"PLATTESTDLG.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    auto registration = Platform::RegisterResourceModule(
        u"PlatTestDlg",
        Platform::ParseResourceText("DIALOG 5 10 20 \"Five\"\n  PUSHBUTTON 1 \"OK\" 0 0 5 5\nEND", "test"));
    HMODULE module = LoadLibraryW(u"PlatTestDlg.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"plattestdlg"), module);
    EXPECT_EQ(GetModuleHandleW(u"C:\\Somewhere\\PlatTestDlg.dll"), module);
    auto dialog = Platform::FindDialogTemplate(module, 5);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->caption, u"Five");
    EXPECT_EQ(Platform::FindDialogTemplate(module, 6), nullptr);
    EXPECT_EQ(Platform::FindDialogTemplate(reinterpret_cast<HMODULE>(std::uintptr_t{0x12345}), 5), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    // GetModuleHandleW took no reference: the one FreeLibrary unloaded it.
    EXPECT_EQ(GetModuleHandleW(u"PlatTestDlg.dll"), nullptr);
    EXPECT_EQ(dialog->items.size(), 1u) << "a template found stays valid after its module is freed";
}

TEST(Module, LoadStringCutsToTheBufferWithoutSplittingAPair) {
    Platform::ResourceTable table;
    table.strings[1] = u"abcdef";
    table.strings[2] = u"ab\U0001F600z";
    table.strings[3] = u"";
    auto registration = Platform::RegisterResourceModule(u"PlatTestCut.dll", table);
    HMODULE module = LoadLibraryW(u"PlatTestCut.dll");
    ASSERT_NE(module, nullptr);

    EXPECT_EQ(LoadText(module, 1, 4), u"abc");
    EXPECT_EQ(LoadText(module, 1, 7), u"abcdef");
    EXPECT_EQ(LoadText(module, 1, 1), u"<none>");
    EXPECT_EQ(LoadText(module, 2, 4), u"ab");
    EXPECT_EQ(LoadText(module, 2, 5), u"ab\U0001F600");
    EXPECT_EQ(LoadText(module, 3), u"<none>");

    WCHAR buffer[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(LoadStringW(module, 99, buffer, 4), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(LoadStringW(module, 1, nullptr, 4), 0);
    EXPECT_EQ(LoadStringW(module, 1, buffer, 0), 0);
    FreeLibrary(module);
}

TEST(Module, NullHandleReadsTheProgramsOwnResources) {
    EXPECT_EQ(LoadText(nullptr, 5), u"<none>");
    Platform::ResourceTable table;
    table.strings[5] = u"main";
    auto registration = Platform::RegisterMainResources(table);
    EXPECT_EQ(LoadText(nullptr, 5), u"main");
    EXPECT_EQ(LoadText(Platform::MainModuleHandle(), 5), u"main");
    EXPECT_TRUE(FreeLibrary(Platform::MainModuleHandle()));
    EXPECT_EQ(LoadText(nullptr, 5), u"main");
    registration.Reset();
    EXPECT_EQ(LoadText(nullptr, 5), u"<none>");
}

TEST(Module, ResourceTextFileBesideProgramIsAModule) {
    FileBesideProgram file("PlatTestText.rc.txt", "# test\nSTRING 10 \"caf\xC3\xA9 \\\"ten\\\"\"\n");
    HMODULE module = LoadLibraryW(u"PlatTestText.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(LoadText(module, 10), u"caf\u00e9 \"ten\"");
    EXPECT_EQ(GetProcAddress(module, "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u"PlatTestText.DLL"), module);
    FreeLibrary(module);
    FreeLibrary(module);

    FileBesideProgram bad("PlatTestBad.rc.txt", "STRING 1 \"ok\"\nSTRING two \"no\"\n");
    EXPECT_EQ(LoadLibraryW(u"PlatTestBad.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_FORMAT);
}

TEST(Module, WindowsPathLoadsFromTheMachineRoot) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("velmo-module-" + std::to_string(::getpid()));
    fs::create_directories(root / "c/Velmo Res");
    std::ofstream(root / "c/Velmo Res/PathRes.rc.txt") << "STRING 3 \"by path\"\n";
    const char* old = std::getenv("VELMO_MACHINE_ROOT");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("VELMO_MACHINE_ROOT", root.c_str(), 1);

    HMODULE module = LoadLibraryW(u"C:\\Velmo Res\\PathRes.dll");
    EXPECT_NE(module, nullptr);
    EXPECT_EQ(LoadText(module, 3), u"by path");
    EXPECT_EQ(LoadLibraryW(u"c:/Velmo Res/PathRes.dll"), module);
    WCHAR name[512];
    ASSERT_GT(GetModuleFileNameW(module, name, 512), 0u);
    EXPECT_EQ(std::u16string(name), root.u16string() + u"/c/Velmo Res/PathRes.rc.txt");
    FreeLibrary(module);
    FreeLibrary(module);
    EXPECT_EQ(LoadLibraryW(u"C:\\Velmo Res\\Other.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    if (old != nullptr) {
        ::setenv("VELMO_MACHINE_ROOT", saved.c_str(), 1);
    } else {
        ::unsetenv("VELMO_MACHINE_ROOT");
    }
    fs::remove_all(root);
}

TEST(Module, ModuleFileNameIsCutToTheBuffer) {
    WCHAR full[1024];
    const DWORD length = GetModuleFileNameW(nullptr, full, 1024);
    ASSERT_GT(length, 5u);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    WCHAR small[5];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(small), std::u16string(full, 4));
    EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(std::uintptr_t{0x1234}), full, 1024), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace

TEST(Module, BinaryResourcesAreFoundByNumberOrNumberTextAndTypeInAnyCase) {
    Platform::ResourceTable table;
    table.binaries[{u"GIF", 110}] = {'G', 'I', 'F', '8', '9', 'a'};
    table.binaries[{u"GIF", 111}] = {1, 2, 3};
    auto registration = Platform::RegisterResourceModule(u"PlatTestBin.dll", table);
    HMODULE module = LoadLibraryW(u"PlatTestBin.dll");
    ASSERT_NE(module, nullptr);

    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(110), u"gif");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(FindResourceW(module, u"#110", u"GIF"), found) << "the same resource, the same handle";
    EXPECT_EQ(SizeofResource(module, found), 6u);
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes, 6), "GIF89a");
    EXPECT_EQ(SizeofResource(module, FindResourceW(module, MAKEINTRESOURCEW(111), u"GIF")), 3u);

    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(112), u"GIF"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(module, u"Scanning", u"GIF"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(110), u"PNG"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(LockResource(reinterpret_cast<HGLOBAL>(&table)), nullptr) << "not a resource handle";

    registration.Reset();
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LockResource(LoadResource(nullptr, found)), nullptr) << "gone with its module";
}

TEST(GlobalMemory, BlocksAreZeroedCountedAndFreedOnce) {
    const std::size_t before = Platform::OpenHandleCount();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, 5);
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(GlobalSize(memory), 5u);
    auto* bytes = static_cast<unsigned char*>(GlobalLock(memory));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes, bytes + 5), std::string(5, '\0'));
    EXPECT_EQ(GlobalLock(memory), bytes) << "nothing moves";
    EXPECT_TRUE(GlobalUnlock(memory)) << "still locked once";
    EXPECT_FALSE(GlobalUnlock(memory));
    EXPECT_EQ(Platform::OpenHandleCount(), before + 1);
    EXPECT_EQ(GlobalFree(memory), nullptr);
    EXPECT_EQ(GlobalFree(memory), memory) << "a freed block cannot be freed again";
    EXPECT_EQ(GlobalLock(memory), nullptr);
    EXPECT_EQ(Platform::OpenHandleCount(), before);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, std::size_t{1} << 40), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
}

TEST(MulDiv, RoundsHalfAwayFromZeroAndReportsOverflow) {
    EXPECT_EQ(MulDiv(1058, 96, 2540), 40);  // 39.99
    EXPECT_EQ(MulDiv(5, 1, 2), 3);
    EXPECT_EQ(MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(MulDiv(5, -1, 2), -3);
    EXPECT_EQ(MulDiv(7, 1, 0), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 4, 2), -1);
    EXPECT_EQ(MulDiv(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF), 0x7FFFFFFF) << "the product may exceed 32 bits";
}
