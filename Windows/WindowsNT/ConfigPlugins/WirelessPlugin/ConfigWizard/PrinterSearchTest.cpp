// The printer search over the scripted fake DNS-SD (linked ahead of the real
// client library), its time-out on the test driver's manual clock.
#include "PrinterSearch.h"
#include "PrinterSearchReports.h"

#include "FakeDnsSd.h"
#include "Mfc/GTestDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

using namespace std::chrono_literals;
using FakeDnsSd::Operation;

constexpr int kVendor = 0x3B7D;
constexpr int kProduct = 0x410F;
const std::string kGuid = "5D0C27A8-3B7D-410F-9E21-00A1B2C3D4E5";

static_assert(!std::is_copy_constructible_v<CPrinterSearch> && !std::is_copy_assignable_v<CPrinterSearch>);

std::string Txt(const std::string& vendor, const std::string& product, const std::string& guid) {
    return FakeDnsSd::TxtRecord({"usbvid=" + vendor, "pid=" + product, "guid=" + guid});
}

// A service that every browse for "_ptp._tcp" finds and whose resolve answers
// with the TXT record, after `resolveDelay` on the machine's clock.
void Publish(const std::string& name, const std::string& txt, std::chrono::milliseconds resolveDelay = 0ms) {
    FakeDnsSd::BrowseReply added;
    added.name = name;
    FakeDnsSd::Answer(Operation::Browse, "_ptp._tcp", {added});
    FakeDnsSd::ResolveReply resolved;
    resolved.fullName = name + "._ptp._tcp.local.";
    resolved.hostTarget = "printer.local.";
    resolved.port = 15740;
    resolved.txt = txt;
    FakeDnsSd::Answer(Operation::Resolve, name, {resolved}, resolveDelay);
}

bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

// Every resolve the search asked for has been answered and released.
bool AllResolvesServed() {
    return Eventually([] { return FakeDnsSd::LiveRefs(Operation::Resolve).empty(); });
}

class PrinterSearchTest : public ::testing::Test {
protected:
    void SetUp() override { FakeDnsSd::Reset(); }
    void TearDown() override {
        EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u) << "a DNS-SD reference was not released";
        EXPECT_EQ(FakeDnsSd::Violations(), std::vector<std::string>{});
        FakeDnsSd::Reset();
    }

    Mfc::TestDriver driver{Mfc::GTestFailures()};
    PrinterSearchReports reports;
};

TEST_F(PrinterSearchTest, AMatchingServiceIsReportedFoundOnceFromThePumpThread) {
    for (const char* vendor : {"3b7d", "3B7D"}) {
        FakeDnsSd::Reset();
        Publish("Dock", Txt(vendor, "410F", kGuid));
        PrinterSearchReports found;
        CPrinterSearch search(kVendor, kProduct, kGuid);
        search.StartSearching(&PrinterSearchReports::Record, &found);
        ASSERT_TRUE(found.WaitFor(1)) << vendor;
        EXPECT_EQ(found.Results(), std::vector<bool>{true});
        EXPECT_NE(found.Threads().front(), std::this_thread::get_id());
        EXPECT_FALSE(search.IsSearching());
        const auto browse = FakeDnsSd::Requests().front();
        EXPECT_EQ(browse.operation, Operation::Browse);
        EXPECT_EQ(browse.type, "_ptp._tcp");
        EXPECT_FALSE(browse.domain.has_value());
        // The time-out went with the search; a stop now changes nothing.
        driver.Advance(60s);
        search.StopSearching();
        EXPECT_EQ(found.Count(), 1u);
    }
}

TEST_F(PrinterSearchTest, ServicesThatDoNotNameThePrinterExactlyEndInOneTimeOut) {
    std::string lowerGuid = kGuid;
    for (auto& c : lowerGuid) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Publish("GuidInOtherCase", Txt("3B7D", "410F", lowerGuid));
    Publish("OtherProduct", Txt("3B7D", "4110", kGuid));
    Publish("OtherVendor", Txt("3B7E", "410F", kGuid));
    Publish("NoVendor", FakeDnsSd::TxtRecord({"pid=410F", "guid=" + kGuid}));
    Publish("NoDigits", Txt("", "410F", kGuid));
    Publish("NoGuid", FakeDnsSd::TxtRecord({"usbvid=3B7D", "pid=410F"}));
    Publish("OtherKeysOnly", FakeDnsSd::TxtRecord({"VID=3B7D", "PID=410F", "GUID=" + kGuid}));
    Publish("GuidWithMore", Txt("3B7D", "410F", kGuid + " "));
    Publish("CutRecord", Txt("3B7D", "410F", kGuid).substr(0, 20) +
                             "\x40"
                             "usbvid=3B7D");
    Publish("Empty", "");

    CPrinterSearch search(kVendor, kProduct, kGuid);
    search.StartSearching(&PrinterSearchReports::Record, &reports);
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::Requests().size() >= 11; })) << "not every service was resolved";
    EXPECT_TRUE(AllResolvesServed());
    driver.Advance(29999ms);
    EXPECT_EQ(reports.Count(), 0u);
    EXPECT_TRUE(search.IsSearching());
    driver.Advance(1ms);
    EXPECT_EQ(reports.Results(), std::vector<bool>{false});
    EXPECT_EQ(reports.Threads().front(), std::this_thread::get_id());  // the time-out reports where it was set
    EXPECT_FALSE(search.IsSearching());
    EXPECT_TRUE(FakeDnsSd::LiveRefs(Operation::Browse).empty());
    driver.Advance(120s);
    EXPECT_EQ(reports.Count(), 1u);
}

TEST_F(PrinterSearchTest, NoReportAfterStopOrDestructionEvenWithAResolveInFlight) {
    Publish("Dock", Txt("3B7D", "410F", kGuid), 2s);
    {
        CPrinterSearch search(kVendor, kProduct, kGuid);
        search.StartSearching(&PrinterSearchReports::Record, &reports);
        ASSERT_TRUE(FakeDnsSd::WaitForRequest(Operation::Resolve, 5s));
        search.StopSearching();
        EXPECT_FALSE(search.IsSearching());
        driver.Advance(60s);  // the answer would have come, and the time-out
        search.StopSearching();
    }
    {
        auto search = std::make_unique<CPrinterSearch>(kVendor, kProduct, kGuid);
        search->StartSearching(&PrinterSearchReports::Record, &reports);
        ASSERT_TRUE(FakeDnsSd::WaitForRequest(Operation::Resolve, 5s));
        search.reset();
        driver.Advance(60s);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(reports.Count(), 0u);
}

TEST_F(PrinterSearchTest, ASearchFoundAtOnceLeavesNoTimerToEndTheNextOne) {
    Publish("Dock", Txt("3B7D", "410F", kGuid));
    CPrinterSearch first(kVendor, kProduct, kGuid);
    first.StartSearching(&PrinterSearchReports::Record, &reports);
    ASSERT_TRUE(reports.WaitFor(1));

    driver.Advance(10s);
    PrinterSearchReports second;
    CPrinterSearch other(kVendor, kProduct, "6E1D0C4A-0000-4F0E-9C3D-2A61B0F4C7E8");
    other.StartSearching(&PrinterSearchReports::Record, &second);
    driver.Advance(20s);  // 30 s after the first search began
    EXPECT_TRUE(other.IsSearching());
    EXPECT_EQ(second.Count(), 0u);
    driver.Advance(9999ms);
    EXPECT_EQ(second.Count(), 0u);
    driver.Advance(1ms);
    EXPECT_EQ(second.Results(), std::vector<bool>{false});
    EXPECT_EQ(reports.Results(), std::vector<bool>{true});
}

TEST_F(PrinterSearchTest, StartingASearchStopsTheRunningOneWithoutAReport) {
    PrinterSearchReports second;
    CPrinterSearch first(kVendor, kProduct, kGuid);
    CPrinterSearch other(kVendor, kProduct, "OTHER");
    first.StartSearching(&PrinterSearchReports::Record, &reports);
    driver.Advance(10s);
    other.StartSearching(&PrinterSearchReports::Record, &second);
    EXPECT_FALSE(first.IsSearching());
    EXPECT_TRUE(other.IsSearching());
    EXPECT_EQ(FakeDnsSd::LiveRefs(Operation::Browse).size(), 1u);
    driver.Advance(20s);  // the first search's time-out, had it kept its timer
    EXPECT_TRUE(other.IsSearching());
    driver.Advance(10s);
    EXPECT_EQ(second.Results(), std::vector<bool>{false});
    EXPECT_EQ(reports.Count(), 0u);

    // The same search started again runs afresh, its earlier run ended.
    first.StartSearching(&PrinterSearchReports::Record, &reports);
    driver.Advance(15s);
    Publish("Dock", Txt("3B7D", "410F", kGuid));
    first.StartSearching(&PrinterSearchReports::Record, &reports);
    ASSERT_TRUE(reports.WaitFor(1));
    driver.Advance(60s);
    EXPECT_EQ(reports.Results(), std::vector<bool>{true});
}

TEST_F(PrinterSearchTest, ATimerThatIsNotTheRunningSearchsIsIgnored) {
    CPrinterSearch search(kVendor, kProduct, kGuid);
    CPrinterSearch::TimerElapsedEntry(nullptr, WM_TIMER, 0x1234, 0);  // nothing runs
    search.StartSearching(&PrinterSearchReports::Record, &reports);
    CPrinterSearch::TimerElapsedEntry(nullptr, WM_TIMER, 0x1234, 0);
    EXPECT_TRUE(search.IsSearching());
    EXPECT_EQ(reports.Count(), 0u);
    driver.Advance(30s);
    EXPECT_EQ(reports.Results(), std::vector<bool>{false});
}

TEST_F(PrinterSearchTest, ABrowseThatCannotStartEndsByTheTimeOut) {
    FakeDnsSd::FailNext(Operation::Browse, kDNSServiceErr_Unknown);
    CPrinterSearch search(kVendor, kProduct, kGuid);
    search.StartSearching(&PrinterSearchReports::Record, &reports);
    EXPECT_TRUE(search.IsSearching());
    driver.Advance(30s);
    EXPECT_EQ(reports.Results(), std::vector<bool>{false});
}

// ---------------------------------------------------------------------------
// Races between the pump thread and the user-interface thread (also run under
// ThreadSanitizer)

using PrinterSearchThreadTest = PrinterSearchTest;

TEST_F(PrinterSearchThreadTest, AMatchAndTheTimeOutInTheSameInstantReportOnce) {
    int found = 0;
    for (int round = 0; round < 25; ++round) {
        FakeDnsSd::Reset();
        // The answer comes when the clock reaches the time-out.
        Publish("Dock", Txt("3B7D", "410F", kGuid), 30s);
        PrinterSearchReports once;
        {
            CPrinterSearch search(kVendor, kProduct, kGuid);
            search.StartSearching(&PrinterSearchReports::Record, &once);
            ASSERT_TRUE(FakeDnsSd::WaitForRequest(Operation::Resolve, 5s));
            driver.Advance(30s);
            std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
        }
        ASSERT_EQ(once.Count(), 1u) << "round " << round;
        found += once.Results().front() ? 1 : 0;
    }
    RecordProperty("found", found);
}

TEST_F(PrinterSearchThreadTest, StopsAndDestructionWhileMatchesFlow) {
    Publish("Dock", Txt("3B7D", "410F", kGuid));
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        FakeDnsSd::BrowseReply again;
        again.name = "Dock";
        for (int i = 0; !stop.load(); ++i) {
            again.flags = i % 2 ? 0 : kDNSServiceFlagsAdd;
            FakeDnsSd::Announce("_ptp._tcp", again);
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int round = 0; round < 30; ++round) {
        PrinterSearchReports each;
        auto search = std::make_unique<CPrinterSearch>(kVendor, kProduct, kGuid);
        search->StartSearching(&PrinterSearchReports::Record, &each);
        std::this_thread::sleep_for(std::chrono::microseconds(300 * (round % 7)));
        if (round % 2)
            search->StopSearching();
        else
            search.reset();
        const auto reported = each.Count();
        EXPECT_LE(reported, 1u);
        std::this_thread::sleep_for(2ms);
        EXPECT_EQ(each.Count(), reported) << "a report after the search was stopped, round " << round;
        search.reset();
    }
    stop.store(true);
    feeder.join();
}

}  // namespace
