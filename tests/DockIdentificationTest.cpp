// The configuration utility's first look at a printer: the hub walk finds
// the simulated dock, its device id is read over the printing interface and
// identified with the documents we ship.
#include "Common/ConfigSupport/PluginMapping.h"
#include "Common/ConfigSupport/PrinterIdentification.h"
#include "Common/NetConfig/API/PrinterDevice.h"
#include "Platform/Machine.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using Simulators::DockPrinter;

namespace {

const Tessary::I8NString kDescription(VELMO_SOURCE_DIR "/data/ORV.xml");
const Tessary::I8NString kIds(VELMO_SOURCE_DIR "/data/ORVIDs.xml");
const Tessary::I8NString kMapping(VELMO_SOURCE_DIR "/data/WinPluginMapping.xml");

class DockIdentification : public ::testing::Test {
protected:
    DockIdentification() {
        auto& devices = Platform::GetMachine().Devices();
        dock_->Attach(devices.AddHostController(2).rootHub, 1);
    }

    // Found by the hub walk as the utility finds it, then asked for its id.
    std::string ReadDeviceId() {
        const auto identity = DockPrinter::DefaultIdentity();
        DeviceOnHubMatchedVidPidSerialNum predicate(identity.vendorId, identity.productId, "GD0001");
        HubEnumSingleResult<PrinterInfoResult> result;
        HubEnumDirector director(&predicate, &result);
        EnumerateHubs(director);
        EXPECT_TRUE(result.IsComplete());
        const PrinterInfoResult info = result.GetResult();
        PrinterDevice device(info.driverKeyName, static_cast<int>(info.maxOutPacketSize),
                             static_cast<int>(info.maxInPacketSize));
        std::string id;
        device.GetDeviceID(id);
        return id;
    }

    bool Supported() {
        const std::string id = ReadDeviceId();
        return IdentifyPrinterFromDeviceID(id.c_str(), kDescription, kIds);
    }

    Platform::ScopedFreshMachine machine_;
    std::shared_ptr<DockPrinter> dock_ = std::make_shared<DockPrinter>();
};

TEST_F(DockIdentification, TheDockIsSupportedAndHasItsPlugin) {
    EXPECT_EQ(ReadDeviceId().rfind(DockPrinter::DefaultDeviceId(), 0), 0u);
    EXPECT_TRUE(Supported());

    PluginMap plugins;
    ASSERT_TRUE(LoadPluginMapping(kMapping, plugins));
    const auto identity = DockPrinter::DefaultIdentity();
    const auto entry = plugins.find({identity.vendorId, identity.productId});
    ASSERT_NE(entry, plugins.end());
    EXPECT_EQ(entry->second.name, "Corrani");
}

TEST_F(DockIdentification, OtherIdsAreNotSupported) {
    dock_->SetDeviceId("MFG:Velmo;MDL:Glimmer Dock;VER:3.0;");
    EXPECT_FALSE(Supported()) << "firmware before 3.01";
    dock_->SetDeviceId("MFG:Velmo;MDL:Glimmer Photo 4;VER:3.01;");
    EXPECT_FALSE(Supported()) << "a model on USB only";
    dock_->SetDeviceId("MFG:Velmo;MDL:Glimmer Lens;VER:3.01;");
    EXPECT_FALSE(Supported()) << "a model we do not know";
    // The printing class's length prefix does not hide the id.
    const std::string id = "MFG:Velmo;MDL:Glimmer Dock;VER:3.02;";
    dock_->SetDeviceId(std::string{0, static_cast<char>(id.size() + 2)} + id);
    EXPECT_TRUE(Supported());
}

}  // namespace
