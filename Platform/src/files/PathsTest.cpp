#include "Platform/Paths.h"

#include "Platform/ScopedEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

using Platform::Testing::EnvOverride;

TEST(Paths, MachineRootComesFromEnvironmentWithFallbacks) {
    {
        EnvOverride root("VELMO_MACHINE_ROOT", "/srv/machine/");
        EXPECT_EQ(Platform::MachineRoot(), "/srv/machine");
    }
    EnvOverride root("VELMO_MACHINE_ROOT", nullptr);
    {
        EnvOverride home("HOME", "/home/tester");
        EXPECT_EQ(Platform::MachineRoot(), "/home/tester/.velmo-machine");
    }
    EnvOverride home("HOME", nullptr);
    EXPECT_EQ(Platform::MachineRoot(), "/tmp/velmo-machine");
}

TEST(Paths, WindowsPathsLandUnderTheMachineRoot) {
    EnvOverride root("VELMO_MACHINE_ROOT", "/m");
    const struct {
        const char16_t* in;
        const char* out;
    } cases[] = {
        {u"C:\\dir\\file.txt", "/m/c/dir/file.txt"},
        {u"c:/Dir/File.TXT", "/m/c/Dir/File.TXT"},
        {u"D:\\", "/m/d"},
        {u"C:\\a\\\\b\\.\\c\\", "/m/c/a/b/c"},
        {u"C:\\a\\..\\..\\..\\etc\\passwd", "/m/c/etc/passwd"},
        {u"\\ORV.xml", "/m/c/ORV.xml"},
        {u"\\\\server\\share\\x\\y", "/m/unc/server/share/x/y"},
        {u"\\\\server\\share\\..\\..\\x", "/m/unc/server/share/x"},
        {u"\\\\?\\C:\\long\\path", "/m/c/long/path"},
        {u"\\\\?\\UNC\\srv\\s\\f", "/m/unc/srv/s/f"},
        {u"/usr/share/doc", "/usr/share/doc"},
        {u"help\\Velmo.chm", "help/Velmo.chm"},
        {u"C:\\Caf\u00e9\\\U0001F600.txt", "/m/c/Caf\xC3\xA9/\xF0\x9F\x98\x80.txt"},
        {u"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Platform::MapPath(c.in), c.out);
    }
    EXPECT_EQ(Platform::MapPath(nullptr), "");
}

TEST(Paths, ProgramDirectoryHoldsTheRunningProgram) {
    const auto file = Platform::ProgramFile();
    const auto directory = Platform::ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(file.substr(0, directory.size() + 1), directory + "/");
    EXPECT_EQ(file.find('/', directory.size() + 1), std::string::npos);
}

}  // namespace
