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

TEST(SpoolerFaults, AddPrinterFaultHoldsUntilCleared) {
    Platform::ScopedFreshMachine machine;
    auto& spooler = Platform::GetMachine().Spooler();
    spooler.AddPort({u"LPT1:", 0, 0, u"", u""});
    Platform::DriverPackage package;
    package.description = u"D";
    package.infPath = u"C:\\Windows\\INF\\d.inf";
    package.section = u"D.NT";
    Platform::GetMachine().Drivers().Install(package);
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
