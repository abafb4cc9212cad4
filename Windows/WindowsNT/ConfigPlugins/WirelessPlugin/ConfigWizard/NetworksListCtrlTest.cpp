#include "NetworksListCtrl.h"

#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Mfc/GTestDriver.h"
#include "Platform/Machine.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace Dock = Simulators::Dock;

constexpr int kList = 12045;

constexpr char kResources[] = R"rc(
DIALOG 300 220 150 "Networks"
    LISTVIEW 12045 "" 5 5 210 100 SINGLESEL
    DEFPUSHBUTTON 1 "OK" 110 125 50 14
    PUSHBUTTON 2 "Cancel" 165 125 50 14
END
)rc";

// A dialog holding the list as the network screen does, recording what
// the list posts to it.
class ListHost : public CDialog {
public:
    ListHost() : CDialog(300) {
        MapMessage(CNetworksListCtrl::kNetworkSelectedMessage, [this](WPARAM w, LPARAM l) {
            selections.emplace_back(w, l);
            return LRESULT{0};
        });
    }
    CNetworksListCtrl list;
    std::vector<std::pair<WPARAM, LPARAM>> selections;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        list.SubclassDlgItem(kList, this);
        return TRUE;
    }
};

WiFiSettings Network(const char* ssid, int channel, WiFiMode mode = WIFI_MODE_INFRASTRUCTURE) {
    WiFiSettings w(mode);
    w.SetSSID(Tessary::I8NString(ssid));
    w.SetChannel(channel);
    return w;
}

WiFiSettings WithWepKey(WiFiSettings w, const std::string& key) {
    WepSecurity keys;
    keys.SetKey(1, key);
    w.SetSecurity(NETWORK_MODE_SHARED, DATA_MODE_WEP_64BIT, keys);
    return w;
}

// As a scan reports a secured network: its modes, no keys.
WiFiSettings Keyless(WiFiSettings w, NetworkMode network = NETWORK_MODE_SHARED, DataMode data = DATA_MODE_WEP_64BIT) {
    w.SetSecurity(network, data, NullSecurity());
    return w;
}

WiFiSettings WithWpaKey(WiFiSettings w, const std::string& key) {
    WpaPskSecurity keys;
    keys.SetKey(0, key);
    w.SetSecurity(NETWORK_MODE_WPA_PSK, DATA_MODE_TKIP, keys);
    return w;
}

const std::vector<unsigned> kUsChannels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

class ListFixture : public ::testing::Test {
protected:
    void SetUp() override { session.emplace(driver.BeginModal(host)); }
    void TearDown() override {
        host.list.WaitForNetworkScan();
        if (session->IsOpen()) session->Click(IDCANCEL);
    }

    std::vector<std::vector<CString>> Rows() { return session->Rows(kList); }
    int SelectedRow() { return session->SelectedRow(kList); }

    Platform::ScopedFreshMachine machine_;
    Platform::ResourceRegistration resources_{
        Platform::RegisterMainResources(Platform::ParseResourceText(kResources, "test"))};
    Mfc::TestDriver driver{Mfc::GTestFailures()};
    ListHost host;
    std::optional<Mfc::ModalSession> session;
};

using NetworksListTest = ListFixture;

TEST_F(NetworksListTest, RowsShowTheNetworksOnTheChannelsAskedFor) {
    host.list.SetNetworks({Network("Home", 6), Keyless(Network("Far", 13)), Network("Play", 3, WIFI_MODE_ADHOC),
                           WithWpaKey(Network("Office", 11), "secret passphrase")});
    host.list.RefreshList(kUsChannels, false);

    EXPECT_EQ(Rows(), (std::vector<std::vector<CString>>{{u"Infrastructure", u"Home", u"6", u"None"},
                                                         {u"Ad-hoc", u"Play", u"3", u"None"},
                                                         {u"Infrastructure", u"Office", u"11", u"Secure"}}));
    EXPECT_EQ(host.list.GetItemData(1), 2u) << "a row carries its network's index";
    EXPECT_EQ(SelectedRow(), -1);

    // Four columns sharing what a vertical scroll bar leaves of 315 pixels.
    const char16_t* captions[] = {u"WiFi Mode", u"SSID", u"Channel", u"Security"};
    const int widths[] = {71, 89, 59, 77};
    ASSERT_EQ(host.list.GetHeaderCtrl()->GetItemCount(), 4);
    for (int column = 0; column < 4; ++column) EXPECT_EQ(host.list.GetColumnWidth(column), widths[column]);
    const std::string picture = session->Render();
    for (const char16_t* caption : captions) EXPECT_NE(picture.find(Mfc::Utf8(caption)), std::string::npos) << picture;
    EXPECT_NE(host.list.GetExtendedStyle() & LVS_EX_FULLROWSELECT, 0u);

    EXPECT_EQ(host.list.FindNetwork(Keyless(Network("Far", 13))), -1) << "no channel filter kept yet";
}

TEST_F(NetworksListTest, APresetListFillsOnlyFromTheKeptChannelFilter) {
    host.list.SetNetworks({Network("Home", 6)});
    EXPECT_TRUE(host.list.HasNetworks());
    EXPECT_EQ(host.list.GetSelectedIndex(), -1);
    EXPECT_TRUE(Rows().empty()) << "never scanned: the kept filter is empty";
}

TEST_F(NetworksListTest, TheRequestedNetworkIsSelectedAgainAndThenTheFirst) {
    host.list.SetNetworks({Network("Play", 3, WIFI_MODE_ADHOC), Network("Home", 6), Network("Play", 9, WIFI_MODE_ADHOC),
                           WithWepKey(Network("Cafe", 1), "abcde")});

    // An infrastructure network matches on any channel.
    host.list.SetRequestedSelection(Network("Home", 11));
    host.list.RefreshList(kUsChannels, false);
    EXPECT_EQ(SelectedRow(), 1);
    session->PumpUntilIdle();
    ASSERT_EQ(host.selections.size(), 1u);
    EXPECT_EQ(host.selections[0].first, CNetworksListCtrl::kSelectedByList);
    EXPECT_EQ(host.selections[0].second, reinterpret_cast<LPARAM>(host.list.GetSafeHwnd()));

    // An ad-hoc network only on its own channel.
    host.list.DeleteAllItems();
    host.list.SetRequestedSelection(Network("Play", 9, WIFI_MODE_ADHOC));
    host.list.RefreshList(kUsChannels, false);
    EXPECT_EQ(SelectedRow(), 2);
    EXPECT_EQ(host.list.GetSelectedIndex(), 2);

    // The user's key is not compared with a scan's keyless record...
    host.list.SetNetworks({Keyless(Network("Cafe", 1))});
    host.list.DeleteAllItems();
    host.list.SetRequestedSelection(WithWepKey(Network("Cafe", 1), "abcde"));
    host.list.RefreshList(kUsChannels, false);
    EXPECT_EQ(SelectedRow(), 0);

    // ...but two keys 1 must agree; with nothing matching, selectFirst.
    host.list.SetNetworks({Network("Home", 6), WithWepKey(Network("Cafe", 1), "abcde")});
    host.list.DeleteAllItems();
    host.list.SetRequestedSelection(WithWepKey(Network("Cafe", 1), "vwxyz"));
    host.list.RefreshList(kUsChannels, true);
    EXPECT_EQ(SelectedRow(), 0);
}

TEST_F(NetworksListTest, SameNetworkRuleNeverThrowsOnKeysItCannotRead) {
    const WiFiSettings home = Network("Home", 6);
    EXPECT_TRUE(CNetworksListCtrl::IsSameNetwork(home, Network("Home", 1)));
    EXPECT_FALSE(CNetworksListCtrl::IsSameNetwork(home, Network("home", 6))) << "SSIDs compare exactly";
    EXPECT_FALSE(CNetworksListCtrl::IsSameNetwork(home, Network("Home", 6, WIFI_MODE_ADHOC)));
    EXPECT_FALSE(CNetworksListCtrl::IsSameNetwork(Network("P", 1, WIFI_MODE_ADHOC), Network("P", 2, WIFI_MODE_ADHOC)));
    EXPECT_FALSE(CNetworksListCtrl::IsSameNetwork(home, Keyless(Network("Home", 6))));
    EXPECT_FALSE(CNetworksListCtrl::IsSameNetwork(
        Keyless(Network("Home", 6)), Keyless(Network("Home", 6), NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT)));

    EXPECT_TRUE(CNetworksListCtrl::IsSameNetwork(WithWepKey(home, "abcde"), Keyless(home)));
    EXPECT_TRUE(CNetworksListCtrl::IsSameNetwork(Keyless(home), WithWepKey(home, "abcde")));
    EXPECT_TRUE(CNetworksListCtrl::IsSameNetwork(WithWepKey(home, "abcde"), WithWepKey(home, "abcde")));
    EXPECT_FALSE(CNetworksListCtrl::IsSameNetwork(WithWepKey(home, "abcde"), WithWepKey(home, "abcdf")));
    const WiFiSettings wpa = Keyless(home, NETWORK_MODE_WPA_PSK, DATA_MODE_TKIP);
    EXPECT_TRUE(CNetworksListCtrl::IsSameNetwork(WithWpaKey(home, "one passphrase"), wpa));
    EXPECT_TRUE(CNetworksListCtrl::IsSameNetwork(WithWpaKey(home, "one"), WithWpaKey(home, "two")));
}

TEST_F(NetworksListTest, ClicksSelectRowsAndEmptySpaceKeepsTheSelection) {
    host.list.SetNetworks({Network("Home", 6), Network("Office", 11)});
    host.list.RefreshList(kUsChannels, true);
    session->PumpUntilIdle();
    host.selections.clear();

    session->ClickRow(kList, 1);
    EXPECT_EQ(SelectedRow(), 1);
    ASSERT_EQ(host.selections.size(), 1u);
    EXPECT_EQ(host.selections[0].first, CNetworksListCtrl::kSelectedByUser);
    EXPECT_EQ(host.selections[0].second, reinterpret_cast<LPARAM>(host.list.GetSafeHwnd()));
    EXPECT_EQ(host.list.GetSelectedIndex(), 1);

    session->ClickListEmpty(kList);
    EXPECT_EQ(SelectedRow(), 1) << "a click below the rows keeps the selection";
    EXPECT_EQ(host.selections.size(), 1u);

    session->ClickRow(kList, 0);
    EXPECT_EQ(host.list.GetSelectedIndex(), 0);
    EXPECT_EQ(host.selections.size(), 2u);
}

// ---- The scan

// A channel whose answer waits until the test lets it through.
class GatedChannel : public ConfigAPI {
public:
    GatedChannel() { inConfigMode = true; }
    void OpenByDriverKeyName(const std::string&, int, int) override {}
    void OpenBySerialNumber(int, int, const std::string&) override {}
    void Close(bool) override {}
    void WriteRequestData(const void*, int) override { ++requests; }
    void ReadResponseData(std::string& out) override {
        std::unique_lock lock(mutex_);
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        open_ = false;
        waiting_ = false;
        out = answer;
    }
    bool IsConnected() const override { return true; }
    void ReadRaw(void*, unsigned& length) override { length = 0; }
    short DeviceToHostShort(short value) override { return value; }

    // Lets one answer through.
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // Until the worker waits for its answer.
    void AwaitReader() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return waiting_; });
    }

    std::string answer;
    std::atomic<int> requests{0};

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool waiting_ = false;
};

std::string Answer(const std::vector<std::pair<std::string, int>>& networks) {
    std::string body = "<dockConfig version=\"1.0\"><findNetworksResponse>";
    for (const auto& [ssid, channel] : networks) {
        body += "<network><wifi mode=\"infrastructure\"><ssid>" + ssid + "</ssid><channel>" + std::to_string(channel) +
                "</channel><security data=\"none\" network=\"open\"></security></wifi></network>";
    }
    return body + "</findNetworksResponse></dockConfig>";
}

// Records the completions of scans and the thread they ran on.
struct Completions {
    static void Done(void* context) {
        auto* self = static_cast<Completions*>(context);
        ++self->count;
        self->thread = GetCurrentThreadId();
    }
    int count = 0;
    DWORD thread = 0;
};

class NetworkScanThreadTest : public ListFixture {
protected:
    void SetUp() override {
        ListFixture::SetUp();
        auto& devices = Platform::GetMachine().Devices();
        const auto hc = devices.AddHostController(2);
        dock_->Attach(hc.rootHub, 1);
    }
    void TearDown() override {
        ListFixture::TearDown();
        usb_.Close(true);
    }
    void OpenUsb() {
        const auto id = Simulators::DockPrinter::DefaultIdentity();
        usb_.OpenBySerialNumber(id.vendorId, id.productId, "GD0001");
    }
    // What the dock's scan sees: one access point per network.
    void SeedDockScan(const std::vector<Dock::WifiSettings>& networks) {
        std::vector<Dock::ScannedNetwork> scanned;
        for (const auto& network : networks) scanned.push_back(Dock::ScannedNetwork{{network}});
        dock_->SetNetworks(scanned);
    }
    bool AwaitCompletion(int count) {
        return session->PumpUntil([&] { return completions.count >= count; });
    }

    std::shared_ptr<Simulators::DockPrinter> dock_ = std::make_shared<Simulators::DockPrinter>();
    Win32ConfigAPI usb_;
    Completions completions;
};

Dock::WifiSettings DockNetwork(const char* ssid, int channel, Dock::WifiMode mode = Dock::WifiMode::Infrastructure) {
    Dock::WifiSettings w;
    w.ssid = ssid;
    w.channel = channel;
    w.mode = mode;
    return w;
}

TEST_F(NetworkScanThreadTest, ScanOverTheDockFillsTheListOnTheUserInterfaceThread) {
    Dock::WifiSettings cafe = DockNetwork("Cafe", 1);
    cafe.network = Dock::NetworkMode::Shared;
    cafe.data = Dock::DataMode::Wep64;
    SeedDockScan(
        {DockNetwork("Home", 6), DockNetwork("Abroad", 13), DockNetwork("Play", 3, Dock::WifiMode::Adhoc), cafe});
    OpenUsb();
    // The user's network, with the key the scan does not report.
    host.list.SetRequestedSelection(WithWepKey(Network("Cafe", 1), "abcde"));

    host.list.BeginAsyncNetworkScan(usb_, kUsChannels, &Completions::Done, &completions);
    EXPECT_TRUE(host.list.IsScanRunning() || completions.count == 0);
    ASSERT_TRUE(AwaitCompletion(1));

    EXPECT_EQ(completions.thread, GetCurrentThreadId()) << "done runs on the list's thread";
    EXPECT_FALSE(host.list.IsScanRunning());
    EXPECT_EQ(host.list.GetNetworks().size(), 4u);
    EXPECT_EQ(Rows(), (std::vector<std::vector<CString>>{{u"Infrastructure", u"Home", u"6", u"None"},
                                                         {u"Ad-hoc", u"Play", u"3", u"None"},
                                                         {u"Infrastructure", u"Cafe", u"1", u"Secure"}}));
    EXPECT_EQ(SelectedRow(), 2) << "the network chosen before the scan is chosen again";
    EXPECT_EQ(host.list.GetSelectedIndex(), 3);
    EXPECT_EQ(host.list.FindNetwork(Network("Home", 6)), 0);
    EXPECT_EQ(host.list.FindNetwork(Network("Abroad", 13)), -1) << "off the channel filter";

    const auto requests = dock_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "<dockConfig version=\"1.0\"><findNetworks></findNetworks></dockConfig>");
    EXPECT_TRUE(dock_->InConfigMode()) << "the channel stays the caller's to close";
}

TEST_F(NetworkScanThreadTest, AFailingChannelStillCompletesOnTheUserInterfaceThread) {
    host.list.SetNetworks({Network("Old", 6)});
    // A refused request, an answer that is no answer, and no channel at all.
    dock_->SetFault("findNetworks", {.times = 1, .status = Simulators::DockPrinter::kStatusBadRequest});
    OpenUsb();
    host.list.BeginAsyncNetworkScan(usb_, kUsChannels, &Completions::Done, &completions);
    ASSERT_TRUE(AwaitCompletion(1));
    EXPECT_EQ(completions.thread, GetCurrentThreadId());
    EXPECT_FALSE(host.list.IsScanRunning());
    EXPECT_FALSE(host.list.HasNetworks()) << "a failed scan finds nothing";
    EXPECT_TRUE(Rows().empty());

    dock_->SetFault("findNetworks", {.times = 1, .body = std::string("<dockConfig><findNetworksResponse>")});
    host.list.BeginAsyncNetworkScan(usb_, kUsChannels, &Completions::Done, &completions);
    ASSERT_TRUE(AwaitCompletion(2));
    EXPECT_FALSE(host.list.IsScanRunning());

    Win32ConfigAPI closed;
    host.list.BeginAsyncNetworkScan(closed, kUsChannels, &Completions::Done, &completions);
    ASSERT_TRUE(AwaitCompletion(3));
    EXPECT_FALSE(host.list.IsScanRunning());
    EXPECT_EQ(completions.thread, GetCurrentThreadId());
}

TEST_F(NetworkScanThreadTest, ASecondScanWhileOneRunsIsRefused) {
    GatedChannel channel;
    channel.answer = Answer({{"Home", 6}, {"Office", 11}});
    host.list.SetRequestedSelection(Network("Office", 11));
    host.list.BeginAsyncNetworkScan(channel, kUsChannels, &Completions::Done, &completions);
    channel.AwaitReader();

    Completions other;
    EXPECT_THROW(host.list.BeginAsyncNetworkScan(channel, {6}, &Completions::Done, &other), Tessary::TSLogicError);
    EXPECT_TRUE(host.list.IsScanRunning());

    // A reader waits for the running scan, then fills the list from it.
    std::thread answer([&] { channel.Open(); });
    EXPECT_EQ(host.list.GetSelectedIndex(), 1);
    answer.join();
    EXPECT_EQ(Rows().size(), 2u) << "the first scan's channel filter holds";

    ASSERT_TRUE(AwaitCompletion(1));
    EXPECT_EQ(other.count, 0);
    EXPECT_EQ(channel.requests, 1);
}

TEST_F(NetworkScanThreadTest, ACompletionOvertakenByANewScanIsIgnored) {
    GatedChannel channel;
    channel.answer = Answer({{"First", 6}});
    host.list.BeginAsyncNetworkScan(channel, kUsChannels, &Completions::Done, &completions);
    channel.Open();
    // The worker is done and its report waits in the queue; the user clicks
    // Scan again before it arrives.
    host.list.WaitForNetworkScan();
    EXPECT_FALSE(host.list.IsScanRunning());
    channel.answer = Answer({{"Second", 1}, {"Third", 11}});
    Completions second;
    host.list.BeginAsyncNetworkScan(channel, kUsChannels, &Completions::Done, &second);
    channel.AwaitReader();

    session->PumpUntilIdle();
    EXPECT_EQ(completions.count, 0) << "the first scan's report came after a new scan had started";
    EXPECT_EQ(second.count, 0) << "the new scan is still running";
    EXPECT_TRUE(host.list.IsScanRunning());
    EXPECT_TRUE(Rows().empty());

    channel.Open();
    ASSERT_TRUE(session->PumpUntil([&] { return second.count == 1; }));
    EXPECT_EQ(completions.count, 0);
    EXPECT_EQ(Rows().size(), 2u);
}

}  // namespace
