// A fixed set of threads that run numbered jobs together with the calling thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace tessivane::platform::soft {

// A moment's pause in a loop that watches for another thread, keeping the core (yielding
// would hand it to any other runnable task, however low its priority, for a whole time
// slice) but leaving it to its other hardware thread.
inline void watchPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

class WorkerPool {
public:
    using Job = void (*)(void* context, unsigned index, unsigned worker);

    // threads >= 1 workers in all, the calling thread included; 0 means one per core. Falls
    // back to fewer when the system refuses to start more.
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned threadCount() const { return static_cast<unsigned>(helpers_.size()) + 1; }

    // Runs job(context, i, worker) for every i in [0, count), spread over the workers, and
    // returns when all have finished. worker (0 = the calling thread) tells which scratch a
    // job may use: no two jobs run on the same worker at once.
    void run(unsigned count, Job job, void* context);
    // The same in two halves: start hands the jobs to the helper threads and returns at once;
    // wait lends the calling thread to whatever jobs are left and returns when all are done.
    // Without helpers the jobs all run in wait. One run at a time.
    void start(unsigned count, Job job, void* context);
    void wait();
    // Whether the helper threads have nothing left of the started run (or none was started),
    // so that wait would return at once. Only the calling thread asks.
    bool idle() const;

private:
    void helperLoop(unsigned worker);
    void work(unsigned worker);

    std::vector<std::thread> helpers_;
    // Changed under the mutex, so that a thread about to sleep cannot miss the change; read
    // without it by threads that watch for a change a while before they sleep.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<unsigned> busy_{0}; // helpers still working on the current run

    Job job_ = nullptr;
    void* context_ = nullptr;
    unsigned count_ = 0;
    bool started_ = false; // a run was started and not yet waited for
    std::atomic<unsigned> next_{0};
};

} // namespace tessivane::platform::soft
