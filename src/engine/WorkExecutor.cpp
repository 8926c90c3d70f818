#include "engine/WorkExecutor.h"

#include <algorithm>
#include <atomic>

namespace orvanta {

namespace {

// A pass keeps three blocks in flight and each may split its channels: three workers and the
// handing thread cover that on any machine, more only where there are cores for them.
unsigned workersFor(WorkThreads threads) {
    if (threads == WorkThreads::oneThread) return 0;
    return std::clamp(std::thread::hardware_concurrency(), 3u, 8u);
}

} // namespace

struct WorkExecutor::Batch {
    std::function<void(uint32_t)> job;
    uint32_t count = 0;
    std::atomic<uint32_t> next{0}; // the next item nobody has taken
    std::mutex mutex;
    std::condition_variable finished;
    uint32_t done = 0;             // under mutex
    std::exception_ptr failure;    // the first error, under mutex

    bool exhausted() const noexcept { return next.load(std::memory_order_relaxed) >= count; }

    // Takes and runs one item; false when none is left to take.
    bool runOne() {
        const uint32_t item = next.fetch_add(1, std::memory_order_relaxed);
        if (item >= count) return false;
        std::exception_ptr error;
        try {
            job(item);
        } catch (...) {
            error = std::current_exception();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        if (error && !failure) failure = error;
        if (++done == count) finished.notify_all();
        return true;
    }
};

WorkExecutor::WorkExecutor(WorkThreads threads) : maxWorkers_(workersFor(threads)) {}

WorkExecutor::~WorkExecutor() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    available_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void WorkExecutor::startWorkers() {
    // Under mutex_. A worker that cannot be started leaves its share to the waiting threads.
    if (!workers_.empty()) return;
    workers_.reserve(maxWorkers_);
    try {
        for (unsigned w = 0; w < maxWorkers_; ++w) workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
    }
}

void WorkExecutor::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        available_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return; // stopping with nothing left
        const std::shared_ptr<Batch> batch = queue_.front();
        if (batch->exhausted()) {
            queue_.pop_front();
            continue;
        }
        lock.unlock();
        batch->runOne();
        lock.lock();
    }
}

WorkExecutor::Pending WorkExecutor::start(uint32_t count, std::function<void(uint32_t)> job) {
    auto batch = std::make_shared<Batch>();
    batch->job = std::move(job);
    batch->count = count;
    if (isOneThread() || count == 0) {
        while (batch->runOne()) {
        }
        return Pending(std::move(batch));
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        startWorkers();
        queue_.push_back(batch);
    }
    if (count == 1) {
        available_.notify_one();
    } else {
        available_.notify_all();
    }
    return Pending(std::move(batch));
}

WorkExecutor::Pending WorkExecutor::start(std::function<void()> task) {
    return start(1, [task = std::move(task)](uint32_t) { task(); });
}

void WorkExecutor::Pending::wait() {
    if (!batch_) return;
    const std::shared_ptr<Batch> batch = std::move(batch_);
    while (batch->runOne()) {
    }
    std::unique_lock<std::mutex> lock(batch->mutex);
    batch->finished.wait(lock, [&batch] { return batch->done == batch->count; });
    if (batch->failure) std::rethrow_exception(batch->failure);
}

} // namespace orvanta
