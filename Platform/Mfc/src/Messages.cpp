// Message queues per thread, posting, timers on the machine's clock, the
// dialog manager's keys and the pumping helpers.
#include "Internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>

namespace Mfc::detail {
namespace {

// Win32 refuses posts beyond this many queued messages; so do we, so that a
// runaway worker cannot exhaust memory.
constexpr std::size_t kQueueLimit = 10000;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
constexpr UINT kMinimumElapse = 10;

struct Registry {
    std::mutex mutex;
    std::map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    std::atomic<UINT_PTR> nextTimerId{0x7FFF};
};

// Never destroyed: threads may post and kill timers while the process exits.
Registry& Queues() {
    static auto* registry = new Registry;
    return *registry;
}

// Set once the thread's state is gone: windows destroyed by static
// destructors after that find a stand-in state and a closed queue.
thread_local bool t_threadEnded = false;

struct ThreadHolder {
    std::shared_ptr<ThreadQueue> queue;
    ThreadState state;
    ~ThreadHolder() {
        t_threadEnded = true;
        if (!queue) return;
        {
            std::lock_guard lock(queue->mutex);
            queue->alive = false;
            queue->posted.clear();
            queue->timers.clear();
        }
        auto& registry = Queues();
        std::lock_guard lock(registry.mutex);
        auto it = registry.queues.find(queue->thread);
        if (it != registry.queues.end() && it->second == queue) registry.queues.erase(it);
    }
};

thread_local ThreadHolder t_thread;

std::atomic<std::uint64_t> g_cursor{0};

bool Matches(const MSG& msg, HWND filter, UINT first, UINT last) {
    if (filter == reinterpret_cast<HWND>(-1)) {
        if (msg.hwnd != nullptr) return false;
    } else if (filter != nullptr && msg.hwnd != filter && !IsChild(filter, msg.hwnd)) {
        return false;
    }
    return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
}

// A timer's call, counted from the check that the timer still lives to the
// procedure's return: KillTimer from another thread waits for it, so once
// the kill has returned no call of that timer is under way or can begin.
class TimerCall {
public:
    TimerCall(std::shared_ptr<ThreadQueue> queue, HWND window, UINT_PTR id)
        : queue_(std::move(queue)), key_(window, id) {
        std::lock_guard lock(queue_->mutex);
        live_ = std::any_of(queue_->timers.begin(), queue_->timers.end(),
                            [&](const Timer& t) { return t.window == window && t.id == id; });
        if (live_) queue_->timerCalls.push_back(key_);
    }
    ~TimerCall() {
        if (!live_) return;
        {
            std::lock_guard lock(queue_->mutex);
            auto& calls = queue_->timerCalls;
            calls.erase(std::find(calls.begin(), calls.end(), key_));
        }
        queue_->timerCallEnded.notify_all();
    }
    TimerCall(const TimerCall&) = delete;
    TimerCall& operator=(const TimerCall&) = delete;
    bool Live() const { return live_; }

private:
    std::shared_ptr<ThreadQueue> queue_;
    std::pair<HWND, UINT_PTR> key_;
    bool live_ = false;
};

bool PaintMatches(HWND window, HWND filter) {
    return filter == nullptr || window == filter || IsChild(filter, window);
}

// The innermost dialog around `window` that handles its own dialog keys.
HWND DialogAround(HWND window) {
    for (HWND h = window; h != nullptr;) {
        auto w = FindWindowRecord(h);
        if (!w) return nullptr;
        if (w->kind == Kind::Dialog && !w->dialogKeysToParent) return h;
        if ((w->style & WS_CHILD) == 0) return nullptr;
        h = w->parent;
    }
    return nullptr;
}

HWND FindDescendant(HWND parent, UINT id) {
    auto window = FindWindowRecord(parent);
    if (!window) return nullptr;
    for (const auto& child : Children(*window)) {
        if (child->id == id && child->kind != Kind::Dialog) return child->handle;
    }
    for (const auto& child : Children(*window)) {
        if (child->kind == Kind::Dialog) {
            if (HWND found = FindDescendant(child->handle, id)) return found;
        }
    }
    return nullptr;
}

bool IsPushButton(HWND window) {
    auto w = FindWindowRecord(window);
    if (!w || w->kind != Kind::Button) return false;
    const DWORD type = w->style & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

}  // namespace

ThreadState& State() {
    if (t_threadEnded) {
        static auto* late = new ThreadState;
        return *late;
    }
    return t_thread.state;
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
    if (t_threadEnded) {
        static auto* closed = new std::shared_ptr<ThreadQueue>([] {
            auto queue = std::make_shared<ThreadQueue>();
            queue->alive = false;
            return queue;
        }());
        return *closed;
    }
    if (!t_thread.queue) {
        auto queue = std::make_shared<ThreadQueue>();
        queue->thread = GetCurrentThreadId();
        auto& registry = Queues();
        std::lock_guard lock(registry.mutex);
        registry.queues[queue->thread] = queue;
        t_thread.queue = std::move(queue);
    }
    return t_thread.queue;
}

bool NextTimerDue(Platform::Milliseconds& due) {
    auto queue = CurrentQueue();
    std::lock_guard lock(queue->mutex);
    if (queue->timers.empty()) return false;
    due = queue->timers.front().due;
    for (const auto& timer : queue->timers) due = std::min(due, timer.due);
    return true;
}

POINT CursorPosition() {
    const auto packed = g_cursor.load();
    return POINT{static_cast<LONG>(static_cast<std::int32_t>(packed >> 32)),
                 static_cast<LONG>(static_cast<std::int32_t>(packed & 0xFFFFFFFFu))};
}

void SetCursorPosition(POINT screen) {
    g_cursor.store((static_cast<std::uint64_t>(static_cast<std::uint32_t>(screen.x)) << 32) |
                   static_cast<std::uint32_t>(screen.y));
}

void RecordInput(const MSG& msg) {
    auto& state = State();
    state.messagePos = msg.pt;
    state.messageTime = msg.time;
    SetCursorPosition(msg.pt);
}

bool HandleDialogKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || (msg.wParam != VK_RETURN && msg.wParam != VK_ESCAPE)) return false;
    const HWND dialog = DialogAround(msg.hwnd);
    if (dialog == nullptr) return false;
    UINT id = IDCANCEL;
    HWND button = nullptr;
    if (msg.wParam == VK_RETURN) {
        if (msg.hwnd != dialog && IsPushButton(msg.hwnd)) {
            button = msg.hwnd;
            id = static_cast<UINT>(GetDlgCtrlID(button));
        } else {
            const LRESULT defId = CallWindow(dialog, DM_GETDEFID, 0, 0);
            id = HIWORD(static_cast<DWORD_PTR>(defId)) == DC_HASDEFID ? LOWORD(static_cast<DWORD_PTR>(defId)) : IDOK;
            button = FindDescendant(dialog, id);
        }
    } else {
        button = FindDescendant(dialog, IDCANCEL);
    }
    if (button != nullptr && !IsWindowReachable(button)) {
        MessageBeep(0);
        return true;
    }
    CallWindow(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return true;
}

}  // namespace Mfc::detail

using namespace Mfc::detail;

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadQueue> queue;
    if (window == nullptr) {
        queue = CurrentQueue();
    } else {
        auto record = FindWindowRecord(window);
        if (!record) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        queue = record->queue;
    }
    const MSG msg{window, message, wParam, lParam, GetTickCount(), CursorPosition()};
    {
        std::lock_guard lock(queue->mutex);
        if (!queue->alive) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (queue->posted.size() >= kQueueLimit) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        queue->posted.push_back(msg);
    }
    queue->signal.notify_all();
    return TRUE;
}

BOOL PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    if (msg == nullptr) return FALSE;
    auto allows = [&](UINT message) { return (first == 0 && last == 0) || (message >= first && message <= last); };
    auto queue = CurrentQueue();
    std::unique_lock lock(queue->mutex);
    for (auto it = queue->posted.begin(); it != queue->posted.end(); ++it) {
        if (!Matches(*it, window, first, last)) continue;
        *msg = *it;
        if (remove & PM_REMOVE) {
            queue->posted.erase(it);
            lock.unlock();
            RecordInput(*msg);
        }
        return TRUE;
    }
    // Painting comes after posted messages and before timers.
    if (allows(WM_PAINT) && window != reinterpret_cast<HWND>(-1)) {
        for (auto it = queue->paints.begin(); it != queue->paints.end(); ++it) {
            if (!PaintMatches(*it, window)) continue;
            *msg = MSG{*it, WM_PAINT, 0, 0, GetTickCount(), CursorPosition()};
            if (remove & PM_REMOVE) {
                if (auto record = FindWindowRecord(*it)) record->dirty = false;
                queue->paints.erase(it);
            }
            return TRUE;
        }
    }
    if (allows(WM_TIMER)) {
        const auto now = Platform::GetClock().Now();
        Timer* due = nullptr;
        for (auto& timer : queue->timers) {
            if (timer.due > now) continue;
            if (window != nullptr && timer.window != window && !IsChild(window, timer.window)) continue;
            if (due == nullptr || timer.due < due->due) due = &timer;
        }
        if (due != nullptr) {
            *msg = MSG{due->window,
                       WM_TIMER,
                       due->id,
                       reinterpret_cast<LPARAM>(due->proc),
                       static_cast<DWORD>(now.count()),
                       CursorPosition()};
            // A late timer fires once, then keeps its period from now.
            if (remove & PM_REMOVE) due->due = now + Platform::Milliseconds(due->elapse);
            return TRUE;
        }
    }
    if (queue->quit && window == nullptr) {
        *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, GetTickCount(), CursorPosition()};
        if (remove & PM_REMOVE) queue->quit = false;
        return TRUE;
    }
    return FALSE;
}

BOOL GetMessageW(MSG* msg, HWND window, UINT first, UINT last) {
    while (!PeekMessageW(msg, window, first, last, PM_REMOVE)) WaitMessage();
    return msg->message != WM_QUIT;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg == nullptr) return 0;
    if (msg->message == WM_TIMER) {
        // A timer killed after it was taken from the queue does not run.
        const TimerCall call(CurrentQueue(), msg->hwnd, msg->wParam);
        if (!call.Live()) return 0;
        if (msg->lParam != 0) {
            if (msg->hwnd != nullptr && !OwnWindow(msg->hwnd)) return 0;
            auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
            try {
                proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
            } catch (const std::exception& e) {
                ReportException(e.what());
            } catch (...) {
                ReportException("an exception that is not a std::exception");
            }
            return 0;
        }
        if (msg->hwnd == nullptr || !OwnWindow(msg->hwnd)) return 0;
        return CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    }
    // A message for a window that is gone is dropped.
    if (msg->hwnd == nullptr || !OwnWindow(msg->hwnd)) return 0;
    return CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL IsDialogMessageW(HWND dialog, MSG* msg) {
    if (msg == nullptr || (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd))) return FALSE;
    return HandleDialogKey(*msg) ? TRUE : FALSE;
}

BOOL WaitMessage() {
    Mfc::WaitForMessage();
    return TRUE;
}

DWORD GetMessagePos() {
    const POINT p = State().messagePos;
    return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
}

LONG GetMessageTime() {
    return static_cast<LONG>(State().messageTime);
}

void PostQuitMessage(int exitCode) {
    auto queue = CurrentQueue();
    {
        std::lock_guard lock(queue->mutex);
        queue->quit = true;
        queue->quitCode = exitCode;
    }
    queue->signal.notify_all();
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    std::shared_ptr<ThreadQueue> queue;
    if (window != nullptr) {
        auto record = OwnWindow(window);
        if (!record) return 0;
        if (id == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        queue = record->queue;
    } else {
        queue = CurrentQueue();
    }
    elapse = std::clamp<UINT>(elapse, kMinimumElapse, 0x7FFFFFFF);
    const auto due = Platform::GetClock().Now() + Platform::Milliseconds(elapse);
    std::lock_guard lock(queue->mutex);
    auto existing = std::find_if(queue->timers.begin(), queue->timers.end(), [&](const Timer& t) {
        return t.window == window && t.id == id && (window != nullptr || id != 0);
    });
    if (existing != queue->timers.end()) {
        existing->elapse = elapse;
        existing->proc = proc;
        existing->due = due;
        return id;
    }
    if (window == nullptr) {
        // Thread timer ids are unique in the process, so that KillTimer from
        // any thread finds the one meant.
        id = Queues().nextTimerId.fetch_add(1);
    }
    queue->timers.push_back(Timer{window, id, elapse, proc, due});
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    auto removeFrom = [&](ThreadQueue& queue) {
        std::unique_lock lock(queue.mutex);
        auto it = std::find_if(queue.timers.begin(), queue.timers.end(),
                               [&](const Timer& t) { return t.window == window && t.id == id; });
        if (it == queue.timers.end()) return false;
        queue.timers.erase(it);
        // On the owner thread a call under way is below us on the stack.
        if (queue.thread != GetCurrentThreadId()) {
            const std::pair<HWND, UINT_PTR> key(window, id);
            queue.timerCallEnded.wait(lock, [&] {
                return std::find(queue.timerCalls.begin(), queue.timerCalls.end(), key) == queue.timerCalls.end();
            });
        }
        return true;
    };
    if (window != nullptr) {
        auto record = FindWindowRecord(window);
        if (!record) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (removeFrom(*record->queue)) return TRUE;
    } else {
        std::vector<std::shared_ptr<ThreadQueue>> queues;
        {
            auto& registry = Queues();
            std::lock_guard lock(registry.mutex);
            for (const auto& [thread, queue] : registry.queues) queues.push_back(queue);
        }
        for (const auto& queue : queues) {
            if (removeFrom(*queue)) return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

namespace Mfc {

bool PumpMessage() {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        // Left for the loop that owns the thread.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (!TranslateInput(msg)) DispatchMessageW(&msg);
    return true;
}

void WaitForMessage() {
    auto queue = CurrentQueue();
    std::unique_lock lock(queue->mutex);
    auto ready = [&] { return !queue->posted.empty() || !queue->paints.empty() || queue->quit; };
    if (ready()) return;
    if (queue->timers.empty()) {
        queue->signal.wait(lock, ready);
        return;
    }
    auto next = queue->timers.front().due;
    for (const auto& timer : queue->timers) next = std::min(next, timer.due);
    Platform::GetClock().WaitUntil(lock, queue->signal, next, ready);
}

bool WaitForPostedMessage(int realMilliseconds) {
    auto queue = CurrentQueue();
    std::unique_lock lock(queue->mutex);
    return queue->signal.wait_for(lock, std::chrono::milliseconds(realMilliseconds),
                                  [&] { return !queue->posted.empty() || !queue->paints.empty(); });
}

std::vector<HWND> ModalWindows() {
    std::vector<HWND> result;
    for (const auto& frame : State().modal) result.push_back(frame.window);
    return result;
}

void AbortModalLoop(HWND window, int result) {
    auto& frames = State().modal;
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (it->window == window) {
            it->object->EndModalLoop(result);
            return;
        }
    }
}

ModalLoopHook* SetModalLoopHook(ModalLoopHook* hook) {
    return std::exchange(State().hook, hook);
}

}  // namespace Mfc
