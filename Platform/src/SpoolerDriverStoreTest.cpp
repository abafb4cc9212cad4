#include "Platform/DriverStore.h"
#include "Platform/Machine.h"
#include "Platform/Spooler.h"

#include <gtest/gtest.h>

#include <string>

namespace {

HANDLE AddQueue(std::u16string name, std::u16string port, std::u16string driver) {
    std::u16string processor = u"winprint";
    PRINTER_INFO_2W info{};
    info.pPrinterName = name.data();
    info.pPortName = port.data();
    info.pDriverName = driver.data();
    info.pPrintProcessor = processor.data();
    return AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
}

TEST(SpoolerDrivers, PackageOfTheDriverStoreServesAQueue) {
    Platform::ScopedFreshMachine machine;
    auto& spooler = Platform::GetMachine().Spooler();
    spooler.AddPort({u"WLP001:", 0, 0, u"", u""});
    EXPECT_EQ(AddQueue(u"Q", u"WLP001:", u"Velmo Glimmer Dock Wireless"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PRINTER_DRIVER);

    Platform::DriverPackage package;
    package.description = u"Velmo Glimmer Dock Wireless";
    package.infPath = u"C:\\Windows\\INF\\velmo.inf";
    package.section = u"GlimmerDockWireless.NT";
    Platform::GetMachine().Drivers().Install(package);
    HANDLE queue = AddQueue(u"Q", u"WLP001:", u"velmo glimmer dock wireless");
    ASSERT_NE(queue, nullptr);
    ClosePrinter(queue);
    EXPECT_EQ(spooler.FindPrinter(u"Q")->driver, u"velmo glimmer dock wireless");
}

TEST(SpoolerDrivers, AddPrinterFaultHoldsUntilCleared) {
    Platform::ScopedFreshMachine machine;
    auto& spooler = Platform::GetMachine().Spooler();
    spooler.AddPort({u"LPT1:", 0, 0, u"", u""});
    spooler.AddDriver(u"D");
    spooler.FailAddPrinter(ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(AddQueue(u"Q", u"LPT1:", u"D"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(spooler.FindPrinter(u"Q").has_value());
    spooler.FailAddPrinter(std::nullopt);
    HANDLE queue = AddQueue(u"Q", u"LPT1:", u"D");
    EXPECT_NE(queue, nullptr);
    ClosePrinter(queue);
}

}  // namespace
