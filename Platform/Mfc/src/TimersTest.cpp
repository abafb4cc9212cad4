#include "TestDialogs.h"

#include <chrono>
#include <vector>

namespace {

using namespace std::chrono_literals;
using MfcTest::DialogFixture;
using MfcTest::TestDialog;

using Timers = DialogFixture;

std::vector<std::pair<char, DWORD>> g_log;
DWORD g_start = 0;

TEST_F(Timers, PeriodicTimersFireEveryPeriodInTimeOrderWhenTheClockJumps) {
    g_log.clear();
    g_start = GetTickCount();
    const UINT_PTR a =
        ::SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR, DWORD time) { g_log.emplace_back('a', time - g_start); });
    const UINT_PTR b =
        ::SetTimer(nullptr, 0, 500, [](HWND, UINT, UINT_PTR, DWORD time) { g_log.emplace_back('b', time - g_start); });
    ASSERT_NE(a, b);
    driver.Advance(1000ms);
    EXPECT_EQ(g_log,
              (std::vector<std::pair<char, DWORD>>{{'a', 300}, {'b', 500}, {'a', 600}, {'a', 900}, {'b', 1000}}));
    // Setting a thread timer again by its id changes it in place.
    EXPECT_EQ(::SetTimer(nullptr, a, 100, [](HWND, UINT, UINT_PTR, DWORD) { g_log.emplace_back('c', 0); }), a);
    g_log.clear();
    driver.Advance(250ms);
    EXPECT_EQ(g_log.size(), 2u);
    EXPECT_TRUE(::KillTimer(nullptr, a));
    EXPECT_TRUE(::KillTimer(nullptr, b));
    g_log.clear();
    driver.Advance(5000ms);
    EXPECT_TRUE(g_log.empty());
}

TEST_F(Timers, WindowTimersArriveAsWmTimerAndGoWithTheirWindow) {
    TestDialog dialog(101);
    std::vector<WPARAM> ids;
    dialog.MapMessage(WM_TIMER, [&](WPARAM id, LPARAM) -> LRESULT {
        ids.push_back(id);
        return 0;
    });
    ASSERT_TRUE(dialog.Create(101));
    dialog.SetTimer(777, 2000);
    driver.Advance(1999ms);
    EXPECT_TRUE(ids.empty());
    driver.Advance(1ms);
    EXPECT_EQ(ids, std::vector<WPARAM>{777});
    const HWND window = dialog.m_hWnd;
    dialog.DestroyWindow();
    EXPECT_FALSE(::KillTimer(window, 777)) << "the window's timers went with it";
    EXPECT_EQ(::SetTimer(window, 1, 10, nullptr), 0u);
}

TEST_F(Timers, AThreadTimerFiresInsideAModalLoopAndCanEndIt) {
    // The pattern of a 30-second search shown in a modal dialog.
    static HWND s_dialog;
    TestDialog dialog(101);
    dialog.onInit = [&] {
        s_dialog = dialog.m_hWnd;
        ::SetTimer(nullptr, 0, 30000, [](HWND, UINT, UINT_PTR id, DWORD) {
            ::KillTimer(nullptr, id);
            ::EndDialog(s_dialog, 9);
        });
    };
    driver.OnNextModal([](Mfc::ModalSession& s) {
        s.Advance(29999ms);
        EXPECT_TRUE(s.IsOpen());
        s.Advance(1ms);
        EXPECT_FALSE(s.IsOpen());
    });
    EXPECT_EQ(dialog.DoModal(), 9);
}

TEST_F(Timers, WithoutADriverAModalLoopWaitsOnTheClockForItsTimers) {
    // A front end that leaves every idle turn to the loop (with no hook at
    // all the terminal front end would start): the machine's clock jumps to
    // the timer's deadline when nothing else happens.
    struct Waiting : Mfc::ModalLoopHook {
        bool OnModalIdle(HWND, int) override { return false; }
    } waiting;
    Mfc::ModalLoopHook* hook = Mfc::SetModalLoopHook(&waiting);
    auto clock = std::make_shared<Platform::ManualClock>(true);
    Platform::SetClock(clock);
    static HWND s_dialog;
    TestDialog dialog(101);
    dialog.onInit = [&] {
        s_dialog = dialog.m_hWnd;
        dialog.SetTimer(1, 60000, [](HWND, UINT, UINT_PTR, DWORD) { ::EndDialog(s_dialog, 3); });
    };
    const auto before = clock->Now();
    EXPECT_EQ(dialog.DoModal(), 3);
    EXPECT_GE(clock->Now() - before, 60000ms);
    Platform::SetClock(driver.Clock());
    Mfc::SetModalLoopHook(hook);
}

}  // namespace
