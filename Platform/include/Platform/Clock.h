// The machine's clock. Every sleep, poll and time-out goes through it, so
// tests can replace it and run minute-long cases at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace Platform {

using Milliseconds = std::chrono::milliseconds;

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time since an arbitrary origin.
    virtual Milliseconds Now() const = 0;
    virtual void SleepFor(Milliseconds duration) = 0;
    // Waits on cv until pred holds or the clock reaches deadline; returns pred().
    virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Milliseconds deadline,
                           const std::function<bool()>& pred) = 0;
};

class SystemClock final : public Clock {
public:
    Milliseconds Now() const override;
    void SleepFor(Milliseconds duration) override;
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Milliseconds deadline,
                   const std::function<bool()>& pred) override;
};

// A clock for tests. Sleeping advances it at once. A timed wait that is not
// satisfied within a few real milliseconds jumps the clock to its deadline
// (when warping is on), so time-outs happen without waiting for them.
class ManualClock final : public Clock {
public:
    explicit ManualClock(bool warpIdleWaits = true, Milliseconds start = Milliseconds(1000000));
    Milliseconds Now() const override;
    void SleepFor(Milliseconds duration) override;
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Milliseconds deadline,
                   const std::function<bool()>& pred) override;
    void Advance(Milliseconds duration);

private:
    mutable std::mutex mutex_;
    Milliseconds now_;
    bool warp_;
};

Clock& GetClock();
// Installs a clock for the whole process; null puts the system clock back.
void SetClock(std::shared_ptr<Clock> clock);

// Installs a clock for the lifetime of a scope (tests).
class ScopedClock {
public:
    explicit ScopedClock(std::shared_ptr<Clock> clock) { SetClock(std::move(clock)); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace Platform
