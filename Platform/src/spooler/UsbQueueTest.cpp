#include "Platform/UsbQueue.h"

#include "Platform/Machine.h"
#include "Platform/Usb.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using namespace Platform;

class UsbQueue : public ::testing::Test {
protected:
    DeviceManager& Devices() { return GetMachine().Devices(); }

    // Plugs a printer in and answers its device node.
    DEVINST Plug(unsigned port, const char16_t* serial, bool composite = true) {
        UsbPrinterIdentity identity;
        identity.vendorId = 0x3B7D;
        identity.productId = 0x410F;
        identity.manufacturer = u"Velmo";
        identity.product = u"Glimmer Dock";
        identity.serialNumber = serial;
        identity.composite = composite;
        Devices().AttachUsbPrinter(hub_, port, identity);
        DEVINST node = 0;
        const std::u16string id = std::u16string(u"USB\\VID_3B7D&PID_410F\\") + serial;
        EXPECT_EQ(CM_Locate_DevNodeW(&node, id.c_str(), CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
        return node;
    }

    std::u16string PnPInstance(const char16_t* queue) {
        const auto value = GetMachine().Spooler().GetPrinterData(queue, u"PnPData", u"DeviceInstanceId");
        return value && value->type == REG_SZ ? value->Text().value_or(u"") : u"";
    }

    ScopedFreshMachine machine_;
    DEVINST hub_ = GetMachine().Devices().AddHostController(4).rootHub;
};

TEST_F(UsbQueue, NamesThePrinterNodeTwoBelowTheDeviceAndThePortTheMonitorOpens) {
    Plug(1, u"A1");
    const DEVINST second = Plug(2, u"B2");
    EXPECT_EQ(AddUsbPrinterQueue(u"Second", u"Velmo Glimmer Dock", second), u"USB002");
    const auto queue = GetMachine().Spooler().FindPrinter(u"Second");
    ASSERT_TRUE(queue.has_value());
    EXPECT_EQ(queue->port, u"USB002");
    EXPECT_EQ(queue->driver, u"Velmo Glimmer Dock");

    const std::u16string id = PnPInstance(u"Second");
    EXPECT_TRUE(id.starts_with(u"USBPRINT\\")) << std::string(id.begin(), id.end());
    DEVINST node = 0;
    ASSERT_EQ(CM_Locate_DevNodeW(&node, id.c_str(), CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
    EXPECT_EQ(Devices().Parent(Devices().Parent(node)), second);

    // With the first one gone the monitor counts the second as USB001.
    Devices().Detach(hub_, 1);
    EXPECT_EQ(UsbPrinterPortName(second), u"USB001");
}

TEST_F(UsbQueue, APrinterWithoutFunctionNodeHasItsPrinterNodeRightBelow) {
    const DEVINST device = Plug(1, u"S1", false);
    EXPECT_EQ(AddUsbPrinterQueue(u"Single", u"Driver", device), u"USB001");
    DEVINST node = 0;
    ASSERT_EQ(CM_Locate_DevNodeW(&node, PnPInstance(u"Single").c_str(), CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
    EXPECT_EQ(Devices().Parent(node), device);
}

TEST_F(UsbQueue, AGoneOrDriverlessDeviceGetsNoQueue) {
    const DEVINST gone = Plug(1, u"G1");
    Devices().Detach(hub_, 1);
    EXPECT_THROW(AddUsbPrinterQueue(u"Gone", u"Driver", gone), std::invalid_argument);

    UsbPrinterIdentity identity;
    identity.vendorId = 0x3B7D;
    identity.productId = 0x410F;
    identity.serialNumber = u"N1";
    UsbAttachOptions noDriver;
    noDriver.hasDriver = false;
    Devices().AttachUsbPrinter(hub_, 2, identity, noDriver);
    DEVINST bare = 0;
    ASSERT_EQ(CM_Locate_DevNodeW(&bare, u"USB\\VID_3B7D&PID_410F\\N1", CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
    EXPECT_THROW(AddUsbPrinterQueue(u"Bare", u"Driver", bare), std::invalid_argument);
    EXPECT_TRUE(GetMachine().Spooler().PrinterNames().empty());
}

}  // namespace
