#include "platform/soft/worker_pool.h"

#include <chrono>
#include <system_error>

namespace tessivane::platform::soft {

namespace {

// How long a thread that runs out of work watches for more before it sleeps. The passes of
// a frame follow one another within microseconds, while a sleeping thread takes tens of them
// to wake; a frame's longer pauses cost a helper this much of watching, time that the video
// encoder's threads of a capture could use. It watches pausing, keeping its core: yielding
// would hand the core to any other runnable task, even one of the lowest priority, for a
// whole time slice, and under load that cost whole milliseconds.
constexpr auto WATCH = std::chrono::microseconds(50);

// Whether done() became true within WATCH.
template <class Done>
bool watchFor(Done done) {
    const auto until = std::chrono::steady_clock::now() + WATCH;
    for (;;) {
        for (int i = 0; i < 16; ++i) {
            if (done()) {
                return true;
            }
            watchPause();
        }
        if (std::chrono::steady_clock::now() >= until) {
            return done();
        }
    }
}

} // namespace

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
        stopping_.store(true, std::memory_order_relaxed);
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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = job;
        context_ = context;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        started_ = true;
        if (helpers_.empty() || count == 0) {
            return;
        }
        busy_.store(static_cast<unsigned>(helpers_.size()), std::memory_order_relaxed);
        // Publishes the run to the helpers watching the generation.
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
}

void WorkerPool::wait() {
    if (!started_) {
        return;
    }
    work(0);
    const auto finished = [this] { return busy_.load(std::memory_order_acquire) == 0; };
    if (!watchFor(finished)) {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, finished);
    }
    started_ = false;
}

bool WorkerPool::idle() const {
    return !started_ || busy_.load(std::memory_order_acquire) == 0;
}

void WorkerPool::helperLoop(unsigned worker) {
    std::uint64_t seen = 0;
    const auto called = [&] {
        return stopping_.load(std::memory_order_relaxed) ||
               generation_.load(std::memory_order_acquire) != seen;
    };
    for (;;) {
        if (!watchFor(called)) {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, called);
        }
        if (stopping_.load(std::memory_order_relaxed)) {
            return;
        }
        seen = generation_.load(std::memory_order_acquire);
        work(worker);
        if (busy_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_.notify_one();
        }
    }
}

} // namespace tessivane::platform::soft
