#include "PrinterInstallSteps.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Platform/Machine.h"
#include "Platform/WirelessPortMonitor.h"

namespace PrinterInstall {
namespace {

using PortMonitorUtilities::PortMonitorException;

DWORD CodeOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const PortMonitorException& e) {
        return e.Code();
    }
    return 0;
}

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

class InstallSteps : public ::testing::Test {
protected:
    InstallSteps() {
        record_.vendorId = 0x3B7D;
        record_.productId = 0x410A;
        record_.deviceName = u"{4f1c}";
        record_.address = u"ptp://dock:1234";
        InstallPortMonitor();
    }
    Platform::PrintSpooler& Spooler() { return Platform::GetMachine().Spooler(); }

    Platform::ScopedFreshMachine machine_;
    XcvPortRecord record_;
};

TEST_F(InstallSteps, PortRecordReachesTheMonitorAndMakesAPort) {
    InstallPortMonitor();  // already installed: still fine
    const std::u16string port = AddMonitorPort(record_);

    // The output starts empty, so the monitor first asks for room.
    const auto calls = Platform::WirelessPortMonitorCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].input, calls[0].input);
    EXPECT_EQ(calls[0].command, u"AddPort");
    ASSERT_EQ(calls[0].input.size(), 520u);
    EXPECT_EQ(U32At(calls[0].input, 128), 0x3B7Du);
    EXPECT_EQ(U32At(calls[0].input, 132), 0x410Au);
    EXPECT_EQ(TextAt(calls[0].input, 136), u"{4f1c}");
    EXPECT_EQ(TextAt(calls[0].input, 264), u"ptp://dock:1234");

    const auto made = Spooler().FindPort(port);
    ASSERT_TRUE(made.has_value());
    EXPECT_EQ(made->address, u"ptp://dock:1234");
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

TEST_F(InstallSteps, MonitorAskingForMoreGetsTheSameRecordWithALargerBuffer) {
    Platform::ForceWirelessPortMonitorNeeded(41);  // odd on purpose
    const std::u16string port = AddMonitorPort(record_);
    const auto calls = Platform::WirelessPortMonitorCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].status, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GE(calls[1].outputSize, 41u);
    EXPECT_EQ(calls[1].input, calls[0].input);
    EXPECT_EQ(calls[1].status, 0u);
    EXPECT_TRUE(Spooler().FindPort(port).has_value());
}

TEST_F(InstallSteps, MonitorFailuresEndTheStepWithTheHandleClosed) {
    Platform::SetWirelessPortMonitorAlwaysShort(true);
    EXPECT_EQ(CodeOf([&] { AddMonitorPort(record_); }), ERROR_GEN_FAILURE);
    EXPECT_EQ(Platform::WirelessPortMonitorCalls().size(),
              static_cast<std::size_t>(PortMonitorUtilities::kXcvMaxRetries));
    Platform::SetWirelessPortMonitorAlwaysShort(false);

    Platform::ForceWirelessPortMonitorStatus(ERROR_ACCESS_DENIED);
    EXPECT_EQ(CodeOf([&] { AddMonitorPort(record_); }), ERROR_ACCESS_DENIED);
    Platform::ForceWirelessPortMonitorStatus(std::nullopt);
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
    EXPECT_EQ(Platform::WirelessPortMonitorOpenHandles(), 0u);
}

TEST_F(InstallSteps, TextsThatDoNotFitAreNeverSent) {
    record_.address = u"ptp://" + std::u16string(130, u'h') + u":1";
    EXPECT_EQ(CodeOf([&] { AddMonitorPort(record_); }), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(Platform::WirelessPortMonitorCalls().empty());
}

TEST_F(InstallSteps, ClosedMonitorChannelIsReportedWithTheSpoolersCode) {
    Platform::GetMachine().SetUserIsAdministrator(false);
    EXPECT_EQ(CodeOf([&] { AddMonitorPort(record_); }), ERROR_ACCESS_DENIED);
}

TEST_F(InstallSteps, QueueIsAddedOnlyWithAKnownPortAndDriver) {
    const std::u16string port = AddMonitorPort(record_);
    Platform::DriverPackage package;
    package.description = u"Glimmer Driver";
    package.infPath = u"C:\\Windows\\INF\\velmo.inf";
    package.section = u"Glimmer.NT";
    Platform::GetMachine().Drivers().Install(package);
    EXPECT_EQ(CodeOf([&] { AddPrinterQueue(u"Q", u"NOPORT:", u"Glimmer Driver"); }), ERROR_GEN_FAILURE);
    {
        PrinterHandle printer = AddPrinterQueue(u"Q", port, u"Glimmer Driver");
        EXPECT_NE(printer.Get(), nullptr);
    }
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
    const auto queue = Spooler().FindPrinter(u"Q");
    ASSERT_TRUE(queue.has_value());
    EXPECT_EQ(queue->printProcessor, u"winprint");
    EXPECT_EQ(queue->attributes, 0xA40u);
    EXPECT_EQ(LocalPrinterNames(), std::vector<std::u16string>{u"Q"});
}

TEST_F(InstallSteps, EveryoneGetsFullControlAndAMissingPrinterIsSilent) {
    Spooler().AddPrinter(u"Q", u"LPT1:", u"Glimmer Driver");
    EXPECT_TRUE(GrantEveryoneFullAccess(u"Q"));
    const auto queue = Spooler().FindPrinter(u"Q");
    ASSERT_TRUE(queue.has_value());
    ASSERT_EQ(queue->access.size(), 1u);
    EXPECT_EQ(queue->access[0].trustee, u"EVERYONE");
    EXPECT_EQ(queue->access[0].mask, 0x1FFFFFu);
    EXPECT_EQ(queue->access[0].mode, static_cast<DWORD>(GRANT_ACCESS));
    EXPECT_EQ(queue->access[0].inheritance, OBJECT_INHERIT_ACE);

    EXPECT_FALSE(GrantEveryoneFullAccess(u"Missing"));
    EXPECT_EQ(Platform::LiveLocalBlocks(), 0u);
    EXPECT_EQ(Spooler().OpenPrinterHandleCount(), 0u);
}

TEST_F(InstallSteps, BaseNameFallsBackWithoutADescription) {
    EXPECT_EQ(BasePrinterName(0x3B7D, 0x4104, u"Fallback"), u"Fallback");
}

}  // namespace
}  // namespace PrinterInstall
