// The search runs on the DNS-SD pump thread and reports by a posted message;
// the suite's name puts it among the ThreadSanitizer runs.
#include "SecondaryDialogsTestSupport.h"
#include "TestProgressDialog.h"
#include "WizardTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr int kPicture = 12042;

class ProgressDialogThreadTest : public ::testing::Test {
protected:
    // A stored profile for the rig's open access point: the dock joins it
    // after its delay on the machine's clock and announces itself.
    void StoreJoinableProfile() {
        auto profile = WizardTest::DockProfile(3, "Cafe");
        profile.wifi.ssid = "Cafe";
        profile.wifi.channel = 1;
        rig.dock->PutProfile(profile);
    }
    // The library runs one search at a time; any search answers for it.
    static bool AnySearchRunning() { return CPrinterSearch(0, 0, "").IsSearching(); }
    std::unique_ptr<CTestProgressDialog> MakeDialog(const std::string& guid) {
        return std::make_unique<CTestProgressDialog>(WizardTest::kVendorId, WizardTest::kProductId, guid, 0, nullptr);
    }

    WizardTest::Rig rig;
    SecondaryDialogsTest::ResourceScope resources;
};

TEST_F(ProgressDialogThreadTest, EndsWithOkWhenThePrinterIsFound) {
    StoreJoinableProfile();
    auto dialog = MakeDialog(rig.dock->Guid());
    auto s = rig.driver.BeginModal(*dialog);
    EXPECT_EQ(s.Caption(), CString(u"Searching the network..."));
    EXPECT_TRUE(s.Visible(kPicture));
    rig.driver.Advance(5s);
    ASSERT_TRUE(s.PumpUntil([&] { return !s.IsOpen(); }));
    EXPECT_EQ(s.Result(), IDOK);
}

TEST_F(ProgressDialogThreadTest, EndsWithCancelWhenNotFoundOrOnTheUsersCancel) {
    {
        // Nothing to find yet: only the user ends it.
        auto dialog = MakeDialog(rig.dock->Guid());
        auto s = rig.driver.BeginModal(*dialog);
        EXPECT_TRUE(AnySearchRunning());
        s.Click(IDCANCEL);
        EXPECT_EQ(s.Result(), IDCANCEL);
        EXPECT_FALSE(AnySearchRunning()) << "the search ends with the dialog, not with the object";
    }
    // Another printer's guid: the dock's announcement is not it.
    StoreJoinableProfile();
    auto dialog = MakeDialog("00000000-0000-0000-0000-000000000000");
    auto s = rig.driver.BeginModal(*dialog);
    rig.driver.Advance(29s);
    EXPECT_TRUE(s.IsOpen());
    rig.driver.Advance(1s);
    ASSERT_TRUE(s.PumpUntil([&] { return !s.IsOpen(); }));
    EXPECT_EQ(s.Result(), IDCANCEL);
}

TEST_F(ProgressDialogThreadTest, AReportRacingTheUsersCancelNeverReachesAGoneDialog) {
    StoreJoinableProfile();
    rig.driver.Advance(5s);
    ASSERT_TRUE(rig.dock->WaitForNetwork("Cafe", 5s));
    // The dock is announced already: each search finds it at once on the
    // pump thread while the user cancels and the dialog goes.
    for (int round = 0; round < 20; ++round) {
        auto dialog = MakeDialog(rig.dock->Guid());
        {
            auto s = rig.driver.BeginModal(*dialog);
            // The report may have been handled while the dialog opened; the
            // posted report and the click are taken on this thread only.
            if (s.IsOpen()) s.Click(IDCANCEL);
            ASSERT_TRUE(s.Result() == IDCANCEL || s.Result() == IDOK);
        }
        EXPECT_FALSE(AnySearchRunning());
        dialog.reset();
        rig.driver.PumpUntilIdle();
    }
    std::this_thread::sleep_for(20ms);
    rig.driver.PumpUntilIdle();
}

}  // namespace
