#include "FindNetworksDialog.h"
#include "SecondaryDialogsTestSupport.h"
#include "WizardTestSupport.h"

#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kList = 12045;
constexpr int kPicture = 12042;
constexpr int kRescan = 12008;
const std::vector<unsigned> kChannels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

// The owner's open and close, over the USB channel to the rig's dock.
class DockAccess : public CFindNetworksDialog::PrinterAccess {
public:
    explicit DockAccess(const PrinterInfoResult& printer) : printer_(printer) {}
    ConfigAPI& OpenPrinter() override {
        api_.OpenByDriverKeyName(printer_.driverKeyName, static_cast<int>(printer_.maxOutPacketSize),
                                 static_cast<int>(printer_.maxInPacketSize));
        api_.SetConfigMode(true);
        ++opens;
        return api_;
    }
    void ClosePrinter() override {
        try {
            api_.Close(true);
        } catch (...) {
        }
        ++closes;
    }
    int opens = 0;
    int closes = 0;

private:
    PrinterInfoResult printer_;
    Win32ConfigAPI api_;
};

// A channel whose scan answer waits until the test lets it through.
class GatedChannel : public ConfigAPI, public CFindNetworksDialog::PrinterAccess {
public:
    GatedChannel() { inConfigMode = true; }
    ConfigAPI& OpenPrinter() override { return *this; }
    void ClosePrinter() override { ++closes; }
    void OpenByDriverKeyName(const std::string&, int, int) override {}
    void OpenBySerialNumber(int, int, const std::string&) override {}
    void Close(bool) override {}
    void WriteRequestData(const void*, int) override {}
    void ReadResponseData(std::string& out) override {
        std::unique_lock lock(mutex_);
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        out =
            "<dockConfig version=\"1.0\"><findNetworksResponse><network><wifi mode=\"infrastructure\"><ssid>Late</ssid>"
            "<channel>6</channel><security data=\"none\" network=\"open\"></security></wifi></network>"
            "</findNetworksResponse></dockConfig>";
        answered = true;
    }
    bool IsConnected() const override { return true; }
    void ReadRaw(void*, unsigned& length) override { length = 0; }
    short DeviceToHostShort(short value) override { return value; }

    void AwaitReader() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return waiting_; });
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

    std::atomic<bool> answered{false};
    int closes = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool waiting_ = false;
};

class FindNetworksDialogTest : public ::testing::Test {
protected:
    int Scans() const {
        int count = 0;
        for (const auto& request : rig.dock->Requests()) count += request.command == "findNetworks";
        return count;
    }
    std::vector<CString> Ssids(const Mfc::ModalSession& s) const {
        std::vector<CString> ssids;
        for (const auto& row : s.Rows(kList)) ssids.push_back(row.at(1));
        return ssids;
    }
    bool AwaitRows(Mfc::ModalSession& s, std::size_t count) {
        return s.PumpUntil([&] { return s.Rows(kList).size() == count && access.closes > 0; });
    }

    WizardTest::Rig rig;
    SecondaryDialogsTest::ResourceScope resources;
    DockAccess access{rig.printer};
};

TEST_F(FindNetworksDialogTest, ScansOnceForAPrinterThenShowsItsNetworksUntilRescan) {
    std::vector<WiFiSettings> networks;
    {
        CFindNetworksDialog dialog(access, {}, kChannels, 0, nullptr);
        auto s = rig.driver.BeginModal(dialog);
        ASSERT_TRUE(AwaitRows(s, 2));
        EXPECT_EQ(Ssids(s), (std::vector<CString>{u"Office", u"Cafe"}));
        EXPECT_FALSE(s.Visible(kPicture)) << "the animation goes with the scan";
        EXPECT_EQ(access.opens, 1);
        EXPECT_EQ(access.closes, 1);
        EXPECT_FALSE(rig.dock->InConfigMode()) << "the scan's end closes the printer";
        s.Click(IDCANCEL);
        EXPECT_EQ(s.Result(), IDCANCEL);
        EXPECT_EQ(dialog.GetChosenNetwork(), nullptr);
        networks = dialog.GetNetworks();
    }
    ASSERT_EQ(networks.size(), 2u) << "the owner keeps what was found, also on Cancel";
    EXPECT_EQ(Scans(), 1);

    CFindNetworksDialog dialog(access, networks, kChannels, 0, nullptr);
    auto s = rig.driver.BeginModal(dialog);
    EXPECT_EQ(Ssids(s), (std::vector<CString>{u"Office", u"Cafe"}));
    EXPECT_EQ(Scans(), 1) << "known networks are shown without a scan";
    EXPECT_EQ(access.opens, 1);

    rig.dock->SetNetworks({});
    s.Click(kRescan);
    ASSERT_TRUE(s.PumpUntil([&] { return access.closes == 2; }));
    EXPECT_EQ(Scans(), 2);
    EXPECT_TRUE(s.Rows(kList).empty());
    s.Click(IDOK);
    EXPECT_EQ(s.Result(), IDOK);
    EXPECT_EQ(dialog.GetChosenNetwork(), nullptr) << "no row, no choice";
    EXPECT_TRUE(dialog.GetNetworks().empty());
}

TEST_F(FindNetworksDialogTest, TheChosenRowIsTakenByOkOrByADoubleClick) {
    const std::vector<WiFiSettings> known = {
        WizardTest::Scanned("Office", 6, NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT),
        WizardTest::Scanned("Cafe", 1, NETWORK_MODE_OPEN, DATA_MODE_NONE)};
    {
        CFindNetworksDialog dialog(access, known, kChannels, 0, nullptr);
        auto s = rig.driver.BeginModal(dialog);
        s.ClickRow(kList, 1);
        s.Click(IDOK);
        ASSERT_NE(dialog.GetChosenNetwork(), nullptr);
        EXPECT_EQ(dialog.GetChosenNetwork()->GetSSID(), Tessary::I8NString("Cafe"));
    }
    CFindNetworksDialog dialog(access, known, kChannels, 0, nullptr);
    auto s = rig.driver.BeginModal(dialog);
    s.DoubleClickRow(kList, 0);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Result(), IDOK);
    ASSERT_NE(dialog.GetChosenNetwork(), nullptr);
    EXPECT_EQ(dialog.GetChosenNetwork()->GetSSID(), Tessary::I8NString("Office"));
    EXPECT_EQ(dialog.GetChosenNetwork()->GetNetworkMode(), NETWORK_MODE_SHARED);
    EXPECT_EQ(access.opens, 0);
}

TEST_F(FindNetworksDialogTest, OkAndCancelWaitForTheRunningScanThread) {
    for (const int button : {IDOK, IDCANCEL}) {
        SCOPED_TRACE(button);
        GatedChannel channel;
        CFindNetworksDialog dialog(channel, {}, kChannels, 0, nullptr);
        auto s = rig.driver.BeginModal(dialog);
        channel.AwaitReader();
        EXPECT_TRUE(s.Visible(kPicture));
        std::thread answer([&] {
            std::this_thread::sleep_for(50ms);
            channel.Open();
        });
        s.Click(button);
        EXPECT_TRUE(channel.answered) << "the button returned before the scan had its answer";
        answer.join();
        EXPECT_EQ(s.Result(), button);
        EXPECT_EQ(channel.closes, 1) << "the printer is closed although the scan's report never arrived";
        ASSERT_EQ(dialog.GetNetworks().size(), 1u);
        EXPECT_EQ(dialog.GetNetworks()[0].GetSSID(), Tessary::I8NString("Late"));
    }
}

TEST_F(FindNetworksDialogTest, AScanThatCannotStartClosesThePrinterAndCancels) {
    std::vector<std::u16string> texts;
    rig.driver.OnNextMessageBox([&](const Mfc::MessageBoxRequest& box) {
        texts.push_back(box.text);
        EXPECT_TRUE(rig.dock->InConfigMode() == false) << "the printer is closed before the message";
        return IDOK;
    });
    Platform::FailNextThreadCreations(1);
    CFindNetworksDialog first(access, {}, kChannels, 0, nullptr);
    EXPECT_EQ(first.DoModal(), IDCANCEL);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(Mfc::Utf8(texts[0]).find("could not be started"), std::string::npos) << Mfc::Utf8(texts[0]);
    EXPECT_EQ(access.opens, 1);
    EXPECT_EQ(access.closes, 1);
    EXPECT_FALSE(rig.dock->InConfigMode());

    // Rescan the same way.
    const std::vector<WiFiSettings> known = {WizardTest::Scanned("Cafe", 1, NETWORK_MODE_OPEN, DATA_MODE_NONE)};
    CFindNetworksDialog second(access, known, kChannels, 0, nullptr);
    auto s = rig.driver.BeginModal(second);
    rig.driver.AnswerNextMessageBox(IDOK);
    Platform::FailNextThreadCreations(1);
    s.Click(kRescan);
    EXPECT_EQ(s.Result(), IDCANCEL);
    EXPECT_EQ(access.closes, 2);
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(second.GetChosenNetwork(), nullptr);

    // A printer that cannot be opened has nothing to close.
    rig.dock->Unplug();
    rig.driver.AnswerNextMessageBox(IDOK);
    CFindNetworksDialog third(access, {}, kChannels, 0, nullptr);
    EXPECT_EQ(third.DoModal(), IDCANCEL);
    EXPECT_EQ(access.opens, 2);
    EXPECT_EQ(access.closes, 2);
}

}  // namespace
