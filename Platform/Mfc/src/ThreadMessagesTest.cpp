// Messages and timers across threads. The suites' names start with
// "Thread" so that CI runs them under ThreadSanitizer.
#include "TestDialogs.h"

#include <atomic>
#include <chrono>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using MfcTest::TestDialog;

class ThreadPost : public ::testing::Test {
protected:
    Platform::ResourceRegistration registration_ =
        Platform::RegisterMainResources(Platform::ParseResourceText(MfcTest::kTestResources, "test"));
    Mfc::TestDriver driver{Mfc::GTestFailures()};
};

// While workers flood the queue it never becomes idle: pump a bounded
// number of messages at a time.
void PumpSome(int count) {
    for (int i = 0; i < count && Mfc::PumpMessage(); ++i) {
    }
}

TEST_F(ThreadPost, WorkersPostingToADialogBeingDestroyedAreDroppedSafely) {
    for (int round = 0; round < 10; ++round) {
        auto dialog = std::make_unique<TestDialog>(101);
        std::atomic<int> handled{0};
        dialog->MapMessage(WM_USER + 150, [&](WPARAM, LPARAM) -> LRESULT {
            ++handled;
            return 0;
        });
        ASSERT_TRUE(dialog->Create(101));
        const HWND window = dialog->m_hWnd;

        std::atomic<bool> stop{false};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&] {
                while (!stop.load()) {
                    if (!::PostMessageW(window, WM_USER + 150, 0, 0)) std::this_thread::yield();
                }
            });
        }
        const auto start = std::chrono::steady_clock::now();
        while (handled.load() <= 50 && std::chrono::steady_clock::now() - start < 10s) {
            Mfc::WaitForPostedMessage(1);
            PumpSome(1000);
        }
        ASSERT_GT(handled.load(), 50);
        // Destroyed, and the object deleted, while the workers go on posting.
        dialog->DestroyWindow();
        const int atDestroy = handled.load();
        dialog.reset();

        // A new window may take the old one's slot in the handle table; the
        // old handle must not reach it.
        TestDialog next(101);
        int nextHandled = 0;
        next.MapMessage(WM_USER + 150, [&](WPARAM, LPARAM) -> LRESULT {
            ++nextHandled;
            return 0;
        });
        ASSERT_TRUE(next.Create(101));
        for (int i = 0; i < 20; ++i) {
            Mfc::WaitForPostedMessage(1);
            PumpSome(5000);
        }
        stop = true;
        for (auto& worker : workers) worker.join();
        driver.PumpUntilIdle();

        EXPECT_EQ(handled.load(), atDestroy) << "nothing reaches a destroyed window";
        EXPECT_EQ(nextHandled, 0);
        EXPECT_FALSE(::PostMessageW(window, WM_USER + 150, 0, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    }
}

TEST_F(ThreadPost, EachSendersMessagesArriveInOrder) {
    constexpr int kSenders = 3;
    constexpr int kEach = 2000;
    TestDialog dialog(101);
    int last[kSenders] = {-1, -1, -1};
    int total = 0;
    bool ordered = true;
    dialog.MapMessage(WM_USER + 1, [&](WPARAM sender, LPARAM sequence) -> LRESULT {
        ordered = ordered && sequence == last[sender] + 1;
        last[sender] = static_cast<int>(sequence);
        ++total;
        return 0;
    });
    ASSERT_TRUE(dialog.Create(101));
    const HWND window = dialog.m_hWnd;
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([window, s] {
            for (int i = 0; i < kEach; ++i) {
                while (!::PostMessageW(window, WM_USER + 1, static_cast<WPARAM>(s), i)) std::this_thread::yield();
            }
        });
    }
    EXPECT_TRUE(driver.PumpUntil([&] { return total == kSenders * kEach; }, 30s));
    for (auto& sender : senders) sender.join();
    EXPECT_TRUE(ordered);
    dialog.DestroyWindow();
}

TEST_F(ThreadPost, AWindowWhoseThreadHasEndedTakesNoMessages) {
    HWND orphan = nullptr;
    std::thread([&] {
        orphan = CreateWindowExW(0, u"Window", u"worker's", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ::PostMessageW(orphan, WM_USER, 0, 0);
    }).join();
    ASSERT_NE(orphan, nullptr);
    EXPECT_FALSE(::PostMessageW(orphan, WM_USER, 0, 0));
    EXPECT_FALSE(::DestroyWindow(orphan)) << "only the owner thread may destroy a window";
    EXPECT_EQ(GetLastError(), ERROR_WINDOW_OF_OTHER_THREAD);
    EXPECT_EQ(::SendMessageW(orphan, WM_GETTEXTLENGTH, 0, 0), 0);
}

std::atomic<int> g_fired{0};

class ThreadTimers : public ThreadPost {};

TEST_F(ThreadTimers, ThreadAndWindowTimersKilledFromAnotherThreadNeverFireAgain) {
    g_fired = 0;
    const UINT_PTR id = ::SetTimer(nullptr, 0, 1000, [](HWND, UINT, UINT_PTR, DWORD) { ++g_fired; });
    ASSERT_NE(id, 0u);
    driver.Advance(1000ms);
    EXPECT_EQ(g_fired.load(), 1);
    BOOL killed = FALSE;
    std::thread([&] { killed = ::KillTimer(nullptr, id); }).join();
    EXPECT_TRUE(killed);
    driver.Advance(5000ms);
    EXPECT_EQ(g_fired.load(), 1);
    EXPECT_FALSE(::KillTimer(nullptr, id)) << "a timer is killed once";

    TestDialog dialog(101);
    int ticks = 0;
    dialog.MapMessage(WM_TIMER, [&](WPARAM timer, LPARAM) -> LRESULT {
        ticks += timer == 7 ? 1 : 100;
        return 0;
    });
    ASSERT_TRUE(dialog.Create(101));
    EXPECT_EQ(dialog.SetTimer(7, 500), 7u);
    driver.Advance(500ms);
    EXPECT_EQ(ticks, 1);
    std::thread([&] { killed = ::KillTimer(dialog.m_hWnd, 7); }).join();
    EXPECT_TRUE(killed);
    driver.Advance(2000ms);
    EXPECT_EQ(ticks, 1);
    dialog.DestroyWindow();
}

std::atomic<int> g_calls{0};
std::atomic<int> g_lateCalls{0};
std::atomic<int> g_pumpsSinceKill{0};

TEST_F(ThreadTimers, AKillRacingWithTheFiringStopsTheTimerFromTheNextPumpOn) {
    for (int round = 0; round < 20; ++round) {
        g_calls = 0;
        g_lateCalls = 0;
        g_pumpsSinceKill = 0;
        const UINT_PTR id = ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
            ++g_calls;
            if (g_pumpsSinceKill.load() > 0) ++g_lateCalls;
        });
        std::atomic<bool> killReturned{false};
        std::thread killer([&] {
            while (g_calls.load() < 3 + round % 5) std::this_thread::yield();
            EXPECT_TRUE(::KillTimer(nullptr, id));
            killReturned = true;
        });
        const auto start = std::chrono::steady_clock::now();
        while (g_pumpsSinceKill.load() < 5 && std::chrono::steady_clock::now() - start < 10s) {
            // The kill is seen before this pump starts: no firing may follow.
            if (killReturned.load()) ++g_pumpsSinceKill;
            driver.Advance(10ms);
        }
        killer.join();
        EXPECT_EQ(g_lateCalls.load(), 0);
        EXPECT_GE(g_pumpsSinceKill.load(), 5);
    }
}

std::atomic<int> g_underWay{0};
std::atomic<bool> g_killing{false};
std::atomic<bool> g_killed{false};
std::atomic<int> g_callsAfterKill{0};

TEST_F(ThreadTimers, AKillFromAnotherThreadReturnsOnlyOnceTheCallUnderWayHasEnded) {
    for (int round = 0; round < 10; ++round) {
        g_underWay = 0;
        g_killing = false;
        g_killed = false;
        g_callsAfterKill = 0;
        const UINT_PTR id = ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
            if (g_killed.load()) ++g_callsAfterKill;
            ++g_underWay;
            // The kill comes while this call is under way.
            while (!g_killing.load()) std::this_thread::yield();
            std::this_thread::sleep_for(2ms);
            --g_underWay;
        });
        int underWayAtReturn = -1;
        std::thread killer([&] {
            while (g_underWay.load() == 0) std::this_thread::yield();
            g_killing = true;
            EXPECT_TRUE(::KillTimer(nullptr, id));
            underWayAtReturn = g_underWay.load();
            g_killed = true;
        });
        const auto start = std::chrono::steady_clock::now();
        while (!g_killed.load() && std::chrono::steady_clock::now() - start < 10s) driver.Advance(10ms);
        killer.join();
        for (int i = 0; i < 5; ++i) driver.Advance(10ms);
        EXPECT_EQ(underWayAtReturn, 0) << "round " << round;
        EXPECT_EQ(g_callsAfterKill.load(), 0) << "round " << round;
    }
}

class ThreadModuleState : public ::testing::Test {};

TEST_F(ThreadModuleState, EachThreadLooksUpResourcesUnderItsOwnState) {
    Platform::ResourceTable program;
    program.strings[1] = u"program";
    auto registration = Platform::RegisterMainResources(program);
    Platform::ResourceTable libraryTable;
    libraryTable.strings[1] = u"library";
    AFX_MODULE_STATE library(u"MfcThreadLibrary.dll", libraryTable);

    std::latch switched(1), checked(1);
    CString seenOnWorker;
    std::thread worker([&] {
        AFX_MANAGE_STATE(&library);
        switched.count_down();
        checked.wait();
        seenOnWorker.LoadString(1);
    });
    switched.wait();
    CString seenHere;
    seenHere.LoadString(1);
    EXPECT_EQ(seenHere, u"program");
    EXPECT_EQ(AfxGetModuleState(), AfxGetAppModuleState());
    checked.count_down();
    worker.join();
    EXPECT_EQ(seenOnWorker, u"library");
}

}  // namespace
