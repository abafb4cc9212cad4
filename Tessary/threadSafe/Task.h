// A unit of work run once on a thread of its own.
#pragma once

#include <atomic>

namespace Tessary {

class Task {
public:
    Task() = default;
    virtual ~Task();
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // Runs the task on the calling thread. The finished flag is set even when
    // Run throws, so an owner polling it after a cancel never waits forever.
    void Execute();
    bool IsFinished() const { return finished_.load(); }

    virtual void Run() = 0;

private:
    std::atomic<bool> finished_{false};
};

// A task whose Run polls the cancel flag and returns once it is set.
class CancellableTask : public Task {
public:
    ~CancellableTask() override;

    void SetCancelled(bool cancelled) { cancelled_.store(cancelled); }
    bool IsCancelled() const { return cancelled_.load(); }

private:
    std::atomic<bool> cancelled_{false};
};

}  // namespace Tessary
