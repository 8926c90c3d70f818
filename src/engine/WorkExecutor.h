#pragma once

#include "engine/ProcessingTypes.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvanta {

// The one way the core runs work side by side. With WorkThreads::oneThread every job runs at once on
// the thread that hands it over and no thread is ever started; with WorkThreads::pipelined a few
// worker threads are started at the first parallel work and kept until the executor goes, so no
// thread is created per block. A thread that waits for work it handed over runs the items nobody has
// taken yet, so work handed over from inside a job never waits for a free worker. One executor may be
// used from several threads at once.
class WorkExecutor {
    struct Batch;

public:
    explicit WorkExecutor(WorkThreads threads);
    ~WorkExecutor();
    WorkExecutor(const WorkExecutor&) = delete;
    WorkExecutor& operator=(const WorkExecutor&) = delete;

    bool isOneThread() const noexcept { return maxWorkers_ == 0; }

    // Work handed over and not yet waited for. Waiting rethrows the first error of its items; a
    // Pending that goes (or is replaced) unwaited waits for its items and drops their errors.
    class Pending {
    public:
        Pending() = default;
        ~Pending() { waitQuietly(); }
        Pending(Pending&& other) noexcept = default;
        Pending& operator=(Pending&& other) noexcept {
            if (this != &other) {
                waitQuietly();
                batch_ = std::move(other.batch_);
            }
            return *this;
        }
        bool valid() const noexcept { return batch_ != nullptr; }
        // Returns when every item has run, helping with those not yet taken; then rethrows the first
        // error, if any, and becomes invalid.
        void wait();

    private:
        friend class WorkExecutor;
        void waitQuietly() noexcept {
            try {
                wait();
            } catch (...) {
            }
        }
        explicit Pending(std::shared_ptr<Batch> batch) : batch_(std::move(batch)) {}
        std::shared_ptr<Batch> batch_;
    };

    // Starts job(0) … job(count − 1) beside the caller (with one thread: runs them now, in order).
    Pending start(uint32_t count, std::function<void(uint32_t)> job);
    Pending start(std::function<void()> task);
    // job(0) … job(count − 1) side by side, this thread taking its share; rethrows the first error.
    void forEach(uint32_t count, const std::function<void(uint32_t)>& job) { start(count, job).wait(); }

private:
    void startWorkers();
    void work();

    const unsigned maxWorkers_;
    std::mutex mutex_;
    std::condition_variable available_;
    std::deque<std::shared_ptr<Batch>> queue_; // batches that may still have items nobody has taken
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

} // namespace orvanta
