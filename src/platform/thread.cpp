// Threads on POSIX threads, and a Sleep that the pull device can cut short.
#include "platform/thread.h"

#include "platform/thread_internal.h"
#include "platform/window_internal.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits.h>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace tessivane::platform {

namespace {

// Tells our handles from anything else passed in their place.
constexpr std::uint32_t THREAD_MAGIC = 0x54485244u;

struct ThreadRecord {
    std::uint32_t magic = THREAD_MAGIC;
    LPTHREAD_START_ROUTINE start = nullptr;
    void* parameter = nullptr;
    pthread_t thread{};
    std::atomic<pid_t> tid{0};
    std::atomic<bool> finished{false};
    // One for the handle, one for the running thread; the last to let go frees the record.
    std::atomic<int> references{2};
};

void release(ThreadRecord* record) {
    if (record->references.fetch_sub(1) == 1) {
        record->magic = 0;
        delete record;
    }
}

void* trampoline(void* argument) {
    auto* record = static_cast<ThreadRecord*>(argument);
    record->tid.store(static_cast<pid_t>(syscall(SYS_gettid)));
    record->tid.notify_all();
    record->start(record->parameter);
    record->finished.store(true);
    // Whoever polls for this thread's end sees it at once.
    detail::wakeSleepers();
    release(record);
    return nullptr;
}

ThreadRecord* recordOf(HANDLE handle) {
    auto* record = static_cast<ThreadRecord*>(handle);
    return record != nullptr && record->magic == THREAD_MAGIC ? record : nullptr;
}

struct SleepState {
    std::mutex mutex;
    std::condition_variable wake;
    std::uint64_t generation = 0;
};

// Never destroyed: a thread whose handle was closed while it ran is detached, and may still
// be waking the sleepers on its way out while the process exits and runs its destructors.
SleepState& sleepState() {
    static auto* state = new SleepState;
    return *state;
}

} // namespace

HANDLE CreateThread(void* securityAttributes, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD creationFlags, DWORD* threadId) {
    if (securityAttributes != nullptr) {
        detail::reportUnsupported("CreateThread with security attributes");
        return nullptr;
    }
    if (creationFlags != 0) {
        detail::reportUnsupported("CreateThread with creation flags");
        return nullptr;
    }
    if (start == nullptr) {
        detail::setLastError("CreateThread: no thread routine");
        return nullptr;
    }
    auto* record = new ThreadRecord;
    record->start = start;
    record->parameter = parameter;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) {
        const std::size_t least = PTHREAD_STACK_MIN;
        pthread_attr_setstacksize(&attributes, stackSize < least ? least : stackSize);
    }
    const int failed = pthread_create(&record->thread, &attributes, trampoline, record);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        detail::setLastError(std::string("cannot start a thread: ") + std::strerror(failed));
        delete record;
        return nullptr;
    }
    // The thread names itself before anything else, so that its priority can be set at once.
    record->tid.wait(0);
    if (threadId != nullptr) {
        *threadId = static_cast<DWORD>(record->tid.load());
    }
    return record;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    ThreadRecord* record = recordOf(thread);
    if (record == nullptr) {
        detail::setLastError("SetThreadPriority: not a thread handle");
        return FALSE;
    }
    if (priority != THREAD_PRIORITY_TIME_CRITICAL) {
        detail::reportUnsupported("SetThreadPriority with a priority other than time-critical");
        return FALSE;
    }
    // Real-time scheduling as far as the resource limit allows it to anyone.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0) {
        const int highest = sched_get_priority_max(SCHED_FIFO);
        sched_param parameters{};
        parameters.sched_priority =
            limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > static_cast<rlim_t>(highest)
                ? highest
                : static_cast<int>(limit.rlim_cur);
        if (pthread_setschedparam(record->thread, SCHED_FIFO, &parameters) == 0) {
            return TRUE;
        }
    }
    // Otherwise the lowest nice value the limit allows (20 - limit), if that is any better.
    if (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur > 0) {
        const int lowest = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 40
                               ? -20
                               : 20 - static_cast<int>(limit.rlim_cur);
        const id_t tid = static_cast<id_t>(record->tid.load());
        errno = 0;
        const int current = getpriority(PRIO_PROCESS, tid);
        if (errno == 0 && lowest < current) {
            setpriority(PRIO_PROCESS, tid, lowest);
        }
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE thread) {
    ThreadRecord* record = recordOf(thread);
    if (record == nullptr) {
        detail::setLastError("CloseHandle: not a thread handle");
        return FALSE;
    }
    if (record->finished.load()) {
        pthread_join(record->thread, nullptr);
    } else {
        pthread_detach(record->thread);
    }
    release(record);
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    SleepState& state = sleepState();
    std::unique_lock<std::mutex> lock(state.mutex);
    const std::uint64_t generation = state.generation;
    state.wake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                        [&state, generation] { return state.generation != generation; });
}

namespace detail {

void wakeSleepers() {
    SleepState& state = sleepState();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        ++state.generation;
    }
    state.wake.notify_all();
}

} // namespace detail

} // namespace tessivane::platform
