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
    if (count == 0) {
        return;
    }
    if (helpers_.empty() || count == 1) {
        for (unsigned i = 0; i < count; ++i) {
            job(context, i, 0);
        }
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = job;
        context_ = context;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        busy_ = static_cast<unsigned>(helpers_.size());
        ++generation_;
    }
    wake_.notify_all();
    work(0);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return busy_ == 0; });
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
