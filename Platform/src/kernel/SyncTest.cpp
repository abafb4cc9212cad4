#include "Platform/Clock.h"
#include "Platform/Kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Platform::ManualClock;
using Platform::Milliseconds;
using Platform::ScopedClock;

TEST(Semaphore, TimedWaitTakesCountsAndTimesOutOnTheClock) {
    auto clock = std::make_shared<ManualClock>();
    ScopedClock scoped(clock);
    HANDLE semaphore = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    ASSERT_NE(semaphore, nullptr);
    EXPECT_EQ(WaitForSingleObject(semaphore, 5000), WAIT_OBJECT_0);
    const auto before = clock->Now();
    EXPECT_EQ(WaitForSingleObject(semaphore, 5000), WAIT_TIMEOUT);
    EXPECT_EQ(clock->Now() - before, Milliseconds(5000));

    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);

    EXPECT_EQ(CreateSemaphoreW(nullptr, 2, 1, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(PulseEvent, OnlyAWaiterAlreadyWaitingSeesIt) {
    auto clock = std::make_shared<ManualClock>(false);
    ScopedClock scoped(clock);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Nobody waits: the pulse is lost and the event stays unsignalled.
    EXPECT_TRUE(PulseEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);

    HANDLE autoReset = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_FALSE(PulseEvent(autoReset));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(autoReset);
}

TEST(ThreadPulseEvent, ReleasesTheThreadsWaitingAndLeavesTheEventUnsignalled) {
    auto clock = std::make_shared<ManualClock>(false);
    ScopedClock scoped(clock);
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ResetEvent(event);
    std::atomic<int> waiting{0};
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            ++waiting;
            if (WaitForSingleObject(event, 60000) == WAIT_OBJECT_0) ++released;
        });
    }
    while (waiting < 3) std::this_thread::yield();
    // Give the waiters time to enter the wait proper.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(PulseEvent(event));
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(released, 3);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(ThreadSemaphore, ReleaseFromAnotherThreadEndsTheWait) {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ReleaseSemaphore(semaphore, 1, nullptr);
    });
    EXPECT_EQ(WaitForSingleObject(semaphore, INFINITE), WAIT_OBJECT_0);
    releaser.join();
    CloseHandle(semaphore);
}

TEST(ThreadCriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        EXPECT_FALSE(TryEnterCriticalSection(&section));
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    LeaveCriticalSection(&section);
    EXPECT_FALSE(entered);
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_TRUE(entered);
    DeleteCriticalSection(&section);
}

}  // namespace
