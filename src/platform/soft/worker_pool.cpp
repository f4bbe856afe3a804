#include "platform/soft/worker_pool.h"

#include <system_error>

namespace tessivane::platform::soft {

WorkerPool::WorkerPool(unsigned threads) {
    if (threads == 0) {
        threads = std::thread::hardware_concurrency();
    }
    if (threads == 0) {
        threads = 1;
    }
    for (unsigned worker = 1; worker < threads; ++worker) {
        try {
            helpers_.emplace_back([this, worker] { helperLoop(worker); });
        } catch (const std::system_error&) {
            break; // draw with the threads we have
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& helper : helpers_) {
        helper.join();
    }
}

void WorkerPool::work(unsigned worker) {
    for (;;) {
        const unsigned index = next_.fetch_add(1, std::memory_order_relaxed);
        if (index >= count_) {
            return;
        }
        job_(context_, index, worker);
    }
}

void WorkerPool::run(unsigned count, Job job, void* context) {
    start(count, job, context);
    wait();
}

void WorkerPool::start(unsigned count, Job job, void* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    started_ = true;
    if (!helpers_.empty() && count > 0) {
        busy_ = static_cast<unsigned>(helpers_.size());
        ++generation_;
        wake_.notify_all();
    }
}

void WorkerPool::wait() {
    if (!started_) {
        return;
    }
    work(0);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return busy_ == 0; });
    started_ = false;
}

void WorkerPool::helperLoop(unsigned worker) {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) {
                return;
            }
            seen = generation_;
        }
        work(worker);
        std::lock_guard<std::mutex> lock(mutex_);
        if (--busy_ == 0) {
            finished_.notify_one();
        }
    }
}

} // namespace tessivane::platform::soft
