// The monitor as the spooler loads it, with its poller thread running.
#include "Kemblin.h"
#include "TestPrinter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace Kemblin::test {
namespace {

// Waits in real time for a condition the threads bring about.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class ThreadMonitor : public MonitorFixture {
protected:
    void SetUp() override {
        MonitorFixture::SetUp();
        loaded = std::make_unique<Platform::LoadedPrintMonitor>(u"Kemblin.dll");
        monitor = &loaded->Table();
        std::u16string portName = u"USB001", printerName = u"Dock";
        MONITOR portMonitor = Platform::UsbPortMonitor();
        ASSERT_TRUE(monitor->pfnOpenPortEx(portName.data(), printerName.data(), &port, &portMonitor));
    }
    void TearDown() override {
        if (port != nullptr) {
            EXPECT_TRUE(monitor->pfnClosePort(port));
        }
        loaded.reset();
        MonitorFixture::TearDown();
    }
    void StartJob(DWORD id) {
        std::u16string name = u"Dock";
        DOC_INFO_1W info{nullptr, nullptr, nullptr};
        ASSERT_TRUE(monitor->pfnStartDocPort(port, name.data(), id, 1, reinterpret_cast<LPBYTE>(&info)));
    }
    // Offers the bytes as the spooler does until they are taken.
    bool Spool(const std::vector<BYTE>& data) {
        DWORD at = 0;
        for (int offers = 0; at < data.size(); ++offers) {
            if (offers > 100000) {
                auto* open = static_cast<MonitorPort*>(port);
                ADD_FAILURE() << "held at " << at << " state " << open->Poller().State() << " printer error "
                              << open->Poller().Error() << " resend " << open->ResendPending() << " hold "
                              << open->ErrorHold() << " busy " << open->PrinterBusy() << " printer "
                              << int(printer->state.load()) << " stream " << printer->Stream().size();
                return false;
            }
            DWORD written = 0;
            const DWORD size = std::min<DWORD>(4096, static_cast<DWORD>(data.size()) - at);
            if (!monitor->pfnWritePort(port, const_cast<BYTE*>(data.data()) + at, size, &written)) {
                auto* open = static_cast<MonitorPort*>(port);
                ADD_FAILURE() << "write failed at " << at << " error " << GetLastError() << " state "
                              << open->Poller().State() << " printer error " << open->Poller().Error() << " resend "
                              << open->ResendPending() << " printer " << int(printer->state.load());
                return false;
            }
            at += written;
        }
        return true;
    }

    std::unique_ptr<Platform::LoadedPrintMonitor> loaded;
    const MONITOR* monitor = nullptr;
    HANDLE port = nullptr;
};

TEST_F(ThreadMonitor, TableAsTheSpoolerSeesIt) {
    const MONITOREX* table = InitializePrintMonitor(nullptr);
    EXPECT_EQ(table->dwMonitorSize, sizeof(MONITOR));
    EXPECT_EQ(table->Monitor.pfnOpenPort, nullptr);
    EXPECT_EQ(table->Monitor.pfnXcvOpenPort, nullptr);
    DWORD written = 0;
    EXPECT_FALSE(monitor->pfnWritePort(nullptr, nullptr, 0, &written));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    MONITOR incomplete = Platform::UsbPortMonitor();
    incomplete.pfnReadPort = nullptr;
    std::u16string portName = u"USB001", printerName = u"Dock";
    HANDLE other = nullptr;
    EXPECT_FALSE(monitor->pfnOpenPortEx(portName.data(), printerName.data(), &other, &incomplete));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINT_MONITOR);
    EXPECT_EQ(other, nullptr);
}

TEST_F(ThreadMonitor, PagesGoThroughWithThePrinterPacingThem) {
    printer->autoPasses = true;
    StartJob(job);
    const auto first = MakePage(1, 1), second = MakePage(1, 2);
    ASSERT_TRUE(Spool(first));
    ASSERT_TRUE(Spool(second));
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->pagesPrinted, 2u);
    EXPECT_TRUE(monitor->pfnEndDocPort(port));
    std::vector<BYTE> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_TRUE(printer->Stream() == expected);
    // The poller may remove the ended job at once, so read what was set.
    const auto changes = Platform::GetMachine().Spooler().JobChanges();
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](const auto& change) {
        return change.level == 1 && change.status == JOB_STATUS_PRINTED;
    }));
    // The ended job leaves the spooler at the next clean-up.
    EXPECT_TRUE(Eventually([&] { return !Platform::GetMachine().Spooler().FindJob(job); }));
    EXPECT_EQ(Platform::GetMachine().Spooler().JobChanges().back().command, JOB_CONTROL_LAST_PAGE_EJECTED);
}

TEST_F(ThreadMonitor, RecoverableErrorInAPlaneHoldsAndTheJobCompletes) {
    printer->autoPasses = true;
    StartJob(job);
    const auto page = MakePage(1, 9);
    const std::vector<BYTE> head(page.begin(), page.begin() + kPlaneEnd0 + 40960);
    ASSERT_TRUE(Spool(head));
    printer->error = 1;
    EXPECT_TRUE(Eventually([&] { return Platform::GetMachine().Spooler().FindJob(job)->statusText == Text(1); }));
    printer->autoPasses = false;
    printer->state = 1;
    printer->error = 0;
    // Offers are held until the poller has seen the error clear; the first
    // one after that re-sends the page to the idle printer.
    const std::vector<BYTE> rest(page.begin() + head.size(), page.end());
    DWORD written = 0;
    for (int offers = 0; printer->Stream().size() < 2 * head.size() && offers < 100000; ++offers) {
        ASSERT_TRUE(monitor->pfnWritePort(port, const_cast<BYTE*>(rest.data()), 4096, &written));
        ASSERT_EQ(written, 0u);
    }
    printer->state = 8;
    ASSERT_TRUE(Spool(rest));
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->pagesPrinted, 1u);
    EXPECT_TRUE(monitor->pfnEndDocPort(port));
    const auto stream = printer->Stream();
    ASSERT_EQ(stream.size(), head.size() + page.size());
    EXPECT_TRUE(std::equal(page.begin(), page.end(), stream.begin() + head.size()));
}

TEST_F(ThreadMonitor, FatalErrorDeletesTheJob) {
    StartJob(job);
    printer->SetStatus(2, 0x4000);
    EXPECT_TRUE(Eventually([&] { return !Platform::GetMachine().Spooler().FindJob(job); }));
    const auto changes = Platform::GetMachine().Spooler().JobChanges();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back().command, JOB_CONTROL_DELETE);
    EXPECT_TRUE(monitor->pfnEndDocPort(port));
}

}  // namespace
}  // namespace Kemblin::test
