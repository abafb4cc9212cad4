// Tests: collects what a CPrinterSearch reports, with the thread of each
// report, and waits for reports in real time (found comes from the DNS-SD
// pump thread).
//
//   PrinterSearchReports reports;
//   search.StartSearching(&PrinterSearchReports::Record, &reports);
//   ASSERT_TRUE(reports.WaitFor(1));
//   EXPECT_EQ(reports.Results(), std::vector<bool>{true});
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class PrinterSearchReports {
public:
    static void Record(void* context, bool found) {
        auto* self = static_cast<PrinterSearchReports*>(context);
        {
            std::lock_guard lock(self->mutex_);
            self->results_.push_back(found);
            self->threads_.push_back(std::this_thread::get_id());
        }
        self->changed_.notify_all();
    }

    // Until at least `count` reports came; false on time-out.
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return results_.size() >= count; });
    }

    std::vector<bool> Results() const {
        std::lock_guard lock(mutex_);
        return results_;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return results_.size();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> results_;
    std::vector<std::thread::id> threads_;
};
