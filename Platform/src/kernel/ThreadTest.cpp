#include "Platform/Kernel.h"
#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

// A start routine that holds until its gate opens, then reports back.
struct Held {
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> seenId{0};
    DWORD result = 42;
    ~Held() {
        CloseHandle(gate);
        CloseHandle(done);
    }
    static DWORD Routine(LPVOID parameter) {
        auto* self = static_cast<Held*>(parameter);
        self->seenId = GetCurrentThreadId();
        WaitForSingleObject(self->gate, INFINITE);
        // The owner may be gone once done is set.
        const DWORD result = self->result;
        SetEvent(self->done);
        return result;
    }
};

TEST(ThreadPlatform, HandleSignalsWhenRoutineReturnsAndKeepsExitCode) {
    Held held;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Held::Routine, &held, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);

    SetEvent(held.gate);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    // A thread stays signalled: waiting again does not block.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(held.seenId.load(), id);
    EXPECT_NE(GetCurrentThreadId(), id);
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(ThreadPlatform, ClosingTheHandleOfARunningThreadLeavesItRunning) {
    const auto before = Platform::OpenHandleCount();
    {
        Held held;
        HANDLE thread = CreateThread(nullptr, 0, Held::Routine, &held, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        EXPECT_TRUE(CloseHandle(thread));
        DWORD code = 0;
        EXPECT_FALSE(GetExitCodeThread(thread, &code));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

        SetEvent(held.gate);
        EXPECT_EQ(WaitForSingleObject(held.done, INFINITE), WAIT_OBJECT_0);
    }
    EXPECT_EQ(Platform::OpenHandleCount(), before);
}

TEST(ThreadPlatform, TerminateIsRefusedAndTheThreadRunsOn) {
    Held held;
    HANDLE thread = CreateThread(nullptr, 0, Held::Routine, &held, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(TerminateThread(thread, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    SetEvent(held.gate);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    CloseHandle(thread);

    EXPECT_FALSE(TerminateThread(thread, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ThreadPlatform, ThreadThatCannotStartRunsNothingAndHoldsNoHandle) {
    std::atomic<int> runs{0};
    auto routine = [](LPVOID p) -> DWORD {
        ++*static_cast<std::atomic<int>*>(p);
        return 0;
    };
    const auto before = Platform::OpenHandleCount();

    Platform::FailNextThreadCreations(1, ERROR_NOT_ENOUGH_MEMORY);
    DWORD id = 77;
    EXPECT_EQ(CreateThread(nullptr, 0, routine, &runs, 0, &id), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(CreateThread(nullptr, 0, routine, &runs, 4 /* suspended */, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Platform::OpenHandleCount(), before);

    // Only the one creation failed.
    HANDLE thread = CreateThread(nullptr, 0, routine, &runs, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(runs.load(), 1);
    CloseHandle(thread);
}

TEST(ThreadPlatform, ExceptionFromStartRoutineEndsOnlyItsThread) {
    auto routine = [](LPVOID) -> DWORD { throw std::runtime_error("boom"); };
    HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_NE(code, STILL_ACTIVE);
    EXPECT_NE(code, 0u);
    CloseHandle(thread);
}

}  // namespace
