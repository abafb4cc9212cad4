#include <gtest/gtest.h>

#include <stdlib.h>

#include <optional>
#include <string>

#include "Common/Source/PrinterTestSupport.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Registry.h"
#include "PrinterDescription.h"

namespace {

constexpr const char16_t* kKey = u"SOFTWARE\\Velmo\\HV7300";

std::u16string Units(const Tessary::I8NString& text) {
    return std::u16string(text.c_str(), text.length());
}

// A fresh machine whose drives lie in a scratch folder.
class InstallPath : public ::testing::Test {
protected:
    InstallPath() {
        if (const char* root = ::getenv("VELMO_MACHINE_ROOT")) previousRoot_ = root;
        ::setenv("VELMO_MACHINE_ROOT", root_.Path().c_str(), 1);
    }
    ~InstallPath() override {
        if (previousRoot_) {
            ::setenv("VELMO_MACHINE_ROOT", previousRoot_->c_str(), 1);
        } else {
            ::unsetenv("VELMO_MACHINE_ROOT");
        }
    }

    Platform::SystemRegistry& Registry() { return Platform::GetMachine().Registry(); }
    void SetInstallPath(std::u16string_view path) {
        Registry().SetString(HKEY_LOCAL_MACHINE, kKey, u"InstallPath", path);
    }

    // Puts a one-printer description where the system looks for it.
    void InstallDescription(const Tessary::I8NString& path) {
        const std::string disk = Platform::MapPath(path.c_str());
        ASSERT_EQ(disk.rfind(root_.Path().string(), 0), 0u) << disk;
        root_.Write(disk.substr(root_.Path().string().size() + 1),
                    R"(<velmo_printing><printers><printer vid="0x3B7D" pid="0x0001"/></printers></velmo_printing>)");
    }

    Platform::ScopedFreshMachine machine_;
    PrinterTest::ScratchFolder root_;
    std::optional<std::string> previousRoot_;
};

}  // namespace

TEST_F(InstallPath, DocumentLiesInTheInstallFolder) {
    SetInstallPath(u"C:\\Program Files\\Velmo");
    EXPECT_EQ(GetInstallPath(), u"C:\\Program Files\\Velmo");
    EXPECT_EQ(Units(GetPrinterConfigPath()), u"C:\\Program Files\\Velmo\\ORV.xml");
    // Joined as they are: a trailing separator is kept.
    SetInstallPath(u"C:\\Velmo\\");
    EXPECT_EQ(Units(GetPrinterConfigPath()), u"C:\\Velmo\\\\ORV.xml");
    EXPECT_EQ(Registry().OpenKeyCount(), 0u);

    SetInstallPath(u"C:\\Program Files\\Velmo");
    InstallDescription(GetPrinterConfigPath());
    PrinterConfig printer;
    EXPECT_TRUE(LoadPrinterConfigByVidPid(GetPrinterConfigPath(), 0x3B7D, 1, printer));
}

TEST_F(InstallPath, NonAsciiPathsSurviveWhole) {
    const std::u16string path = u"C:\\Programme\\J\u00FCrgen \u00C5ngstr\u00F6m\\\u65E5\u672C\u8A9E\\\xD83D\xDCF7";
    SetInstallPath(path);
    EXPECT_EQ(GetInstallPath(), path);
    EXPECT_EQ(Units(GetPrinterConfigPath()), path + u"\\ORV.xml");

    InstallDescription(GetPrinterConfigPath());
    std::vector<PrinterConfig> printers;
    EXPECT_TRUE(LoadPrinterConfig(GetPrinterConfigPath(), printers));
    EXPECT_EQ(printers.size(), 1u);
}

TEST_F(InstallPath, PathsOfAnyLengthSurviveWhole) {
    // Far beyond the 255 bytes a fixed buffer would hold.
    std::u16string path = u"C:\\Velmo";
    while (path.size() < 300) path += u"\\folder";
    SetInstallPath(path);
    EXPECT_EQ(GetInstallPath(), path);
    InstallDescription(GetPrinterConfigPath());
    std::vector<PrinterConfig> printers;
    EXPECT_TRUE(LoadPrinterConfig(GetPrinterConfigPath(), printers));

    const std::u16string huge = u"C:\\" + std::u16string(40000, u'\u00E9');
    SetInstallPath(huge);
    EXPECT_EQ(GetInstallPath(), huge);
    EXPECT_EQ(Registry().OpenKeyCount(), 0u);
}

TEST_F(InstallPath, TextEndsAtItsFirstZeroOrAtTheEndOfTheData) {
    using Platform::RegValue;
    const auto set = [&](std::vector<BYTE> bytes) {
        Registry().SetValue(HKEY_LOCAL_MACHINE, kKey, u"InstallPath", RegValue{REG_SZ, std::move(bytes)});
    };
    set({'C', 0, ':', 0, '\\', 0, 'A', 0});  // stored without a zero
    EXPECT_EQ(GetInstallPath(), u"C:\\A");
    set({'C', 0, ':', 0, 0, 0, 'X', 0, 0, 0});
    EXPECT_EQ(GetInstallPath(), u"C:");
    set({'C', 0, ':', 0, 'B'});  // an odd last byte
    EXPECT_EQ(GetInstallPath(), u"C:");
    set({});
    EXPECT_EQ(GetInstallPath(), u"");
}

TEST_F(InstallPath, MissingOrMistypedValuesGiveNoFolderAndTheLoadFails) {
    EXPECT_EQ(GetInstallPath(), u"");  // no key
    EXPECT_EQ(Units(GetPrinterConfigPath()), u"\\ORV.xml");
    std::vector<PrinterConfig> printers;
    EXPECT_FALSE(LoadPrinterConfig(GetPrinterConfigPath(), printers));

    Registry().CreateKey(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(GetInstallPath(), u"");  // no value
    Registry().SetString(HKEY_LOCAL_MACHINE, kKey, u"InstallPathX", u"C:\\Velmo");
    EXPECT_EQ(GetInstallPath(), u"");

    Registry().SetValue(HKEY_LOCAL_MACHINE, kKey, u"InstallPath",
                        Platform::RegValue::String(u"C:\\Velmo", REG_EXPAND_SZ));
    EXPECT_EQ(GetInstallPath(), u"");
    Registry().SetDword(HKEY_LOCAL_MACHINE, kKey, u"InstallPath", 7);
    EXPECT_EQ(GetInstallPath(), u"");
    // The same value under the current user is not the machine's.
    Registry().SetString(HKEY_CURRENT_USER, kKey, u"InstallPath", u"C:\\Velmo");
    EXPECT_EQ(GetInstallPath(), u"");
    EXPECT_EQ(Registry().OpenKeyCount(), 0u);
}

TEST_F(InstallPath, AnOrdinaryUserReadsIt) {
    SetInstallPath(u"C:\\Velmo");
    Platform::GetMachine().SetUserIsAdministrator(false);
    EXPECT_EQ(GetInstallPath(), u"C:\\Velmo");
}
