#include "Platform/Clock.h"

#include <thread>
#include <vector>

namespace Platform {
namespace {

struct ClockSlot {
    std::mutex mutex;
    std::shared_ptr<Clock> current = std::make_shared<SystemClock>();
    // Replaced clocks stay alive: a thread may still be inside one of them.
    std::vector<std::shared_ptr<Clock>> retired;
};

// Never destroyed: detached threads may still sleep while the process exits.
ClockSlot& Slot() {
    static auto* slot = new ClockSlot;
    return *slot;
}

}  // namespace

Milliseconds SystemClock::Now() const {
    return std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::SleepFor(Milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

bool SystemClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Milliseconds deadline,
                            const std::function<bool()>& pred) {
    const auto remaining = deadline - Now();
    return cv.wait_for(lock, remaining < Milliseconds(0) ? Milliseconds(0) : remaining, pred);
}

ManualClock::ManualClock(bool warpIdleWaits, Milliseconds start) : now_(start), warp_(warpIdleWaits) {}

Milliseconds ManualClock::Now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

void ManualClock::SleepFor(Milliseconds duration) {
    Advance(duration);
    std::this_thread::yield();
}

void ManualClock::Advance(Milliseconds duration) {
    std::lock_guard lock(mutex_);
    now_ += duration;
}

bool ManualClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Milliseconds deadline,
                            const std::function<bool()>& pred) {
    // A few real milliseconds of grace let other threads make progress
    // before an idle wait is declared timed out.
    constexpr int kIdleSlices = 5;
    int idle = 0;
    while (!pred()) {
        if (Now() >= deadline) return false;
        cv.wait_for(lock, Milliseconds(2));
        if (pred()) break;
        if (warp_ && ++idle >= kIdleSlices) {
            std::lock_guard clockLock(mutex_);
            if (now_ < deadline) now_ = deadline;
        }
    }
    return true;
}

Clock& GetClock() {
    auto& slot = Slot();
    std::lock_guard lock(slot.mutex);
    return *slot.current;
}

void SetClock(std::shared_ptr<Clock> clock) {
    auto& slot = Slot();
    std::lock_guard lock(slot.mutex);
    slot.retired.push_back(slot.current);
    slot.current = clock ? std::move(clock) : std::make_shared<SystemClock>();
}

}  // namespace Platform
