#include "Tessary/threadSafe/Win32Thread.h"

#include "Platform/Kernel.h"
#include "Platform/Thread.h"
#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <thread>

namespace {

using Tessary::Win32Thread;

// A task that holds until released.
class HeldTask : public Tessary::Task {
public:
    void Run() override {
        started.count_down();
        release.wait();
    }
    std::latch started{1};
    std::latch release{1};
};

class CountingLoop : public Tessary::CancellableTask {
public:
    void Run() override {
        while (!IsCancelled()) {
            ++turns;
            Sleep(1);
        }
    }
    std::atomic<int> turns{0};
};

class ThrowingTask : public Tessary::Task {
public:
    void Run() override { TS_THROW(Tessary::TSRuntimeError, "task failed"); }
};

// Polls in real time; a task that never finishes fails the test instead of
// hanging it.
bool FinishesSoon(const Tessary::Task& task) {
    for (int i = 0; i < 1000 && !task.IsFinished(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return task.IsFinished();
}

TEST(ThreadTask, FinishedFlagFollowsExecuteEvenWhenRunThrows) {
    ThrowingTask task;
    EXPECT_FALSE(task.IsFinished());
    EXPECT_THROW(task.Execute(), Tessary::TSRuntimeError);
    EXPECT_TRUE(task.IsFinished());
}

TEST(ThreadTask, CancellableLoopEndsAfterSetCancelled) {
    CountingLoop loop;
    Win32Thread thread(&loop);
    thread.Start();
    EXPECT_EQ(thread.Wait(0), 1);
    EXPECT_TRUE(thread.IsRunning());
    loop.SetCancelled(true);
    EXPECT_TRUE(loop.IsCancelled());
    EXPECT_EQ(thread.Wait(INFINITE), 0);
    EXPECT_TRUE(loop.IsFinished());
    EXPECT_FALSE(thread.IsRunning());
}

TEST(ThreadWin32, NeverStartedThreadIsNotRunningAndWaitsAtOnce) {
    HeldTask task;
    Win32Thread thread(&task);
    EXPECT_EQ(thread.Wait(INFINITE), 0);
    EXPECT_EQ(thread.Wait(0), 0);
    EXPECT_FALSE(thread.IsRunning());
    thread.Terminate();
    EXPECT_FALSE(task.IsFinished());
}

TEST(ThreadWin32, WaitTimesOutWhileTheTaskRunsAndEndsAfterIt) {
    HeldTask task;
    Win32Thread thread(&task);
    thread.Start();
    task.started.wait();
    EXPECT_EQ(thread.Wait(0), 1);
    EXPECT_EQ(thread.Wait(20), 1);
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_FALSE(task.IsFinished());

    // Cannot be stopped from outside: it runs on until released.
    thread.Terminate();
    EXPECT_TRUE(thread.IsRunning());

    task.release.count_down();
    EXPECT_EQ(thread.Wait(INFINITE), 0);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_TRUE(task.IsFinished());
}

TEST(ThreadWin32, DestroyingARunningThreadNeitherBlocksNorStopsTheTask) {
    const auto handles = Platform::OpenHandleCount();
    HeldTask task;
    {
        Win32Thread thread(&task);
        thread.Start();
        task.started.wait();
    }
    EXPECT_EQ(Platform::OpenHandleCount(), handles);
    EXPECT_FALSE(task.IsFinished());
    task.release.count_down();
    EXPECT_TRUE(FinishesSoon(task));
}

TEST(ThreadWin32, SecondStartThrowsAndKeepsTheFirstThread) {
    HeldTask task;
    Win32Thread thread(&task);
    thread.Start();
    const auto handles = Platform::OpenHandleCount();
    EXPECT_THROW(thread.Start(), Tessary::TSLogicError);
    EXPECT_EQ(Platform::OpenHandleCount(), handles);
    EXPECT_EQ(thread.Wait(0), 1);
    task.release.count_down();
    EXPECT_EQ(thread.Wait(INFINITE), 0);
    EXPECT_TRUE(task.IsFinished());
    // Still the same thread, which has ended: no restart.
    EXPECT_THROW(thread.Start(), Tessary::TSLogicError);
}

TEST(ThreadWin32, ThreadThatFailedToStartBehavesAsNeverStarted) {
    const auto handles = Platform::OpenHandleCount();
    HeldTask task;
    Win32Thread thread(&task);
    Platform::FailNextThreadCreations(1);
    thread.Start();
    EXPECT_EQ(Platform::OpenHandleCount(), handles);
    EXPECT_EQ(thread.Wait(INFINITE), 0);
    EXPECT_FALSE(thread.IsRunning());
    thread.Terminate();

    // Never started, so it may be started now.
    thread.Start();
    task.started.wait();
    EXPECT_TRUE(thread.IsRunning());
    task.release.count_down();
    EXPECT_EQ(thread.Wait(INFINITE), 0);
}

TEST(ThreadWin32, TaskThatThrowsEndsItsThreadAndIsFinished) {
    ThrowingTask task;
    Win32Thread thread(&task);
    thread.Start();
    EXPECT_EQ(thread.Wait(INFINITE), 0);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_TRUE(task.IsFinished());
}

TEST(ThreadWin32, StartWithoutATaskIsRefused) {
    Win32Thread thread(nullptr);
    EXPECT_THROW(thread.Start(), Tessary::TSInvalidArgument);
    EXPECT_EQ(thread.Wait(0), 0);
}

}  // namespace
