#include "Platform/Clock.h"
#include "Platform/Kernel.h"

#include <gtest/gtest.h>

#include <thread>

using namespace Platform;

TEST(Kernel, ClosedAndForgedHandlesFailSafely) {
    const auto before = OpenHandleCount();
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(OpenHandleCount(), before + 1);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(OpenHandleCount(), before);
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x7)));
}

TEST(Kernel, AutoResetEventReleasesOneWaitManualResetStaysSignaled) {
    HANDLE autoEvent = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);

    HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    CloseHandle(autoEvent);
    CloseHandle(manual);
}

TEST(Kernel, NamedEventIsSharedAndReportsAlreadyExists) {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, u"Test!Named");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, u"Test!Named");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
}

TEST(Kernel, InfiniteWaitBlocksUntilSignaledFromAnotherThread) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

TEST(Clock, ManualClockRunsLongTimeoutsAtOnce) {
    auto clock = std::make_shared<ManualClock>();
    ScopedClock scope(clock);
    const DWORD start = GetTickCount();
    Sleep(5000);
    EXPECT_EQ(GetTickCount() - start, 5000u);

    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const auto realStart = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 30000), WAIT_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::seconds(5));
    EXPECT_GE(GetTickCount() - start, 35000u);
    CloseHandle(event);
}
