#include "Common/ConfigSupport/PrinterIdentification.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <boost/lexical_cast.hpp>

#include "Common/ConfigSupport/PluginMapping.h"
#include "Common/ConfigSupport/PrinterIDs.h"
#include "Common/ConfigSupport/ReaderTestSupport.h"
#include "Common/NetConfig/API/PrinterDevice.h"
#include "Platform/Machine.h"
#include "Platform/Registry.h"

namespace {

using TestSupport::ScratchFolder;

const Tessary::I8NString kDescription(VELMO_SOURCE_DIR "/data/ORV.xml");
const Tessary::I8NString kIds(VELMO_SOURCE_DIR "/data/ORVIDs.xml");

// A printer on USB answering the device id as the printing class returns
// it, with the two-byte big-endian length first.
class IdentificationTest : public ::testing::Test {
protected:
    bool IdentifyAttached(WORD productId, const std::string& deviceId) {
        auto& devices = Platform::GetMachine().Devices();
        Platform::UsbPrinterIdentity identity;
        identity.vendorId = 0x3B7D;
        identity.productId = productId;
        identity.manufacturer = u"Velmo";
        identity.product = u"Printer";
        const std::string serial = "V" + std::to_string(port);
        identity.serialNumber = std::u16string(serial.begin(), serial.end());
        const auto printer = devices.AttachUsbPrinter(hub, port++, identity);
        const std::size_t length = deviceId.size() + 2;
        printer->SetDeviceId(std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + deviceId);

        PrinterDevice device(identity.vendorId, identity.productId, serial);
        std::string id;
        device.GetDeviceID(id);
        EXPECT_EQ(id, deviceId);
        return IdentifyPrinterFromDeviceID(id.c_str(), kDescription, kIds);
    }

    Platform::ScopedFreshMachine machine;
    DEVINST hub = Platform::GetMachine().Devices().AddHostController(8).rootHub;
    unsigned port = 1;
};

TEST_F(IdentificationTest, ModelsOfTheFamily) {
    // Network models are supported; the base dock from firmware 3.01 on.
    EXPECT_TRUE(IdentifyAttached(0x410F, "MFG:Velmo;MDL:Glimmer Dock;CMD:VELMO;CLS:PRINTER;VER:3.01;"));
    EXPECT_TRUE(IdentifyAttached(0x4104, "MFG:Velmo;MDL:Glimmer Dock Wireless;VER:1.0;"));
    EXPECT_TRUE(IdentifyAttached(0x410B, "MFG:VELMO;MDL:  Glimmer Photo 6  Studio ;VER:2;"));
    // Described, but reachable on USB only.
    EXPECT_FALSE(IdentifyAttached(0x410A, "MFG:Velmo;MDL:Glimmer Photo 4;VER:5.0;"));
    // Not in the printer-id document.
    EXPECT_FALSE(IdentifyAttached(0x4110, "MFG:Velmo;MDL:Glimmer Photo 8;VER:5.0;"));
    EXPECT_FALSE(IdentifyAttached(0x410F, "MFG:Velmox;MDL:Glimmer Dock;VER:5.0;"));
}

TEST(Identification, BaseDockFirmware) {
    const auto identify = [](const std::string& version) {
        const std::string id = "MFG:Velmo;MDL:Glimmer Dock;VER:" + version + ";";
        return IdentifyPrinterFromDeviceID(id.c_str(), kDescription, kIds);
    };
    EXPECT_TRUE(identify("3.01"));
    EXPECT_TRUE(identify("3.1"));
    EXPECT_TRUE(identify("10"));
    EXPECT_FALSE(identify("3.0"));
    EXPECT_FALSE(identify("3.009"));
    try {
        identify("3.0a");
        ADD_FAILURE() << "nothing thrown";
    } catch (const boost::bad_lexical_cast& e) {
        EXPECT_STREQ(e.what(), "bad lexical cast: source type value could not be interpreted as target");
    }
    EXPECT_THROW(identify(""), boost::bad_lexical_cast);
    // Other models are not checked.
    EXPECT_TRUE(IdentifyPrinterFromDeviceID("MFG:Velmo;MDL:Glimmer Dock Wireless;VER:beta;", kDescription, kIds));
}

TEST(Identification, DeviceIdsThatIdentifyNothing) {
    for (const char* id : {"MFG:Velmo;VER:3.01;",               // no model
                           "MFG:Velmo;MDL:Glimmer Dock;",       // no version
                           "MFG:;MDL:Glimmer Dock;VER:3.01;"})  // empty manufacturer
        EXPECT_FALSE(IdentifyPrinterFromDeviceID(id, kDescription, kIds)) << id;
    EXPECT_FALSE(IdentifyPrinterFromDeviceID(nullptr, kDescription, kIds));
    // The version must fit 63 characters.
    const std::string longVersion = "MFG:Velmo;MDL:Glimmer Dock Wireless;VER:" + std::string(64, '9') + ";";
    EXPECT_FALSE(IdentifyPrinterFromDeviceID(longVersion.c_str(), kDescription, kIds));
}

TEST(Identification, LookupByDeviceNames) {
    PrinterConfig printer;
    ASSERT_TRUE(LookupPrinterByDeviceNames(kDescription, kIds, "Velmo", "Glimmer Photo 6 Studio", printer));
    EXPECT_EQ(printer.vendorId, 0x3B7D);
    EXPECT_EQ(printer.productId, 0x410B);
    EXPECT_EQ(printer.productName, "Glimmer Photo 6 Studio");

    PrinterConfig untouched;
    EXPECT_FALSE(LookupPrinterByDeviceNames(kDescription, kIds, "velmo", "Glimmer Dock", untouched));
    EXPECT_FALSE(LookupPrinterByDeviceNames(kDescription, kIds, "Velmo", "Glimmer dock", untouched));
    EXPECT_EQ(untouched.productId, -1);

    // Names whose ids no description has, and documents that do not load.
    ScratchFolder folder("identification");
    const Tessary::I8NString ids(folder.Write(
        "ORVIDs.xml",
        R"(<ids><vendor-ids><vendor id="0x3B7D"><name>Velmo</name></vendor></vendor-ids>)"
        R"(<product-ids><product id="0x0099"><name>Glimmer Prototype</name></product></product-ids></ids>)"));
    EXPECT_FALSE(LookupPrinterByDeviceNames(kDescription, ids, "Velmo", "Glimmer Prototype", untouched));
    const Tessary::I8NString broken(folder.Write("broken.xml", "<ids><vendor-ids>"));
    EXPECT_FALSE(LookupPrinterByDeviceNames(kDescription, broken, "Velmo", "Glimmer Dock", untouched));
    const Tessary::I8NString missing(folder.Path() + "/ORV.xml");
    EXPECT_FALSE(LookupPrinterByDeviceNames(missing, kIds, "Velmo", "Glimmer Dock", untouched));
    EXPECT_EQ(untouched.productId, -1);
}

// ---- The installed documents ----

std::u16string Units(const Tessary::I8NString& text) {
    return std::u16string(text.c_str(), text.length());
}

// A machine whose drives lie in a scratch folder, with our documents in the
// folder the registry names.
class InstalledDocuments : public ::testing::Test {
protected:
    InstalledDocuments() : root_("identification-machine") {
        if (const char* root = ::getenv("VELMO_MACHINE_ROOT")) previousRoot_ = root;
        ::setenv("VELMO_MACHINE_ROOT", root_.Path().c_str(), 1);
        const auto folder = std::filesystem::path(root_.Path()) / "c" / "Program Files" / "Velmo";
        std::filesystem::create_directories(folder);
        for (const char* file : {"ORV.xml", "ORVIDs.xml", "WinPluginMapping.xml"})
            std::filesystem::copy_file(std::filesystem::path(VELMO_SOURCE_DIR) / "data" / file, folder / file);
    }
    ~InstalledDocuments() override {
        if (previousRoot_) {
            ::setenv("VELMO_MACHINE_ROOT", previousRoot_->c_str(), 1);
        } else {
            ::unsetenv("VELMO_MACHINE_ROOT");
        }
    }
    void SetInstallPath(std::u16string_view path) {
        Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                                                    path);
    }

    Platform::ScopedFreshMachine machine_;
    ScratchFolder root_;
    std::optional<std::string> previousRoot_;
};

TEST_F(InstalledDocuments, FoundThroughTheInstallPath) {
    SetInstallPath(u"C:\\Program Files\\Velmo");
    EXPECT_EQ(Units(GetPrinterIDsPath()), u"C:\\Program Files\\Velmo\\ORVIDs.xml");
    EXPECT_EQ(Units(GetPluginMappingPath()), u"C:\\Program Files\\Velmo\\WinPluginMapping.xml");

    EXPECT_TRUE(IdentifyPrinterFromDeviceID("MFG:Velmo;MDL:Glimmer Dock;VER:3.01;"));
    EXPECT_FALSE(IdentifyPrinterFromDeviceID("MFG:Velmo;MDL:Glimmer Photo 4;VER:3.01;"));

    PluginMap plugins;
    ASSERT_TRUE(LoadPluginMapping(GetPluginMappingPath(), plugins));
    ASSERT_EQ(plugins.size(), 3u);
    EXPECT_EQ(plugins[PluginKey(0x3B7D, 0x410F)].name, "Corrani");
    EXPECT_EQ(plugins[PluginKey(0x3B7D, 0x410B)].name, "Dessmar");
}

TEST_F(InstalledDocuments, NoInstallPath) {
    EXPECT_EQ(Units(GetPrinterIDsPath()), u"\\ORVIDs.xml");
    EXPECT_FALSE(IdentifyPrinterFromDeviceID("MFG:Velmo;MDL:Glimmer Dock;VER:3.01;"));
    PluginMap plugins;
    EXPECT_FALSE(LoadPluginMapping(GetPluginMappingPath(), plugins));
}

}  // namespace
