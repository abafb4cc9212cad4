// Worker threads started the way dialogs start them, over the kernel's
// CreateThread. Every thread starts held at a gate, so that the object is
// complete (handle, id, auto-delete choice) before the procedure runs.
#include "Mfc/AfxWin.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>

struct CWinThread::Start {
    std::mutex mutex;
    std::condition_variable opened;
    bool running = false;
    bool abandoned = false;  // deleted before it ever ran
    bool autoDelete = true;  // the object's choice when it was resumed
    AFX_THREADPROC proc = nullptr;
    LPVOID param = nullptr;
    CWinThread* object = nullptr;
};

CWinThread::CWinThread(AFX_THREADPROC proc, LPVOID param) : start_(std::make_shared<Start>()) {
    start_->proc = proc;
    start_->param = param;
    start_->object = this;
}

CWinThread::~CWinThread() {
    {
        // A thread that was never resumed ends without running.
        std::lock_guard lock(start_->mutex);
        if (!start_->running) {
            start_->abandoned = true;
            start_->opened.notify_all();
        }
    }
    if (m_hThread != nullptr) CloseHandle(m_hThread);
}

DWORD CWinThread::ResumeThread() {
    std::lock_guard lock(start_->mutex);
    if (start_->running) return 0;
    start_->running = true;
    start_->autoDelete = m_bAutoDelete != FALSE;
    start_->opened.notify_all();
    return 1;
}

DWORD CWinThread::Run(LPVOID ticket) {
    // The thread's own reference to the start record, which outlives the
    // object: past the gate the thread touches the object only to delete
    // it, and only when it was left to delete itself. An owner that keeps
    // the object may delete it at any time.
    const std::shared_ptr<Start> start =
        *std::unique_ptr<std::shared_ptr<Start>>(static_cast<std::shared_ptr<Start>*>(ticket));
    bool autoDelete;
    {
        std::unique_lock lock(start->mutex);
        start->opened.wait(lock, [&] { return start->running || start->abandoned; });
        if (start->abandoned) return 0;
        autoDelete = start->autoDelete;
    }
    std::unique_ptr<CWinThread> owned(autoDelete ? start->object : nullptr);
    try {
        return start->proc(start->param);
    } catch (...) {
        // Nothing above could handle it; the object is still deleted.
        std::fputs("worker thread procedure ended by an exception\n", stderr);
        return 0xE0000001u;
    }
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int, UINT, DWORD flags, void*) {
    if (proc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::unique_ptr<CWinThread> thread(new CWinThread(proc, param));
    auto ticket = std::make_unique<std::shared_ptr<CWinThread::Start>>(thread->start_);
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, 0, &CWinThread::Run, ticket.get(), 0, &id);
    if (handle == nullptr) return nullptr;
    ticket.release();  // the thread's now
    thread->m_hThread = handle;
    thread->m_nThreadID = id;
    // From here the thread owns the object unless its owner keeps it.
    CWinThread* started = thread.release();
    if ((flags & CREATE_SUSPENDED) == 0) started->ResumeThread();
    return started;
}
