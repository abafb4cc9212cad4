#include "MonitorPort.h"
#include "TestPrinter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace Kemblin::test {
namespace {

// The port monitor's writes, which a test can make fail after the printer
// took part of the data.
std::atomic<bool> g_failNextWrite{false};
BOOL FailingWrite(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
    const BOOL result = Platform::UsbPortMonitor().pfnWritePort(port, buffer, size, written);
    if (!g_failNextWrite.exchange(false)) return result;
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

class MonitorPortTest : public MonitorFixture {
protected:
    void SetUp() override {
        MonitorFixture::SetUp();
        g_failNextWrite = false;
        portMonitor.pfnWritePort = &FailingWrite;
        ASSERT_TRUE(port.Open(u"USB001", u"Dock", &portMonitor, false));
    }
    void TearDown() override {
        port.Close();
        MonitorFixture::TearDown();
    }

    void Start(DWORD jobId) {
        std::u16string name = u"Dock";
        DOC_INFO_1W info{nullptr, nullptr, nullptr};
        ASSERT_TRUE(port.StartDoc(name.data(), jobId, 1, reinterpret_cast<LPBYTE>(&info))) << GetLastError();
    }
    void Poll(BYTE state, WORD error = 0, bool flag = false) {
        printer->SetStatus(state, error, flag);
        port.Poller().PollOnce();
    }
    DWORD Offer(const BYTE* data, DWORD size, BOOL expected = TRUE) {
        DWORD written = 0xDEAD;
        EXPECT_EQ(port.Write(const_cast<LPBYTE>(data), size, &written), expected);
        return written;
    }
    // Offers bytes [from, to) of a page as the spooler does, with the
    // printer moving through its passes; returns the holds seen.
    int Feed(const std::vector<BYTE>& page, DWORD from, DWORD to, DWORD chunk = 4096) {
        int holds = 0;
        DWORD at = from;
        while (at < to) {
            const DWORD position = at % page.size();
            Poll(position == 0 ? 1 : position < kPlaneEnd0 ? 2 : position < kPlaneEnd1 ? 4 : 8);
            const DWORD written = Offer(page.data() + position, std::min(chunk, to - at));
            if (written == 0) {
                if (++holds > 50) {
                    ADD_FAILURE() << "stuck at " << at;
                    return holds;
                }
            }
            at += written;
        }
        return holds;
    }

    // The next port write takes this many bytes, then fails.
    void FailNextWrite(DWORD taken) {
        printer->acceptNext = taken;
        g_failNextWrite = true;
    }
    DWORD PagesPrinted() { return Platform::GetMachine().Spooler().FindJob(job)->pagesPrinted; }

    MONITOR portMonitor = Platform::UsbPortMonitor();
    MonitorPort port;
};

TEST_F(MonitorPortTest, WholePagesReachThePrinterInPlaneSizedPiecesAndAreCountedPerCopy) {
    Start(job);
    const auto page = MakePage(1, 3);
    Feed(page, 0, kPage, 5000);
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->pagesPrinted, 1u);
    WCHAR text[16] = {};
    DWORD returned = 0;
    std::u16string name = u"CUR_JOB_PAGES_PRINTED";
    EXPECT_TRUE(port.GetPrinterData(0, name.data(), nullptr, 0, text, sizeof text, &returned));
    EXPECT_EQ(std::u16string(text), u"1");

    Feed(page, 0, kPage, 3000);
    std::vector<BYTE> expected = page;
    expected.insert(expected.end(), page.begin(), page.end());
    EXPECT_TRUE(printer->Stream() == expected);
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->pagesPrinted, 2u);

    // No write is larger than 4096 or crosses a plane end.
    DWORD position = 0;
    for (DWORD size : printer->Writes()) {
        EXPECT_LE(size, 4096u);
        const DWORD start = position % kPage + 1, last = start + size - 1;
        for (DWORD end : {kPlaneEnd0, kPlaneEnd1}) EXPECT_FALSE(start <= end && last > end) << start;
        position += size;
    }
    std::vector<DWORD> counts;
    for (const auto& change : Changes()) {
        if (change.level == 2) counts.push_back(change.pagesPrinted);
    }
    EXPECT_EQ(counts, (std::vector<DWORD>{1, 2}));
}

TEST_F(MonitorPortTest, FirstBlockWaitsForAnIdlePrinterAndUnknownKindsFail) {
    Start(job);
    auto page = MakePage(1, 0);
    Poll(4);
    const DWORD before = Now();
    EXPECT_EQ(Offer(page.data(), 4096), 0u);
    EXPECT_EQ(Now() - before, 1000u);
    page[3] = 2;
    Poll(1);
    EXPECT_EQ(Offer(page.data(), 4096, FALSE), 0u);
    EXPECT_TRUE(printer->Stream().empty());
}

TEST_F(MonitorPortTest, WriteIsCutAtThePlaneEndAlsoWhenOneByteIsLeft) {
    Start(job);
    const auto page = MakePage(1, 0);
    Feed(page, 0, kPlaneEnd0 - 1);
    printer->ClearLog();
    // One byte of the first plane is left: only it goes, and in state 2 the
    // next plane stays gated.
    Poll(2);
    EXPECT_EQ(Offer(page.data() + kPlaneEnd0 - 1, 4096), 1u);
    EXPECT_EQ(Offer(page.data() + kPlaneEnd0, 4096), 0u);
    Poll(4);
    EXPECT_EQ(Offer(page.data() + kPlaneEnd0, 4096), 4096u);
    EXPECT_EQ(printer->Writes(), (std::vector<DWORD>{1, 4096}));

    // A 4096-byte offer that would cross the end is cut to end exactly there.
    Feed(page, kPlaneEnd0 + 4096, kPlaneEnd1 - 100);
    Poll(4);
    EXPECT_EQ(Offer(page.data() + kPlaneEnd1 - 100, 4096), 100u);
}

TEST_F(MonitorPortTest, PartialPortWritesAreCountedAndKeptAlike) {
    Start(job);
    const auto page = MakePage(1, 0);
    Feed(page, 0, 12);
    printer->acceptNext = 1000;
    Poll(2);
    EXPECT_EQ(Offer(page.data() + 12, 4096), 1000u);
    Feed(page, 1012, 20000);
    // A recoverable error and its clearing re-send exactly what was sent.
    Poll(2, 1);
    Poll(1, 0);
    printer->ClearLog();
    Poll(1);
    EXPECT_EQ(Offer(page.data() + 20000, 4096), 4096u);
    const auto stream = printer->Stream();
    ASSERT_EQ(stream.size(), 20000u + 4096u);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), page.begin()));
}

TEST_F(MonitorPortTest, BytesAFailingPortWriteTookAreCountedKeptAndReported) {
    Start(job);
    const auto page = MakePage(1, 9);
    const DWORD at = kPlaneEnd0 - 3000;
    Feed(page, 0, at);
    Poll(2);
    FailNextWrite(1000);
    EXPECT_EQ(Offer(page.data() + at, 4096, FALSE), 1000u);
    // The spooler goes on after what was reported: the write is still cut
    // at the plane's last byte, and the next plane waits for its pass.
    EXPECT_EQ(Offer(page.data() + at + 1000, 4096), 2000u);
    EXPECT_EQ(Offer(page.data() + kPlaneEnd0, 4096), 0u);
    // A re-send after an error gives the printer the plane as it had it.
    Poll(2, 1);
    Poll(1, 0);
    printer->ClearLog();
    EXPECT_EQ(Offer(page.data() + kPlaneEnd0, 4096), 0u);
    EXPECT_TRUE(printer->Stream() == std::vector<BYTE>(page.begin(), page.begin() + kPlaneEnd0));

    // Failures on the last bytes of the page still complete it, and the
    // next page starts at its head.
    Feed(page, kPlaneEnd0, kPage - 5000);
    Poll(8);
    FailNextWrite(4000);
    EXPECT_EQ(Offer(page.data() + kPage - 5000, 4096, FALSE), 4000u);
    EXPECT_EQ(PagesPrinted(), 0u);
    FailNextWrite(1000);
    EXPECT_EQ(Offer(page.data() + kPage - 1000, 4096, FALSE), 1000u);
    EXPECT_EQ(PagesPrinted(), 1u);
    Poll(1);
    EXPECT_EQ(Offer(page.data(), 4096), 4096u);
}

TEST_F(MonitorPortTest, RecoverableErrorHoldsThenThePageIsResent) {
    Start(job);
    const auto page = MakePage(1, 5);
    const DWORD stop = kPlaneEnd0 + 50000;
    Feed(page, 0, stop);
    Poll(4, 1);
    auto current = Platform::GetMachine().Spooler().FindJob(job);
    EXPECT_EQ(current->status, JOB_STATUS_ERROR);
    EXPECT_EQ(current->statusText, Text(1));
    const DWORD before = Now();
    EXPECT_EQ(Offer(page.data() + stop, 4096), 0u);
    EXPECT_EQ(Now() - before, 1000u);

    Poll(1, 0);
    current = Platform::GetMachine().Spooler().FindJob(job);
    EXPECT_EQ(current->status, JOB_STATUS_PRINTING);
    EXPECT_FALSE(current->statusText);
    // The next offer re-sends the page while the printer is idle; its own
    // bytes then wait for the second pass.
    EXPECT_EQ(Offer(page.data() + stop, 4096), 0u);
    Feed(page, stop, kPage);
    // The printer saw the partial page, then the whole page from its start.
    std::vector<BYTE> expected(page.begin(), page.begin() + stop);
    expected.insert(expected.end(), page.begin(), page.end());
    EXPECT_TRUE(printer->Stream() == expected);
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->pagesPrinted, 1u);
}

TEST_F(MonitorPortTest, MediaErrorIsRecoverableNotFatal) {
    Start(job);
    Poll(2, 0x4800);
    EXPECT_TRUE(port.ErrorHold());
    const auto current = Platform::GetMachine().Spooler().FindJob(job);
    ASSERT_TRUE(current);
    EXPECT_EQ(current->statusText, Text(25));
    Poll(2, 0);
    EXPECT_FALSE(port.ErrorHold());
    EXPECT_TRUE(port.ResendPending());
}

TEST_F(MonitorPortTest, RecoverableErrorClearingWhileTheFlagStaysReleasesTheHold) {
    Start(job);
    Poll(2, 8, true);
    EXPECT_TRUE(port.ErrorHold());
    Poll(2, 0, true);
    EXPECT_FALSE(port.ErrorHold());
    EXPECT_TRUE(port.ResendPending());
}

TEST_F(MonitorPortTest, FatalErrorShowsItsTextThenDeletesTheJob) {
    Start(job);
    const DWORD before = Now();
    Poll(2, 2);
    EXPECT_GE(Now() - before, 4000u);
    EXPECT_FALSE(Platform::GetMachine().Spooler().FindJob(job));
    const auto changes = Changes();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].status, JOB_STATUS_ERROR);
    EXPECT_EQ(changes[0].statusText, Text(2));
    EXPECT_EQ(changes[1].command, JOB_CONTROL_DELETE);
}

TEST_F(MonitorPortTest, FatalErrorDeletesTheJobEvenWithoutItsText) {
    DropResourceLibrary();
    Start(job);
    Poll(2, 2);
    EXPECT_FALSE(Platform::GetMachine().Spooler().FindJob(job));
    const auto changes = Changes();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back().command, JOB_CONTROL_DELETE);
}

TEST_F(MonitorPortTest, FatalErrorWithTheHoldBitDeletesAtOnce) {
    Start(job);
    const DWORD before = Now();
    Poll(2, 0x12);
    EXPECT_EQ(Now() - before, 0u);
    const auto changes = Changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].command, JOB_CONTROL_DELETE);
    EXPECT_FALSE(Platform::GetMachine().Spooler().FindJob(job));
}

TEST_F(MonitorPortTest, BusyPrinterIsAskedAgainAfterAPauseNotInALoop) {
    printer->SetId("MFG:Velmo;MDL:Dock;PRB:1;");
    Start(job);
    EXPECT_TRUE(port.PrinterBusy());
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->statusText, Text(30));
    const auto page = MakePage(1, 0);
    Poll(1);
    const int idReads = printer->idReads;
    const DWORD before = Now();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Offer(page.data(), 4096), 0u);
    EXPECT_EQ(Now() - before, 3000u);
    EXPECT_EQ(printer->idReads - idReads, 3);
    printer->SetId("MFG:Velmo;MDL:Dock;PRB:0;");
    EXPECT_EQ(Offer(page.data(), 4096), 0u);
    EXPECT_FALSE(port.PrinterBusy());
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->statusText, Text(19));
    EXPECT_EQ(Offer(page.data(), 4096), 4096u);
}

TEST_F(MonitorPortTest, ResendWaitForIdleIsBounded) {
    Start(job);
    const auto page = MakePage(1, 0);
    Feed(page, 0, 8192);
    Poll(2, 1);
    Poll(2, 0);
    const DWORD before = Now();
    EXPECT_EQ(Offer(page.data() + 8192, 4096, FALSE), 0u);
    EXPECT_GE(Now() - before, kResendIdleSteps * 5000u);
    EXPECT_TRUE(port.ResendPending());
    Poll(1);
    EXPECT_EQ(Offer(page.data() + 8192, 4096), 4096u);
}

class ThreadMonitorPort : public MonitorPortTest {};

TEST_F(ThreadMonitorPort, ResendWaitEndsWhenThePortCloses) {
    Start(job);
    const auto page = MakePage(1, 0);
    Feed(page, 0, 8192);
    Poll(2, 1);
    Poll(2, 0);
    // Time stands still: only the port closing can end the wait for idle.
    Platform::SetClock(std::make_shared<Platform::ManualClock>(false));
    BOOL result = TRUE;
    std::thread writer([&] {
        DWORD written = 0;
        result = port.Write(const_cast<BYTE*>(page.data()) + 8192, 4096, &written);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.Close();
    writer.join();
    EXPECT_FALSE(result);
    Platform::SetClock(clock);
}

TEST_F(MonitorPortTest, EndInTheSecondPlanePadsItAndClosesThePage) {
    Start(job);
    const auto page = MakePage(1, 0);
    const DWORD stop = kPlaneEnd0 + 10000;
    Feed(page, 0, stop);
    printer->ClearLog();
    Poll(4);
    EXPECT_TRUE(port.EndDoc());
    const auto stream = printer->Stream();
    ASSERT_EQ(stream.size(), kPlaneEnd1 - stop + 12);
    EXPECT_TRUE(std::all_of(stream.begin(), stream.end() - 12, [](BYTE b) { return b == 0; }));
    const std::vector<BYTE> closing(stream.end() - 12, stream.end());
    EXPECT_EQ(closing, (std::vector<BYTE>{0x30, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (DWORD size : printer->Writes()) EXPECT_LE(size, 32768u);
    EXPECT_EQ(Platform::GetMachine().Spooler().FindJob(job)->status, JOB_STATUS_PRINTED);
    EXPECT_FALSE(port.HasCurrentJob());
    // The ended job's tracker stays for the clean-up, its page buffer does not.
    EXPECT_EQ(port.TrackerCount(), 1u);
    EXPECT_EQ(port.PageMemory(), 0u);
}

TEST_F(MonitorPortTest, EndedJobsAreRemovedOneAtATime) {
    const DWORD second = Platform::GetMachine().Spooler().AddJob(u"Dock", u"second");
    Start(job);
    EXPECT_TRUE(port.EndDoc());
    Start(second);
    EXPECT_TRUE(port.EndDoc());
    EXPECT_EQ(port.TrackerCount(), 2u);
    port.CleanUpEndedJob();
    EXPECT_EQ(port.TrackerCount(), 1u);
    EXPECT_FALSE(Platform::GetMachine().Spooler().FindJob(job));
    EXPECT_TRUE(Platform::GetMachine().Spooler().FindJob(second));
    port.CleanUpEndedJob();
    EXPECT_EQ(port.TrackerCount(), 0u);
    EXPECT_EQ(Changes().back().command, JOB_CONTROL_LAST_PAGE_EJECTED);
}

TEST_F(MonitorPortTest, DeviceIdAnswers) {
    std::u16string deviceId = u"DEVICE_ID";
    const std::string id = "MFG:Velmo;MDL:Dock;PRB:0;";
    printer->SetId(id);
    WCHAR out[64];
    DWORD returned = 0;
    // Exactly the id and its terminator, then one unit short: cut and terminated.
    const DWORD exact = static_cast<DWORD>((id.size() + 1) * sizeof(WCHAR));
    EXPECT_TRUE(port.GetPrinterData(0, deviceId.data(), nullptr, 0, out, exact, &returned));
    EXPECT_EQ(returned, exact);
    EXPECT_EQ(std::u16string(out), u"MFG:Velmo;MDL:Dock;PRB:0;");
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_TRUE(port.GetPrinterData(0, deviceId.data(), nullptr, 0, out, exact - 2, &returned));
    EXPECT_EQ(std::u16string(out), u"MFG:Velmo;MDL:Dock;PRB:0");

    // An id that is a prefix of the cached one replaces it.
    printer->SetId("MFG:Velmo;MDL:Dock;");
    EXPECT_TRUE(port.GetPrinterData(0, deviceId.data(), nullptr, 0, out, sizeof out, &returned));
    EXPECT_EQ(std::u16string(out), u"MFG:Velmo;MDL:Dock;");

    // 900 bytes hold at most 450 units with the terminator.
    printer->SetId("MFG:Velmo;MDL:Dock;DES:" + std::string(700, 'x') + ";");
    std::vector<WCHAR> big(600, u'#');
    EXPECT_TRUE(port.GetPrinterData(0, deviceId.data(), nullptr, 0, big.data(), 900, &returned));
    EXPECT_EQ(returned, 900u);
    EXPECT_EQ(big[449], 0);
    EXPECT_EQ(big[450], u'#');
}

TEST_F(MonitorPortTest, PagesPrintedAnswerChecksTheBuffer) {
    std::u16string name = u"CUR_JOB_PAGES_PRINTED";
    WCHAR out[4] = {};
    DWORD returned = 0;
    EXPECT_FALSE(port.GetPrinterData(0, name.data(), nullptr, 0, out, sizeof out, &returned));
    Start(job);
    EXPECT_TRUE(port.GetPrinterData(0, name.data(), nullptr, 0, out, sizeof out, &returned));
    EXPECT_EQ(std::u16string(out), u"0");
    EXPECT_EQ(returned, 1u);
    SetLastError(0);
    EXPECT_FALSE(port.GetPrinterData(0, name.data(), nullptr, 0, out, 2, &returned));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(MonitorPortTest, TheSpoolerAsksTheLanguageMonitorForValuesItDoesNotStore) {
    Platform::LanguageMonitorBinding binding(
        u"Dock",
        *[] {
            static MONITOR table{};
            table.pfnGetPrinterDataFromPort = [](HANDLE port, DWORD control, LPWSTR name, LPWSTR in, DWORD inSize,
                                                 LPWSTR out, DWORD outSize, LPDWORD returned) -> BOOL {
                return static_cast<MonitorPort*>(port)->GetPrinterData(control, name, in, inSize, out, outSize,
                                                                       returned);
            };
            return &table;
        }(),
        &port);
    HANDLE queue = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Dock", &queue, nullptr));
    BYTE data[900];
    DWORD type = 0, needed = 0;
    EXPECT_EQ(GetPrinterDataW(queue, u"DEVICE_ID", &type, data, sizeof data, &needed), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), u"MFG:Velmo;MDL:Dock;PRB:0;");
    EXPECT_EQ(GetPrinterDataW(queue, u"OTHER", &type, data, sizeof data, &needed), ERROR_FILE_NOT_FOUND);
    ClosePrinter(queue);
}

TEST_F(MonitorPortTest, ShortStatusReadsAreRetried) {
    Start(job);
    printer->shortReads = 3;
    printer->SetStatus(2, 0);
    const DWORD before = Now();
    EXPECT_TRUE(port.Poller().PollOnce());
    EXPECT_EQ(port.Poller().State(), 2);
    EXPECT_EQ(Now() - before, 1500u);
    printer->SetStatus(3, 1);
    EXPECT_FALSE(port.Poller().PollOnce());
    EXPECT_EQ(port.Poller().State(), 2);
    EXPECT_FALSE(port.ErrorHold());
}

}  // namespace
}  // namespace Kemblin::test
