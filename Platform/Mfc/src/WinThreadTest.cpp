#include "Mfc/AfxWin.h"

#include "Platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

namespace {

// What one run of the procedure saw; the test waits on `done`.
struct Probe {
    explicit Probe(bool held = false) {
        if (!held) Release();
    }
    ~Probe() { CloseHandle(done); }
    void Release() { gate.set_value(); }

    std::atomic<int> runs{0};
    std::atomic<DWORD> thread{0};
    // An event rather than a promise: the procedure may still be inside the
    // signalling call when the test ends.
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::promise<void> gate;
    std::shared_future<void> release = gate.get_future().share();
};

UINT Procedure(LPVOID param) {
    auto* probe = static_cast<Probe*>(param);
    probe->release.wait();
    probe->thread = GetCurrentThreadId();
    ++probe->runs;
    SetEvent(probe->done);
    return 42;
}

bool Finished(Probe& probe, DWORD milliseconds = 10000) {
    return WaitForSingleObject(probe.done, milliseconds) == WAIT_OBJECT_0;
}

TEST(WinThreadTest, RunsTheProcedureOnAThreadOfItsOwnAndDeletesItself) {
    Probe probe;
    ASSERT_NE(AfxBeginThread(&Procedure, &probe), nullptr);
    ASSERT_TRUE(Finished(probe));
    EXPECT_EQ(probe.runs, 1);
    EXPECT_NE(probe.thread, GetCurrentThreadId());
    // The object is gone with the thread: the leak checker of the sanitizer
    // build would report it otherwise.
}

TEST(WinThreadTest, AKeptThreadWaitsForResumeAndItsHandleOutlivesTheProcedure) {
    Probe probe;
    std::unique_ptr<CWinThread> thread(AfxBeginThread(&Procedure, &probe, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    EXPECT_NE(thread->m_nThreadID, 0u);
    EXPECT_EQ(WaitForSingleObject(thread->m_hThread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(probe.runs, 0) << "a suspended thread does not run";

    EXPECT_EQ(thread->ResumeThread(), 1u);
    EXPECT_EQ(thread->ResumeThread(), 0u);
    EXPECT_EQ(WaitForSingleObject(*thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread->m_hThread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(probe.runs, 1);
    EXPECT_EQ(probe.thread, thread->m_nThreadID);
}

TEST(WinThreadTest, AnOwnerMayDeleteAKeptThreadWhileItsProcedureRuns) {
    Probe probe(true);
    auto* thread = AfxBeginThread(&Procedure, &probe, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    delete thread;
    probe.Release();
    ASSERT_TRUE(Finished(probe));
    EXPECT_EQ(probe.runs, 1);
}

TEST(WinThreadTest, AThreadDeletedBeforeItWasResumedNeverRuns) {
    Probe probe;
    auto* thread = AfxBeginThread(&Procedure, &probe, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    delete thread;
    EXPECT_FALSE(Finished(probe, 100));
    EXPECT_EQ(probe.runs, 0);
}

TEST(WinThreadTest, AFailedStartReturnsNullWithTheError) {
    Probe probe;
    Platform::FailNextThreadCreations(1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(AfxBeginThread(&Procedure, &probe), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(AfxBeginThread(nullptr, &probe), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
