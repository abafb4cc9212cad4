#include "DriverLookup.h"
#include "HardwareId.h"
#include "Platform/Machine.h"
#include "Platform/SetupApi.h"
#include "PortMonitorException.h"

#include <gtest/gtest.h>

using namespace PortMonitorUtilities;
using Platform::DeviceCall;
using Platform::GetMachine;

namespace {

class DriverLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        id = MakeHardwareId(u"Velmo ", u"HV7300");
        GetMachine().Drivers().Install({u"Velmo HV7300",
                                        u"C:\\Windows\\INF\\oem7.inf",
                                        u"HV7300.NT",
                                        {u"USBPRINT\\Other1234", id},
                                        {u"C:\\Windows\\System32\\spool\\hv.icm"}});
        nodesBefore = GetMachine().Devices().NodeCount();
    }

    // Nothing of the lookup stays: no node, no list, no phantom.
    void ExpectNothingLeft() {
        EXPECT_EQ(GetMachine().Devices().NodeCount(), nodesBefore);
        EXPECT_EQ(GetMachine().Devices().OpenDeviceInfoListCount(), 0u);
        DEVINST node = 0;
        EXPECT_EQ(CM_Locate_DevNodeW(&node, u"ROOT\\PRINTER\\0000", CM_LOCATE_DEVNODE_PHANTOM), CR_NO_SUCH_DEVNODE);
    }

    DWORD FailureCode(const std::u16string& hardwareId) {
        try {
            FindDriver(hardwareId, u"HV7300");
        } catch (const PortMonitorException& e) {
            return e.Code();
        }
        ADD_FAILURE() << "the lookup succeeded";
        return 0;
    }

    Platform::ScopedFreshMachine machine;
    std::u16string id;
    std::size_t nodesBefore = 0;
};

}  // namespace

TEST_F(DriverLookupTest, FindsTheDriverServingTheIdAndRemovesTheTemporaryNode) {
    const auto info = FindDriver(id, u"HV7300");
    EXPECT_EQ(info.infFile, u"C:\\Windows\\INF\\oem7.inf");
    EXPECT_EQ(info.section, u"HV7300.NT");
    EXPECT_EQ(info.description, u"Velmo HV7300");
    ExpectNothingLeft();
    // Ids match in any case, and a second lookup gets the same temporary id.
    std::u16string lower = id;
    for (auto& c : lower)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    EXPECT_EQ(FindDriver(lower, u"HV7300").description, u"Velmo HV7300");
    ExpectNothingLeft();
}

TEST_F(DriverLookupTest, MissingDriverIsGeneralFailureWithNoPhantomNode) {
    EXPECT_EQ(FailureCode(MakeHardwareId(u"Velmo ", u"HV9999")), 31u);
    ExpectNothingLeft();
}

TEST_F(DriverLookupTest, FailingStepsLeaveNothingBehind) {
    for (const auto call : {DeviceCall::SetupDiCreateDeviceInfoList, DeviceCall::SetupDiGetClassDescription,
                            DeviceCall::SetupDiCreateDeviceInfo, DeviceCall::SetupDiSetDeviceRegistryProperty,
                            DeviceCall::SetupDiBuildDriverInfoList, DeviceCall::SetupDiGetSelectedDriver,
                            DeviceCall::SetupDiGetDriverInfoDetail}) {
        SCOPED_TRACE(static_cast<int>(call));
        GetMachine().Devices().FailCall(call, ERROR_GEN_FAILURE, 0, 1);
        EXPECT_EQ(FailureCode(id), 31u);
        ExpectNothingLeft();
        GetMachine().Devices().ClearFaults();
    }
    // Registered, then the driver selection fails: the node still goes.
    GetMachine().Devices().FailCall(DeviceCall::SetupDiCallClassInstaller, ERROR_GEN_FAILURE, 1, 1);
    EXPECT_EQ(FailureCode(id), 31u);
    ExpectNothingLeft();
    GetMachine().Devices().ClearFaults();
    // A node that could not be registered still finds its driver, and no
    // removal is tried for it.
    GetMachine().Devices().FailCall(DeviceCall::SetupDiCallClassInstaller, ERROR_GEN_FAILURE, 0, 1);
    EXPECT_EQ(FindDriver(id, u"HV7300").section, u"HV7300.NT");
    ExpectNothingLeft();
}

TEST_F(DriverLookupTest, SizeAnswersThatNeverFitEndTheLookup) {
    GetMachine().Devices().MisreportSize(DeviceCall::SetupDiGetClassDescription, 1);
    EXPECT_EQ(FailureCode(id), 31u);
    ExpectNothingLeft();
    GetMachine().Devices().ClearFaults();
    GetMachine().Devices().MisreportSize(DeviceCall::SetupDiGetDriverInfoDetail, 4);
    EXPECT_EQ(FailureCode(id), 31u);
    ExpectNothingLeft();
}
