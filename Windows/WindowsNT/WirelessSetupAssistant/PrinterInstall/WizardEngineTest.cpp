#include "WizardEngine.h"

#include <gtest/gtest.h>

#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Platform/WirelessPortMonitor.h"
#include "PortMonitorException.h"
#include "PrinterInstallRules.h"
#include "Simulators/DockPrinter/DriverPackage.h"

namespace {

using PortMonitorUtilities::PortMonitorException;

std::uint32_t U32At(const std::vector<BYTE>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{bytes.at(at + i)} << (8 * i);
    return value;
}

std::u16string TextAt(const std::vector<BYTE>& bytes, std::size_t at) {
    std::u16string text;
    for (std::size_t i = at; bytes.at(i) != 0 || bytes.at(i + 1) != 0; i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
}

DWORD CodeOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const PortMonitorException& e) {
        return e.Code();
    }
    return 0;
}

// A transport whose enumerate reports the devices a test lists.
struct FakeDevice {
    std::u16string url;
    DWORD flags;
    std::u16string name;
};
std::vector<FakeDevice> gDevices;
int gStops = 0;

int FakeEnumerate(PtpTransportContext*, PtpFoundCallback callback, void* context) {
    for (const FakeDevice& device : gDevices) callback(context, device.url.c_str(), device.flags, device.name.c_str());
    return 0;
}
int FakeStop(PtpTransportContext*) {
    ++gStops;
    return 0;
}

class Engine : public ::testing::Test {
protected:
    Engine() {
        for (const auto& package : Simulators::VelmoDriverPackages()) {
            Platform::GetMachine().Drivers().Install(package);
        }
        nodesBefore_ = Platform::GetMachine().Devices().NodeCount();
        gDevices.clear();
        gStops = 0;
    }
    Platform::PrintSpooler& Spooler() { return Platform::GetMachine().Spooler(); }
    std::vector<Platform::XcvCall> AddPortCalls() {
        std::vector<Platform::XcvCall> calls;
        for (auto& call : Platform::WirelessPortMonitorCalls()) {
            if (call.command == u"AddPort") calls.push_back(call);
        }
        return calls;
    }
    void UseFakeTransport() {
        engine_.SetTransportFactory([this](PtpTransportTable** table) {
            fakeTable_ = PtpTransportTable{};
            fakeTable_.enumerate = &FakeEnumerate;
            fakeTable_.stop = &FakeStop;
            *table = &fakeTable_;
            return 0;
        });
    }

    Platform::ScopedFreshMachine machine_;
    CWizardEngine engine_;
    PtpTransportTable fakeTable_{};
    std::size_t nodesBefore_ = 0;
};

TEST_F(Engine, NetworkRoadInstallsPortQueueAndAccessAndCanRunAgain) {
    engine_.PrinterRecord() = *PortMonitorUtilities::NetworkPortRecord(0x1111, 0x4104, u"4f1c", u"dock.local.", 1234);
    ASSERT_TRUE(engine_.InstallPrinter(false));

    const auto calls = AddPortCalls();
    ASSERT_FALSE(calls.empty());
    const std::vector<BYTE>& sent = calls.back().input;
    ASSERT_EQ(sent.size(), 520u);
    EXPECT_EQ(U32At(sent, 128), 0x3B7Du);  // the family's, not the record's
    EXPECT_EQ(U32At(sent, 132), 0x4104u);
    EXPECT_EQ(TextAt(sent, 136), u"{4f1c}");
    EXPECT_EQ(TextAt(sent, 264), u"ptp://dock:1234");

    const std::u16string name = engine_.InstalledPrinterName();
    EXPECT_EQ(name, PortMonitorUtilities::kDefaultDisplayName);
    const auto queue = Spooler().FindPrinter(name);
    ASSERT_TRUE(queue.has_value());
    EXPECT_TRUE(Spooler().FindPort(queue->port).has_value());
    EXPECT_EQ(queue->driver, u"Velmo Glimmer Dock Wireless");
    EXPECT_EQ(queue->printProcessor, u"winprint");
    EXPECT_EQ(queue->attributes, 0xA40u);
    ASSERT_EQ(queue->access.size(), 1u);
    EXPECT_EQ(queue->access[0].trustee, u"EVERYONE");
    EXPECT_EQ(queue->access[0].mask, 0x1FFFFFu);

    // The monitor is there now; the second queue takes the next name.
    ASSERT_TRUE(engine_.InstallPrinter(false));
    EXPECT_EQ(engine_.InstalledPrinterName(), std::u16string(PortMonitorUtilities::kDefaultDisplayName) + u" (Copy 1)");
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
    EXPECT_EQ(Platform::GetMachine().Devices().NodeCount(), nodesBefore_);
}

TEST_F(Engine, UnknownProductUsesTheFirstModelsDriver) {
    engine_.PrinterRecord() = *PortMonitorUtilities::NetworkPortRecord(0x3B7D, 0x9999, u"g", u"h", 1);
    ASSERT_TRUE(engine_.InstallPrinter(false));
    EXPECT_EQ(Spooler().FindPrinter(engine_.InstalledPrinterName())->driver, u"Velmo Glimmer Dock Wireless");
}

TEST_F(Engine, MissingDriverStopsBeforeTheMonitor) {
    Platform::GetMachine().Drivers().Reset();
    engine_.PrinterRecord() = *PortMonitorUtilities::NetworkPortRecord(0x3B7D, 0x4104, u"g", u"h", 1);
    EXPECT_EQ(CodeOf([&] { engine_.InstallPrinter(false); }), 31u);
    EXPECT_FALSE(Spooler().FindMonitor(PortMonitorUtilities::kMonitorName).has_value());
    EXPECT_EQ(Platform::GetMachine().Devices().NodeCount(), nodesBefore_);
}

TEST_F(Engine, UsbRoadEndsAtDiscoveryWithTheLoadersTransport) {
    engine_.PrinterRecord() = PortMonitorUtilities::UsbPortRecord(0x3B7D, 0x4104, u"GD0001");
    EXPECT_EQ(CodeOf([&] { engine_.InstallPrinter(true); }), 31u);
    EXPECT_TRUE(Platform::WirelessPortMonitorCalls().empty());
    EXPECT_TRUE(Spooler().PrinterNames().empty());
}

TEST_F(Engine, UsbRoadTakesTheAddressOfTheMatchingDevice) {
    UseFakeTransport();
    gDevices = {
        {u"ptp://other:1", 1, u"{GD0002}"}, {u"ptp://gone:1", 0, u"{gd0001}"}, {u"ptp://dock:15740", 1, u"{gd0001}"}};
    engine_.PrinterRecord() = PortMonitorUtilities::UsbPortRecord(0x3B7D, 0x4104, u"GD0001");
    ASSERT_TRUE(engine_.InstallPrinter(true));
    EXPECT_EQ(gStops, 1);
    EXPECT_EQ(TextAt(AddPortCalls().back().input, 264), u"ptp://dock:15740");
}

TEST_F(Engine, UsbRoadGivesUpWhenNoDeviceAnswers) {
    Platform::ScopedClock clock(std::make_shared<Platform::ManualClock>());
    UseFakeTransport();
    engine_.PrinterRecord() = PortMonitorUtilities::UsbPortRecord(0x3B7D, 0x4104, u"GD0001");
    EXPECT_EQ(CodeOf([&] { engine_.InstallPrinter(true); }), 31u);
    EXPECT_EQ(gStops, 1);
    EXPECT_TRUE(AddPortCalls().empty());
}

}  // namespace
