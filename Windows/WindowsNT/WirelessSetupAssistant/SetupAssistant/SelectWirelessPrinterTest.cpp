// The network printer list over the scripted DNS-SD fake, in a wizard sheet
// driven headless on the simulated machine.
#include "SelectWirelessPrinter.h"

#include "Common/ConfigSupport/ReaderTestSupport.h"
#include "FakeDnsSd.h"
#include "Mfc/GTestDriver.h"
#include "Platform/HtmlHelp.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Registry.h"
#include "Platform/Resource.h"
#include "Platform/WirelessPortMonitor.h"
#include "PortMonitorException.h"
#include "Simulators/DockPrinter/DriverPackage.h"
#include "Tessary/TSException.h"
#include "Windows/Common/ResourceDLL.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using FakeDnsSd::Operation;
using PortMonitorUtilities::PortMonitorException;

constexpr const char16_t* kInstallPath = u"C:\\Program Files\\Velmo";
constexpr int kList = SelectWirelessPrinter::kPrinterList;
const std::string kPtp = "_ptp._tcp";

FakeDnsSd::BrowseReply Added(const std::string& name, DNSServiceFlags flags = kDNSServiceFlagsAdd) {
    FakeDnsSd::BrowseReply reply;
    reply.name = name;
    reply.flags = flags;
    return reply;
}

FakeDnsSd::BrowseReply Removed(const std::string& name) {
    return Added(name, 0);
}

FakeDnsSd::ResolveReply Resolved(const std::string& escapedName, const std::string& host, std::uint16_t port,
                                 std::initializer_list<std::string_view> txt, DNSServiceFlags flags = 0) {
    FakeDnsSd::ResolveReply reply;
    reply.flags = flags;
    reply.fullName = escapedName + "._ptp._tcp.local.";
    reply.hostTarget = host;
    reply.port = port;
    reply.txt = FakeDnsSd::TxtRecord(txt);
    return reply;
}

// A printer of the family, resolving to "<host>.local.".
void Printer(const std::string& name, const std::string& host, const std::string& pid = "4104",
             const std::string& escaped = "") {
    FakeDnsSd::Answer(Operation::Resolve, name,
                      {Resolved(escaped.empty() ? name : escaped, host + ".local.", 15740,
                                {"usbvid=3B7D", "pid=" + pid, "guid=G-" + host})});
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The resource library we ship, with stand-ins for the two pages Next goes
// to when it lacks them.
Platform::ResourceTable Resources() {
    std::string text = ReadFile(VELMO_SOURCE_DIR "/data/ORVRES.rc.txt");
    for (const char* id : {"14140", "14142"}) {
        if (text.find(std::string("DIALOG ") + id + " ") == std::string::npos) {
            text += std::string("\nDIALOG ") + id + " 317 143 \"Page " + id + "\" CHILD\n    LTEXT -1 \"Page " + id +
                    "\" 21 1 275 16\nEND\n";
        }
    }
    return Platform::ParseResourceText(text, "ORVRES.rc.txt");
}

class ListPage : public ::testing::Test {
protected:
    ListPage() : root_("velmo-list-page") {
        FakeDnsSd::Reset();
        if (const char* previous = ::getenv("VELMO_MACHINE_ROOT")) previousRoot_ = previous;
        ::setenv("VELMO_MACHINE_ROOT", root_.Path().c_str(), 1);
        Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                                                    kInstallPath);
        const std::filesystem::path description =
            Platform::MapPath((std::u16string(kInstallPath) + u"\\ORV.xml").c_str());
        std::filesystem::create_directories(description.parent_path());
        std::filesystem::copy_file(VELMO_SOURCE_DIR "/data/ORV.xml", description);
        for (const auto& package : Simulators::VelmoDriverPackages()) Platform::GetMachine().Drivers().Install(package);
    }
    ~ListPage() override {
        EXPECT_EQ(FakeDnsSd::Violations(), std::vector<std::string>{});
        EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 0) << "every record is freed once the page is gone";
        FakeDnsSd::Reset();
        ResourceDLL::Reset();
        if (previousRoot_) {
            ::setenv("VELMO_MACHINE_ROOT", previousRoot_->c_str(), 1);
        } else {
            ::unsetenv("VELMO_MACHINE_ROOT");
        }
    }

    // The sheet with the list first, then the pages Next leads to.
    Mfc::ModalSession Open() {
        page_.emplace(&engine_);
        sheet_.AddPage(&*page_);
        sheet_.AddPage(&added_);
        sheet_.AddPage(&notAdded_);
        sheet_.SetWizardMode();
        auto s = driver_.BeginModal(sheet_);
        EXPECT_TRUE(s.IsOpen());
        return s;
    }

    static std::vector<CString> Column(const Mfc::ModalSession& s, std::size_t column) {
        std::vector<CString> texts;
        for (const auto& row : s.Rows(kList)) texts.push_back(column < row.size() ? row[column] : CString());
        return texts;
    }
    static std::vector<CString> Sorted(std::vector<CString> texts) {
        std::sort(texts.begin(), texts.end(),
                  [](const CString& a, const CString& b) { return std::u16string(a) < std::u16string(b); });
        return texts;
    }
    bool WaitForRows(Mfc::ModalSession& s, std::size_t count) {
        return s.PumpUntil([&] { return s.Rows(kList).size() == count; });
    }

    Platform::ScopedFreshMachine machine_;
    TestSupport::ScratchFolder root_;
    std::optional<std::string> previousRoot_;
    Platform::ResourceRegistration resources_ = Platform::RegisterResourceModule(u"ORVRES.DLL", Resources());
    ResourceDLLScope scope_;
    Mfc::TestDriver driver_{Mfc::GTestFailures()};
    CWizardEngine engine_;
    CPropertySheet sheet_{u"Setup"};
    CPropertyPage added_{SelectWirelessPrinter::kStandAloneAdded};
    CPropertyPage notAdded_{SelectWirelessPrinter::kPrinterNotAdded};
    std::optional<SelectWirelessPrinter> page_;
};

TEST_F(ListPage, OnlyCompleteServicesMakeRowsAndTheFirstIsSelected) {
    FakeDnsSd::Answer(
        Operation::Browse, kPtp,
        {Added("Dock A"), Added("No guid"), Added("Zero pid"), Added("Zero vid"), Added("No host"), Added("Studio")});
    Printer("Dock A", "dock-a");
    FakeDnsSd::Answer(Operation::Resolve, "No guid",
                      {Resolved("No guid", "ng.local.", 1, {"usbvid=3B7D", "pid=4104"})});
    FakeDnsSd::Answer(Operation::Resolve, "Zero pid",
                      {Resolved("Zero pid", "zp.local.", 1, {"usbvid=3B7D", "pid=0", "guid=G"})});
    FakeDnsSd::Answer(Operation::Resolve, "Zero vid",
                      {Resolved("Zero vid", "zv.local.", 1, {"usbvid=0", "pid=4104", "guid=G"})});
    FakeDnsSd::Answer(Operation::Resolve, "No host",
                      {Resolved("No host", "", 1, {"usbvid=3B7D", "pid=4104", "guid=G"})});
    // The local domain is cut at its last occurrence only.
    FakeDnsSd::Answer(Operation::Resolve, "Studio",
                      {Resolved("Studio", "studio.local.local.", 80, {"usbvid=3b7d", "pid=410b", "guid=S-1"})});

    auto s = Open();
    ASSERT_TRUE(WaitForRows(s, 2));
    // Every answer has been heard once the resolves are all released.
    s.PumpUntil([] { return FakeDnsSd::LiveRefs(Operation::Resolve).empty(); });
    s.PumpUntilIdle();
    EXPECT_EQ(Sorted(Column(s, 0)), (std::vector<CString>{u"Dock A", u"Studio"}));
    EXPECT_EQ(s.SelectedRow(kList), 0) << "the first row to appear is selected";
    EXPECT_TRUE(s.Enabled(ID_WIZNEXT));

    auto& list = page_->List();
    const XcvPortRecord* dock = list.RecordOf(list.FindRow(u"Dock A"));
    ASSERT_NE(dock, nullptr);
    EXPECT_EQ(dock->vendorId, 0x3B7Du);
    EXPECT_EQ(dock->productId, 0x4104u);
    EXPECT_EQ(dock->deviceName, u"{G-dock-a}");
    EXPECT_EQ(dock->address, u"ptp://dock-a:15740");
    const int studioRow = list.FindRow(u"Studio");
    ASSERT_NE(list.RecordOf(studioRow), nullptr);
    EXPECT_EQ(list.RecordOf(studioRow)->address, u"ptp://studio.local:80");
    EXPECT_EQ(list.GetItemText(studioRow, 1), CString(u"Velmo Glimmer Photo 6 Studio printer"));
    EXPECT_EQ(list.RecordOf(-1), nullptr);
    EXPECT_EQ(list.RecordOf(2), nullptr);
    EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 2);
}

TEST_F(ListPage, WizardButtonsFollowTheSelectionAndTheSelectionStays) {
    auto s = Open();
    s.PumpUntilIdle();
    EXPECT_TRUE(s.Enabled(ID_WIZBACK));
    EXPECT_FALSE(s.Enabled(ID_WIZNEXT)) << "no row, no Next";
    EXPECT_EQ(page_->OnWizardNext(), -1) << "without a selection the page stays";
    EXPECT_TRUE(engine_.PageHistory().empty()) << "and a page that stays is not in the history";

    Printer("Dock A", "dock-a");
    Printer("Dock B", "dock-b", "9999");
    FakeDnsSd::Announce(kPtp, Added("Dock A"));
    ASSERT_TRUE(WaitForRows(s, 1));
    FakeDnsSd::Announce(kPtp, Added("Dock B"));
    ASSERT_TRUE(WaitForRows(s, 2));
    s.PumpUntilIdle();
    EXPECT_TRUE(s.Enabled(ID_WIZNEXT));
    EXPECT_EQ(s.Rows(kList)[1][1], CString(u"")) << "an unknown model has no name";

    // Neither a click on no row nor the focus leaving the list loses it.
    s.ClickListEmpty(kList);
    EXPECT_EQ(s.SelectedRow(kList), 0);
    s.ClickRow(kList, 1);
    EXPECT_EQ(s.SelectedRow(kList), 1);
    EXPECT_EQ(::SendMessageW(s.Control(kList), WM_KILLFOCUS, 0, 0), 1);
    EXPECT_EQ(s.SelectedRow(kList), 1);

    page_->List().SetItemState(1, 0, LVIS_SELECTED);
    s.PumpUntilIdle();
    EXPECT_FALSE(s.Enabled(ID_WIZNEXT));
    EXPECT_TRUE(s.Enabled(ID_WIZBACK));
    s.ClickRow(kList, 0);
    EXPECT_TRUE(s.Enabled(ID_WIZNEXT));
}

TEST_F(ListPage, DeletingTheSelectedRowMovesTheSelectionAndFreesItsRecord) {
    FakeDnsSd::Answer(Operation::Browse, kPtp, {Added("A")});
    Printer("A", "a");
    auto s = Open();
    ASSERT_TRUE(WaitForRows(s, 1));
    for (const char* name : {"B", "C", "D"}) {
        Printer(name, name);
        FakeDnsSd::Announce(kPtp, Added(name));
        ASSERT_TRUE(WaitForRows(s, s.Rows(kList).size() + 1));
    }
    ASSERT_EQ(Column(s, 0), (std::vector<CString>{u"A", u"B", u"C", u"D"}));

    s.ClickRow(kList, 3);
    FakeDnsSd::Announce(kPtp, Removed("D"));
    ASSERT_TRUE(WaitForRows(s, 3));
    EXPECT_EQ(s.SelectedRow(kList), 2) << "the selected last row gives way to the one before it";
    EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 3);

    s.ClickRow(kList, 1);
    FakeDnsSd::Announce(kPtp, Removed("B"));
    ASSERT_TRUE(WaitForRows(s, 2));
    EXPECT_EQ(Column(s, 0), (std::vector<CString>{u"A", u"C"}));
    EXPECT_EQ(s.SelectedRow(kList), 1) << "any other selected row gives way to the next";

    // A row that is not selected goes without moving the selection.
    FakeDnsSd::Announce(kPtp, Removed("A"));
    ASSERT_TRUE(WaitForRows(s, 1));
    EXPECT_EQ(s.SelectedRow(kList), 0);
    FakeDnsSd::Announce(kPtp, Removed("C"));
    ASSERT_TRUE(WaitForRows(s, 0));
    EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 0);
    s.PumpUntilIdle();
    EXPECT_FALSE(s.Enabled(ID_WIZNEXT));
}

TEST_F(ListPage, EscapedNamesAreShownPlainlyAndRemoved) {
    FakeDnsSd::Answer(Operation::Browse, kPtp, {Added("My Printer"), Added("Dock.2")});
    Printer("My Printer", "mine", "4104", "My\\032Printer");
    Printer("Dock.2", "dock2", "4104", "Dock\\.2");
    auto s = Open();
    ASSERT_TRUE(WaitForRows(s, 2));
    EXPECT_EQ(Sorted(Column(s, 0)), (std::vector<CString>{u"Dock.2", u"My Printer"}));

    FakeDnsSd::Announce(kPtp, Removed("My Printer"));
    ASSERT_TRUE(WaitForRows(s, 1));
    EXPECT_EQ(Column(s, 0), (std::vector<CString>{u"Dock.2"}));
    FakeDnsSd::Announce(kPtp, Removed("Dock.2"));
    EXPECT_TRUE(WaitForRows(s, 0));
}

TEST_F(ListPage, APrinterGoneBeforeItsResolveAnswersMakesNoRow) {
    auto s = Open();
    FakeDnsSd::Announce(kPtp, Added("Ghost"));
    const auto heldBack =
        FakeDnsSd::WaitForRequest(Operation::Resolve, std::chrono::seconds(5),
                                  [](const FakeDnsSd::Request& request) { return request.name == "Ghost"; });
    ASSERT_TRUE(heldBack);
    FakeDnsSd::Announce(kPtp, Removed("Ghost"));
    const DNSServiceRef browse = FakeDnsSd::LiveRefs(Operation::Browse).at(0);
    s.PumpUntil([&] { return FakeDnsSd::QueuedReplies(browse) == 0; });
    FakeDnsSd::Send(heldBack->ref, Resolved("Ghost", "ghost.local.", 15740, {"usbvid=3B7D", "pid=4104", "guid=G-g"}));
    s.PumpUntil([&] { return FakeDnsSd::QueuedReplies(heldBack->ref) == 0; });
    s.PumpUntilIdle();
    EXPECT_TRUE(s.Rows(kList).empty());

    // A printer heard afterwards shows that the page kept listening.
    Printer("Dock A", "a");
    FakeDnsSd::Announce(kPtp, Added("Dock A"));
    ASSERT_TRUE(WaitForRows(s, 1));
    s.PumpUntilIdle();
    EXPECT_EQ(Column(s, 0), (std::vector<CString>{u"Dock A"}));
    EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 1);
}

TEST_F(ListPage, AServiceHeardAgainIsOneRowBroughtUpToDate) {
    FakeDnsSd::Answer(Operation::Browse, kPtp, {Added("Dock A")});
    FakeDnsSd::Answer(
        Operation::Resolve, "Dock A",
        {Resolved("Dock A", "old.local.", 1, {"usbvid=3B7D", "pid=4104", "guid=G1"}, kDNSServiceFlagsMoreComing),
         Resolved("Dock A", "new.local.", 2, {"usbvid=3B7D", "pid=410B", "guid=G2"})});
    auto s = Open();
    ASSERT_TRUE(WaitForRows(s, 1));
    s.PumpUntil([] { return FakeDnsSd::LiveRefs(Operation::Resolve).empty(); });
    s.PumpUntilIdle();
    ASSERT_EQ(s.Rows(kList).size(), 1u);
    const XcvPortRecord* record = page_->List().RecordOf(0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->address, u"ptp://new:2");
    EXPECT_EQ(record->deviceName, u"{G2}");
    EXPECT_EQ(s.Rows(kList)[0][1], CString(u"Velmo Glimmer Photo 6 Studio printer"));
    EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 1) << "the record replaced was freed";
    EXPECT_EQ(s.SelectedRow(kList), 0);

    // Another interface's report and its removal leave the row in place
    // until the last report of the service goes.
    FakeDnsSd::Announce(kPtp, [] {
        auto second = Added("Dock A");
        second.interfaceIndex = 2;
        return second;
    }());
    FakeDnsSd::Announce(kPtp, Removed("Dock A"));
    const DNSServiceRef browse = FakeDnsSd::LiveRefs(Operation::Browse).at(0);
    s.PumpUntil([&] { return FakeDnsSd::QueuedReplies(browse) == 0; });
    s.PumpUntilIdle();
    EXPECT_EQ(s.Rows(kList).size(), 1u);
    FakeDnsSd::Announce(kPtp, [] {
        auto last = Removed("Dock A");
        last.interfaceIndex = 2;
        return last;
    }());
    EXPECT_TRUE(WaitForRows(s, 0));
}

TEST_F(ListPage, NextInstallsTheSelectedPrinterOnTheNetworkRoad) {
    FakeDnsSd::Answer(Operation::Browse, kPtp, {Added("Dock A")});
    Printer("Dock A", "dock-a");
    auto s = Open();
    ASSERT_TRUE(WaitForRows(s, 1));
    s.PumpUntilIdle();
    s.Click(ID_WIZNEXT);
    EXPECT_EQ(sheet_.GetActiveIndex(), 1) << "StandAloneAdded";
    EXPECT_EQ(engine_.PageHistory(), std::vector<unsigned>{SelectWirelessPrinter::IDD});
    EXPECT_EQ(engine_.PrinterRecord().address, u"ptp://dock-a:15740");
    const auto queue = Platform::GetMachine().Spooler().FindPrinter(engine_.InstalledPrinterName());
    ASSERT_TRUE(queue.has_value());
    EXPECT_EQ(queue->port.rfind(u"WLP", 0), 0u);
    EXPECT_EQ(engine_.InstalledPrinterName(), u"Velmo Glimmer Dock Wireless photo printer");
}

TEST_F(ListPage, AMonitorFailureLandsOnPrinterNotAdded) {
    FakeDnsSd::Answer(Operation::Browse, kPtp, {Added("Dock A")});
    Printer("Dock A", "dock-a");
    auto s = Open();
    ASSERT_TRUE(WaitForRows(s, 1));
    s.PumpUntilIdle();
    Platform::ForceWirelessPortMonitorStatus(ERROR_ACCESS_DENIED);
    s.Click(ID_WIZNEXT);
    Platform::ForceWirelessPortMonitorStatus(std::nullopt);
    EXPECT_EQ(sheet_.GetActiveIndex(), 2) << "PrinterNotAdded";
    EXPECT_EQ(engine_.PageHistory(), std::vector<unsigned>{SelectWirelessPrinter::IDD});
    EXPECT_TRUE(Platform::GetMachine().Spooler().PrinterNames().empty());
}

TEST_F(ListPage, HelpThatCannotBeShownIsToldUnavailable) {
    int asked = 0;
    Platform::ScopedHtmlHelpHandler help([&](HWND, LPCWSTR, UINT, DWORD_PTR) {
        ++asked;
        return HWND{};
    });
    auto s = Open();
    driver_.ExpectMessageBox(u"Help is not available: no viewer for the help file could be opened.", IDOK);
    s.Click(SelectWirelessPrinter::kHelpButton);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(driver_.MessageBoxes().size(), 1u);
    EXPECT_TRUE(s.IsOpen());
}

TEST_F(ListPage, ThePageNeedsThePrinterDescriptionAndTheListAListView) {
    Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                                                u"C:\\Elsewhere");
    EXPECT_THROW(SelectWirelessPrinter{&engine_}, Tessary::TSException);
    Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                                                kInstallPath);

    auto s = Open();
    SelectWirelessPrinter::PrinterList other;
    auto codeOf = [&](HWND window) -> DWORD {
        try {
            other.Attach(window);
        } catch (const PortMonitorException& e) {
            return e.Code();
        }
        return 0;
    };
    EXPECT_EQ(codeOf(nullptr), 87u);
    EXPECT_EQ(codeOf(s.Control(SelectWirelessPrinter::kHelpButton)), 31u);
    EXPECT_FALSE(other.IsAttached());
    EXPECT_EQ(::GetPropW(s.Control(kList), SelectWirelessPrinter::PrinterList::kInstanceProperty),
              reinterpret_cast<HANDLE>(&page_->List()));
    EXPECT_NE(::GetWindowLongW(s.Control(kList), GWL_STYLE) & LVS_SINGLESEL, 0);
    EXPECT_NE(page_->List().GetExtendedStyle() & LVS_EX_FULLROWSELECT, 0u);
}

// Teardown while the browser's thread is still posting: the pump ends before
// the list lets go, and the reports never delivered are freed.
class ListPageThread : public ListPage {};

TEST_F(ListPageThread, ClosingWithReportsInFlightFreesEveryRecordOnce) {
    auto s = Open();
    // Announced once the sheet is open, so that opening it delivers none of
    // them: some reports are made and not yet delivered, as this thread
    // pumps nothing from here on.
    for (int i = 0; i < 60; ++i) {
        const std::string name = "Dock " + std::to_string(i);
        Printer(name, "dock" + std::to_string(i));
        FakeDnsSd::Announce(kPtp, Added(name));
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (SelectWirelessPrinter::LiveRecords() < 5 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(SelectWirelessPrinter::LiveRecords(), 5);
    EXPECT_TRUE(s.Rows(kList).empty());
    // Closed at once, with nothing pumped before the page goes.
    sheet_.EndDialog(IDCANCEL);
    ::DestroyWindow(s.Window());
    EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 0);
    EXPECT_TRUE(FakeDnsSd::LiveRefs(Operation::Browse).empty());
}

TEST_F(ListPageThread, ClosingWithRowsFreesTheirRecordsAndLeavesTheRowsEmpty) {
    FakeDnsSd::Answer(Operation::Browse, kPtp, {Added("A"), Added("B")});
    Printer("A", "a");
    Printer("B", "b");
    auto s = Open();
    ASSERT_TRUE(WaitForRows(s, 2));
    HWND list = s.Control(kList);
    // Detaching zeroes the rows' item data before the control goes.
    page_->List().Detach();
    EXPECT_EQ(SelectWirelessPrinter::LiveRecords(), 0);
    LVITEMW item;
    item.mask = LVIF_PARAM;
    for (item.iItem = 0; item.iItem < 2; ++item.iItem) {
        ASSERT_TRUE(::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        EXPECT_EQ(item.lParam, 0);
    }
    EXPECT_EQ(::GetPropW(list, SelectWirelessPrinter::PrinterList::kInstanceProperty), nullptr);
    s.Click(IDCANCEL);
}

}  // namespace
